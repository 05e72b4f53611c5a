// The video format: colour mode at the sample grabber, image size and frame rate
// at the capture source's stream configuration.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VORKDirectShowGrabber.h"

#include "MediaType.h"
#include "Text.h"

namespace {

constexpr double kUnitsPerSecond = 10000000.0;  // AvgTimePerFrame counts 100 ns

// The format block of a connected type, when it is the VIDEOINFOHEADER that the
// size and rate are written into.
VIDEOINFOHEADER* VideoInfoOf(VORKScopedMediaType& type) {
    if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo)) return nullptr;
    return type.VideoInfo();
}

// The row's pixel count is rounded up to a multiple of 4, not its bytes; in 64
// bits, so that no size from a configuration overflows it.
long long ImageSizeOf(int width, int height, int bytesPerPixel) {
    const long long rowPixels = (static_cast<long long>(width) + 3) & ~3LL;
    return rowPixels * height * bytesPerPixel;
}

// Whether a filter between the camera and the sample grabber converts (a YUY2
// or MJPG camera feeding an RGB colour mode): the camera then sends a subtype of
// its own, and a format taken from the sample grabber's connection is one it
// cannot deliver.
bool Converting(IPin* sourceOut, ISampleGrabber* grabber) {
    VORKScopedMediaType sent;
    VORKScopedMediaType received;
    if (FAILED(sourceOut->ConnectionMediaType(&sent)) || FAILED(grabber->GetConnectedMediaType(&received))) return false;
    return !IsEqualGUID(sent->subtype, received->subtype);
}

// The camera's count of formats and a buffer for one format's caps; false when
// it gives none.
bool CapsOf(IAMStreamConfig* config, int& count, std::vector<BYTE>& caps) {
    int size = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &size)) || size < static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
        return false;
    caps.assign(static_cast<size_t>(size), 0);
    return true;
}

// Whether the range of rates of the caps just read holds a frame time.
bool RangeHolds(const std::vector<BYTE>& caps, REFERENCE_TIME frameTime) {
    VIDEO_STREAM_CONFIG_CAPS range;
    std::memcpy(&range, caps.data(), sizeof(range));
    return frameTime >= range.MinFrameInterval && frameTime <= range.MaxFrameInterval;
}

// The camera's own format of a size into `chosen`: of the subtype it sends now
// if it has one, else of any; false when it offers none of that size. It runs
// at `frameTime` when the format's range of rates holds it, as a size written
// on a direct connection keeps the connection's rate.
bool CameraFormatOfSize(IAMStreamConfig* config, const GUID& subtype, int width, int height,
                        REFERENCE_TIME frameTime, VORKTaskMediaType& chosen) {
    int count = 0;
    std::vector<BYTE> caps;
    if (!CapsOf(config, count, caps)) return false;
    int any = -1;
    for (int i = 0; i < count; ++i) {
        VORKTaskMediaType type;
        if (config->GetStreamCaps(i, &type, caps.data()) != S_OK) continue;
        const VIDEOINFOHEADER* info = type.VideoInfo();
        if (!info || info->bmiHeader.biWidth != width || std::abs(info->bmiHeader.biHeight) != height) continue;
        if (IsEqualGUID(type->subtype, subtype)) {
            any = i;
            break;
        }
        if (any < 0) any = i;
    }
    if (any < 0 || config->GetStreamCaps(any, &chosen, caps.data()) != S_OK) return false;
    VIDEOINFOHEADER* info = chosen.VideoInfo();
    if (info && RangeHolds(caps, frameTime)) info->AvgTimePerFrame = frameTime;
    return true;
}

// Asks the camera for its first format of a subtype, at the rate it was told
// before when that format keeps it; false when it offers none or refuses it.
bool AskCameraFormatOfSubtype(IAMStreamConfig* config, const GUID& subtype) {
    int count = 0;
    std::vector<BYTE> caps;
    if (!CapsOf(config, count, caps)) return false;
    VORKTaskMediaType current;
    const REFERENCE_TIME* told = SUCCEEDED(config->GetFormat(&current)) ? current.FrameTime() : nullptr;
    for (int i = 0; i < count; ++i) {
        VORKTaskMediaType type;
        if (config->GetStreamCaps(i, &type, caps.data()) != S_OK) continue;
        VIDEOINFOHEADER* info = type.VideoInfo();
        if (!info || !IsEqualGUID(type->subtype, subtype)) continue;
        const REFERENCE_TIME own = info->AvgTimePerFrame;
        if (told && RangeHolds(caps, *told)) {
            info->AvgTimePerFrame = *told;
            if (SUCCEEDED(config->SetFormat(type.get()))) return true;
            info->AvgTimePerFrame = own;
        }
        return SUCCEEDED(config->SetFormat(type.get()));
    }
    return false;
}

// A converting graph that does not connect again after its camera's format
// changed is left as any size the camera cannot take: 14, said once.
int ReconnectFailed(const wchar_t* operation) {
    wchar_t text[256];
    VORKFormat(text, 256, L"CVORKDirectShowGrabber::%ls: Graph is not connected!", operation);
    VORKWriteErrorLog(text, 14, 2);
    return 14;
}

}  // namespace

GUID CVORKDirectShowGrabber::GetDXVideoModeFromVORKColorMode(VORKColorMode mode) {
    switch (static_cast<unsigned>(mode)) {
    case VORKColorModeRGB8: return MEDIASUBTYPE_RGB8;
    case VORKColorModeRGB555: return MEDIASUBTYPE_RGB555;
    case VORKColorModeRGB565: return MEDIASUBTYPE_RGB565;
    case VORKColorModeRGB32: return MEDIASUBTYPE_RGB32;
    default: return MEDIASUBTYPE_RGB24;  // RGB24 and every mode without a subtype of its own
    }
}

VORKColorMode CVORKDirectShowGrabber::GetVORKColorModeFromDXVideoMode(const GUID& subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB8)) return VORKColorModeRGB8;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return VORKColorModeRGB32;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return VORKColorModeRGB24;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB565)) return VORKColorModeRGB565;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB555)) return VORKColorModeRGB555;
    return VORKColorModeUnknown;
}

int CVORKDirectShowGrabber::WriteColorMode(VORKColorMode mode) {
    {
        VORKCameraLock lock;
        if (m_nActColorMode == mode) return 0;
    }
    if (!m_pSampleGrabber) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteColorMode: No valid grabber object!", 2, 2);
        return 0;
    }
    // Held to the reconnection: no other thread starts or connects the graph
    // meanwhile, and the grab thread reads the subtype for the bytes per pixel
    // of the frames it mirrors.
    VORKCameraLock hold;
    if (!AreAllGraphsStopped()) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteColorMode: Warning, some graph is still runnning, will be "
                          L"stopped now!",
                          0, 2);
        StopAllGraphs();
    }
    const GUID subtype = GetDXVideoModeFromVORKColorMode(mode);
    m_nActColorMode = mode;
    DisconnectGraph();
    m_pMediaType->subtype = subtype;
    const int result = ConnectGraph();
    if (result == 0 || !m_pSourceOutPin) return result;
    // A camera that was told a format (a frame rate, a size) offers only that
    // one until it is told another, as Windows' capture pins do: it is asked
    // for its first format of the new subtype, and the graph connects again.
    CComPtr<IAMStreamConfig> config;
    if (FAILED(m_pSourceOutPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config))) ||
        !AskCameraFormatOfSubtype(config, subtype))
        return result;
    return ConnectGraph();
}

int CVORKDirectShowGrabber::ReadColorMode(VORKColorMode& mode) {
    VORKCameraLock lock;
    mode = GetVORKColorModeFromDXVideoMode(m_pMediaType->subtype);
    return 0;
}

int CVORKDirectShowGrabber::ReadVideoMode(VORKVideoMode& /*mode*/) { return 0; }

int CVORKDirectShowGrabber::WriteGrabRect(int& x, int& y, int& width, int& height) {
    int appliedWidth = 0;
    int appliedHeight = 0;
    {
        VORKCameraLock lock;
        appliedWidth = m_nActGrabWidth;
        appliedHeight = m_nActGrabHeight;
    }
    if (x != 0 || y != 0)
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteGrabRect: Grab offsets are always set to 0!", 14, 2);
    if (width == appliedWidth && height == appliedHeight) return 0;
    // The image size is 32 bits in the bitmap header: a size whose bytes it
    // cannot hold is no format to ask for, and is not recorded.
    if (width <= 0 || height <= 0 || ImageSizeOf(width, height, 4) > 0x7FFFFFFF) {
        wchar_t text[256];
        VORKFormat(text, 256, L"CVORKDirectShowGrabber::WriteGrabRect: Invalid size %dx%d!", width, height);
        VORKWriteErrorLog(text, 14, 2);
        return 14;
    }
    // Held to the end: no other thread starts or connects the graph meanwhile.
    VORKCameraLock hold;
    if (!m_pSourceOutPin) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteGrabRect: No valid source pin object!", 14, 2);
        return 14;
    }
    if (!AreAllGraphsStopped()) {
        StopAllGraphs();
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteGrabRect: Warning, some graph is still runnning, will be "
                          L"stopped now!",
                          0, 2);
    }
    if (!IsConnected()) ConnectGraph();
    if (!IsConnected()) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteGrabRect: Graph is not connected!", 14, 2);
        return 14;
    }
    CComPtr<IAMStreamConfig> config;
    if (ShowError(m_pSourceOutPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)))) return 14;
    int count = 0;
    int size = 0;
    if (ShowError(config->GetNumberOfCapabilities(&count, &size))) return 14;

    int status = 0;
    VORKScopedMediaType type;
    if (Converting(m_pSourceOutPin, m_pSampleGrabber)) {
        // The camera is asked for its own format of the size; the graph then
        // connects again, through whatever filters that format needs.
        VORKTaskMediaType current;
        VORKTaskMediaType cameraFormat;
        const bool known = SUCCEEDED(config->GetFormat(&current)) && current.get();
        const GUID subtype = known ? current->subtype : GUID_NULL;
        const REFERENCE_TIME frameTime = known && current.FrameTime() ? *current.FrameTime() : 0;
        if (!CameraFormatOfSize(config, subtype, width, height, frameTime, cameraFormat)) {
            wchar_t text[256];
            VORKFormat(text, 256, L"CVORKDirectShowGrabber::WriteGrabRect: The camera offers no format of %dx%d!", width,
                       height);
            VORKWriteErrorLog(text, 14, 2);
            status = 14;
        } else {
            VORKCameraLock hold;  // no other thread starts the graph before it is connected again
            DisconnectGraph();
            if (ShowError(config->SetFormat(cameraFormat.get()))) status = 14;
            if (ConnectGraph() != 0 || !IsConnected()) status = ReconnectFailed(L"WriteGrabRect");
        }
    } else if (!ShowError(m_pSampleGrabber->GetConnectedMediaType(&type))) {
        VIDEOINFOHEADER* info = VideoInfoOf(type);
        if (!info) {
            VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteGrabRect: The connected format is not a VIDEOINFOHEADER!",
                              14, 2);
            status = 14;
        } else {
            info->bmiHeader.biWidth = width;
            info->bmiHeader.biHeight = height;
            if (info->bmiHeader.biCompression != 0) {
                VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteGrabRect: Warning: Compressed video format specified!",
                                  0, 16);
                info->bmiHeader.biCompression = BI_RGB;
            }
            const auto imageSize = static_cast<int32_t>(ImageSizeOf(width, height, info->bmiHeader.biBitCount / 8));
            info->bmiHeader.biSizeImage = static_cast<DWORD>(imageSize);
            type->lSampleSize = static_cast<ULONG>(imageSize);
            if (ShowError(config->SetFormat(&type))) status = 14;
        }
    }
    UpdateCallbackInfo();
    // Recorded even when the camera refused it, so that a repeat is not tried again.
    VORKCameraLock lock;
    m_nActGrabWidth = width;
    m_nActGrabHeight = height;
    return status;
}

int CVORKDirectShowGrabber::ReadGrabRect(int& x, int& y, int& /*width*/, int& /*height*/) {
    x = 0;
    y = 0;
    return 0;
}

// The frame rate operations need the source's pin and a connected graph, which
// they connect if it is not; 14 and a line naming the operation otherwise.
int CVORKDirectShowGrabber::ConnectedSource(const wchar_t* operation) {
    wchar_t text[256];
    if (!m_pSourceOutPin) {
        VORKFormat(text, 256, L"CVORKDirectShowGrabber::%ls: No valid source pin object!", operation);
        VORKWriteErrorLog(text, 14, 2);
        return 14;
    }
    if (!IsConnected()) ConnectGraph();
    if (!IsConnected()) {
        VORKFormat(text, 256, L"CVORKDirectShowGrabber::%ls: Graph is not connected!", operation);
        VORKWriteErrorLog(text, 14, 2);
        return 14;
    }
    return 0;
}

int CVORKDirectShowGrabber::WriteFramerate(double framesPerSecond) {
    // Held to the restart, so that no other thread connects or starts a graph meanwhile.
    VORKCameraLock lock;
    if (const int status = ConnectedSource(L"WriteFramerate"); status != 0) return status;
    // A rate whose frame time is not a positive count of 100 ns units has no
    // format to ask for.
    const double frameTime = kUnitsPerSecond / framesPerSecond;
    if (!std::isfinite(framesPerSecond) || !(framesPerSecond > 0) || !(frameTime >= 1.0) ||
        frameTime > 9.2e18) {
        wchar_t text[256];
        VORKFormat(text, 256, L"CVORKDirectShowGrabber::WriteFramerate: Invalid frame rate %g!", framesPerSecond);
        VORKWriteErrorLog(text, 14, 2);
        return 14;
    }
    const bool wasRunning = IsGraphRunning();
    if (!AreAllGraphsStopped()) {
        StopAllGraphs();
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WriteFramerate: Warning, graph still runnning, will be stopped now!",
                          0, 2);
    }
    int status = 0;
    CComPtr<IAMStreamConfig> config;
    if (ShowError(m_pSourceOutPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)))) {
        status = 14;
    } else if (Converting(m_pSourceOutPin, m_pSampleGrabber)) {
        // The camera's own format at the new rate, connected again.
        VORKTaskMediaType current;
        if (!ShowError(config->GetFormat(&current)) && current.FrameTime()) {
            *current.FrameTime() = static_cast<REFERENCE_TIME>(frameTime);
            VORKCameraLock hold;  // no other thread starts the graph before it is connected again
            DisconnectGraph();
            ShowError(config->SetFormat(current.get()));
            if (ConnectGraph() != 0 || !IsConnected()) status = ReconnectFailed(L"WriteFramerate");
        }
    } else {
        VORKScopedMediaType type;
        if (!ShowError(m_pSampleGrabber->GetConnectedMediaType(&type))) {
            if (VIDEOINFOHEADER* info = VideoInfoOf(type)) {
                info->AvgTimePerFrame = static_cast<REFERENCE_TIME>(frameTime);
                ShowError(config->SetFormat(&type));
            } else {
                status = 14;
            }
        }
    }
    if (wasRunning) Run();
    return status;
}

int CVORKDirectShowGrabber::ReadFramerate(double& framesPerSecond) {
    VORKCameraLock lock;  // the pins are stored again by a thread that reconnects
    if (const int status = ConnectedSource(L"ReadFramerate"); status != 0) return status;
    CComPtr<IAMStreamConfig> config;
    if (ShowError(m_pSourceOutPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)))) return 14;
    VORKTaskMediaType format;
    if (ShowError(config->GetFormat(&format))) return 11;
    const REFERENCE_TIME* frameTime = format.FrameTime();
    if (!frameTime) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::ReadFramerate: The format has no frame rate!", 11, 2);
        return 11;
    }
    // Some cameras do not say their rate (AvgTimePerFrame 0): 0 stands for unknown.
    framesPerSecond = *frameTime > 0 ? kUnitsPerSecond / static_cast<double>(*frameTime) : 0.0;
    return 0;
}
