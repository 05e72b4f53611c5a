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

MediaType TypeOf(const vork::VideoFormat& format) {
    std::vector<BYTE> block;
    return MediaType(vork::VideoMediaType(format, block));  // copies the block into task memory
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
