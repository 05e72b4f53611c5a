// What a host needs to read a delivered frame, and what the camera offers: the
// connected media types of the sample grabber and of the capture source's pin,
// and the stream configuration's capabilities.
#include <cstring>
#include <vector>

#include "VORKDirectShowGrabber.h"

#include "MediaType.h"

namespace {

constexpr double kUnitsPerSecond = 10000000.0;

double RateOf(REFERENCE_TIME frameTime) {
    return frameTime > 0 ? kUnitsPerSecond / static_cast<double>(frameTime) : 0.0;
}

// Bytes per row of an uncompressed bitmap: rows are padded to whole DWORDs.
// Computed in 64 bits: a hostile header must not overflow it.
LONG DibStride(LONG width, WORD bitCount) {
    const long long bits = static_cast<long long>(width < 0 ? -static_cast<long long>(width) : width) * bitCount;
    const long long stride = ((bits + 31) / 32) * 4;
    return stride > 0x7FFFFFFF ? 0 : static_cast<LONG>(stride);
}

template <class Type>
void Describe(Type& type, VORKDSFrameFormat& format) {
    format.sourceSubtype = type->subtype;
    const BITMAPINFOHEADER* bitmap = type.BitmapHeader();
    if (!bitmap) return;
    format.sourceWidth = bitmap->biWidth;
    format.sourceHeight = bitmap->biHeight;
    format.sourceFramesPerSecond = RateOf(*type.FrameTime());
}

}  // namespace

// What the camera sends: the format its stream configuration is set to, which a
// SetFormat changes at once, or else the pin's connection.
void CVORKDirectShowGrabber::ReadSourceFormat(VORKDSFrameFormat& format) {
    VORKCameraLock lock;  // the pins are stored again by a thread that reconnects
    if (!m_pSourceOutPin) return;
    CComPtr<IAMStreamConfig> config;
    if (SUCCEEDED(m_pSourceOutPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)))) {
        VORKTaskMediaType current;
        if (SUCCEEDED(config->GetFormat(&current)) && current.get()) {
            Describe(current, format);
            return;
        }
    }
    VORKScopedMediaType sent;
    if (SUCCEEDED(m_pSourceOutPin->ConnectionMediaType(&sent))) Describe(sent, format);
}

int CVORKDirectShowGrabber::ReadFrameFormat(VORKDSFrameFormat& format) {
    format = VORKDSFrameFormat{};
    if (!m_pSampleGrabber) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::ReadFrameFormat: No valid grabber object!", 2, 2);
        return 2;
    }
    if (!IsConnected()) return 14;
    VORKScopedMediaType received;
    if (ShowError(m_pSampleGrabber->GetConnectedMediaType(&received))) return 14;
    const BITMAPINFOHEADER* bitmap = received.BitmapHeader();
    if (!bitmap) return 14;
    format.subtype = received->subtype;
    format.width = bitmap->biWidth;
    format.height = bitmap->biHeight;
    format.bitCount = bitmap->biBitCount;
    format.stride = DibStride(bitmap->biWidth, bitmap->biBitCount);
    format.frameBytes = GetImgBufSize();
    ReadSourceFormat(format);
    return 0;
}

int CVORKDirectShowGrabber::ReadOfferedFormats(VORKDSOfferedFormat* formats, int& count) {
    const int capacity = formats ? count : 0;
    count = 0;
    VORKCameraLock lock;  // the pins are stored again by a thread that reconnects
    if (!m_pSourceOutPin) return 14;
    CComPtr<IAMStreamConfig> config;
    if (FAILED(m_pSourceOutPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)))) return 14;
    int capabilities = 0;
    int capsSize = 0;
    if (ShowError(config->GetNumberOfCapabilities(&capabilities, &capsSize))) return 14;
    // The caps record is sized by the device; a video device's is at least the
    // platform's VIDEO_STREAM_CONFIG_CAPS.
    if (capsSize < static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)) || capsSize > 65536) return 14;
    std::vector<BYTE> caps(static_cast<size_t>(capsSize));
    for (int i = 0; i < capabilities; ++i) {
        VORKTaskMediaType type;
        // S_FALSE means no format at this index, so only S_OK counts.
        if (config->GetStreamCaps(i, &type, caps.data()) != S_OK) continue;
        const BITMAPINFOHEADER* bitmap = type.BitmapHeader();
        if (!bitmap) continue;
        VIDEO_STREAM_CONFIG_CAPS c;
        std::memcpy(&c, caps.data(), sizeof(c));
        if (count < capacity) {
            VORKDSOfferedFormat& f = formats[count];
            f.subtype = type->subtype;
            f.width = bitmap->biWidth;
            f.height = bitmap->biHeight;
            f.framesPerSecond = RateOf(c.MinFrameInterval > 0 ? c.MinFrameInterval : *type.FrameTime());
        }
        ++count;
    }
    return 0;
}
