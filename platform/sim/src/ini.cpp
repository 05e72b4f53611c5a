// Private-profile (INI) files with the semantics of the Windows functions: section
// and key names compared without regard to case, values trimmed and stripped of
// one pair of surrounding quotes, the default for anything missing, truncation to
// the caller's buffer with a terminator, and writes that keep every other line of
// the file. Files are UTF-8 text.
#include <algorithm>
#include <cwctype>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include "vorksim/text.h"

namespace {

std::mutex g_profileMutex;  // the profile functions are serialised, as on Windows

std::wstring Trim(const std::wstring& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::iswspace(s[b])) ++b;
    while (e > b && std::iswspace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

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

struct Line {
    enum Kind { Other, Section, Entry } kind = Other;
    std::wstring raw;    // the line as it stands in the file
    std::wstring name;   // section or key name, trimmed
    std::wstring value;  // entry value, trimmed
};

class ProfileFile {
public:
    explicit ProfileFile(const std::wstring& fileName) : path_(vorksim::ToUtf8(fileName)) {}

    bool Load() {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return false;
        std::stringstream ss;
        ss << in.rdbuf();
        std::string data = ss.str();
        if (data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
        std::wstring text = vorksim::FromUtf8(data);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(L'\n', start);
            if (end == std::wstring::npos) end = text.size();
            std::wstring raw = text.substr(start, end - start);
            if (!raw.empty() && raw.back() == L'\r') raw.pop_back();
            lines_.push_back(Parse(raw));
            start = end + 1;
        }
        return true;
    }

    bool Save() const {
        std::wstring text;
        for (const auto& line : lines_) text += line.raw + L"\r\n";
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        std::string data = vorksim::ToUtf8(text);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        return static_cast<bool>(out);
    }

    // Index range [first, last) of the lines belonging to a section, header
    // excluded; first = npos when the section does not exist.
    std::pair<size_t, size_t> FindSection(const std::wstring& section) const {
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind != Line::Section || !EqualNoCase(lines_[i].name, section)) continue;
            size_t end = i + 1;
            while (end < lines_.size() && lines_[end].kind != Line::Section) ++end;
            return {i + 1, end};
        }
        return {std::wstring::npos, std::wstring::npos};
    }

    const Line* FindEntry(const std::wstring& section, const std::wstring& key) const {
        auto [first, last] = FindSection(section);
        if (first == std::wstring::npos) return nullptr;
        for (size_t i = first; i < last; ++i)
            if (lines_[i].kind == Line::Entry && EqualNoCase(lines_[i].name, key)) return &lines_[i];
        return nullptr;
    }

    std::vector<std::wstring> SectionNames() const {
        std::vector<std::wstring> names;
        for (const auto& l : lines_)
            if (l.kind == Line::Section) names.push_back(l.name);
        return names;
    }

    std::vector<std::wstring> KeyNames(const std::wstring& section) const {
        std::vector<std::wstring> names;
        auto [first, last] = FindSection(section);
        if (first == std::wstring::npos) return names;
        for (size_t i = first; i < last; ++i)
            if (lines_[i].kind == Line::Entry) names.push_back(lines_[i].name);
        return names;
    }

    void SetEntry(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
        Line entry = Parse(key + L"=" + value);
        auto [first, last] = FindSection(section);
        if (first == std::wstring::npos) {
            if (!lines_.empty() && !Trim(lines_.back().raw).empty()) lines_.push_back(Parse(L""));
            lines_.push_back(Parse(L"[" + section + L"]"));
            lines_.push_back(entry);
            return;
        }
        for (size_t i = first; i < last; ++i) {
            if (lines_[i].kind == Line::Entry && EqualNoCase(lines_[i].name, key)) {
                lines_[i] = entry;
                return;
            }
        }
        // Append after the section's last entry, before any trailing blank lines.
        size_t at = last;
        while (at > first && Trim(lines_[at - 1].raw).empty()) --at;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }

    void RemoveEntry(const std::wstring& section, const std::wstring& key) {
        auto [first, last] = FindSection(section);
        if (first == std::wstring::npos) return;
        for (size_t i = first; i < last; ++i) {
            if (lines_[i].kind == Line::Entry && EqualNoCase(lines_[i].name, key)) {
                lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
        }
    }

    void RemoveSection(const std::wstring& section) {
        auto [first, last] = FindSection(section);
        if (first == std::wstring::npos) return;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first - 1),
                     lines_.begin() + static_cast<std::ptrdiff_t>(last));
    }

private:
    static Line Parse(const std::wstring& raw) {
        Line line;
        line.raw = raw;
        std::wstring t = Trim(raw);
        if (t.empty() || t[0] == L';') return line;
        if (t[0] == L'[') {
            size_t close = t.find(L']');
            line.kind = Line::Section;
            line.name = Trim(t.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
            return line;
        }
        size_t eq = t.find(L'=');
        line.kind = Line::Entry;
        line.name = Trim(t.substr(0, eq));
        if (eq != std::wstring::npos) line.value = Trim(t.substr(eq + 1));
        return line;
    }

    std::string path_;
    std::vector<Line> lines_;
};

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
    ProfileFile file(fileName ? fileName : L"win.ini");
    bool loaded = file.Load();
    if (!section) return CopyList(loaded ? file.SectionNames() : std::vector<std::wstring>{}, returned, size);
    if (!key) return CopyList(loaded ? file.KeyNames(section) : std::vector<std::wstring>{}, returned, size);
    const Line* entry = loaded ? file.FindEntry(section, key) : nullptr;
    if (entry) return CopyOut(StripQuotes(entry->value), returned, size);
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
    ProfileFile file(fileName);
    file.Load();
    if (!key)
        file.RemoveSection(section);
    else if (!value)
        file.RemoveEntry(section, key);
    else
        file.SetEntry(section, key, value);
    if (file.Save()) return TRUE;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

}  // extern "C"
