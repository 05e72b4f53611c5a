// Virtual cameras of the simulated DirectShow, and the controls through which
// tests and the host add and remove them, inject faults and read back what was
// done to them.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <dshow.h>

#include "vork/cameradescription.h"
#include "vork/testpattern.h"

namespace vorksim {

using vork::CameraProperty;
using vork::VideoFormat;

struct CameraFaults {
    bool bindFails = false;         // IMoniker::BindToObject fails
    bool propertyBagFails = false;  // IMoniker::BindToStorage fails
    int startDelayMs = 0;           // the run reports S_FALSE, then completes after this delay
    bool startStuck = false;        // the run never completes
    bool startFallsBack = false;    // the run reports S_FALSE, and a filter stops the graph before it runs
    bool stopStuck = false;         // a stop leaves the state reported as running
    HRESULT runResult = S_OK;       // a failure code makes IMediaControl::Run fail
    bool getPagesFails = false;     // ISpecifyPropertyPages::GetPages fails
};

struct CameraDescription {
    std::optional<std::wstring> friendlyName = std::wstring(vork::kDefaultFriendlyName);
    std::optional<std::wstring> devicePath = std::wstring(vork::kDefaultDevicePath);
    std::vector<VideoFormat> formats;  // the first is the default format
    bool unthrottled = false;          // frames as fast as possible instead of the format's rate
    bool hasProcAmp = true;
    bool hasCameraControl = true;
    bool hasStreamConfig = true;
    std::map<LONG, CameraProperty> procAmp;        // by VideoProcAmpProperty
    std::map<LONG, CameraProperty> cameraControl;  // by CameraControlProperty
    CameraFaults faults;
    DWORD startDelayMs = 0;  // the first frame comes this long after Run
    LONG darkFrames = 0;     // the first frames after Run rise from black
    LONG dropEvery = 0;      // every Nth frame made is lost, as on a busy USB bus
    // Removed this long after the camera's first Run, and back after the second
    // time; without it, it stays away.
    std::optional<DWORD> unplugAfterMs;
    std::optional<DWORD> unplugBackMs;
    bool videoInfo2 = false;  // every format offered twice, as VIDEOINFOHEADER2 first
    bool busy = false;        // held by another program: Run fails
};

// What Run of a camera held by another program returns.
constexpr HRESULT kCameraBusy = static_cast<HRESULT>(0x8007001FL);
// What Run of a filter whose device was unplugged returns.
constexpr HRESULT kDeviceGone = static_cast<HRESULT>(0x8007048FL);

using CameraId = int;

// The formats and properties of a typical webcam: 640x480 and 320x240 in RGB24 and
// RGB32 (640x480 RGB24 first), a YUY2 format, and the usual property ranges.
CameraDescription DefaultCameraDescription();
std::vector<VideoFormat> DefaultFormats();

CameraId AddCamera(const CameraDescription& description);
// Unplugs a camera: it leaves the enumeration, and the filters bound to it are
// dead for good (no frame comes, Run fails); a graph that holds one queues
// EC_DEVICE_LOST (parameter 2 = 0).
void RemoveCamera(CameraId id);
// Plugs an unplugged camera back in: it enumerates again with its device path,
// only a filter bound from now on works, and a graph that holds one of its old
// filters queues EC_DEVICE_LOST (parameter 2 = 1).
void ReturnCamera(CameraId id);
// Forgets every camera, unplugged ones too, and their pending unplug timers.
void RemoveAllCameras();
// Queues EC_DEVICE_LOST with parameter 2 = 1 (device available again) in the
// graphs that hold the camera's filters.
void AnnounceCameraArrival(CameraId id);
// Ends the camera's stream with EC_ERRORABORT (parameter 1 = hr).
void AbortStream(CameraId id, HRESULT hr);
void SetFaults(CameraId id, const CameraFaults& faults);
// The cameras attached now, in enumeration order.
std::vector<CameraId> Cameras();

struct CameraState {
    AM_MEDIA_TYPE format{};         // current format (format block not included)
    VIDEOINFOHEADER videoInfo{};    // its VIDEOINFOHEADER
    std::map<LONG, CameraProperty> procAmp;
    std::map<LONG, CameraProperty> cameraControl;
    long framesDelivered = 0;
    long setFormatCalls = 0;
    ULONG requestedSampleSize = 0;       // lSampleSize of the last SetFormat request
    VIDEOINFOHEADER requestedVideoInfo{};  // and its VIDEOINFOHEADER, as asked for
};
CameraState GetCameraState(CameraId id);

// Loads an INI-style camera description file, one section per camera in
// enumeration order, and adds its cameras. On a bad file nothing is added and
// error names the file, section and key.
bool LoadCameraFile(const std::wstring& path, std::vector<CameraId>* added, std::wstring* error);

// Makes the named call ("ISampleGrabber::GetCurrentBuffer", "IMediaEventEx::GetEventHandle",
// "ISampleGrabber::SetOneShot", "ISampleGrabber::SetCallback", "IGraphBuilder::Connect",
// "IEnumMoniker::Next", "IMediaControl::GetState", ...) return hr, for `count` calls
// (-1: until cleared). S_OK clears it.
void SetCallFault(const std::string& call, HRESULT hr, int count = -1);
void ClearCallFaults();
// Runs `hook` on the calling thread whenever the named call is made, before any
// fault is applied, so that a test can make something happen at an exact point
// of the plug-in's work; an empty function clears it (as ClearCallFaults does).
void SetCallHook(const std::string& call, std::function<void()> hook);
HRESULT CallFault(const std::string& call);
// The name under which CoCreateInstance of a class can be made to fail.
std::string CreationCall(REFCLSID clsid);
// The same, for a call whose argument tests read back (a wait's time-out):
// CallArguments gives the latest 64 in call order until ClearCallFaults.
HRESULT CallFault(const std::string& call, long long argument);
std::vector<long long> CallArguments(const std::string& call);

// The filter graphs of the process that run now, and the most that ran at the
// same moment since the last reset: all grabbers share one sample callback, so
// it must never be more than one.
int RunningGraphs();
int MostRunningGraphs();
void ResetMostRunningGraphs();

struct PropertyFrameCall {
    HWND owner = nullptr;
    std::wstring caption;
    ULONG objects = 0;
    ULONG pages = 0;
};
std::vector<PropertyFrameCall> PropertyFrameCalls();

// Decodes the frame counter stamped into a frame of the test pattern (a frame as
// delivered: bottom-up for RGB), or -1 when the frame carries none.
long DecodeFrameCounter(const BYTE* frame, const VideoFormat& format);

// A frame of any format the simulation makes (RGB bottom up, YUY2, MJPG) as a
// picture: red, green, blue per pixel, top row first; false when it is not one.
bool FrameToPicture(const BYTE* frame, size_t size, const VideoFormat& format, std::vector<BYTE>& rgb);

// A frame of the test pattern in a format (without its counter), and a frame
// converted as the graph's transform filters convert it: for benchmarks.
bool MakePatternFrame(const VideoFormat& format, std::vector<BYTE>& frame);
bool ConvertFrame(const BYTE* frame, size_t size, const VideoFormat& from, const GUID& to, std::vector<BYTE>& out);

// Colour of a pixel of the test pattern as a person sees it (x from the left, y
// from the top), before the frame counter is stamped.
using vork::PatternColor;

}  // namespace vorksim
