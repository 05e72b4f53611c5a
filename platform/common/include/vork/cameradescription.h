// Virtual cameras described in a text file: one section per camera with its
// name, device path, formats, frame rate and controls. The simulated platform
// and the vorkvcam filter read the same files, so one description gives the
// same cameras on both.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <dshow.h>

#ifdef _WIN32
#include <dvdmedia.h>
// mingw-w64's uuids.h has no H.264 subtype.
#ifndef VORK_MEDIASUBTYPE_H264
#define VORK_MEDIASUBTYPE_H264
static const GUID kVorkMediaSubtypeH264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
#define MEDIASUBTYPE_H264 kVorkMediaSubtypeH264
#endif
#endif

namespace vork {

struct VideoFormat {
    VideoFormat() = default;
    VideoFormat(LONG w, LONG h, const GUID& s, double rate) : width(w), height(h), subtype(s), fps(rate) {}

    LONG width = 640;
    LONG height = 480;
    GUID subtype = MEDIASUBTYPE_RGB24;
    double fps = 30.0;
    // "30/15/5": the only rates the camera keeps at this size, `fps` first.
    // Empty for a single rate: the camera takes any rate asked of it.
    std::vector<double> rates;
    // A rate of 0: the caps say AvgTimePerFrame 0; the camera runs at 30.
    bool rateUnreported = false;
    // Rows top-down: offered, accepted and delivered with a negative height only.
    bool topDown = false;
};

struct CameraProperty {
    LONG min = 0;
    LONG max = 255;
    LONG step = 1;
    LONG defaultValue = 128;
    LONG caps = 2;  // 1 auto, 2 manual
    LONG value = 128;
    LONG flags = 2;
};

// One [section] of a description file. Keys that are absent keep these values.
struct DescribedCamera {
    std::wstring section;
    std::optional<std::wstring> friendlyName;
    std::optional<std::wstring> devicePath;
    std::vector<VideoFormat> formats;  // empty: DefaultFormats()
    bool unthrottled = false;          // "FrameRate=max": frames as fast as they can be made
    bool hasProcAmp = true;
    bool hasCameraControl = true;
    bool hasStreamConfig = true;  // "StreamConfig=0": the pin cannot be told a format
    bool propertyBagWorks = true;  // "PropertyBag=0": reading the camera's name fails
    bool bindWorks = true;         // "Bind=0": creating the camera's filter fails
    DWORD startDelayMs = 0;        // "StartDelay=MS": the first frame comes MS after Run
    LONG darkFrames = 0;           // "DarkFrames=N": the first N frames after Run rise from black
    LONG dropEvery = 0;            // "DropEvery=N": every Nth frame made is lost on the way, over all runs
    // "Unplug=AFTER_MS[/BACK_MS]": removed AFTER_MS after its first Run, and back
    // BACK_MS later; without BACK_MS it stays away.
    std::optional<DWORD> unplugAfterMs;
    std::optional<DWORD> unplugBackMs;
    bool videoInfo2 = false;  // "VideoInfo2=1": every format twice, VIDEOINFOHEADER2 first
    bool busy = false;        // "Busy=1": another program holds it; Run fails
    bool topDown = false;     // "TopDown=1": the RGB formats of Formats run top-down only
};

// The camera of a machine with no description: its name and device path.
constexpr const wchar_t* kDefaultFriendlyName = L"VORK Virtual Camera";
constexpr const wchar_t* kDefaultDevicePath = L"\\\\?\\root#vorkcam#0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

// 640x480 and 320x240 in RGB24 and RGB32 (640x480 RGB24 first), then a YUY2 format.
std::vector<VideoFormat> DefaultFormats();
// The usual ranges of a webcam's proc-amp and camera controls, by
// VideoProcAmpProperty and CameraControlProperty.
std::map<LONG, CameraProperty> DefaultProcAmp();
std::map<LONG, CameraProperty> DefaultCameraControl();

// Parses a whole file. On a bad one, false with an error that names `origin`
// (the file), the line or section and the key, and shows the value escaped.
bool ParseCameraDescriptions(const std::wstring& text, const std::wstring& origin,
                             std::vector<DescribedCamera>& cameras, std::wstring& error);

// What a camera's proc-amp does to its picture: brightness and gain move from
// the device's default, contrast and saturation scale from the middle of their
// range (0 at the bottom, double at the top), where a grabber's 50 percent puts them.
struct PictureSettings {
    double offset = 0.0;  // brightness, in levels
    double contrast = 1.0;
    double saturation = 1.0;
    double gain = 1.0;

    static PictureSettings Of(const std::map<LONG, CameraProperty>& procAmp);
    bool operator==(const PictureSettings& o) const {
        return offset == o.offset && contrast == o.contrast && saturation == o.saturation && gain == o.gain;
    }
    bool operator!=(const PictureSettings& o) const { return !(*this == o); }
    // Applies them to a picture of red, green and blue bytes.
    void Apply(std::vector<BYTE>& rgb) const;
};

// "640x480 RGB24 30, 1280x720 RGB32 15, 640x480 YUY2 30/15/5": sizes 1 to
// 16384 of at most 40 megapixels, rates up to 1000 written as plain decimals, several separated by '/';
// a rate 0 alone stands for a camera that does not report its rate.
bool ParseFormats(const std::wstring& text, std::vector<VideoFormat>& formats);
// The same list written back, so that ParseFormats reads it unchanged.
std::wstring FormatsText(const std::vector<VideoFormat>& formats);
// "RGB24", "YUY2", "NV12", "H264", ...; nullptr for a subtype the files do not name.
const wchar_t* SubtypeName(const GUID& subtype);

// A value from a file as a message shows it: control characters escaped, and
// cut at 60 characters, escapes counted.
std::wstring Shown(const std::wstring& value);

}  // namespace vork
