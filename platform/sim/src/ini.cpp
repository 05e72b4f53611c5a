// Private-profile (INI) files with the semantics of the Windows functions: section
// and key names compared without regard to case, values trimmed and stripped of
// one pair of surrounding quotes, the default for anything missing, truncation to
// the caller's buffer with a terminator, and writes that keep every other byte of
// the file and replace it whole.
//
// Writers lock, so that none loses another's change; other programs that do
// the same lose nothing either. A write takes flock(LOCK_EX) on the file itself,
// then checks that the file it locked is still the one at the path (same device
// and inode): a writer that held the lock before may have renamed a new file
// onto the path, and then it starts again. It reads the contents from the locked
// descriptor and renames the new file, which has the old one's mode, owner and
// group, onto the path before it lets go. A missing file is created exclusively
// (empty) and then locked and checked as any other. Readers take no lock: a
// rename shows them the old file or the new one, whole. The rename replaces only
// the name written to, so other hard links to the file keep the old contents.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "vork/host.h"
#include "vorksim/text.h"
#include "posixio.h"

namespace {

std::mutex g_profileMutex;  // the profile functions are serialised, as on Windows

// Case folding that does not depend on the C library's locale: ASCII, Latin-1,
// Greek and Cyrillic capitals, which covers the names of real devices and files.
wchar_t Fold(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB) || (c >= 0x410 && c <= 0x42F))
        return static_cast<wchar_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 80);
    return c;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// A profile file as bytes: lines are found in place and only the lines a write
// changes are encoded anew, so every other byte stays as it was, whatever its
// encoding. As the Windows profile functions read them: UTF-16 of either byte
// order and UTF-8, each with its byte-order mark, and without a mark the Windows
// code page (taken as Latin-1 here), in which a character it lacks is written
// as '?'. A UTF-8 file without its mark is therefore read byte by byte.
class ProfileFile {
public:
    explicit ProfileFile(std::string bytes = {}) : bytes_(std::move(bytes)) {
        if (bytes_.compare(0, 2, "\xFF\xFE") == 0 || bytes_.compare(0, 2, "\xFE\xFF") == 0) {
            utf16_ = true;
            bigEndian_ = bytes_[0] == '\xFE';
            body_ = 2;
        } else if (bytes_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            utf8_ = true;
            body_ = 3;
        }
        DetectLineEnd();
    }

    // One line of the file: [begin, contentEnd) its text without the line end,
    // [contentEnd, end) the line end.
    struct Span {
        size_t begin;
        size_t contentEnd;
        size_t end;
    };

    // A line's kind, and where its trimmed name and value lie; decoded only when
    // asked, so that a long file is walked without building its text.
    struct Parsed {
        enum Kind { Other, Section, Entry } kind = Other;
        size_t nameBegin = 0, nameEnd = 0;
        size_t valueBegin = 0, valueEnd = 0;
        bool blank = true;
    };

    // Calls visit(span, parsed) for each line until it returns false.
    template <class Visit>
    void ForEachLine(Visit visit) const {
        const size_t unit = Unit();
        // A UTF-16 file cut after half a character: the half is no text.
        const size_t whole = body_ + (bytes_.size() - body_) / unit * unit;
        size_t at = body_;
        while (at < whole) {
            size_t newline = FindNewline(at);
            const size_t end = newline == std::string::npos ? bytes_.size() : newline + unit;
            size_t contentEnd = newline == std::string::npos ? whole : newline;
            if (contentEnd >= at + unit && IsUnit(contentEnd - unit, '\r')) contentEnd -= unit;
            if (!visit(Span{at, contentEnd, end}, Parse(at, contentEnd))) return;
            at = end;
        }
    }

    std::wstring Name(const Parsed& line) const { return Decode(line.nameBegin, line.nameEnd); }
    std::wstring Value(const Parsed& line) const { return Decode(line.valueBegin, line.valueEnd); }

    // Compares without decoding when the lengths alone tell them apart: a
    // character takes one to four bytes.
    bool NameIs(const Parsed& line, const std::wstring& wanted) const {
        const size_t units = (line.nameEnd - line.nameBegin) / Unit();
        if (units < wanted.size() || units > 4 * wanted.size()) return false;
        return EqualNoCase(Name(line), wanted);
    }

    bool Find(const std::wstring& section, const std::wstring& key, std::wstring& value) const {
        bool inSection = false, seen = false, hit = false;
        ForEachLine([&](const Span&, const Parsed& line) {
            if (line.kind == Parsed::Section) {
                if (inSection) return false;  // only the first section of that name counts
                inSection = !seen && NameIs(line, section);
                seen = seen || inSection;
                return true;
            }
            if (inSection && line.kind == Parsed::Entry && NameIs(line, key)) {
                value = Value(line);
                hit = true;
                return false;
            }
            return true;
        });
        return hit;
    }

    std::vector<std::wstring> SectionNames() const {
        std::vector<std::wstring> names;
        ForEachLine([&](const Span&, const Parsed& line) {
            if (line.kind == Parsed::Section) names.push_back(Name(line));
            return true;
        });
        return names;
    }

    std::vector<std::wstring> KeyNames(const std::wstring& section) const {
        std::vector<std::wstring> names;
        bool inSection = false, seen = false;
        ForEachLine([&](const Span&, const Parsed& line) {
            if (line.kind == Parsed::Section) {
                if (inSection) return false;
                inSection = !seen && NameIs(line, section);
                seen = seen || inSection;
            } else if (inSection && line.kind == Parsed::Entry) {
                names.push_back(Name(line));
            }
            return true;
        });
        return names;
    }

    // key null: the section goes; value null: the key goes; otherwise the key is
    // set, replacing its line in place or added after the section's last entry.
    void Write(const std::wstring& section, const wchar_t* key, const wchar_t* value) {
        // A UTF-16 file cut after half a character: the half is completed, so
        // that what is added stays aligned to whole characters.
        if (utf16_ && (bytes_.size() - body_) % 2 != 0) bytes_.push_back('\0');
        Range r = Locate(section, key ? key : L"");
        std::string out;
        out.reserve(bytes_.size() + 256);
        out.append(bytes_, 0, body_);
        if (!key) {
            if (r.header == std::string::npos) return Keep();
            // The last section takes the blank line in front of it along, the one
            // a write puts before a section it adds: the two undo each other.
            size_t from = r.header;
            const size_t blank = BlankLineBefore(r.header);
            if (r.sectionEnd >= bytes_.size() && blank != std::string::npos && blank > body_) from = blank;
            out.append(bytes_, body_, from - body_);
            out.append(bytes_, r.sectionEnd, std::string::npos);
        } else if (!value) {
            if (r.entry == std::string::npos) return Keep();
            out.append(bytes_, body_, r.entry - body_);
            out.append(bytes_, r.entryEnd, std::string::npos);
        } else if (r.entry != std::string::npos) {
            out.append(bytes_, body_, r.entry - body_);
            out += Encode(r.entryName + L"=" + value);  // the key keeps its name as the file spells it
            out.append(bytes_, r.entryContentEnd, std::string::npos);
        } else if (r.header != std::string::npos) {
            out.append(bytes_, body_, r.insertAt - body_);
            if (r.insertAt > body_ && !EndsLine(r.insertAt)) out += Encode(L"", true);
            out += Encode(std::wstring(key) + L"=" + value, true);
            out.append(bytes_, r.insertAt, std::string::npos);
        } else {
            out.append(bytes_, body_, std::string::npos);
            if (bytes_.size() > body_ && !EndsLine(bytes_.size())) out += Encode(L"", true);
            if (r.lastLineBlank == false && bytes_.size() > body_) out += Encode(L"", true);
            out += Encode(L"[" + section + L"]", true);
            out += Encode(std::wstring(key) + L"=" + value, true);
        }
        bytes_.swap(out);
        changed_ = true;
    }

    bool changed() const { return changed_; }
    const std::string& bytes() const { return bytes_; }

private:
    struct Range {
        size_t header = std::string::npos;      // start of the section's header line
        size_t sectionEnd = std::string::npos;  // end of its last line
        size_t insertAt = std::string::npos;    // end of its last non-blank line
        size_t entry = std::string::npos;       // start of the key's line
        size_t entryContentEnd = std::string::npos;
        size_t entryEnd = std::string::npos;
        std::wstring entryName;
        bool lastLineBlank = true;
    };

    Range Locate(const std::wstring& section, const std::wstring& key) const {
        Range r;
        bool inSection = false;
        ForEachLine([&](const Span& span, const Parsed& line) {
            const bool blank = line.blank;
            r.lastLineBlank = blank;
            if (line.kind == Parsed::Section) {
                if (inSection) {
                    inSection = false;
                    return true;
                }
                if (r.header == std::string::npos && NameIs(line, section)) {
                    inSection = true;
                    r.header = span.begin;
                    r.sectionEnd = r.insertAt = span.end;
                }
                return true;
            }
            if (!inSection) return true;
            r.sectionEnd = span.end;
            if (!blank) r.insertAt = span.end;
            if (line.kind == Parsed::Entry && r.entry == std::string::npos && NameIs(line, key)) {
                r.entry = span.begin;
                r.entryContentEnd = span.contentEnd;
                r.entryEnd = span.end;
                r.entryName = Name(line);
            }
            return true;
        });
        return r;
    }

    void Keep() { changed_ = false; }

    bool IsUnit(size_t at, char c) const { return at + Unit() <= bytes_.size() && UnitAt(at) == static_cast<unsigned>(c); }

    size_t FindNewline(size_t from) const {
        if (!utf16_) return bytes_.find('\n', from);
        for (size_t at = from; at + 1 < bytes_.size(); at += 2)
            if (UnitAt(at) == '\n') return at;
        return std::string::npos;
    }

    // Where the blank line that ends at `at` begins; npos when that line is not blank.
    size_t BlankLineBefore(size_t at) const {
        const size_t u = Unit();
        if (at < body_ + u || !IsUnit(at - u, '\n')) return std::string::npos;
        size_t start = at - u;
        if (start >= body_ + u && IsUnit(start - u, '\r')) start -= u;
        return start == body_ || (start >= body_ + u && IsUnit(start - u, '\n')) ? start : std::string::npos;
    }

    bool EndsLine(size_t end) const { return end >= body_ + (utf16_ ? 2 : 1) && IsUnit(end - (utf16_ ? 2 : 1), '\n'); }

    void DetectLineEnd() {
        const size_t newline = FindNewline(body_);
        const size_t unit = utf16_ ? 2 : 1;
        crlf_ = newline == std::string::npos || (newline >= body_ + unit && IsUnit(newline - unit, '\r'));
    }

    std::wstring Decode(size_t begin, size_t end) const {
        std::wstring text;
        if (utf16_) {
            for (size_t at = begin; at + 1 < end; at += 2) {
                uint32_t c = UnitAt(at);
                if (sizeof(wchar_t) == 4 && c >= 0xD800 && c < 0xDC00 && at + 3 < end) {
                    const uint32_t low = UnitAt(at + 2);
                    if (low >= 0xDC00 && low < 0xE000) {
                        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                        at += 2;
                    }
                }
                text += static_cast<wchar_t>(c);
            }
            return text;
        }
        const std::string line = bytes_.substr(begin, end - begin);
        if (utf8_) return vorksim::FromUtf8(line);
        text.clear();
        for (char c : line) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
        return text;
    }

    std::string Encode(const std::wstring& text, bool withLineEnd = false) const {
        std::wstring line = text;
        if (withLineEnd) line += crlf_ ? L"\r\n" : L"\n";
        if (utf8_) return vorksim::ToUtf8(line);
        if (!utf16_) {
            std::string out;
            for (wchar_t c : line) out += static_cast<unsigned>(c) <= 0xFF ? static_cast<char>(c) : '?';
            return out;
        }
        std::string out;
        for (wchar_t wc : line) {
            uint32_t c = static_cast<uint32_t>(wc);
            auto put = [&](uint32_t u) {
                out += static_cast<char>(bigEndian_ ? u >> 8 : u & 0xFF);
                out += static_cast<char>(bigEndian_ ? u & 0xFF : u >> 8);
            };
            if (c >= 0x10000 && c <= 0x10FFFF) {
                put(0xD800 + ((c - 0x10000) >> 10));
                put(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                put(c > 0xFFFF ? 0xFFFD : c);
            }
        }
        return out;
    }

    size_t Unit() const { return utf16_ ? 2 : 1; }

    unsigned UnitAt(size_t at) const {
        const auto first = static_cast<unsigned char>(bytes_[at]);
        if (!utf16_) return first;
        const auto second = static_cast<unsigned char>(bytes_[at + 1]);
        return bigEndian_ ? (first << 8) | second : first | (second << 8);
    }

    static bool Space(unsigned c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

    void TrimSpan(size_t& begin, size_t& end) const {
        while (begin < end && Space(UnitAt(begin))) begin += Unit();
        while (end > begin && Space(UnitAt(end - Unit()))) end -= Unit();
    }

    size_t FindUnit(size_t begin, size_t end, unsigned c) const {
        for (size_t at = begin; at < end; at += Unit())
            if (UnitAt(at) == c) return at;
        return end;
    }

    Parsed Parse(size_t begin, size_t end) const {
        Parsed line;
        TrimSpan(begin, end);
        line.blank = begin == end;
        if (line.blank || UnitAt(begin) == ';') return line;
        if (UnitAt(begin) == '[') {
            line.kind = Parsed::Section;
            line.nameBegin = begin + Unit();
            line.nameEnd = FindUnit(line.nameBegin, end, ']');
            TrimSpan(line.nameBegin, line.nameEnd);
            return line;
        }
        line.kind = Parsed::Entry;
        const size_t eq = FindUnit(begin, end, '=');
        line.nameBegin = begin;
        line.nameEnd = eq;
        TrimSpan(line.nameBegin, line.nameEnd);
        line.valueBegin = line.valueEnd = end;
        if (eq < end) {
            line.valueBegin = eq + Unit();
            TrimSpan(line.valueBegin, line.valueEnd);
        }
        return line;
    }

    std::string bytes_;
    size_t body_ = 0;  // after the byte-order mark
    bool utf16_ = false;
    bool bigEndian_ = false;
    bool utf8_ = false;  // a UTF-8 byte-order mark; without one, the Windows code page
    bool crlf_ = true;
    bool changed_ = false;
};

// O_NONBLOCK so that a FIFO in the file's place fails instead of waiting for a writer.
int OpenToRead(const std::string& path) { return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

// False on any read error, at the start or midway: a file read in part is not
// the file.
bool ReadAll(int fd, std::string& bytes) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n == 0) return true;
        if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
        if (n < 0 && errno != EINTR) return false;
    }
}

bool ReadFile(const std::string& path, std::string& bytes) {
    const int fd = OpenToRead(path);
    if (fd < 0) return false;
    const bool read = ReadAll(fd, bytes);
    close(fd);
    return read;
}

// A file open and locked for one write; closing it lets go of the lock.
struct LockedFile {
    int fd = -1;
    struct stat st {};
    std::string target;  // the path with its links resolved: the name the new file takes
    LockedFile() = default;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile() {
        if (fd >= 0) close(fd);
    }
};

enum class Locking { Held, Missing, Moved, Failed };

// Locks fd, just opened at path (or failed with errno), and checks that path
// still names the file locked. Moved: start again.
Locking Lock(const std::string& path, int fd, LockedFile& file) {
    if (fd < 0) return errno == ENOENT ? Locking::Missing : errno == EEXIST ? Locking::Moved : Locking::Failed;
    file.fd = fd;
    while (flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return Locking::Failed;
    if (fstat(fd, &file.st) != 0 || !S_ISREG(file.st.st_mode)) return Locking::Failed;
    char resolved[PATH_MAX];
    struct stat atPath;
    if (!realpath(path.c_str(), resolved) || stat(resolved, &atPath) != 0)
        return errno == ENOENT ? Locking::Moved : Locking::Failed;
    if (atPath.st_dev != file.st.st_dev || atPath.st_ino != file.st.st_ino) return Locking::Moved;
    file.target = resolved;
    return Locking::Held;
}

// A link whose target is missing gets that target, as Windows creates it;
// O_EXCL would refuse the link itself for ever.
int CreateExclusive(const std::string& path) {
    struct stat st;
    const int exclusive = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? 0 : O_EXCL;
    return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | exclusive, 0666);
}

// Written beside the file, then renamed onto it, so that an interrupted write
// leaves the old file.
bool Replace(const LockedFile& file, const std::string& bytes) {
    std::string temporary = vorksim::SiblingPrefix(file.target) + "XXXXXX.part";
    const int fd = mkostemps(temporary.data(), 5, O_CLOEXEC);
    if (fd < 0) return false;
    const std::wstring wideTemporary = vorksim::FromUtf8(temporary);
    vork::RemoveOnInterrupt(wideTemporary);
    bool ok = vorksim::WriteAll(fd, bytes.data(), bytes.size()) && vorksim::GiveOwnerAndMode(fd, file.st);
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), file.target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    vork::ForgetOnInterrupt(wideTemporary);
    return ok;
}

// Applies `edit` to the file under the lock protocol described at the top of
// the file. The profile functions follow a link, as Windows' do; a file the
// user named for keys to keep (`noLink`) is opened without following one, and
// a missing one is created exclusively, which a link in its place makes fail.
// A file made here goes again when its first write fails.
template <typename Edit>
bool EditLocked(const std::string& path, bool noLink, const Edit& edit) {
    for (;;) {
        LockedFile locked;
        bool created = false;
        Locking state = Lock(path, noLink ? open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW)
                                          : OpenToRead(path),
                             locked);
        if (state == Locking::Missing) {
            ProfileFile empty;
            edit(empty);
            if (!empty.changed()) return true;
            // Only an exclusive creation is surely this writer's file to remove.
            const int fd = noLink ? open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666)
                                  : CreateExclusive(path);
            created = noLink && fd >= 0;
            state = Lock(path, fd, locked);
            if (state == Locking::Missing) return false;  // no folder to create it in
        }
        if (state == Locking::Moved) continue;  // another writer's file now has the name
        std::string bytes;
        if (state == Locking::Held && ReadAll(locked.fd, bytes)) {
            ProfileFile file(std::move(bytes));
            edit(file);
            if (!file.changed() || Replace(locked, file.bytes())) return true;
        }
        if (created) unlink(path.c_str());
        return false;
    }
}

bool WriteProfile(const std::string& path, const std::wstring& section, const wchar_t* key, const wchar_t* value) {
    return EditLocked(path, false, [&](ProfileFile& file) { file.Write(section, key, value); });
}

std::wstring StripQuotes(const std::wstring& value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Copies text into the caller's buffer as the profile functions do: truncated to
// size - 1 characters plus the terminator; returns the characters copied.
DWORD CopyOut(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    size_t n = std::min<size_t>(text.size(), size - 1);
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = L'\0';
    return static_cast<DWORD>(n);
}

// A list of names, each terminated, the whole terminated once more; truncation
// returns size - 2, as Windows does.
DWORD CopyList(const std::vector<std::wstring>& names, LPWSTR buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    if (size == 1) {
        buffer[0] = L'\0';
        return 0;
    }
    std::wstring all;
    for (const auto& n : names) all += n + L'\0';
    if (all.size() + 1 <= size) {
        std::wmemcpy(buffer, all.data(), all.size());
        buffer[all.size()] = L'\0';
        if (all.empty() && size > 1) buffer[1] = L'\0';
        return static_cast<DWORD>(all.size());
    }
    std::wmemcpy(buffer, all.data(), size - 2);
    buffer[size - 2] = L'\0';
    buffer[size - 1] = L'\0';
    return size - 2;
}

// RtlUnicodeStringToInteger with base 0, which GetPrivateProfileInt relies on:
// white space, a sign, an optional 0x/0o/0b prefix, then digits up to the first
// character that is not one.
UINT ParseProfileInt(const std::wstring& s) {
    size_t i = 0;
    while (i < s.size() && std::iswspace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
    unsigned base = 10;
    if (i + 1 < s.size() && s[i] == L'0') {
        wchar_t p = static_cast<wchar_t>(std::towlower(s[i + 1]));
        if (p == L'x') base = 16;
        if (p == L'o') base = 8;
        if (p == L'b') base = 2;
        if (base != 10) i += 2;
    }
    uint32_t value = 0;
    for (; i < s.size(); ++i) {
        wchar_t c = static_cast<wchar_t>(std::towlower(s[i]));
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else
            break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return negative ? static_cast<UINT>(0u - value) : static_cast<UINT>(value);
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR returned,
                                      DWORD size, LPCWSTR fileName) {
    std::lock_guard<std::mutex> lock(g_profileMutex);
    std::string bytes;
    const bool loaded = ReadFile(vorksim::ToUtf8(fileName ? fileName : L"win.ini"), bytes);
    const ProfileFile file(std::move(bytes));
    if (!section) return CopyList(loaded ? file.SectionNames() : std::vector<std::wstring>{}, returned, size);
    if (!key) return CopyList(loaded ? file.KeyNames(section) : std::vector<std::wstring>{}, returned, size);
    std::wstring value;
    if (loaded && file.Find(section, key, value)) return CopyOut(StripQuotes(value), returned, size);
    // Windows drops trailing blanks of the default.
    std::wstring def = defaultValue ? defaultValue : L"";
    while (!def.empty() && def.back() == L' ') def.pop_back();
    if (!loaded) SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyOut(def, returned, size);
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR fileName) {
    WCHAR buffer[30];
    if (GetPrivateProfileStringW(section, key, L"", buffer, 30, fileName) == 0) return static_cast<UINT>(defaultValue);
    return ParseProfileInt(buffer);
}

BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName) {
    if (!section || !fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(g_profileMutex);
    if (WriteProfile(vorksim::ToUtf8(fileName), section, key, value)) return TRUE;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

}  // extern "C"

namespace vork {

bool WriteProfileKeys(const std::wstring& file, const std::vector<ProfileKey>& keys) {
    std::lock_guard<std::mutex> lock(g_profileMutex);
    // Under one lock and in one replacement: a reader sees all of the keys or none.
    return EditLocked(vorksim::ToUtf8(file), true, [&](ProfileFile& profile) {
        for (const ProfileKey& k : keys) profile.Write(k.section, k.key.c_str(), k.value ? k.value->c_str() : nullptr);
    });
}

}  // namespace vork
