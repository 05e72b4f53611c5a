#include "vork/host.h"

#include <io.h>

#include <algorithm>
#include <windows.h>

namespace vork {

std::wstring PluginPath() {
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir = self;
    size_t slash = dir.find_last_of(L"\\/");
    dir = slash == std::wstring::npos ? L"." : dir.substr(0, slash);
    return dir + L"\\VORKDirectShowGrabber.dll";
}

bool PrepareCameras(const std::wstring& descriptionFile, std::wstring* error) {
    if (descriptionFile.empty()) return true;
    if (error) *error = descriptionFile + L": camera descriptions are for the simulated platform; Windows uses its own cameras";
    return false;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace vork

// ---- Files and interrupts on Windows ----------------------------------------------

#include <atomic>
#include <cwchar>
#include <random>

namespace vork {
namespace {

constexpr int kSlots = 4;
wchar_t g_slotPath[kSlots][MAX_PATH * 4];
std::atomic<bool> g_slotUsed[kSlots];
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    // A closed console, a logoff or a shutdown ends the process as soon as the
    // handler returns, whatever it returns: no cleanup of the program's would run.
    const bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (++g_interrupts < 2 && !ending) return TRUE;
    for (int i = 0; i < kSlots; ++i)
        if (g_slotUsed[i].load()) DeleteFileW(g_slotPath[i]);
    return FALSE;  // the default handler ends the process
}

bool Fail(std::wstring* error, std::wstring message) {
    if (error) *error = std::move(message);
    return false;
}

std::wstring RandomTag() {
    static std::mt19937 random{std::random_device{}() ^ GetCurrentProcessId()};
    static const wchar_t kChars[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    std::wstring tag;
    for (int i = 0; i < 8; ++i) tag += kChars[random() % (sizeof(kChars) / sizeof(kChars[0]) - 1)];
    return tag;
}

// CREATE_NEW refuses an existing name, a link or junction in its place included.
HANDLE CreateExclusive(const std::wstring& folderAndStem, const std::wstring& suffix, std::wstring& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folderAndStem + RandomTag() + suffix;
        HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

std::wstring WidePath(const std::filesystem::path& path) { return path.wstring(); }

std::wstring AbsolutePath(const std::wstring& path) {
    if (path.empty()) return path;
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    return full;
}

PathKind KindOf(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD failure = GetLastError();
        return failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                                   : PathKind::Inaccessible;
    }
    // Only symbolic links and junctions are links; other reparse points (cloud
    // and deduplicated files) are files as any other.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW(path.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        if (search == INVALID_HANDLE_VALUE || found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
            found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)
            return PathKind::Link;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
    return PathKind::File;
}

bool WriteFileWhole(const std::wstring& path, const std::vector<uint8_t>& bytes, bool replace, std::wstring* error) {
    const PathKind kind = KindOf(path);
    if (kind == PathKind::Folder) return Fail(error, path + L" is a folder");
    if (kind == PathKind::Other) return Fail(error, path + L" is not a regular file");
    if (kind == PathKind::Inaccessible) return Fail(error, path + L" cannot be looked at");
    if (kind != PathKind::Missing && !replace) return Fail(error, path + L" exists (--force replaces it)");
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    const std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::wstring temporary;
    HANDLE file = CreateExclusive(folder + L"." + base + L".", L".part", temporary);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, path + L" cannot be written");
    RemoveOnInterrupt(temporary);
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = CloseHandle(file) && ok;
    DWORD failure = 0;
    // A file replaced keeps its security and attributes: ReplaceFileW gives
    // them to the new one (Wine's takes only full paths); a plain move, where
    // it cannot (some network shares), leaves the folder's defaults.
    const auto moved = [&] {
        if (replace && kind == PathKind::File &&
            ReplaceFileW(AbsolutePath(path).c_str(), AbsolutePath(temporary).c_str(), nullptr,
                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
            return true;
        return MoveFileExW(temporary.c_str(), path.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0) != FALSE;
    };
    const bool written = ok;
    if (ok && !moved()) {
        ok = false;
        failure = GetLastError();
    }
    // ReplaceFileW can fail after it took the old file away: the new contents
    // are then all there is, and they stay.
    const bool onlyCopy = written && !ok && kind == PathKind::File && KindOf(path) == PathKind::Missing;
    if (!ok && !onlyCopy) DeleteFileW(temporary.c_str());
    ForgetOnInterrupt(temporary);
    if (onlyCopy) return Fail(error, path + L" cannot be written; what was to replace it is in " + temporary);
    if (!ok && (failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS))
        return Fail(error, path + L" exists (--force replaces it)");
    if (!ok) return Fail(error, path + L" cannot be written");
    return true;
}

// The profile functions take no lock: the keys go in one at a time, and those
// written are put back when a later one fails, as is a file the first made.
bool WriteProfileKeys(const std::wstring& file, const std::vector<ProfileKey>& keys) {
    const PathKind kind = KindOf(file);
    if (kind != PathKind::File && kind != PathKind::Missing) return false;
    constexpr wchar_t kAbsent[] = L"\x01";
    std::vector<std::optional<std::wstring>> before;
    std::vector<wchar_t> buffer(32768);
    for (const ProfileKey& k : keys) {
        GetPrivateProfileStringW(k.section.c_str(), k.key.c_str(), kAbsent, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), file.c_str());
        before.push_back(std::wcscmp(buffer.data(), kAbsent) == 0 ? std::nullopt
                                                                   : std::optional<std::wstring>(buffer.data()));
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        const ProfileKey& k = keys[i];
        if (WritePrivateProfileStringW(k.section.c_str(), k.key.c_str(), k.value ? k.value->c_str() : nullptr,
                                       file.c_str()))
            continue;
        for (size_t j = i; j-- > 0;)
            WritePrivateProfileStringW(keys[j].section.c_str(), keys[j].key.c_str(),
                                       before[j] ? before[j]->c_str() : nullptr, file.c_str());
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (kind == PathKind::Missing && GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) &&
            data.nFileSizeLow == 0 && data.nFileSizeHigh == 0)
            DeleteFileW(file.c_str());
        return false;
    }
    return true;
}

bool CreateTemporaryFile(const std::wstring& stem, const std::wstring& suffix, std::wstring* path,
                         std::wstring* error) {
    wchar_t folder[MAX_PATH + 1] = L"";
    if (GetTempPathW(MAX_PATH + 1, folder) == 0) return Fail(error, L"there is no temporary folder");
    std::wstring name;
    HANDLE file = CreateExclusive(std::wstring(folder) + stem + L"-", suffix, name);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, std::wstring(folder) + L" takes no temporary file");
    CloseHandle(file);
    *path = name;
    RemoveOnInterrupt(name);
    return true;
}

void InstallInterruptHandler() { SetConsoleCtrlHandler(&OnConsoleEvent, TRUE); }

bool Interrupted() { return g_interrupts.load() > 0; }

void RemoveOnInterrupt(const std::wstring& path) {
    if (path.size() >= MAX_PATH * 4) return;
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) continue;
        path.copy(g_slotPath[i], path.size());
        g_slotPath[i][path.size()] = 0;
        g_slotUsed[i].store(true);
        return;
    }
}

void ForgetOnInterrupt(const std::wstring& path) {
    for (int i = 0; i < kSlots; ++i)
        if (g_slotUsed[i].load() && path == g_slotPath[i]) g_slotUsed[i].store(false);
}

}  // namespace vork
