#include "Options.h"

#include <algorithm>
#include <cctype>

#include "Commands.h"
#include "Errors.h"
#include "ImageFile.h"
#include "OutputPattern.h"
#include "Text.h"
#include "vork/utf8.h"

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
    "                            (backlight=off switches it off); all are checked before any is set\n"
    "  format                    read the colour mode, image size and frame rate; write them with\n"
    "                            --color-mode, --size and --fps\n"
    "  serve                     a live camera page with its controls (--listen, default\n"
    "                            127.0.0.1:8080; port 0 picks a free one); Ctrl+C stops it\n"
    "\n"
    "options:\n"
    "  --ini FILE                the framework's INI file (default: a temporary one); only format and\n"
    "                            serve write it, and only what they keep\n"
    "  --grabber NAME            the grabber's name, its INI section (default DSGRABBER)\n"
    "  --cameras FILE            virtual camera descriptions (simulated platform; default: one camera)\n"
    "  --out PATTERN             image files, e.g. snaps/frame_%03d.png; .png, .jpg, .bmp or .ppm\n"
    "                            (default snaps/frame_%03d.png)\n"
    "  --quality Q               JPEG quality from 1 to 100 (default 90)\n"
    "  --count N                 pictures to save (default 1)\n"
    "  --continuous              take them from continuous acquisition into the ring\n"
    "  --every K                 save every K-th frame only\n"
    "  --seconds S               run for S seconds instead of a count\n"
    "  --timeout MS              wait for a frame at most MS milliseconds (default 5000)\n"
    "  --skip N                  drop the first N frames of the stream; 0 takes the first frame as\n"
    "                            delivered, by single snaps where the channel uses them (default:\n"
    "                            drop frames until the picture has settled, at most 3 seconds\n"
    "                            and 30 frames after the first)\n"
    "  --no-reconnect            snap --continuous, serve: end (exit 3) when the camera is lost instead\n"
    "                            of waiting for it to come back\n"
    "  --color-mode M            0 RGB8, 2 RGB555, 3 RGB565, 4 RGB24, 5 RGB32\n"
    "  --size WxH                the grab rectangle, e.g. 320x240\n"
    "  --fps F                   the frame rate\n"
    "  --set NAME=PERCENT        snap: set a property first (as the set command; may be repeated)\n"
    "  --force                   replace existing image files\n"
    "  --listen ADDR:PORT        serve: the address to listen on\n"
    "  --verbose                 show the error log and error events as they happen\n"
    "  --help                    this text\n";

namespace {

constexpr long long kMaxCount = 1000000;
constexpr double kMaxSeconds = 31.0 * 24 * 3600;
constexpr double kMaxFps = 1000.0;
constexpr int kMaxTimeoutMs = 3600000;
// The framework keeps names in 256 characters, and the channel's section adds
// "_Channel0" to the grabber's.
constexpr size_t kMaxGrabberName = 200;

long long Whole(const std::string& option, const std::string& value, long long min, long long max) {
    long long v = 0;
    if (!ParseWhole(value, min, max, v))
        throw UsageError{option + ": '" + Printable(value) + "' is not a whole number from " + std::to_string(min) +
                         " to " + std::to_string(max)};
    return v;
}

double Positive(const std::string& option, const std::string& value, double max) {
    double v = 0;
    if (!ParseDecimal(value, max, v)) {
        char bound[32];
        std::snprintf(bound, sizeof(bound), "%g", max);
        throw UsageError{option + ": '" + Printable(value) + "' is not a positive number up to " + bound};
    }
    return v;
}

std::pair<int, int> Size(const std::string& value) {
    const size_t x = value.find('x');
    if (x == std::string::npos) throw UsageError{"--size: '" + Printable(value) + "' is not WIDTHxHEIGHT"};
    return {static_cast<int>(Whole("--size", value.substr(0, x), 1, kMaxImageSide)),
            static_cast<int>(Whole("--size", value.substr(x + 1), 1, kMaxImageSide))};
}

std::pair<std::string, int> Listen(const std::string& value) {
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) throw UsageError{"--listen: '" + Printable(value) + "' is not ADDRESS:PORT"};
    std::string host = value.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    for (char c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != ':' && c != '-')
            throw UsageError{"--listen: '" + Printable(host) + "' is not an address"};
    return {host, static_cast<int>(Whole("--listen", value.substr(colon + 1), 0, 65535))};
}

std::wstring GrabberName(const std::string& value) {
    const std::wstring name = vork::FromUtf8(value);
    if (name.empty() || name.size() > kMaxGrabberName)
        throw UsageError{"--grabber: a name of 1 to " + std::to_string(kMaxGrabberName) + " characters"};
    for (wchar_t c : name)
        if (c < 0x20 || c == 0x7F || c == L'[' || c == L']' || c == L'=' || c == 0xFFFD)
            throw UsageError{"--grabber: '" + Printable(value) +
                             "' holds a character an INI section name cannot (control characters, [ ] =)"};
    // The profile functions trim section names: such a section is never found again.
    if (name.front() == L' ' || name.back() == L' ' || name.front() == L'\t' || name.back() == L'\t')
        throw UsageError{"--grabber: '" + Printable(value) + "' begins or ends with a blank, which an INI section name loses"};
    return name;
}

// A name that is not UTF-8 would become another name (its bad bytes U+FFFD), and
// the program would read or write a file nobody named.
std::wstring PathArgument(const std::string& option, const std::string& value) {
    const std::wstring path = vork::FromUtf8(value);
    if (vork::Utf8(path) != value) throw UsageError{option + ": '" + Printable(value) + "' is not valid UTF-8"};
    return path;
}

std::wstring FileArgument(const std::string& option, const std::string& value) {
    const std::wstring path = PathArgument(option, value);
    if (path.empty()) throw UsageError{option + ": an empty file name"};
    for (wchar_t c : path)
        if (c < 0x20 || c == 0x7F) throw UsageError{option + ": '" + Printable(value) + "' holds a control character"};
    return path;
}

// The options only some commands take; --ini, --grabber, --cameras, --timeout
// and --verbose are for every command. One given where it does nothing would
// look applied.
void CheckOptionsApply(const Options& o, const std::vector<std::string>& given) {
    static const struct {
        const char* option;
        const char* commands;
    } kFor[] = {{"--out", "snap and serve"},       {"--quality", "snap and serve"}, {"--force", "snap and serve"},
                {"--count", "snap"},               {"-n", "snap"},                  {"--every", "snap"},
                {"--seconds", "snap"},             {"--continuous", "snap"},        {"--listen", "serve"},
                {"--color-mode", "snap, format and serve"}, {"--size", "snap, format and serve"},
                {"--fps", "snap, format and serve"}};
    for (const std::string& option : given)
        for (const auto& f : kFor) {
            const std::string commands = std::string(" ") + f.commands + " ";
            if (option == f.option && commands.find(" " + o.command + " ") == std::string::npos &&
                commands.find(" " + o.command + ",") == std::string::npos)
                throw UsageError{option + " is for " + f.commands + ", not " + o.command};
        }
}

void CheckCombination(const Options& o, const std::vector<std::string>& given) {
    static const char* const kCommands[] = {"list", "snap", "props", "set", "format", "serve"};
    bool known = false;
    for (const char* c : kCommands) known = known || o.command == c;
    if (!known) throw UsageError{"unknown command " + Printable(o.command)};
    CheckOptionsApply(o, given);
    if (o.command == "set" && o.assignments.empty()) throw UsageError{"set: no NAME=PERCENT given"};
    if (!o.settings.empty() && o.command != "snap") throw UsageError{"--set is for snap; use the set command"};
    if (o.skip >= 0 && o.command != "snap") throw UsageError{"--skip is for snap"};
    const auto gave = [&](const char* option) { return std::find(given.begin(), given.end(), option) != given.end(); };
    if (gave("--seconds") && (gave("--count") || gave("-n"))) throw UsageError{"--seconds and --count: give one of them"};
    if (o.noReconnect && o.command != "serve" && !(o.command == "snap" && o.continuous))
        throw UsageError{"--no-reconnect is for snap --continuous and serve"};
    if (o.command != "snap" && o.command != "serve") return;
    if (o.command == "snap") CheckSettings(o.settings);
    const OutputPattern pattern(o.out);
    if (gave("--quality") && pattern.Kind() != ImageKind::Jpeg)
        throw UsageError{"--quality is for JPEG pictures, and --out '" + Printable(o.out) + "' is not one"};
    if (o.command == "snap" && (o.count > 1 || o.seconds > 0) && !pattern.Numbered())
        throw UsageError{"--out: '" + Printable(o.out) + "' has no %d, so every picture would get the same name"};
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
    Options o;
    std::vector<std::string> given;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') given.push_back(arg);
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") o.help = true;
        else if (arg == "--ini") o.ini = FileArgument(arg, value());
        else if (arg == "--grabber") o.grabber = GrabberName(value());
        else if (arg == "--cameras") o.cameras = FileArgument(arg, value());
        else if (arg == "--out") o.out = PathArgument(arg, value());
        else if (arg == "--timeout") o.timeout = static_cast<int>(Whole(arg, value(), 1, kMaxTimeoutMs));
        else if (arg == "--count" || arg == "-n") o.count = Whole(arg, value(), 1, kMaxCount);
        else if (arg == "--quality") o.quality = static_cast<int>(Whole(arg, value(), 1, 100));
        else if (arg == "--every") o.every = Whole(arg, value(), 1, kMaxCount);
        else if (arg == "--seconds") o.seconds = Positive(arg, value(), kMaxSeconds);
        else if (arg == "--continuous") o.continuous = true;
        else if (arg == "--skip") o.skip = Whole(arg, value(), 0, kMaxCount);
        else if (arg == "--no-reconnect") o.noReconnect = true;
        else if (arg == "--force") o.force = true;
        else if (arg == "--verbose") o.verbose = true;
        else if (arg == "--fps") o.fps = Positive(arg, value(), kMaxFps);
        else if (arg == "--set") o.settings.push_back(value());
        else if (arg == "--listen") o.listen = Listen(value());
        else if (arg == "--color-mode") {
            const int m = static_cast<int>(Whole(arg, value(), 0, 5));
            if (m == 1) throw UsageError{"--color-mode: 1 has no pixel format here; use 0, 2, 3, 4 or 5"};
            o.colorMode = m;
        } else if (arg == "--size") {
            o.size = Size(value());
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + Printable(arg)};
        } else if (o.command.empty()) {
            o.command = arg;
        } else if (o.command == "set") {
            o.assignments.push_back(arg);
        } else {
            throw UsageError{"unexpected argument " + Printable(arg)};
        }
    }
    if (o.help) return o;
    if (o.command.empty()) throw UsageError{"no command given"};
    CheckCombination(o, given);
    return o;
}
