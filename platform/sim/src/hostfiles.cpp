// The host programs' file handling on POSIX systems: exclusive creation, no links
// followed, whole-file replacement, and removal of temporary files on an interrupt.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include "vork/host.h"
#include "vorksim/text.h"
#include "posixio.h"

namespace vork {
namespace {

// ---- Interrupt bookkeeping: plain arrays, read by the signal handler ----------
constexpr int kSlots = 4;
char g_slotPath[kSlots][PATH_MAX];
std::atomic<bool> g_slotUsed[kSlots];
volatile sig_atomic_t g_interrupts = 0;

void OnInterrupt(int signal) {
    if (++g_interrupts < 2) return;
    for (int i = 0; i < kSlots; ++i)
        if (g_slotUsed[i].load()) unlink(g_slotPath[i]);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

std::string Narrow(const std::wstring& path) { return vorksim::ToUtf8(path); }

std::wstring Message(const std::wstring& path, const wchar_t* what, int error = 0) {
    std::wstring text = path + L" " + what;
    if (error) text += L" (" + vorksim::FromUtf8(std::strerror(error)) + L")";
    return text;
}

bool Fail(std::wstring* error, std::wstring message) {
    if (error) *error = std::move(message);
    return false;
}

std::string RandomTag() {
    static std::mt19937_64 random{std::random_device{}() ^ static_cast<unsigned long long>(getpid())};
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string tag;
    for (int i = 0; i < 8; ++i) tag += kChars[random() % (sizeof(kChars) - 1)];
    return tag;
}

// A new file under a name nobody holds: O_EXCL refuses an existing name and a
// link of any kind in its place.
int CreateExclusive(const std::string& folderAndStem, const std::string& suffix, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folderAndStem + RandomTag() + suffix;
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Renames without replacing: the kernel refuses when the target exists, so a
// file that appears meanwhile is never lost.
int RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
    // Where the file system cannot rename so, a hard link is as exclusive.
    if (link(from.c_str(), to.c_str()) != 0) return -1;
    unlink(from.c_str());
    return 0;
}

// A file replaced keeps its owner and mode. A link replaced is no file of the
// user's: the new file is the writer's own.
bool KeepOwnerAndMode(int fd, const std::string& target) {
    struct stat old;
    if (lstat(target.c_str(), &old) != 0) return errno == ENOENT;
    return S_ISLNK(old.st_mode) || vorksim::GiveOwnerAndMode(fd, old);
}

}  // namespace

std::wstring WidePath(const std::filesystem::path& path) { return vorksim::FromUtf8(path.string()); }

std::wstring AbsolutePath(const std::wstring& path) {
    if (path.empty() || path[0] == L'/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof(cwd))) return path;
    std::wstring folder = vorksim::FromUtf8(cwd);
    return folder + (folder.size() > 0 && folder.back() == L'/' ? L"" : L"/") + path;
}

PathKind KindOf(const std::wstring& path) {
    struct stat st;
    if (lstat(Narrow(path).c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Inaccessible;
    if (S_ISLNK(st.st_mode)) return PathKind::Link;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    if (S_ISREG(st.st_mode)) return PathKind::File;
    return PathKind::Other;
}

bool WriteFileWhole(const std::wstring& path, const std::vector<uint8_t>& bytes, bool replace, std::wstring* error) {
    const std::string target = Narrow(path);
    const PathKind kind = KindOf(path);
    if (kind == PathKind::Folder) return Fail(error, Message(path, L"is a folder"));
    if (kind == PathKind::Other) return Fail(error, Message(path, L"is not a regular file"));
    if (kind == PathKind::Inaccessible) return Fail(error, Message(path, L"cannot be looked at"));
    if (kind != PathKind::Missing && !replace) return Fail(error, Message(path, L"exists (--force replaces it)"));
    std::string temporary;
    const int fd = CreateExclusive(vorksim::SiblingPrefix(target), ".part", temporary);
    if (fd < 0) return Fail(error, Message(path, L"cannot be written", errno));
    const std::wstring wideTemporary = vorksim::FromUtf8(temporary);
    RemoveOnInterrupt(wideTemporary);
    bool ok = KeepOwnerAndMode(fd, target) && vorksim::WriteAll(fd, bytes.data(), bytes.size());
    int failure = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok) {
        const int renamed = replace ? rename(temporary.c_str(), target.c_str()) : RenameNoReplace(temporary, target);
        if (renamed != 0) {
            ok = false;
            failure = errno;
        }
    }
    if (!ok) unlink(temporary.c_str());
    ForgetOnInterrupt(wideTemporary);
    if (!ok && failure == EEXIST) return Fail(error, Message(path, L"exists (--force replaces it)"));
    if (!ok) return Fail(error, Message(path, L"cannot be written", failure));
    return true;
}

bool CreateTemporaryFile(const std::wstring& stem, const std::wstring& suffix, std::wstring* path,
                         std::wstring* error) {
    std::error_code ec;
    std::string folder = std::filesystem::temp_directory_path(ec).string();
    if (ec || folder.empty()) folder = "/tmp";
    if (folder.back() != '/') folder += '/';
    std::string name;
    const int fd = CreateExclusive(folder + Narrow(stem) + "-", Narrow(suffix), name);
    if (fd < 0) return Fail(error, Message(vorksim::FromUtf8(folder), L"takes no temporary file", errno));
    // Only this user's: it may hold a copy of a file others may not read.
    const int failure = fchmod(fd, 0600) == 0 ? 0 : errno;
    close(fd);
    if (failure) {
        unlink(name.c_str());
        return Fail(error, Message(vorksim::FromUtf8(name), L"cannot be made private", failure));
    }
    *path = vorksim::FromUtf8(name);
    RemoveOnInterrupt(*path);
    return true;
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A reader that went away (`| head -1`) makes writes fail instead of ending
    // the program before it cleans up.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool Interrupted() { return g_interrupts > 0; }

void RemoveOnInterrupt(const std::wstring& path) {
    const std::string narrow = Narrow(path);
    if (narrow.size() >= PATH_MAX) return;
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) continue;
        std::memcpy(g_slotPath[i], narrow.c_str(), narrow.size() + 1);
        g_slotUsed[i].store(true);
        return;
    }
}

void ForgetOnInterrupt(const std::wstring& path) {
    const std::string narrow = Narrow(path);
    for (int i = 0; i < kSlots; ++i)
        if (g_slotUsed[i].load() && narrow == g_slotPath[i]) g_slotUsed[i].store(false);
}

}  // namespace vork
