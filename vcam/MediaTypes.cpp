#include "MediaTypes.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace vcam {

MediaType& MediaType::operator=(const MediaType& other) {
    if (this != &other) Assign(other.type_);
    return *this;
}

void MediaType::Assign(const AM_MEDIA_TYPE& type) {
    Clear();
    if (FAILED(CopyMediaType(type_, type))) type_ = AM_MEDIA_TYPE{};
}

void MediaType::Clear() {
    FreeMediaTypeBlock(type_);
    type_ = AM_MEDIA_TYPE{};
}

const VIDEOINFOHEADER* MediaType::VideoInfo() const {
    if (!IsEqualGUID(type_.formattype, FORMAT_VideoInfo) || type_.cbFormat < sizeof(VIDEOINFOHEADER) || !type_.pbFormat)
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type_.pbFormat);
}

AM_MEDIA_TYPE* MediaType::TaskCopy() const {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!copy) return nullptr;
    if (FAILED(CopyMediaType(*copy, type_))) {
        CoTaskMemFree(copy);
        return nullptr;
    }
    return copy;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from) {
    to = from;
    to.pUnk = nullptr;  // the camera's types never carry one
    to.pbFormat = nullptr;
    if (from.cbFormat && from.pbFormat) {
        to.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
        if (!to.pbFormat) {
            to.cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(to.pbFormat, from.pbFormat, from.cbFormat);
    } else {
        to.cbFormat = 0;
    }
    return S_OK;
}

void FreeMediaTypeBlock(AM_MEDIA_TYPE& type) {
    if (type.pbFormat) CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

WORD BitCountOf(const GUID& subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return 32;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return 24;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB565) || IsEqualGUID(subtype, MEDIASUBTYPE_RGB555)) return 16;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB8)) return 8;
    return 0;
}

bool CanPaint(const GUID& subtype) { return BitCountOf(subtype) != 0; }

DWORD StrideOf(const GUID& subtype, LONG width) {
    return ((static_cast<DWORD>(width) * BitCountOf(subtype) + 31) / 32) * 4;
}

MediaType TypeOf(const vork::VideoFormat& format) {
    const bool palette = IsEqualGUID(format.subtype, MEDIASUBTYPE_RGB8);
    const bool masks = IsEqualGUID(format.subtype, MEDIASUBTYPE_RGB565);
    const size_t extra = palette ? 256 * sizeof(RGBQUAD) : masks ? 3 * sizeof(DWORD) : 0;
    std::vector<BYTE> block(sizeof(VIDEOINFOHEADER) + extra, 0);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block.data());
    vih->rcSource = {0, 0, format.width, format.height};
    vih->rcTarget = vih->rcSource;
    vih->AvgTimePerFrame = static_cast<REFERENCE_TIME>(10000000.0 / format.fps);
    BITMAPINFOHEADER& bmi = vih->bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = format.width;
    bmi.biHeight = format.height;
    bmi.biPlanes = 1;
    bmi.biBitCount = BitCountOf(format.subtype);
    bmi.biCompression = masks ? BI_BITFIELDS : BI_RGB;
    bmi.biSizeImage = StrideOf(format.subtype, format.width) * static_cast<DWORD>(format.height);
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
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = bmi.biSizeImage;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = static_cast<ULONG>(block.size());
    type.pbFormat = block.data();
    return MediaType(type);  // copies the block into task memory
}

bool Asks(const AM_MEDIA_TYPE& type, const vork::VideoFormat& format) {
    if (!IsEqualGUID(type.majortype, MEDIATYPE_Video) || !IsEqualGUID(type.subtype, format.subtype)) return false;
    if (!IsEqualGUID(type.formattype, FORMAT_VideoInfo) || type.cbFormat < sizeof(VIDEOINFOHEADER) || !type.pbFormat)
        return false;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    if (vih->bmiHeader.biWidth != format.width || std::abs(vih->bmiHeader.biHeight) != format.height) return false;
    const auto fastest = static_cast<REFERENCE_TIME>(10000000.0 / format.fps);
    const REFERENCE_TIME interval = vih->AvgTimePerFrame;
    return interval == 0 || (interval >= fastest - 1 && interval <= 10000000LL * 10);
}

}  // namespace vcam
