// vorkgrab: a host program of the DirectShow grabber plug-in. It loads the
// plug-in as the framework's host does, creates a grabber through the
// framework, and lists cameras, snaps pictures, and reads and writes formats and
// camera properties.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ImageFile.h"
#include "VORKDirectShowGrabber.h"
#include "vork/host.h"
#include "vork/utf8.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

const char kUsage[] =
    "usage: vorkgrab COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  list                      the cameras: number, name, device path; * marks the connected one\n"
    "  snap                      take pictures and save them as image files\n"
    "  props                     the camera's properties in percent of their ranges\n"
    "  set NAME=PERCENT[:auto|:manual] ...\n"
    "                            set properties: brightness contrast hue saturation sharpness gamma\n"
    "                            colorenable whitebalance pan tilt roll zoom exposure iris focus,\n"
    "                            gain and offset (the channel's A/D gain and offset), backlight\n"
    "                            (backlight=off switches it off)\n"
    "  format                    read the colour mode, image size and frame rate; write them with\n"
    "                            --color-mode, --size and --fps\n"
    "\n"
    "options:\n"
    "  --ini FILE                the framework's INI file (default: a temporary one)\n"
    "  --grabber NAME            the grabber's name, its INI section (default DSGRABBER)\n"
    "  --cameras FILE            virtual camera descriptions (simulated platform; default: one camera)\n"
    "  --out PATTERN             image files, e.g. snaps/frame_%03d.png; .png, .bmp or .ppm\n"
    "                            (default snaps/frame_%03d.png)\n"
    "  --count N                 pictures to save (default 1)\n"
    "  --continuous              take them from continuous acquisition into the ring\n"
    "  --every K                 save every K-th frame only\n"
    "  --seconds S               run for S seconds instead of a count\n"
    "  --timeout MS              wait for a frame at most MS milliseconds (default 5000)\n"
    "  --color-mode M            0 RGB8, 2 RGB555, 3 RGB565, 4 RGB24, 5 RGB32\n"
    "  --size WxH                the grab rectangle, e.g. 320x240\n"
    "  --fps F                   the frame rate\n"
    "  --force                   replace existing image files\n"
    "  --verbose                 show the error log and error events as they happen\n"
    "  --help                    this text\n";

using vork::Utf8;

std::wstring Wide(const std::string& text) { return vork::FromUtf8(text); }

struct UsageError {
    std::string message;
};
struct Failure {
    std::string message;
};

struct Options {
    std::string command;
    std::vector<std::string> assignments;
    std::wstring ini;
    std::wstring cameras;
    std::wstring out = L"snaps/frame_%03d.png";
    std::wstring grabber = L"DSGRABBER";
    int timeout = 5000;
    int count = 1;
    int every = 1;
    double seconds = 0;
    bool continuous = false;
    bool force = false;
    bool verbose = false;
    bool help = false;
    std::optional<int> colorMode;
    std::optional<std::pair<int, int>> size;
    std::optional<double> fps;
};

long ParseInt(const std::string& option, const std::string& value, long min, long max) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || errno || v < min || v > max)
        throw UsageError{option + ": '" + value + "' is not a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max)};
    return v;
}

double ParseNumber(const std::string& option, const std::string& value) {
    char* end = nullptr;
    double v = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || !std::isfinite(v) || v <= 0)
        throw UsageError{option + ": '" + value + "' is not a positive number"};
    return v;
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") o.help = true;
        else if (arg == "--ini") o.ini = Wide(value());
        else if (arg == "--grabber") o.grabber = Wide(value());
        else if (arg == "--cameras") o.cameras = Wide(value());
        else if (arg == "--out") o.out = Wide(value());
        else if (arg == "--timeout") o.timeout = static_cast<int>(ParseInt(arg, value(), 1, 3600000));
        else if (arg == "--count" || arg == "-n") o.count = static_cast<int>(ParseInt(arg, value(), 1, 1000000));
        else if (arg == "--every") o.every = static_cast<int>(ParseInt(arg, value(), 1, 1000000));
        else if (arg == "--seconds") o.seconds = ParseNumber(arg, value());
        else if (arg == "--continuous") o.continuous = true;
        else if (arg == "--force") o.force = true;
        else if (arg == "--verbose") o.verbose = true;
        else if (arg == "--fps") o.fps = ParseNumber(arg, value());
        else if (arg == "--color-mode") {
            int m = static_cast<int>(ParseInt(arg, value(), 0, 5));
            if (m == 1) throw UsageError{"--color-mode: 1 has no pixel format here; use 0, 2, 3, 4 or 5"};
            o.colorMode = m;
        } else if (arg == "--size") {
            std::string v = value();
            size_t x = v.find('x');
            if (x == std::string::npos) throw UsageError{"--size: '" + v + "' is not WIDTHxHEIGHT"};
            o.size = std::make_pair(static_cast<int>(ParseInt("--size", v.substr(0, x), 1, 16384)),
                                    static_cast<int>(ParseInt("--size", v.substr(x + 1), 1, 16384)));
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else if (o.command.empty()) {
            o.command = arg;
        } else if (o.command == "set") {
            o.assignments.push_back(arg);
        } else {
            throw UsageError{"unexpected argument " + arg};
        }
    }
    if (o.help) return o;
    if (o.command.empty()) throw UsageError{"no command given"};
    if (o.command != "list" && o.command != "snap" && o.command != "props" && o.command != "set" &&
        o.command != "format")
        throw UsageError{"unknown command " + o.command};
    if (o.command == "set" && o.assignments.empty()) throw UsageError{"set: no NAME=PERCENT given"};
    if (o.command == "snap") {
        ImageKind kind;
        if (!KindOfPath(o.out, kind)) throw UsageError{"--out: '" + Utf8(o.out) + "' must end in .png, .bmp or .ppm"};
    }
    return o;
}

// ---- What the framework reports while the program runs --------------------------

struct Reports {
    bool verbose = false;
    int deviceLost = 0;
    int errorEvents = 0;
};
Reports g_reports;

void OnLogLine(void*, const wchar_t* text, int code, int level) {
    if (g_reports.verbose) std::fprintf(stderr, "log (code %d, level %d): %s\n", code, level, Utf8(text).c_str());
}

void OnErrorEvent(void*, CVORKGrabberBase*, const wchar_t* text, int code) {
    ++g_reports.errorEvents;
    if (code == 31) ++g_reports.deviceLost;
    if (g_reports.verbose || code == 31 || code == 3 || code == 9)
        std::fprintf(stderr, "event %d: %s\n", code, Utf8(text).c_str());
}

// Media events are handled while the thread that opened the board pumps.
void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// ---- The plug-in, loaded as a host loads it -------------------------------------

// An exported function by name; void (*)() is the type every function pointer
// may pass through.
template <class Function>
Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class Plugin {
public:
    explicit Plugin(const Options& o) {
        module_ = LoadLibraryW(vork::PluginPath().c_str());
        if (!module_) throw Failure{"cannot load the plug-in " + Utf8(vork::PluginPath())};
        initDll_ = Export<bool (*)(const wchar_t*, int)>(module_, "InitDll");
        deInitDll_ = Export<bool (*)()>(module_, "DeInitDll");
        if (!initDll_ || !deInitDll_) throw Failure{"the plug-in exports no InitDll/DeInitDll"};
        if (!initDll_(o.grabber.c_str(), 0)) throw Failure{"the framework has no grabber container"};
        CVORKGrabberContainer* container = GetGrabberContainer();
        grabber_ = dynamic_cast<CVORKDirectShowGrabber*>(container->GetGrabber(container->GetGrabberCount() - 1));
        if (!grabber_) throw Failure{"InitDll created no DirectShow grabber"};
    }
    ~Plugin() {
        if (deInitDll_) deInitDll_();
        if (module_) FreeLibrary(module_);
    }
    CVORKDirectShowGrabber& grabber() { return *grabber_; }

private:
    HMODULE module_ = nullptr;
    bool (*initDll_)(const wchar_t*, int) = nullptr;
    bool (*deInitDll_)() = nullptr;
    CVORKDirectShowGrabber* grabber_ = nullptr;
};

std::wstring ChannelSection(const Options& o) { return o.grabber + L"_Channel0"; }

int IniInt(const Options& o, const wchar_t* key, int def) {
    return static_cast<int>(GetPrivateProfileIntW(ChannelSection(o).c_str(), key, def, o.ini.c_str()));
}

void WriteIni(const Options& o, const wchar_t* key, int value) {
    if (!WritePrivateProfileStringW(ChannelSection(o).c_str(), key, std::to_wstring(value).c_str(), o.ini.c_str()))
        throw Failure{"cannot write " + Utf8(o.ini)};
}

// ---- Commands --------------------------------------------------------------------

int List(CVORKDirectShowGrabber& g) {
    int count = 0;
    VORKCamInfo* infos = g.GetCamInfos(count);
    if (!infos) throw Failure{"no camera"};
    VORKCamInfo active{};
    g.GetActCamInfo(active);
    for (int i = 0; i < count; ++i) {
        const bool connected = g.IsInitialized() && infos[i].nDeviceNumber == active.nDeviceNumber &&
                               std::wcscmp(infos[i].szDevicePath, active.szDevicePath) == 0;
        std::printf("%c %2d  %-32s  %s\n", connected ? '*' : ' ', infos[i].nDeviceNumber,
                    Utf8(infos[i].szFriendlyName).c_str(), Utf8(infos[i].szDevicePath).c_str());
    }
    delete[] infos;
    return 0;
}

struct NamedProperty {
    const char* name;
    bool procAmp;
    LONG property;
};
const NamedProperty kProperties[] = {
    {"brightness", true, VideoProcAmp_Brightness}, {"contrast", true, VideoProcAmp_Contrast},
    {"hue", true, VideoProcAmp_Hue},               {"saturation", true, VideoProcAmp_Saturation},
    {"sharpness", true, VideoProcAmp_Sharpness},   {"gamma", true, VideoProcAmp_Gamma},
    {"colorenable", true, VideoProcAmp_ColorEnable}, {"whitebalance", true, VideoProcAmp_WhiteBalance},
    {"pan", false, CameraControl_Pan},             {"tilt", false, CameraControl_Tilt},
    {"roll", false, CameraControl_Roll},           {"zoom", false, CameraControl_Zoom},
    {"exposure", false, CameraControl_Exposure},   {"iris", false, CameraControl_Iris},
    {"focus", false, CameraControl_Focus},
};

int Props(CVORKDirectShowGrabber& g) {
    for (const auto& p : kProperties) {
        int percent = 0, flags = 0;
        int r = p.procAmp ? g.GetProcAmpParam(static_cast<tagVideoProcAmpProperty>(p.property), percent, &flags)
                          : g.GetCamCtrlParam(static_cast<tagCameraControlProperty>(p.property), percent, &flags);
        if (r == 0)
            std::printf("%-13s %4d%%  %s\n", p.name, percent, flags == 1 ? "auto" : "manual");
        else
            std::printf("%-13s not supported\n", p.name);
    }
    int value = 0;
    if (g.GetADGain(value, 0) == 0) std::printf("%-13s %4d%%\n", "gain", value);
    else std::printf("%-13s not supported\n", "gain");
    if (g.GetADOffset(value, 0) == 0) std::printf("%-13s %4d%%\n", "offset", value);
    else std::printf("%-13s not supported\n", "offset");
    bool automatic = false, enabled = false;
    if (g.GetBacklightComp(value, automatic, enabled) == 0) {
        if (enabled) std::printf("%-13s %4d%%  %s\n", "backlight", value, automatic ? "auto" : "manual");
        else std::printf("%-13s off\n", "backlight");
    }
    return 0;
}

int Set(CVORKDirectShowGrabber& g, const Options& o) {
    int failures = 0;
    for (const std::string& a : o.assignments) {
        size_t eq = a.find('=');
        if (eq == std::string::npos) throw UsageError{"set: '" + a + "' is not NAME=PERCENT"};
        const std::string name = a.substr(0, eq);
        std::string value = a.substr(eq + 1);
        int flags = 2;
        if (size_t colon = value.find(':'); colon != std::string::npos) {
            const std::string mode = value.substr(colon + 1);
            if (mode != "auto" && mode != "manual") throw UsageError{"set: '" + a + "': the mode is auto or manual"};
            flags = mode == "auto" ? 1 : 2;
            value = value.substr(0, colon);
        }
        int result = 0;
        if (name == "backlight" && value == "off") {
            result = g.SetBacklightComp(0, false, false);
        } else {
            const int percent = static_cast<int>(ParseInt("set " + name, value, -1000, 1000));
            if (name == "gain") result = g.SetADGain(percent, 0);
            else if (name == "offset") result = g.SetADOffset(percent, 0);
            else if (name == "backlight") result = g.SetBacklightComp(percent, flags == 1, true);
            else {
                const NamedProperty* p = nullptr;
                for (const auto& candidate : kProperties)
                    if (name == candidate.name) p = &candidate;
                if (!p) throw UsageError{"set: unknown property " + name};
                result = p->procAmp
                             ? g.SetProcAmpParam(static_cast<tagVideoProcAmpProperty>(p->property), percent, flags)
                             : g.SetCamCtrlParam(static_cast<tagCameraControlProperty>(p->property), percent, flags);
            }
        }
        if (result != 0) {
            std::fprintf(stderr, "vorkgrab: %s was not set (result %d)\n", a.c_str(), result);
            ++failures;
        } else {
            std::printf("%s\n", a.c_str());
        }
    }
    if (failures) throw Failure{std::to_string(failures) + " propert" + (failures == 1 ? "y was" : "ies were") +
                                " not set"};
    return 0;
}

const char* ModeName(VORKColorMode m) {
    switch (m) {
    case VORKColorModeRGB8: return "RGB8";
    case VORKColorModeRGB555: return "RGB555";
    case VORKColorModeRGB565: return "RGB565";
    case VORKColorModeRGB24: return "RGB24";
    case VORKColorModeRGB32: return "RGB32";
    default: return "unknown";
    }
}

int Format(CVORKDirectShowGrabber& g, const Options& o) {
    int result = 0;
    if (o.fps) {
        int r = g.WriteFramerate(*o.fps);
        if (r != 0) {
            std::fprintf(stderr, "vorkgrab: frame rate %g was not applied (result %d)\n", *o.fps, r);
            result = kFailure;
        }
    }
    VORKColorMode mode = VORKColorModeUnknown;
    g.RequestColorMode(mode);
    int x = 0, y = 0, w = 0, h = 0;
    g.GetGrabRect(x, y, w, h, 0);
    double fps = 0;
    std::printf("color mode  %d (%s)\n", static_cast<int>(mode), ModeName(mode));
    std::printf("size        %dx%d\n", w, h);
    if (g.ReadFramerate(fps) == 0) std::printf("frame rate  %.3f\n", fps);
    else std::printf("frame rate  unknown\n");
    return result;
}

std::wstring FileName(const std::wstring& pattern, long index) {
    wchar_t name[4096];
    std::swprintf(name, 4096, pattern.c_str(), static_cast<int>(index));  // the pattern holds %d
    name[4095] = 0;
    return name;
}

// The pattern may hold one integer conversion and nothing else that printf reads.
void CheckPattern(const std::wstring& pattern) {
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != L'%') continue;
        if (i + 1 < pattern.size() && pattern[i + 1] == L'%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < pattern.size() && (iswdigit(pattern[j]) || pattern[j] == L'0')) ++j;
        if (j >= pattern.size() || pattern[j] != L'd') throw UsageError{"--out: only %d conversions are allowed"};
        ++conversions;
        i = j;
    }
    if (conversions > 1) throw UsageError{"--out: at most one %d"};
}

class Snapper {
public:
    Snapper(CVORKDirectShowGrabber& g, const Options& o) : o_(o) {
        CheckPattern(o.out);
        ImageKind kind;
        KindOfPath(o.out, kind);
        kind_ = kind;
        namespace fs = std::filesystem;
        fs::path folder = fs::path(FileName(o.out, 0)).parent_path();
        std::error_code ec;
        if (!folder.empty()) fs::create_directories(folder, ec);
        if (!folder.empty() && !fs::is_directory(folder, ec))
            throw Failure{"cannot create the output folder " + Utf8(folder.wstring())};
        // A probe file tells whether the folder takes files.
        fs::path probe = (folder.empty() ? fs::path(".") : folder) / ".vorkgrab-probe";
        std::wstring error;
        if (!WriteWhole(probe.wstring(), {}, true, &error)) throw Failure{"cannot write into " + Utf8(folder.wstring())};
        fs::remove(probe, ec);
        layout_.mode = VORKColorModeRGB24;
        g.RequestColorMode(layout_.mode);
        int x = 0, y = 0;
        g.GetGrabRect(x, y, layout_.width, layout_.height, 0);
        layout_.bytesPerPixel = g.GetBytesPerPixel();
        // The grabber flips delivered images as its channel says; DirectShow
        // delivers RGB bottom row first.
        layout_.topRowFirst = IniInt(o, L"MirrorImgVerticalInPlace", 1) != 0;
        layout_.columnsMirrored = IniInt(o, L"MirrorImgHorizontalInPlace", 0) != 0;
    }

    void Save(const BYTE* image) {
        RgbImage rgb;
        const size_t size = static_cast<size_t>(layout_.width) * layout_.height * layout_.bytesPerPixel;
        if (!ToViewable(image, size, layout_, rgb)) throw Failure{"the delivered image has no usable size"};
        const std::wstring name = FileName(o_.out, saved_);
        std::wstring error;
        if (!WriteWhole(name, Encode(rgb, kind_), o_.force, &error)) throw Failure{Utf8(error)};
        ++saved_;
        if (!o_.continuous) std::printf("%s\n", Utf8(name).c_str());
    }
    long saved() const { return saved_; }

private:
    const Options& o_;
    ImageKind kind_ = ImageKind::Png;
    DeliveredLayout layout_;
    long saved_ = 0;
};

int Snap(CVORKDirectShowGrabber& g, const Options& o) {
    Snapper snapper(g, o);
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    auto done = [&](long frames) {
        return o.seconds > 0 ? elapsed() >= o.seconds : frames >= static_cast<long>(o.count) * o.every;
    };
    const bool progress = vork::IsTerminal(stderr) && (o.continuous || o.count > 1 || o.seconds > 0);
    long frames = 0;
    long errors = 0;
    auto report = [&](bool last) {
        std::fprintf(stderr, "%s%ld frames, %.1f frames per second, %ld errors, %ld saved%s", progress ? "\r" : "",
                     frames, elapsed() > 0 ? frames / elapsed() : 0.0, errors, snapper.saved(), last ? "\n" : "");
    };
    if (o.continuous) {
        if (!g.StartGrabThread()) throw Failure{"continuous acquisition did not start"};
        while (!done(frames) && g_reports.deviceLost == 0) {
            PumpMessages();
            // Short waits, so that media events are handled on this thread.
            BYTE* image = g.GetLastGrabbedBufferInRingSynced(100);
            if (!image) {
                if (!g.IsGrabThreadRunning()) break;
                continue;
            }
            ++frames;
            if (frames % o.every == 0 && g.LockBufferInRing(image)) {
                snapper.Save(image);
                g.ReleaseBufferInRing(image);
            }
            if (progress && frames % 10 == 0) report(false);
        }
        g.StopGrabThread(true);
        errors = g.GetGrabThreadErrors();
    } else {
        while (!done(frames) && g_reports.deviceLost == 0) {
            BYTE* image = g.SnapToAddBuffer(o.timeout);
            PumpMessages();
            if (!image) {
                ++errors;
                if (errors >= 3 && errors > frames) break;  // the camera gives nothing
                continue;
            }
            ++frames;
            if (frames % o.every == 0) snapper.Save(image);
            if (progress) report(false);
        }
    }
    report(true);
    if (g_reports.deviceLost) throw Failure{"the camera was lost"};
    if (snapper.saved() == 0) throw Failure{"no picture could be taken"};
    return errors ? kFailure : 0;
}

int Run(const Options& o) {
    Plugin plugin(o);
    CVORKDirectShowGrabber& g = plugin.grabber();
    PumpMessages();
    if (o.command == "list") return List(g);
    if (!g.IsInitialized()) throw Failure{"no camera could be opened"};
    if (o.command == "snap") return Snap(g, o);
    if (o.command == "props") return Props(g);
    if (o.command == "set") return Set(g, o);
    return Format(g, o);
}

// An INI file of the program's own when none is given, removed at the end.
class TemporaryIni {
public:
    TemporaryIni() {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path dir = fs::temp_directory_path(ec);
        for (int i = 0; i < 1000 && path_.empty(); ++i) {
            fs::path candidate = dir / ("vorkgrab-" + std::to_string(std::chrono::steady_clock::now()
                                                                         .time_since_epoch()
                                                                         .count() % 1000000007) +
                                        "-" + std::to_string(i) + ".ini");
            if (!fs::exists(candidate, ec)) path_ = candidate.wstring();
        }
    }
    ~TemporaryIni() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        o = Parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vorkgrab: %s\nTry 'vorkgrab --help'.\n", e.message.c_str());
        return kUsageError;
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    TemporaryIni temporary;
    try {
        if (o.ini.empty()) {
            o.ini = temporary.path();
        } else {
            std::FILE* f = std::fopen(vork::NarrowPath(o.ini).c_str(), "rb");
            if (!f) throw Failure{"cannot read the INI file " + Utf8(o.ini)};
            std::fclose(f);
        }
        VORKSetIniFileName(o.ini.c_str());
        VORKSetErrorLogFile(L"");
        g_reports.verbose = o.verbose;
        VORKAddErrorLogListener(&OnLogLine, nullptr);
        VORKSetErrorEventHandler(&OnErrorEvent, nullptr);
        // The framework applies its channel's colour mode and size when the board opens.
        if (o.colorMode) WriteIni(o, L"ColorMode", *o.colorMode);
        if (o.size) {
            WriteIni(o, L"GrabWidth", o.size->first);
            WriteIni(o, L"GrabHeight", o.size->second);
        }
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        std::wstring error;
        if (!vork::PrepareCameras(o.cameras, &error)) throw Failure{Utf8(error)};
        int result = Run(o);
        CoUninitialize();
        return result;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vorkgrab: %s\nTry 'vorkgrab --help'.\n", e.message.c_str());
        return kUsageError;
    } catch (const Failure& e) {
        std::fprintf(stderr, "vorkgrab: %s\n", e.message.c_str());
        return kFailure;
    }
}
