#include "Session.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <cwchar>
#include <cwctype>

#include "Errors.h"
#include "ImageFile.h"
#include "Text.h"
#include "vork/fspath.h"
#include "vork/host.h"
#include "vork/utf8.h"

using vork::Utf8;

// ---- Reports ----------------------------------------------------------------------

Reports g_reports;

namespace {

// A start that failed because another program holds the camera, as the plug-in
// logs it: "DirectShow error: " and the platform's text of the code, so the
// texts are asked of the same function (they are translated on Windows).
std::atomic<bool> g_cameraBusy{false};

bool IsBusyLine(const wchar_t* text) {
    static const std::vector<std::wstring> kLines = [] {
        // ERROR_GEN_FAILURE, ERROR_BUSY and ERROR_NO_SYSTEM_RESOURCES: what a
        // camera's driver answers to a start while another program streams from it.
        const HRESULT codes[] = {static_cast<HRESULT>(0x8007001FL), static_cast<HRESULT>(0x800700AAL),
                                 static_cast<HRESULT>(0x800705AAL)};
        std::vector<std::wstring> lines;
        for (HRESULT hr : codes) {
            wchar_t error[MAX_ERROR_TEXT_LEN] = L"";
            if (AMGetErrorTextW(hr, error, MAX_ERROR_TEXT_LEN) > 0) lines.push_back(std::wstring(L"DirectShow error: ") + error);
        }
        return lines;
    }();
    return std::find(kLines.begin(), kLines.end(), text) != kLines.end();
}

void OnLogLine(void*, const wchar_t* text, int code, int level) {
    if (text && IsBusyLine(text)) g_cameraBusy = true;
    if (g_reports.verbose)
        std::fprintf(stderr, "log (code %d, level %d): %s\n", code, level, Printable(std::wstring(text), 500).c_str());
}

std::mutex g_eventsMutex;
std::vector<RecentEvent> g_events;

// The text's lines, each shown printable, one per line.
std::string Lines(const std::wstring& text) {
    std::string lines;
    size_t begin = 0;
    while (begin <= text.size() && lines.size() < 600) {
        size_t end = text.find_first_of(L"\r\n", begin);
        if (end == std::wstring::npos) end = text.size();
        if (end > begin) lines += (lines.empty() ? "" : "\n") + Printable(text.substr(begin, end - begin), 300);
        begin = end + 1;
    }
    return lines;
}

void OnErrorEvent(void*, CVORKGrabberBase*, const wchar_t* text, int code) {
    ++g_reports.errorEvents;
    {
        std::lock_guard<std::mutex> lock(g_eventsMutex);
        // The plug-in names the camera it could not find; an empty name is a
        // first run, with no camera configured yet.
        const bool firstRun = code == 10 && std::wstring(text).find(L"FriendlyName !") != std::wstring::npos;
        g_events.push_back({code, "event " + std::to_string(code) + ": " + Lines(text), firstRun});
        if (g_events.size() > 8) g_events.erase(g_events.begin());
    }
    if (code == 31) ++g_reports.deviceLost;
    if (g_reports.verbose || code == 31 || code == 3 || code == 9)
        std::fprintf(stderr, "event %d: %s\n", code, Printable(std::wstring(text), 500).c_str());
}

// An exported function by name; void (*)() is the type every function pointer
// may pass through.
template <class Function>
Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

std::vector<RecentEvent> RecentEvents() {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    return g_events;
}

void ListenToFramework(bool verbose) {
    g_reports.verbose = verbose;
    VORKAddErrorLogListener(&OnLogLine, nullptr);
    VORKSetErrorEventHandler(&OnErrorEvent, nullptr);
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// ---- The plug-in --------------------------------------------------------------------

Plugin::Plugin(const Options& o) {
    module_ = LoadLibraryW(vork::PluginPath().c_str());
    if (!module_) throw Failure{"cannot load the plug-in " + Utf8(vork::PluginPath())};
    initDll_ = Export<bool (*)(const wchar_t*, int)>(module_, "InitDll");
    deInitDll_ = Export<bool (*)()>(module_, "DeInitDll");
    if (!initDll_ || !deInitDll_) throw Failure{"the plug-in exports no InitDll/DeInitDll"};
    Open(o);
}

void Plugin::Reopen(const Options& o) {
    Close();
    Open(o);
}

void Plugin::Close() {
    if (initialized_) deInitDll_();
    initialized_ = false;
    grabber_ = nullptr;
}

namespace {

// A key as it was before a write: its old value, or gone; and its section gone
// with it when the write brought the section in and nothing else (another
// process's keys) has been put into it since.
void PutKeyBack(const std::wstring& file, const std::wstring& section, const std::wstring& key, bool existed,
                const std::wstring& old, bool sectionExisted) {
    WritePrivateProfileStringW(section.c_str(), key.c_str(), existed ? old.c_str() : nullptr, file.c_str());
    wchar_t left[4] = L"";
    if (!sectionExisted && GetPrivateProfileStringW(section.c_str(), nullptr, L"", left, 4, file.c_str()) == 0)
        WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, file.c_str());
}

}  // namespace

void Plugin::Open(const Options& o) {
    g_cameraBusy = false;
    const CameraKeys before = CameraKeys::Of(o);
    if (!initDll_(o.grabber.c_str(), 0)) throw Failure{"the framework has no grabber container"};
    initialized_ = true;
    CVORKGrabberContainer* container = GetGrabberContainer();
    grabber_ = dynamic_cast<CVORKDirectShowGrabber*>(container->GetGrabber(container->GetGrabberCount() - 1));
    if (!grabber_) throw Failure{"InitDll created no DirectShow grabber"};
    NoteMissingCamera(o, before);
}

// When the camera the INI file names is missing, the plug-in opens another and
// writes that one's name into the file: the missing camera is told. The file is
// the program's own (a copy of --ini, or a temporary one), and keeps the camera
// taken, so that opening the board again after a loss takes the same one.
void Plugin::NoteMissingCamera(const Options& o, const CameraKeys& before) {
    missingCamera_.clear();
    if (before.keys[0].value.empty() && before.keys[1].value.empty()) return;  // none named
    for (const IniKey& k : before.keys) {
        std::wstring now;
        const bool exists = ReadIniValue(o, o.grabber, k.key, now);
        if (exists != k.existed || (exists && now != k.value)) {
            missingCamera_ =
                "FriendlyNamePart=" + Printable(before.keys[0].value) + ", DevicePath=" + Printable(before.keys[1].value);
            return;
        }
    }
}

Plugin::~Plugin() {
    Close();
    if (module_) FreeLibrary(module_);
}

// ---- The INI file -------------------------------------------------------------------

std::wstring ChannelSection(const Options& o) { return o.grabber + L"_Channel0"; }

bool ReadIniValue(const Options& o, const std::wstring& section, const wchar_t* key, std::wstring& value) {
    // A default no file holds tells an absent key from an empty one.
    static const wchar_t kAbsent[] = L"\x01\x02";
    std::vector<wchar_t> text(4096);
    const DWORD n = GetPrivateProfileStringW(section.c_str(), key, kAbsent, text.data(),
                                             static_cast<DWORD>(text.size()), o.ini.c_str());
    value.assign(text.data(), n);
    return value != kAbsent;
}

namespace {

enum class Kind { Flag, Whole, Percent, Rate, ColorMode, Wait };

struct ChannelKey {
    const wchar_t* key;
    Kind kind;
    long long min;
    long long max;
};

const ChannelKey kChannelKeys[] = {
    {L"MirrorImgVerticalInPlace", Kind::Flag, 0, 1},
    {L"MirrorImgHorizontalInPlace", Kind::Flag, 0, 1},
    {L"UseSingleSnap", Kind::Flag, 0, 1},
    {L"UseCameraControlProperties", Kind::Flag, 0, 1},
    {L"AutoFocus", Kind::Flag, 0, 1},
    {L"DefColorEnable", Kind::Flag, 0, 1},
    {L"WaitForCamStart", Kind::Wait, -2147483647LL - 1, 2147483647LL},
    {L"VideoMode", Kind::Whole, 0, 5},
    {L"DefSaturation", Kind::Percent, 0, 100},
    {L"DefHue", Kind::Percent, 0, 100},
    {L"DefFocus", Kind::Percent, 0, 100},
    {L"DefFramerate", Kind::Rate, 0, 1000},
    {L"ColorMode", Kind::ColorMode, 0, 5},
    {L"GrabWidth", Kind::Whole, 1, kMaxImageSide},
    {L"GrabHeight", Kind::Whole, 1, kMaxImageSide},
};

[[noreturn]] void BadKey(const Options& o, const std::wstring& section, const wchar_t* key, const std::wstring& value,
                         const std::string& why) {
    throw Failure{Utf8(IniName(o)) + ": [" + Printable(section) + "] " + Utf8(key) + "=" + Printable(value) + ": " + why};
}

// Keys the command line gives for the run; the file's values are not used.
bool GivenForRun(const Options& o, const wchar_t* key) {
    const std::wstring k = key;
    if (k == L"ColorMode") return o.colorMode.has_value();
    return (k == L"GrabWidth" || k == L"GrabHeight") && o.size.has_value();
}

void CheckKey(const Options& o, const std::wstring& section, const ChannelKey& k) {
    std::wstring value;
    if (GivenForRun(o, k.key) || !ReadIniValue(o, section, k.key, value)) return;
    const std::string text = Utf8(value);
    long long whole = 0;
    double number = 0;
    const std::string range = "from " + std::to_string(k.min) + " to " + std::to_string(k.max);
    // The framework reads numbers as C does: a leading 0 makes them octal.
    const size_t digit = text.find_first_not_of(" \t+-");
    if ((k.kind == Kind::Whole || k.kind == Kind::Wait) && digit != std::string::npos && text[digit] == '0' &&
        digit + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[digit + 1])))
        BadKey(o, section, k.key, value, "has a leading 0, which the framework reads as an octal number");
    switch (k.kind) {
    case Kind::Flag:
        if (!ParseWhole(text, 0, 1, whole)) BadKey(o, section, k.key, value, "not 0 or 1");
        break;
    case Kind::Whole:
    case Kind::Wait:
        if (!ParseWhole(text, k.min, k.max, whole)) BadKey(o, section, k.key, value, "not a whole number " + range);
        if (k.kind == Kind::Wait && whole > o.timeout && (o.continuous || o.skip != 0 || ChannelInt(o, L"UseSingleSnap", 1) == 0) &&
            o.command == "snap")
            BadKey(o, section, k.key, value,
                   "the pause after a start is longer than --timeout " + std::to_string(o.timeout) + " ms");
        break;
    case Kind::ColorMode:
        if (!ParseWhole(text, 0, 5, whole) || whole == 1)
            BadKey(o, section, k.key, value, "not a colour mode: 0 RGB8, 2 RGB555, 3 RGB565, 4 RGB24, 5 RGB32");
        break;
    case Kind::Percent:
        if (text != "0" && !ParseDecimal(text, 100, number)) BadKey(o, section, k.key, value, "not a percentage " + range);
        break;
    case Kind::Rate:
        if (!ParseDecimal(text, static_cast<double>(k.max), number))
            BadKey(o, section, k.key, value, "not a frame rate above 0 and up to " + std::to_string(k.max));
        break;
    }
}

}  // namespace

void CheckChannelSettings(const Options& o) {
    const std::wstring section = ChannelSection(o);
    for (const ChannelKey& k : kChannelKeys) CheckKey(o, section, k);
}

int ChannelInt(const Options& o, const wchar_t* key, int defaultValue) {
    std::wstring value;
    long long whole = 0;
    if (!ReadIniValue(o, ChannelSection(o), key, value) || !ParseWhole(Utf8(value), -2147483647LL - 1, 2147483647LL, whole))
        return defaultValue;
    return static_cast<int>(whole);
}

void HandToFramework(const Options& o) {
    const std::wstring section = ChannelSection(o);
    auto hand = [&](const wchar_t* key, const std::optional<int>& value) {
        VORKSetRunSetting(section.c_str(), key, value ? std::to_wstring(*value).c_str() : nullptr);
    };
    hand(L"ColorMode", o.colorMode);
    hand(L"GrabWidth", o.size ? std::optional<int>(o.size->first) : std::nullopt);
    hand(L"GrabHeight", o.size ? std::optional<int>(o.size->second) : std::nullopt);
}

void IniEdit::Write(const wchar_t* key, int value) { Write(ChannelSection(o_), key, std::to_wstring(value)); }

namespace {

bool HasSection(const Options& o, const std::wstring& section) {
    std::vector<wchar_t> names(65536);
    const DWORD n = GetPrivateProfileStringW(nullptr, nullptr, L"", names.data(), static_cast<DWORD>(names.size()),
                                             o.ini.c_str());
    // Section names are matched regardless of case, as the profile functions match them.
    const auto lower = [](std::wstring s) {
        for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
        return s;
    };
    for (const wchar_t* name = names.data(); name < names.data() + n && *name; name += std::wcslen(name) + 1)
        if (lower(section) == lower(name)) return true;
    return false;
}

}  // namespace

Plugin::CameraKeys Plugin::CameraKeys::Of(const Options& o) {
    CameraKeys keys;
    for (IniKey& k : keys.keys)
        if (!(k.existed = ReadIniValue(o, o.grabber, k.key, k.value))) k.value.clear();
    return keys;
}

void IniEdit::Write(const std::wstring& section, const wchar_t* key, const std::wstring& value) {
    Change change{section, key, false, L"", HasSection(o_, section), value};
    change.existed = ReadIniValue(o_, section, key, change.old);
    if (!WritePrivateProfileStringW(section.c_str(), key, value.c_str(), o_.ini.c_str()))
        throw Failure{"cannot write " + Utf8(o_.ini)};
    changes_.push_back(change);
    // A file without a byte-order mark holds the Windows code page: a name
    // outside it would come back as question marks, naming nothing.
    std::wstring back;
    const auto trimmed = [](std::wstring text) {
        text.erase(0, text.find_first_not_of(L" \t"));
        text.erase(text.find_last_not_of(L" \t") + 1);
        return text;
    };
    if (!ReadIniValue(o_, section, key, back) || trimmed(back) != trimmed(value))
        throw Failure{"[" + Printable(section) + "] " + Utf8(key) + "=" + Printable(value) + " cannot be written into " +
                      Printable(IniName(o_), 300) +
                      " as it is: the file keeps no such characters (save it as UTF-8 or UTF-16 with a byte-order mark)"};
}

void IniEdit::Remove(const std::wstring& section, const wchar_t* key) {
    Change change{section, key, false, L"", HasSection(o_, section), std::nullopt};
    change.existed = ReadIniValue(o_, section, key, change.old);
    if (!change.existed) return;
    if (!WritePrivateProfileStringW(section.c_str(), key, nullptr, o_.ini.c_str()))
        throw Failure{"cannot write " + Utf8(o_.ini)};
    changes_.push_back(change);
}

IniEdit::~IniEdit() {
    for (auto it = changes_.rbegin(); it != changes_.rend(); ++it)
        PutKeyBack(o_.ini, it->section, it->key, it->existed, it->old, it->sectionExisted);
}

// The framework worked on a copy of the user's file: the kept changes, and only
// they, go into the user's file, together, and never through a link that took
// the file's place since the start. Changes that could not be kept are taken
// back from the copy too, when the edit ends.
void IniEdit::Keep() {
    if (!o_.iniName.empty() && !changes_.empty()) {
        std::vector<vork::ProfileKey> keys;
        for (const Change& c : changes_) keys.push_back({c.section, c.key, c.value});
        if (!vork::WriteProfileKeys(o_.iniName, keys)) {
            const std::string shown = Printable(o_.iniName, 300);
            if (vork::KindOf(o_.iniName) == vork::PathKind::Link)
                throw Failure{"--ini: " + shown + " became a link; nothing was written"};
            throw Failure{"cannot write " + shown};
        }
    }
    changes_.clear();
}

// ---- Formats ----------------------------------------------------------------------------

const char* ModeName(int mode) {
    switch (mode) {
    case VORKColorModeRGB8: return "RGB8";
    case VORKColorModeRGB555: return "RGB555";
    case VORKColorModeRGB565: return "RGB565";
    case VORKColorModeRGB24: return "RGB24";
    case VORKColorModeRGB32: return "RGB32";
    default: return "unknown";
    }
}

const char* SubtypeName(const GUID& subtype) {
    static const struct {
        const GUID* guid;
        const char* name;
    } kNames[] = {{&MEDIASUBTYPE_RGB8, "RGB8"},   {&MEDIASUBTYPE_RGB555, "RGB555"}, {&MEDIASUBTYPE_RGB565, "RGB565"},
                  {&MEDIASUBTYPE_RGB24, "RGB24"}, {&MEDIASUBTYPE_RGB32, "RGB32"},   {&MEDIASUBTYPE_YUY2, "YUY2"},
                  {&MEDIASUBTYPE_MJPG, "MJPG"},   {&MEDIASUBTYPE_NV12, "NV12"}};
    for (const auto& n : kNames)
        if (IsEqualGUID(subtype, *n.guid)) return n.name;
    return "other";
}

int ModeOfSubtype(const GUID& subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB8)) return VORKColorModeRGB8;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB555)) return VORKColorModeRGB555;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB565)) return VORKColorModeRGB565;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return VORKColorModeRGB24;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return VORKColorModeRGB32;
    return VORKColorModeUnknown;
}

std::string OfferedFormats(CVORKDirectShowGrabber& g) {
    constexpr int kShown = 20;
    VORKDSOfferedFormat formats[kShown];
    int count = kShown;
    if (g.ReadOfferedFormats(formats, count) != 0 || count == 0) return "no format the grabber can read";
    std::string text;
    for (int i = 0; i < count && i < kShown; ++i) {
        char item[96];
        std::snprintf(item, sizeof(item), "%s%ldx%ld %s %g", i ? ", " : "", static_cast<long>(formats[i].width),
                      std::labs(static_cast<long>(formats[i].height)), SubtypeName(formats[i].subtype),
                      formats[i].framesPerSecond);
        text += item;
    }
    if (count > kShown) text += ", and " + std::to_string(count - kShown) + " more";
    return text;
}

void CheckRate(CVORKDirectShowGrabber& g, double asked, int written, const char* notHeld) {
    double now = 0;
    const int read = g.ReadFramerate(now);
    // The rate travels as a whole count of 100 ns per frame, so it comes back
    // only nearly as asked.
    if (written == 0 && read == 0 && std::fabs(now - asked) <= asked * 1e-3) return;
    char text[200];
    if (read == 0)
        std::snprintf(text, sizeof(text), "--fps %g %s: the camera runs at %.3f frames per second", asked, notHeld,
                      now);
    else
        std::snprintf(text, sizeof(text), "--fps %g %s (result %d), and the rate cannot be read back", asked, notHeld,
                      written);
    throw Failure{std::string(text) + "; it offers " + OfferedFormats(g)};
}

VORKDSFrameFormat CheckDelivery(CVORKDirectShowGrabber& g, const Options& o) {
    VORKDSFrameFormat f{};
    if (g_cameraBusy) throw Failure{"the camera is busy: another program may be using it"};
    const int wantedMode = o.colorMode ? *o.colorMode : ChannelInt(o, L"ColorMode", VORKColorModeRGB24);
    if (g.ReadFrameFormat(f) != 0)
        throw Failure{std::string("the camera gives no picture in colour mode ") + std::to_string(wantedMode) + " (" +
                      ModeName(wantedMode) + "); it offers " + OfferedFormats(g)};
    const int mode = ModeOfSubtype(f.subtype);
    if (mode != wantedMode)
        throw Failure{std::string("colour mode ") + std::to_string(wantedMode) + " (" + ModeName(wantedMode) +
                      ") was not applied: the grabber receives " + SubtypeName(f.subtype) + "; the camera offers " +
                      OfferedFormats(g)};
    std::wstring widthKey, heightKey;
    const bool sizeFromIni = ReadIniValue(o, ChannelSection(o), L"GrabWidth", widthKey) ||
                             ReadIniValue(o, ChannelSection(o), L"GrabHeight", heightKey);
    if (o.size || sizeFromIni) {
        const int width = o.size ? o.size->first : ChannelInt(o, L"GrabWidth", 640);
        const int height = o.size ? o.size->second : ChannelInt(o, L"GrabHeight", 480);
        const long deliveredHeight = f.height < 0 ? -static_cast<long>(f.height) : static_cast<long>(f.height);
        if (f.width != width || deliveredHeight != height) {
            const std::string asked = o.size ? "--size " : "GrabWidth and GrabHeight ";
            throw Failure{asked + std::to_string(width) + "x" + std::to_string(height) +
                          " was not applied: the camera delivers " + std::to_string(f.width) + "x" +
                          std::to_string(deliveredHeight) + "; it offers " + OfferedFormats(g)};
        }
    }
    return f;
}
