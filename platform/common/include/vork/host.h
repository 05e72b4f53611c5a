// What a host program needs of the platform beyond the Win32 API: where the
// plug-in file lies, which cameras there are, and whether a stream is a terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vork {

// The plug-in library's full path: beside the running program.
std::wstring PluginPath();

// Makes the cameras available: on the simulated platform the cameras described
// in `descriptionFile` (a built-in camera when it is empty); on Windows the
// system's own cameras, and a description file is an error. False with `error`
// set when the cameras cannot be had.
bool PrepareCameras(const std::wstring& descriptionFile, std::wstring* error);

bool IsTerminal(std::FILE* stream);

// ---- Files, whatever the locale -------------------------------------------------
// The wide name of a std::filesystem path, as the platform's file functions
// take it (vork::FilePath goes the other way, never through the locale).
std::wstring WidePath(const std::filesystem::path& path);
// Relative to the working folder made absolute; unchanged when that fails.
std::wstring AbsolutePath(const std::wstring& path);

enum class PathKind { Missing, File, Folder, Link, Other, Inaccessible };
// What lies at the path; a final symbolic link is reported, not followed.
// Inaccessible: the path cannot be looked at (a folder on the way that may not
// be searched), which is not the same as nothing there.
PathKind KindOf(const std::wstring& path);

// Writes `bytes` as the file `path`, whole or not at all: into a new file beside
// it, created exclusively under a name nobody holds and never through a link, then
// renamed onto `path`. Without `replace` an existing path is left as it was and the
// call fails. The new file is removed on every failure and on an interrupt.
bool WriteFileWhole(const std::wstring& path, const std::vector<uint8_t>& bytes, bool replace, std::wstring* error);

// One key of an INI file to write, or to remove when `value` is empty.
struct ProfileKey {
    std::wstring section;
    std::wstring key;
    std::optional<std::wstring> value;
};
// Writes the keys into the INI file `file` as the profile functions would, one
// after the other, and nothing else of it; never through a link. Where the
// platform's profile functions lock (the simulation), the keys go in together,
// under one lock, or none of them does; Windows' profile functions have no
// such lock, and the keys go in one at a time; when one fails, those before it
// are put back, and the file goes again if they brought it in.
bool WriteProfileKeys(const std::wstring& file, const std::vector<ProfileKey>& keys);

// Creates an empty file exclusively in the temporary folder, named
// stem-XXXXXX+suffix, readable by its owner only (on Windows, the temporary
// folder is the user's own), and registers it for removal on an interrupt.
bool CreateTemporaryFile(const std::wstring& stem, const std::wstring& suffix, std::wstring* path,
                         std::wstring* error);

// ---- Interrupts (SIGINT, SIGTERM and SIGHUP; Ctrl+C on Windows) ----------------
// The first interrupt only sets Interrupted(), so that the program can close the
// board and clean up; a second removes the registered files and ends the program.
// A closed console on Windows ends the program at once, after removing them.
// SIGPIPE is ignored: a write to a pipe nobody reads fails instead.
void InstallInterruptHandler();
bool Interrupted();
// Up to four files at a time are removed on a second interrupt.
void RemoveOnInterrupt(const std::wstring& path);
void ForgetOnInterrupt(const std::wstring& path);

}  // namespace vork
