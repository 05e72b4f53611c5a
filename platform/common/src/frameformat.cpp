#include "vork/frameformat.h"

#include <cstdint>
#include <cstring>

namespace vork {

bool IsRgbSubtype(const GUID& s) {
    return IsEqualGUID(s, MEDIASUBTYPE_RGB8) || IsEqualGUID(s, MEDIASUBTYPE_RGB555) ||
           IsEqualGUID(s, MEDIASUBTYPE_RGB565) || IsEqualGUID(s, MEDIASUBTYPE_RGB24) || IsEqualGUID(s, MEDIASUBTYPE_RGB32);
}

WORD BitCountOf(const GUID& s) {
    if (IsEqualGUID(s, MEDIASUBTYPE_RGB8)) return 8;
    if (IsEqualGUID(s, MEDIASUBTYPE_RGB555) || IsEqualGUID(s, MEDIASUBTYPE_RGB565) || IsEqualGUID(s, MEDIASUBTYPE_YUY2))
        return 16;
    if (IsEqualGUID(s, MEDIASUBTYPE_RGB32)) return 32;
    if (IsEqualGUID(s, MEDIASUBTYPE_NV12)) return 12;
    return 24;
}

DWORD StrideOf(const GUID& subtype, LONG width) {
    const WORD bits = IsEqualGUID(subtype, MEDIASUBTYPE_NV12) ? 8 : BitCountOf(subtype);
    return ((static_cast<DWORD>(width) * bits + 31) / 32) * 4;
}

DWORD ImageSizeOf(const GUID& subtype, LONG width, LONG height) {
    const DWORD luma = StrideOf(subtype, width) * static_cast<DWORD>(height);
    if (!IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return luma;
    return luma + StrideOf(subtype, width) * ((static_cast<DWORD>(height) + 1) / 2);
}

const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& type) {
    if (!type.pbFormat) return nullptr;
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2) && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    return nullptr;
}

REFERENCE_TIME FrameIntervalOf(const AM_MEDIA_TYPE& type) {
    // The interval sits at the same place in both blocks.
    return BitmapHeaderOf(type) ? reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame : 0;
}

AM_MEDIA_TYPE VideoMediaType(const VideoFormat& format, std::vector<BYTE>& block) {
    const bool palette = IsEqualGUID(format.subtype, MEDIASUBTYPE_RGB8) != 0;
    // RGB565 is a bit-field bitmap: its three masks follow the header, as in VIDEOINFO.
    const bool masks = IsEqualGUID(format.subtype, MEDIASUBTYPE_RGB565) != 0;
    block.assign(sizeof(VIDEOINFOHEADER) + (palette ? 256 * sizeof(RGBQUAD) : 0) + (masks ? 3 * sizeof(DWORD) : 0), 0);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block.data());
    vih->rcSource = {0, 0, format.width, format.height};
    vih->rcTarget = vih->rcSource;
    vih->AvgTimePerFrame =
        format.fps > 0 && !format.rateUnreported ? static_cast<REFERENCE_TIME>(10000000.0 / format.fps) : 0;
    BITMAPINFOHEADER& bmi = vih->bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = format.width;
    bmi.biHeight = format.topDown ? -format.height : format.height;
    bmi.biPlanes = 1;
    bmi.biBitCount = BitCountOf(format.subtype);
    bmi.biCompression = masks ? BI_BITFIELDS : IsRgbSubtype(format.subtype) ? BI_RGB : format.subtype.Data1;
    bmi.biSizeImage = ImageSizeOf(format.subtype, format.width, format.height);
    if (palette) {
        bmi.biClrUsed = 256;
        auto* colors = reinterpret_cast<RGBQUAD*>(block.data() + sizeof(VIDEOINFOHEADER));
        for (int i = 0; i < 256; ++i) colors[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
    }
    if (masks) {
        const DWORD bits[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(block.data() + sizeof(VIDEOINFOHEADER), bits, sizeof(bits));
    }
    vih->dwBitRate = static_cast<DWORD>(bmi.biSizeImage * 8.0 * format.fps);

    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = format.subtype;
    type.bFixedSizeSamples =
        IsEqualGUID(format.subtype, MEDIASUBTYPE_MJPG) || IsEqualGUID(format.subtype, MEDIASUBTYPE_H264) ? FALSE : TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = bmi.biSizeImage;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = static_cast<ULONG>(block.size());
    type.pbFormat = block.data();
    return type;
}

AM_MEDIA_TYPE VideoMediaType2(const VideoFormat& format, std::vector<BYTE>& block) {
    std::vector<BYTE> plain;
    AM_MEDIA_TYPE type = VideoMediaType(format, plain);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(plain.data());
    const size_t extra = plain.size() - sizeof(VIDEOINFOHEADER);  // palette or masks
    block.assign(sizeof(VIDEOINFOHEADER2) + extra, 0);
    auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(block.data());
    vih2->rcSource = vih->rcSource;
    vih2->rcTarget = vih->rcTarget;
    vih2->dwBitRate = vih->dwBitRate;
    vih2->AvgTimePerFrame = vih->AvgTimePerFrame;
    vih2->dwPictAspectRatioX = static_cast<DWORD>(format.width);
    vih2->dwPictAspectRatioY = static_cast<DWORD>(format.height);
    vih2->bmiHeader = vih->bmiHeader;
    if (extra) std::memcpy(block.data() + sizeof(VIDEOINFOHEADER2), plain.data() + sizeof(VIDEOINFOHEADER), extra);
    type.formattype = FORMAT_VideoInfo2;
    type.cbFormat = static_cast<ULONG>(block.size());
    type.pbFormat = block.data();
    return type;
}

bool PutRgbPixel(BYTE* row, LONG x, const GUID& s, BYTE r, BYTE g, BYTE b) {
    if (IsEqualGUID(s, MEDIASUBTYPE_RGB24) || IsEqualGUID(s, MEDIASUBTYPE_RGB32)) {
        BYTE* p = row + static_cast<size_t>(x) * (IsEqualGUID(s, MEDIASUBTYPE_RGB24) ? 3 : 4);
        p[0] = b;
        p[1] = g;
        p[2] = r;
        if (IsEqualGUID(s, MEDIASUBTYPE_RGB32)) p[3] = 0;
    } else if (IsEqualGUID(s, MEDIASUBTYPE_RGB565)) {
        const auto v = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
        std::memcpy(row + static_cast<size_t>(x) * 2, &v, 2);
    } else if (IsEqualGUID(s, MEDIASUBTYPE_RGB555)) {
        const auto v = static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
        std::memcpy(row + static_cast<size_t>(x) * 2, &v, 2);
    } else if (IsEqualGUID(s, MEDIASUBTYPE_RGB8)) {
        row[x] = static_cast<BYTE>((r * 77 + g * 150 + b * 29) >> 8);
    } else {
        return false;
    }
    return true;
}

}  // namespace vork
