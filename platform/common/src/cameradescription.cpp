#include "vork/cameradescription.h"

#include <cstdio>
#include <cwchar>
#include <set>
#include <sstream>

#include "vork/frameformat.h"

namespace vork {
namespace {

constexpr double kMaxFps = 1000.0;
constexpr double kMaxSide = 16384;
// Larger than 8K video (33 megapixels); frames of more would take gigabytes.
constexpr double kMaxPixels = 40e6;

struct SubtypeNaming {
    const wchar_t* name;
    const GUID* subtype;
};
const SubtypeNaming kSubtypes[] = {
    {L"RGB8", &MEDIASUBTYPE_RGB8},   {L"RGB555", &MEDIASUBTYPE_RGB555}, {L"RGB565", &MEDIASUBTYPE_RGB565},
    {L"RGB24", &MEDIASUBTYPE_RGB24}, {L"RGB32", &MEDIASUBTYPE_RGB32},   {L"YUY2", &MEDIASUBTYPE_YUY2},
    {L"MJPG", &MEDIASUBTYPE_MJPG},   {L"NV12", &MEDIASUBTYPE_NV12},     {L"H264", &MEDIASUBTYPE_H264}};

constexpr double kUnreportedRunsAt = 30.0;
constexpr double kMaxStartDelayMs = 60000;
constexpr double kMaxDarkFrames = 1000;
constexpr double kMaxDropEvery = 1000;
constexpr double kMaxUnplugMs = 3600000;

std::wstring Trim(const std::wstring& s) {
    const size_t b = s.find_first_not_of(L" \t\r");
    const size_t e = s.find_last_not_of(L" \t\r");
    return b == std::wstring::npos ? L"" : s.substr(b, e - b + 1);
}

bool ParseSubtype(const std::wstring& name, GUID& subtype) {
    for (const auto& s : kSubtypes) {
        if (name == s.name) {
            subtype = *s.subtype;
            return true;
        }
    }
    return false;
}

// A plain decimal number: digits with at most one point; no sign, exponent,
// hex, inf or nan.
bool ParsePlainNumber(const std::wstring& text, double max, double& value) {
    size_t digits = 0, points = 0;
    for (wchar_t c : text) {
        if (c >= L'0' && c <= L'9') ++digits;
        else if (c == L'.') ++points;
        else return false;
    }
    if (digits == 0 || points > 1 || text.size() > 24) return false;
    value = std::wcstod(text.c_str(), nullptr);
    return value > 0 && value <= max;
}

// A whole number from 0 to max.
template <typename T>
bool ParseCount(const std::wstring& text, double max, T& out) {
    if (text == L"0") {
        out = 0;
        return true;
    }
    double value = 0;
    if (text.find(L'.') != std::wstring::npos || !ParsePlainNumber(text, max, value)) return false;
    out = static_cast<T>(value);
    return true;
}

bool ParseUnplug(const std::wstring& text, DescribedCamera& d) {
    const size_t slash = text.find(L'/');
    DWORD after = 0, back = 0;
    if (!ParseCount(text.substr(0, slash), kMaxUnplugMs, after)) return false;
    if (slash != std::wstring::npos && !ParseCount(text.substr(slash + 1), kMaxUnplugMs, back)) return false;
    d.unplugAfterMs = after;
    d.unplugBackMs.reset();
    if (slash != std::wstring::npos) d.unplugBackMs = back;
    return true;
}

// "30", "30/15/5" or "0" (a camera that does not say, running at 30).
bool ParseRates(const std::wstring& text, VideoFormat& f) {
    if (text == L"0") {
        f.fps = kUnreportedRunsAt;
        f.rateUnreported = true;
        return true;
    }
    std::wstringstream list(text);
    std::wstring item;
    std::vector<double> rates;
    while (std::getline(list, item, L'/')) {
        double rate = 0;
        if (!ParsePlainNumber(item, kMaxFps, rate)) return false;
        rates.push_back(rate);
    }
    if (rates.empty() || text.back() == L'/') return false;
    f.fps = rates.front();
    if (rates.size() > 1) f.rates = rates;
    return true;
}

bool ParseFlag(const std::wstring& v, bool& out) {
    if (v == L"0") out = false;
    else if (v == L"1") out = true;
    else return false;
    return true;
}

CameraProperty Property(LONG min, LONG max, LONG step, LONG def, LONG caps, LONG flags = 2) {
    CameraProperty p;
    p.min = min;
    p.max = max;
    p.step = step;
    p.defaultValue = def;
    p.caps = caps;
    p.value = def;
    p.flags = flags;
    return p;
}

// Applies one key of a section; false for a value the key does not take, and
// `known` false for a key that is not one of these.
bool ApplyKey(const std::wstring& key, const std::wstring& value, DescribedCamera& d, bool& known) {
    known = true;
    // A name or path with a NUL would be cut short by every reader.
    if (key == L"FriendlyName" || key == L"DevicePath") {
        if (value.find(L'\0') != std::wstring::npos) return false;
        (key == L"FriendlyName" ? d.friendlyName : d.devicePath) = value;
        return true;
    }
    if (key == L"PropertyBag") return ParseFlag(value, d.propertyBagWorks);
    if (key == L"Bind") return ParseFlag(value, d.bindWorks);
    if (key == L"ProcAmp") return ParseFlag(value, d.hasProcAmp);
    if (key == L"CameraControl") return ParseFlag(value, d.hasCameraControl);
    if (key == L"StreamConfig") return ParseFlag(value, d.hasStreamConfig);
    if (key == L"VideoInfo2") return ParseFlag(value, d.videoInfo2);
    if (key == L"Busy") return ParseFlag(value, d.busy);
    if (key == L"TopDown") return ParseFlag(value, d.topDown);
    if (key == L"StartDelay") return ParseCount(value, kMaxStartDelayMs, d.startDelayMs);
    if (key == L"DarkFrames") return ParseCount(value, kMaxDarkFrames, d.darkFrames);
    if (key == L"DropEvery") return ParseCount(value, kMaxDropEvery, d.dropEvery);
    if (key == L"Unplug") return ParseUnplug(value, d);
    if (key == L"Formats") {
        d.formats.clear();
        return ParseFormats(value, d.formats);
    }
    if (key == L"FrameRate") {
        if (value != L"max" && value != L"format") return false;
        d.unthrottled = value == L"max";
        return true;
    }
    known = false;
    return false;
}

std::wstring RatesText(const VideoFormat& f) {
    if (f.rateUnreported) return L"0";
    const std::vector<double> single{f.fps};
    std::wstring text;
    for (double rate : f.rates.empty() ? single : f.rates) {
        wchar_t item[32];
        std::swprintf(item, 32, L"%ls%.6g", text.empty() ? L"" : L"/", rate);
        text += item;
    }
    return text;
}

}  // namespace

std::vector<VideoFormat> DefaultFormats() {
    return {{640, 480, MEDIASUBTYPE_RGB24, 30.0}, {320, 240, MEDIASUBTYPE_RGB24, 30.0},
            {640, 480, MEDIASUBTYPE_RGB32, 30.0}, {320, 240, MEDIASUBTYPE_RGB32, 30.0},
            {640, 480, MEDIASUBTYPE_YUY2, 30.0}};
}

std::map<LONG, CameraProperty> DefaultProcAmp() {
    return {
        {VideoProcAmp_Brightness, Property(0, 255, 1, 128, 2)},
        {VideoProcAmp_Contrast, Property(0, 255, 1, 128, 2)},
        {VideoProcAmp_Hue, Property(-180, 180, 1, 0, 2)},
        {VideoProcAmp_Saturation, Property(0, 200, 1, 100, 2)},
        {VideoProcAmp_Sharpness, Property(0, 7, 1, 2, 2)},
        {VideoProcAmp_Gamma, Property(100, 500, 1, 100, 2)},
        {VideoProcAmp_ColorEnable, Property(0, 1, 1, 1, 2)},
        {VideoProcAmp_WhiteBalance, Property(2800, 6500, 10, 4600, 3, 1)},
        {VideoProcAmp_BacklightCompensation, Property(0, 2, 1, 1, 2)},
        {VideoProcAmp_Gain, Property(0, 255, 1, 0, 2)},
    };
}

std::map<LONG, CameraProperty> DefaultCameraControl() {
    return {
        {CameraControl_Pan, Property(-180, 180, 1, 0, 2)},
        {CameraControl_Tilt, Property(-180, 180, 1, 0, 2)},
        {CameraControl_Zoom, Property(100, 400, 1, 100, 2)},
        {CameraControl_Exposure, Property(-11, -2, 1, -6, 3, 1)},
        {CameraControl_Focus, Property(0, 250, 5, 0, 3, 1)},
    };
}

PictureSettings PictureSettings::Of(const std::map<LONG, CameraProperty>& procAmp) {
    PictureSettings s;
    auto range = [](const CameraProperty& p) { return p.max > p.min ? static_cast<double>(p.max - p.min) : 1.0; };
    auto scale = [&](const CameraProperty& p) {
        return 1.0 + 2.0 * (p.value - (static_cast<double>(p.min) + p.max) / 2.0) / range(p);
    };
    if (auto it = procAmp.find(VideoProcAmp_Brightness); it != procAmp.end())
        s.offset = (it->second.value - it->second.defaultValue) * 255.0 / range(it->second);
    if (auto it = procAmp.find(VideoProcAmp_Contrast); it != procAmp.end()) s.contrast = scale(it->second);
    if (auto it = procAmp.find(VideoProcAmp_Saturation); it != procAmp.end()) s.saturation = scale(it->second);
    if (auto it = procAmp.find(VideoProcAmp_Gain); it != procAmp.end())
        s.gain = 1.0 + (it->second.value - it->second.defaultValue) / range(it->second);
    return s;
}

void PictureSettings::Apply(std::vector<BYTE>& rgb) const {
    if (*this == PictureSettings{}) return;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        BYTE* p = &rgb[i];
        double c[3];
        for (int k = 0; k < 3; ++k) c[k] = ((p[k] * gain - 128.0) * contrast) + 128.0 + offset;
        const double luma = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
        for (int k = 0; k < 3; ++k) {
            const double v = luma + (c[k] - luma) * saturation;
            p[k] = static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
        }
    }
}

bool ParseFormats(const std::wstring& text, std::vector<VideoFormat>& formats) {
    std::wstringstream list(text);
    std::wstring item;
    while (std::getline(list, item, L',')) {
        std::wstringstream words(Trim(item));
        std::wstring size, subtype, fps, rest;
        if (!(words >> size >> subtype >> fps) || (words >> rest)) return false;
        const size_t x = size.find(L'x');
        if (x == std::wstring::npos || size.find(L'.') != std::wstring::npos) return false;
        double width = 0, height = 0;
        VideoFormat f;
        if (!ParsePlainNumber(size.substr(0, x), kMaxSide, width) || !ParsePlainNumber(size.substr(x + 1), kMaxSide, height))
            return false;
        if (width * height > kMaxPixels) return false;
        f.width = static_cast<LONG>(width);
        f.height = static_cast<LONG>(height);
        if (!ParseRates(fps, f) || !ParseSubtype(subtype, f.subtype)) return false;
        formats.push_back(f);
    }
    return !formats.empty();
}

std::wstring FormatsText(const std::vector<VideoFormat>& formats) {
    std::wstring text;
    for (const VideoFormat& f : formats) {
        const wchar_t* name = SubtypeName(f.subtype);
        wchar_t item[96];
        std::swprintf(item, 96, L"%ls%ldx%ld %ls ", text.empty() ? L"" : L", ", static_cast<long>(f.width),
                      static_cast<long>(f.height), name ? name : L"?");
        text += item;
        text += RatesText(f);
    }
    return text;
}

const wchar_t* SubtypeName(const GUID& subtype) {
    for (const auto& s : kSubtypes)
        if (IsEqualGUID(subtype, *s.subtype)) return s.name;
    return nullptr;
}

std::wstring Shown(const std::wstring& value) {
    constexpr size_t kLimit = 60;  // characters shown, escapes included
    std::wstring shown;
    for (wchar_t c : value) {
        if (shown.size() >= kLimit) {
            shown += L"...";
            break;
        }
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            wchar_t escaped[8];
            std::swprintf(escaped, 8, L"\\x%02X", static_cast<unsigned>(c));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

bool ParseCameraDescriptions(const std::wstring& text, const std::wstring& origin,
                             std::vector<DescribedCamera>& cameras, std::wstring& error) {
    std::vector<DescribedCamera> parsed;
    // NUL characters in the first line: a UTF-16 file, read as UTF-8.
    if (text.substr(0, text.find(L'\n')).find(L'\0') != std::wstring::npos) {
        error = origin + L": holds NUL characters in its first line; a description is UTF-8, not UTF-16";
        return false;
    }
    std::vector<std::set<std::wstring>> seen;  // the keys of each section so far
    std::wstringstream lines(text);
    std::wstring line;
    int lineNo = 0;
    while (std::getline(lines, line)) {
        ++lineNo;
        line = Trim(line);
        if (line.empty() || line[0] == L';' || line[0] == L'#') continue;
        const std::wstring where = origin + L": line " + std::to_wstring(lineNo);
        if (line[0] == L'[') {
            if (line.back() != L']') {
                error = where + L": bad section header \"" + Shown(line) + L"\"";
                return false;
            }
            parsed.emplace_back();
            parsed.back().section = line.substr(1, line.size() - 2);
            seen.emplace_back();
            continue;
        }
        const size_t eq = line.find(L'=');
        if (parsed.empty() || eq == std::wstring::npos) {
            error = where + L": expected a [camera] section and key=value";
            return false;
        }
        const std::wstring key = Trim(line.substr(0, eq));
        const std::wstring value = Trim(line.substr(eq + 1));
        DescribedCamera& d = parsed.back();
        if (!seen.back().insert(key).second) {
            error = origin + L": [" + Shown(d.section) + L"] " + Shown(key) + L": given twice";
            return false;
        }
        bool known = false;
        if (!ApplyKey(key, value, d, known)) {
            error = origin + L": [" + Shown(d.section) + L"] " + Shown(key) +
                    (known ? L": bad value \"" + Shown(value) + L"\"" : std::wstring(L": unknown key"));
            return false;
        }
    }
    // Applied once the section is read, whichever of the two keys came first.
    for (DescribedCamera& d : parsed)
        for (VideoFormat& f : d.formats) f.topDown = d.topDown && IsRgbSubtype(f.subtype);
    cameras = std::move(parsed);
    return true;
}

}  // namespace vork
