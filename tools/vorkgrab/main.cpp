// vorkgrab: a host program of the DirectShow grabber plug-in. It loads the
// plug-in as the framework's host does, creates a grabber through the
// framework, and lists cameras, snaps pictures, and reads and writes formats and
// camera properties. Each command has a file of its own; this one checks what
// comes from outside, prepares the files and runs the command.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "Commands.h"
#include "Errors.h"
#include "OutputPattern.h"
#include "Session.h"
#include "Text.h"
#include "vork/fspath.h"
#include "vork/host.h"
#include "vork/utf8.h"

namespace {

using vork::Utf8;

// The framework keeps its INI path in 256 characters.
constexpr size_t kMaxIniPath = 255;
// Larger than any INI file or camera description.
constexpr std::uintmax_t kMaxFileBytes = 16u << 20;

// An INI file of the program's own when none is given, removed at the end.
class TemporaryIni {
public:
    TemporaryIni() {
        std::wstring error;
        if (!vork::CreateTemporaryFile(L"vorkgrab", L".ini", &path_, &error)) throw Failure{Utf8(error)};
    }
    ~TemporaryIni() {
        std::error_code ec;
        std::filesystem::remove(vork::FilePath(path_), ec);
        vork::ForgetOnInterrupt(path_);
    }
    TemporaryIni(const TemporaryIni&) = delete;
    TemporaryIni& operator=(const TemporaryIni&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// A missing INI file is created by the framework's first write, as the Windows
// profile functions do; its folder must exist. `writes`: the command writes the
// file, and the profile functions would write through a link to what it names.
void CheckIniPath(const std::wstring& path, bool writes) {
    const std::string shown = Printable(path, 300);
    if (path.size() > kMaxIniPath)
        throw Failure{"--ini: " + shown + " is longer than the framework's " + std::to_string(kMaxIniPath) +
                      " characters"};
    switch (vork::KindOf(path)) {
    case vork::PathKind::Folder: throw Failure{"--ini: " + shown + " is a folder, not an INI file"};
    case vork::PathKind::Other: throw Failure{"--ini: " + shown + " is not a regular file"};
    case vork::PathKind::Inaccessible: throw Failure{"--ini: " + shown + " cannot be looked at (a folder on the way may not be searched)"};
    case vork::PathKind::Missing: {
        const std::filesystem::path folder = vork::FilePath(path).parent_path();
        std::error_code ec;
        if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
            throw Failure{"--ini: the folder of " + shown + " does not exist"};
        break;
    }
    case vork::PathKind::Link: {
        std::error_code ec;
        if (writes) throw Failure{"--ini: " + shown + " is a link; give the file it names"};
        if (!std::filesystem::is_regular_file(vork::FilePath(path), ec))
            throw Failure{"--ini: " + shown + " is a link to no regular file"};
        break;
    }
    default: break;
    }
}

// The framework's reads of a file it cannot read would see no keys at all and
// open the board with defaults; the file is read once before anything opens. A
// file with NUL bytes but no UTF-16 byte-order mark is no INI file the profile
// functions can read, nor is one of more than 16 MB.
std::string ReadIni(const std::wstring& path) {
    std::error_code ec;
    if (!std::filesystem::exists(vork::FilePath(path), ec)) {
        if (ec) throw Failure{"--ini: " + Printable(path, 300) + " cannot be read: " + ec.message()};
        return "";  // made by the first write
    }
    const std::string shown = "--ini: " + Printable(path, 300);
    if (std::filesystem::file_size(vork::FilePath(path), ec) > kMaxFileBytes && !ec)
        throw Failure{shown + " is larger than 16 MB, which no INI file is"};
    std::ifstream in(vork::FilePath(path), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.is_open() || in.bad()) throw Failure{shown + " cannot be read"};
    const bool utf16 = bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0;
    if (!utf16 && bytes.find('\0') != std::string::npos)
        throw Failure{shown + " holds NUL bytes but no UTF-16 byte-order mark: not an INI file"};
    return bytes;
}

// A description is read whole: a link must name a regular file (not a pipe or
// a device that never ends), and no description is longer than 16 MB.
void CheckCameraFile(const std::wstring& path) {
    const std::string shown = Printable(path, 300);
    std::error_code ec;
    switch (vork::KindOf(path)) {
    case vork::PathKind::Folder: throw Failure{"--cameras: " + shown + " is a folder, not a camera description"};
    case vork::PathKind::Other: throw Failure{"--cameras: " + shown + " is not a regular file"};
    case vork::PathKind::Inaccessible: throw Failure{"--cameras: " + shown + " cannot be looked at (a folder on the way may not be searched)"};
    case vork::PathKind::Link:
        if (!std::filesystem::is_regular_file(vork::FilePath(path), ec))
            throw Failure{"--cameras: " + shown + " is a link to no regular file"};
        break;
    default: break;
    }
    if (std::filesystem::file_size(vork::FilePath(path), ec) > kMaxFileBytes && !ec)
        throw Failure{"--cameras: " + shown + " is larger than 16 MB, which no camera description is"};
}

// Before the camera opens: the first picture's folder can be made and its name
// is free (or --force was given).
void CheckOutput(const Options& o) {
    const OutputPattern pattern(o.out);
    const std::wstring first = pattern.Name(0);
    const std::filesystem::path folder = vork::FilePath(first).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
        throw Failure{"cannot create the output folder " + Utf8(vork::WidePath(folder))};
    switch (vork::KindOf(first)) {
    case vork::PathKind::Folder: throw Failure{Utf8(first) + " is a folder"};
    case vork::PathKind::Other: throw Failure{Utf8(first) + " is not a regular file"};
    case vork::PathKind::Inaccessible: throw Failure{Utf8(first) + " cannot be looked at"};
    case vork::PathKind::Missing: break;
    default:
        if (!o.force) throw Failure{Utf8(first) + " exists (--force replaces it)"};
    }
}

int RunCommand(Plugin& plugin, const Options& o) {
    CVORKDirectShowGrabber& g = plugin.grabber();
    const std::string missing = plugin.MissingCamera();
    if (!missing.empty() && o.command == "list")
        std::fprintf(stderr, "vorkgrab: the camera of %s (%s) is not attached; * marks the one opened instead\n",
                     Utf8(IniName(o)).c_str(), missing.c_str());
    else if (!missing.empty())
        throw Failure{"the camera of " + Utf8(IniName(o)) + " (" + missing + ") is not attached; the file was left as it was"};
    if (o.command == "list") return ListCommand(g);
    if (o.command == "serve") return ServeCommand(plugin, o);
    if (!g.IsInitialized()) throw Failure{"no camera could be opened"};
    if (o.command == "snap") return SnapCommand(plugin, o);
    if (o.command == "props") return PropsCommand(g);
    if (o.command == "set") return SetCommand(g, o);
    return FormatCommand(plugin, o);
}

int Run(const Options& o) {
    // The framework works on a file of the program's own, in the temporary folder.
    if (o.ini.size() > kMaxIniPath)
        throw Failure{"the temporary folder's path is too long for the framework's " + std::to_string(kMaxIniPath) +
                      " characters of an INI file's name: " + Printable(o.ini, 300) +
                      "; set TMPDIR (TEMP on Windows) to a shorter folder"};
    CheckChannelSettings(o);
    if (o.command == "snap") CheckOutput(o);
    VORKSetIniFileName(o.ini.c_str());
    HandToFramework(o);
    VORKSetErrorLogFile(L"");
    ListenToFramework(o.verbose);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring error;
    if (!vork::PrepareCameras(o.cameras, &error)) throw Failure{Printable(error, 300)};
    int result = kFailure;
    {
        Plugin plugin(o);
        PumpMessages();
        result = RunCommand(plugin, o);
        // A command that finished its work all the same (format and serve say
        // their own) is not a success.
        if (vork::Interrupted() && result == kSuccess && o.command != "format" && o.command != "serve")
            throw Failure{"interrupted"};
    }
    CoUninitialize();
    // What the command printed is its answer: one that could not be written
    // (a full disk, a closed pipe) is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw Failure{"the output could not be written"};
    return result;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "vorkgrab: %s\nTry 'vorkgrab --help'.\n", message.c_str());
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    vork::InstallInterruptHandler();
    Options o;
    try {
        o = ParseOptions(argc, argv);
    } catch (const UsageError& e) {
        return Usage(e.message);
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kSuccess;
    }
    try {
        if (!o.cameras.empty()) CheckCameraFile(o.cameras);
        if (o.ini.empty()) {
            TemporaryIni temporary;
            o.ini = temporary.path();
            return Run(o);
        }
        o.ini = vork::AbsolutePath(o.ini);
        const bool writes = o.command == "format" || o.command == "serve";
        CheckIniPath(o.ini, writes);
        const std::string bytes = ReadIni(o.ini);
        // The framework works on a copy: the plug-in itself writes into its INI
        // file (the camera it falls back to), and a program killed in the middle
        // leaves the user's file as it was. Only what format and serve keep goes
        // into the user's file, at the end.
        TemporaryIni copy;
        std::wstring error;
        if (!vork::WriteFileWhole(copy.path(), std::vector<uint8_t>(bytes.begin(), bytes.end()), true, &error))
            throw Failure{Utf8(error)};
        o.iniName = o.ini;
        o.ini = copy.path();
        return Run(o);
    } catch (const UsageError& e) {
        return Usage(e.message);
    } catch (const Failure& e) {
        std::fprintf(stderr, "vorkgrab: %s\n", e.message.c_str());
        return vork::Interrupted() ? kInterrupted : e.code;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vorkgrab: out of memory\n");
        return kFailure;
    }
}
