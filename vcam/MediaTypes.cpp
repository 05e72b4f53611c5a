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

bool IsVideoInfo2(const AM_MEDIA_TYPE& type) { return IsEqualGUID(type.formattype, FORMAT_VideoInfo2) != 0; }

VideoHeader HeaderOf(const AM_MEDIA_TYPE& type) {
    VideoHeader header;
    if (!type.pbFormat) return header;
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
        header.interval = &vih->AvgTimePerFrame;
        header.bitmap = &vih->bmiHeader;
    } else if (IsVideoInfo2(type) && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat);
        header.interval = &vih2->AvgTimePerFrame;
        header.bitmap = &vih2->bmiHeader;
    }
    return header;
}

std::vector<double> RatesOf(const vork::VideoFormat& format) {
    return format.rates.empty() ? std::vector<double>{format.fps} : format.rates;
}

namespace {

// The same format in a VIDEOINFOHEADER2 block: the palette or masks still
// follow the bitmap header.
std::vector<BYTE> Info2Block(const AM_MEDIA_TYPE& type) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    const size_t trailer = type.cbFormat - sizeof(VIDEOINFOHEADER);
    std::vector<BYTE> block(sizeof(VIDEOINFOHEADER2) + trailer, 0);
    auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(block.data());
    vih2->rcSource = vih->rcSource;
    vih2->rcTarget = vih->rcTarget;
    vih2->dwBitRate = vih->dwBitRate;
    vih2->AvgTimePerFrame = vih->AvgTimePerFrame;
    vih2->dwPictAspectRatioX = static_cast<DWORD>(vih->bmiHeader.biWidth);
    vih2->dwPictAspectRatioY = static_cast<DWORD>(std::abs(vih->bmiHeader.biHeight));
    vih2->bmiHeader = vih->bmiHeader;
    std::memcpy(block.data() + sizeof(VIDEOINFOHEADER2), type.pbFormat + sizeof(VIDEOINFOHEADER), trailer);
    return block;
}

bool KeepsInterval(const vork::VideoFormat& format, REFERENCE_TIME interval) {
    if (interval == 0) return true;
    if (format.rates.empty()) return interval >= IntervalOf(format.fps) - 1 && interval <= 10000000LL * 10;
    for (double rate : format.rates)
        if (std::llabs(interval - IntervalOf(rate)) <= 1) return true;
    return false;
}

}  // namespace

MediaType TypeOf(const vork::VideoFormat& format, bool info2) {
    std::vector<BYTE> block;
    AM_MEDIA_TYPE type = vork::VideoMediaType(format, block);
    if (format.rateUnreported) reinterpret_cast<VIDEOINFOHEADER*>(block.data())->AvgTimePerFrame = 0;
    if (!info2) return MediaType(type);  // copies the block into task memory
    std::vector<BYTE> block2 = Info2Block(type);
    type.formattype = FORMAT_VideoInfo2;
    type.cbFormat = static_cast<ULONG>(block2.size());
    type.pbFormat = block2.data();
    return MediaType(type);
}

bool Asks(const AM_MEDIA_TYPE& type, const vork::VideoFormat& format, bool info2Offered) {
    if (!IsEqualGUID(type.majortype, MEDIATYPE_Video) || !IsEqualGUID(type.subtype, format.subtype)) return false;
    if (IsVideoInfo2(type) && !info2Offered) return false;
    const VideoHeader header = HeaderOf(type);
    if (!header.bitmap) return false;
    if (header.bitmap->biWidth != format.width || std::abs(header.bitmap->biHeight) != format.height) return false;
    if (format.topDown && header.bitmap->biHeight > 0) return false;  // it has no bottom-up rows of this size
    return KeepsInterval(format, *header.interval);
}

}  // namespace vcam
