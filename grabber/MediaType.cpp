#include "MediaType.h"

#include <cstring>
#include <new>

void VORKFreeMediaTypeContents(AM_MEDIA_TYPE& type) {
    if (type.cbFormat != 0) CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

AM_MEDIA_TYPE* VORKNewMediaType() {
    auto* type = new AM_MEDIA_TYPE;
    std::memset(type, 0, sizeof(AM_MEDIA_TYPE));
    type->lSampleSize = 1;
    type->bFixedSizeSamples = TRUE;
    return type;
}

AM_MEDIA_TYPE* VORKCopyMediaType(const AM_MEDIA_TYPE* source) {
    if (!source) return nullptr;
    auto* type = new AM_MEDIA_TYPE(*source);
    if (source->cbFormat != 0 && source->pbFormat) {
        type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!type->pbFormat) {
            delete type;
            throw std::bad_alloc();
        }
        std::memcpy(type->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        type->cbFormat = 0;
        type->pbFormat = nullptr;
    }
    if (type->pUnk) type->pUnk->AddRef();
    return type;
}

void VORKDeleteMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    VORKFreeMediaTypeContents(*type);
    delete type;
}

VORKScopedMediaType::VORKScopedMediaType() { std::memset(&type_, 0, sizeof(type_)); }

VORKScopedMediaType::~VORKScopedMediaType() { VORKFreeMediaTypeContents(type_); }

namespace {

VIDEOINFOHEADER* VideoInfoOf(AM_MEDIA_TYPE* type) {
    if (!type || !type->pbFormat || !IsEqualGUID(type->formattype, FORMAT_VideoInfo) ||
        type->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
}

VIDEOINFOHEADER2* VideoInfo2Of(AM_MEDIA_TYPE* type) {
    if (!type || !type->pbFormat || !IsEqualGUID(type->formattype, FORMAT_VideoInfo2) ||
        type->cbFormat < sizeof(VIDEOINFOHEADER2))
        return nullptr;
    return reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat);
}

const BITMAPINFOHEADER* BitmapHeaderOf(AM_MEDIA_TYPE* type) {
    if (VIDEOINFOHEADER* info = VideoInfoOf(type)) return &info->bmiHeader;
    if (VIDEOINFOHEADER2* info = VideoInfo2Of(type)) return &info->bmiHeader;
    return nullptr;
}

REFERENCE_TIME* FrameTimeOf(AM_MEDIA_TYPE* type) {
    if (VIDEOINFOHEADER* info = VideoInfoOf(type)) return &info->AvgTimePerFrame;
    if (VIDEOINFOHEADER2* info = VideoInfo2Of(type)) return &info->AvgTimePerFrame;
    return nullptr;
}

}  // namespace

VIDEOINFOHEADER* VORKScopedMediaType::VideoInfo() { return VideoInfoOf(&type_); }
const BITMAPINFOHEADER* VORKScopedMediaType::BitmapHeader() { return BitmapHeaderOf(&type_); }
REFERENCE_TIME* VORKScopedMediaType::FrameTime() { return FrameTimeOf(&type_); }

VORKTaskMediaType::~VORKTaskMediaType() {
    if (!type_) return;
    VORKFreeMediaTypeContents(*type_);
    CoTaskMemFree(type_);
}

VIDEOINFOHEADER* VORKTaskMediaType::VideoInfo() { return VideoInfoOf(type_); }
const BITMAPINFOHEADER* VORKTaskMediaType::BitmapHeader() { return BitmapHeaderOf(type_); }
REFERENCE_TIME* VORKTaskMediaType::FrameTime() { return FrameTimeOf(type_); }
