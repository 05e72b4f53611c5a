// Private-profile files behave as on Windows where the plug-in relies on it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cwchar>

#include "TestSupport.h"

namespace {

using vorktest::ReadTextFile;
using vorktest::TempDir;
using vorktest::WriteTextFile;

std::wstring Read(const std::wstring& file, const wchar_t* section, const wchar_t* key, const wchar_t* def,
                  DWORD size = 256, DWORD* copied = nullptr) {
    std::vector<wchar_t> buffer(size + 1, L'#');
    DWORD n = GetPrivateProfileStringW(section, key, def, buffer.data(), size, file.c_str());
    if (copied) *copied = n;
    return buffer.data();
}

// Runs body in a process of its own; as root, unprivileged when asked, so that
// permissions and ownership apply. Succeeded waits for it and tells whether
// body returned true.
pid_t Spawn(const std::function<bool()>& body, bool unprivileged = false) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    constexpr uid_t kNobody = 65534;
    if (unprivileged && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(2);
    _exit(body() ? 0 : 1);
}

bool Succeeded(pid_t pid) {
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Reads as on Windows: the default for a missing file, section or key; names in
// any case; values trimmed and unquoted; a value cut to the buffer with its
// terminator and the count of what was copied; integers read as far as they go;
// null names list the sections, then a section's keys.
TEST(PrivateProfile, ReadsAnswerAsOnWindows) {
    TempDir dir;
    const std::wstring file = dir.File("a.ini");
    EXPECT_EQ(Read(file, L"S", L"K", L"def"), L"def");
    EXPECT_EQ(GetPrivateProfileIntW(L"S", L"K", 42, file.c_str()), 42u);
    WriteTextFile(dir.path() / "a.ini",
                  "; comment\n[Other]\nK=1\n[Grabber]\n  FriendlyNamePart =  USB Cam  \nQuoted=\"  x \"\n"
                  "[S]\nJ=2\nK=abcdefgh\nA=12abc\nB=-3\nC=0x1F\nD=text\nE=\nF= 7\n[Two]\n");
    struct {
        const wchar_t *section, *key, *def;
        DWORD size;
        const wchar_t* read;
    } reads[] = {{L"S", L"Missing", L"def", 256, L"def"}, {L"None", L"K", nullptr, 256, L""},
                 {L"GRABBER", L"friendlynamepart", L"", 256, L"USB Cam"}, {L"grabber", L"QUOTED", L"", 256, L"  x "},
                 {L"S", L"K", L"", 5, L"abcd"}, {L"S", L"Missing", L"longdefault", 5, L"long"},
                 {L"S", L"E", L"default", 256, L""}};
    for (const auto& r : reads) {
        DWORD copied = 0;
        EXPECT_EQ(Read(file, r.section, r.key, r.def, r.size, &copied), r.read) << r.key;
        EXPECT_EQ(copied, std::wcslen(r.read)) << r.key;
    }
    struct {
        const wchar_t* key;
        UINT expected;
    } ints[] = {{L"Missing", 99u}, {L"J", 2u}, {L"A", 12u}, {L"B", static_cast<UINT>(-3)},
                {L"C", 31u},       {L"D", 0u}, {L"E", 99u}, {L"F", 7u}};
    for (const auto& c : ints) EXPECT_EQ(GetPrivateProfileIntW(L"S", c.key, 99, file.c_str()), c.expected) << c.key;
    wchar_t names[64];
    DWORD n = GetPrivateProfileStringW(nullptr, nullptr, L"", names, 64, file.c_str());
    EXPECT_EQ(std::wstring(names, n), std::wstring(L"Other\0Grabber\0S\0Two\0", 20));
    n = GetPrivateProfileStringW(L"grabber", nullptr, L"", names, 64, file.c_str());
    EXPECT_EQ(std::wstring(names, n), std::wstring(L"FriendlyNamePart\0Quoted\0", 24));
}

TEST(PrivateProfile, NonAsciiTextSurvivesARoundTripInAUnicodeFile) {
    TempDir dir;
    const wchar_t* name = L"Kamera \u00e4\u00f6\u00fc \u65e5\u672c \U0001F4F7";
    for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE"}) {
        WriteTextFile(dir.path() / "a.ini", mark);
        std::wstring file = dir.File("a.ini");
        WritePrivateProfileStringW(L"Ger\u00e4t", L"FriendlyNamePart", name, file.c_str());
        EXPECT_EQ(Read(file, L"GER\u00c4T", L"FriendlyNamePart", L""), name);
    }
}

// As Windows reads them: a file without a byte-order mark is in the Windows
// code page, so UTF-8 bytes there are characters of their own, and a character
// the code page lacks is written as '?'.
TEST(PrivateProfile, AFileWithoutAMarkIsInTheWindowsCodePage) {
    TempDir dir;
    WriteTextFile(dir.path() / "a.ini", "[Cam]\nLatin=p\xE4th\nUtf8=p\xC3\xA4th\n");
    std::wstring file = dir.File("a.ini");
    EXPECT_EQ(Read(file, L"Cam", L"Latin", L""), L"p\u00e4th");
    EXPECT_EQ(Read(file, L"Cam", L"Utf8", L""), L"p\u00c3\u00a4th");
    WritePrivateProfileStringW(L"Cam", L"Name", L"\u00c4 \u65e5", file.c_str());
    EXPECT_EQ(ReadTextFile(dir.path() / "a.ini"), "[Cam]\nLatin=p\xE4th\nUtf8=p\xC3\xA4th\nName=\xC4 ?\n");
}

TEST(PrivateProfile, AWriteChangesOnlyItsOwnLineAndKeepsEveryOtherByte) {
    TempDir dir;
    std::wstring file = dir.File("a.ini");
    struct Case {
        const char* name;
        const char* before;  // nullptr: no file yet
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* value;
        std::string after;
    } cases[] = {
        {"new file", nullptr, L"Cam", L"FriendlyNamePart", L"Logitech C920", "[Cam]\r\nFriendlyNamePart=Logitech C920\r\n"},
        {"names in another case", "; c\n[A]\nX=1\nY=2\n\n[B]\n", L"a", L"y", L"20", "; c\n[A]\nX=1\nY=20\n\n[B]\n"},
        {"empty value", "[S]\nK=\\\\?\\usb\n", L"S", L"K", L"", "[S]\nK=\n"},
        // Latin-1 bytes of another section, and LF line ends, stay as they were.
        {"latin-1", "[Old]\nName=Kamera \xE4\xF6\xFC\n[S]\nK=1\n", L"S", L"K", L"2",
         "[Old]\nName=Kamera \xE4\xF6\xFC\n[S]\nK=2\n"},
        {"added key", "[S]\r\nK=1\r\n\r\n[T]\r\n", L"S", L"J", L"x", "[S]\r\nK=1\r\nJ=x\r\n\r\n[T]\r\n"},
        {"no final line end", "[S]\nK=1", L"S", L"J", L"x", "[S]\nK=1\nJ=x\n"},
        {"new section", "; c\n[S]\nK=1\n", L"T", L"J", L"x", "; c\n[S]\nK=1\n\n[T]\nJ=x\n"},
        {"removed key", "[S]\nA=1\nK=1\nB=2\n", L"S", L"K", nullptr, "[S]\nA=1\nB=2\n"},
        {"removed section", "[S]\nA=1\n[T]\nB=2\n", L"S", nullptr, nullptr, "[T]\nB=2\n"},
        {"second section of the name", "[S]\nK=1\n[S]\nK=5\n", L"S", L"K", L"2", "[S]\nK=2\n[S]\nK=5\n"},
        {"byte-order mark", "\xEF\xBB\xBF[S]\nK=1\n", L"S", L"K", L"\u00e4", "\xEF\xBB\xBF[S]\nK=\xC3\xA4\n"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir.path() / "a.ini");
        if (c.before) WriteTextFile(dir.path() / "a.ini", c.before);
        ASSERT_TRUE(WritePrivateProfileStringW(c.section, c.key, c.value, file.c_str())) << c.name;
        EXPECT_EQ(ReadTextFile(dir.path() / "a.ini"), c.after) << c.name;
    }
}

TEST(PrivateProfile, AUtf16FileIsReadAndWrittenInUtf16OfItsByteOrder) {
    TempDir dir;
    std::wstring file = dir.File("w.ini");
    for (bool bigEndian : {false, true}) {
        auto utf16 = [bigEndian](const std::wstring& text) {
            std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
            for (wchar_t c : text) {
                const char low = static_cast<char>(c & 0xFF), high = static_cast<char>((c >> 8) & 0xFF);
                bytes += bigEndian ? high : low;
                bytes += bigEndian ? low : high;
            }
            return bytes;
        };
        WriteTextFile(dir.path() / "w.ini", utf16(L"[Cam]\r\nFriendlyNamePart=Kamera \u00e4\r\nDevicePath=p\r\n"));
        EXPECT_EQ(Read(file, L"Cam", L"FriendlyNamePart", L""), L"Kamera \u00e4") << bigEndian;
        ASSERT_TRUE(WritePrivateProfileStringW(L"Cam", L"DevicePath", L"q\u65e5", file.c_str()));
        ASSERT_TRUE(WritePrivateProfileStringW(L"Cam", L"Added", L"x", file.c_str()));
        EXPECT_EQ(ReadTextFile(dir.path() / "w.ini"),
                  utf16(L"[Cam]\r\nFriendlyNamePart=Kamera \u00e4\r\nDevicePath=q\u65e5\r\nAdded=x\r\n"))
            << bigEndian;
    }
}

TEST(PrivateProfile, AUtf16FileCutAfterHalfACharacterReadsItsWholeCharacters) {
    TempDir dir;
    // "[A]\nk=v" and one byte more, at the end of a line without a line end.
    WriteTextFile(dir.path() / "cut.ini", std::string("\xFF\xFE[\0A\0]\0\n\0k\0=\0v\0w", 17));
    std::wstring file = dir.File("cut.ini");
    EXPECT_EQ(Read(file, L"A", L"k", L"-"), L"v");
    wchar_t names[32];
    DWORD n = GetPrivateProfileStringW(nullptr, nullptr, L"", names, 32, file.c_str());
    EXPECT_EQ(std::wstring(names, n), std::wstring(L"A\0", 2));
    // The fuzzer's file, whose lines of odd length had its reads run past the end.
    WriteTextFile(dir.path() / "cut.ini", std::string("\xFF\xFE\x5B\x00\xDB\xDB\x00\xFA\x00\x6C\xDB\xDB\xDB\xDB\x72\x0D\x00\x0A\x00\x41\xFF\xFE\x5B\x00\xFE\x5B\x00\xD3\x53\x00\x5D\x00\x0A\x0A\x00\x5B\x00\xFE\x5B\x00\xD3\x53\x00\x5D\x00\x0A\x0A\x00\x0D\xD3\x53\x00\x5D\x00\x0A\x0A\x00\x0D\x00\x00\x5D\x0D\xD3\x53\x00\x5D\x00\x0A\x0A\x00\x0D", 71));
    n = GetPrivateProfileStringW(nullptr, nullptr, L"", names, 32, file.c_str());
    EXPECT_LT(n, 32u);
}

// A write replaces the file whole yet keeps its mode and owner, and writes
// through a link to the file it names.
TEST(PrivateProfile, AWriteKeepsTheFilesModeOwnerAndLink) {
    TempDir dir;
    const auto path = dir.path() / "real.ini";
    WriteTextFile(path, "[S]\nK=1\n");
    const uid_t owner = geteuid() == 0 ? 1234 : geteuid();
    const gid_t group = geteuid() == 0 ? 5678 : getegid();
    ASSERT_EQ(chown(path.c_str(), owner, group), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    std::filesystem::create_symlink("real.ini", dir.path() / "link.ini");
    ASSERT_TRUE(WritePrivateProfileStringW(L"S", L"K", L"2", dir.File("link.ini").c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.ini"));
    EXPECT_EQ(ReadTextFile(path), "[S]\nK=2\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_gid, group);
    // Nothing is left beside the file, and a write that changes nothing writes nothing.
    const auto stamp = std::filesystem::last_write_time(path);
    ASSERT_TRUE(WritePrivateProfileStringW(L"Missing", L"K", nullptr, dir.File("real.ini").c_str()));
    EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
    ASSERT_TRUE(WritePrivateProfileStringW(L"S", nullptr, nullptr, dir.File("missing.ini").c_str()));
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.exists() ? 1 : 0;
    EXPECT_EQ(files, 2u);
}

// A file the writer cannot read, or could not give back to its owner, stays as
// it was rather than be replaced by what the write alone would make of it.
TEST(PrivateProfile, AWriteThatCannotKeepTheFileFailsAndLeavesIt) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const auto path = dir.path() / "a.ini";
    const std::wstring file = dir.File("a.ini");
    struct {
        const char* name;
        mode_t mode;
        const wchar_t* read;
    } cases[] = {{"unreadable", 0200, L"default"}, {"another's", 0666, L"1"}};
    for (const auto& c : cases) {
        if (c.mode == 0666 && geteuid() != 0) continue;  // only root has a file of another's to hand
        WriteTextFile(path, "[A]\nX=1\n[S]\nK=1\n");
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        EXPECT_TRUE(Succeeded(Spawn(
            [&] {
                return !WritePrivateProfileStringW(L"S", L"K", L"2", file.c_str()) &&
                       GetLastError() == ERROR_ACCESS_DENIED && Read(file, L"S", L"K", L"default") == c.read;
            },
            true)))
            << c.name;
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
        EXPECT_EQ(ReadTextFile(path), "[A]\nX=1\n[S]\nK=1\n") << c.name;
    }
}

// Each process's write is one locked read-modify-write, so none replaces the
// file with contents that lack another's key.
TEST(PrivateProfile, WritersInManyProcessesLoseNoKey) {
    TempDir dir;
    const std::wstring file = dir.File("a.ini");
    constexpr int kWriters = 12, kWrites = 40;
    std::vector<pid_t> writers;
    for (int i = 0; i < kWriters; ++i)
        writers.push_back(Spawn([&] {
            for (int n = 1; n <= kWrites; ++n)
                if (!WritePrivateProfileStringW(L"S", std::to_wstring(i).c_str(), std::to_wstring(n).c_str(), file.c_str()))
                    return false;
            return true;
        }));
    for (pid_t pid : writers) EXPECT_TRUE(Succeeded(pid));
    for (int i = 0; i < kWriters; ++i)
        EXPECT_EQ(GetPrivateProfileIntW(L"S", std::to_wstring(i).c_str(), 0, file.c_str()), UINT(kWrites)) << i;
}

}  // namespace
