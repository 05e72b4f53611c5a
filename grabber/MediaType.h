// Ownership of DirectShow media type records. A record's format block is task
// memory and its pUnk a counted reference; these helpers are the only places that
// free them.
#pragma once

#include "vorkplatform.h"

// Frees the format block and the format object of a record, leaving it empty.
void VORKFreeMediaTypeContents(AM_MEDIA_TYPE& type);

// A record allocated with new: the grabber's own media type.
AM_MEDIA_TYPE* VORKNewMediaType();
AM_MEDIA_TYPE* VORKCopyMediaType(const AM_MEDIA_TYPE* source);
void VORKDeleteMediaType(AM_MEDIA_TYPE* type);

// A record whose contents were filled by DirectShow (GetConnectedMediaType and
// the like), freed when the scope ends.
class VORKScopedMediaType {
public:
    VORKScopedMediaType();
    ~VORKScopedMediaType();
    VORKScopedMediaType(const VORKScopedMediaType&) = delete;
    VORKScopedMediaType& operator=(const VORKScopedMediaType&) = delete;

    AM_MEDIA_TYPE* operator&() { return &type_; }
    AM_MEDIA_TYPE* operator->() { return &type_; }
    AM_MEDIA_TYPE& get() { return type_; }
    // The format block when it is a VIDEOINFOHEADER (FORMAT_VideoInfo), else null.
    VIDEOINFOHEADER* VideoInfo();
    // The bitmap header of a VIDEOINFOHEADER or VIDEOINFOHEADER2 block, else null.
    const BITMAPINFOHEADER* BitmapHeader();
    // AvgTimePerFrame of either block (the same place in both), else null.
    REFERENCE_TIME* FrameTime();

private:
    AM_MEDIA_TYPE type_;
};

// A whole record returned by DirectShow in task memory (IAMStreamConfig::GetFormat).
class VORKTaskMediaType {
public:
    VORKTaskMediaType() = default;
    ~VORKTaskMediaType();
    VORKTaskMediaType(const VORKTaskMediaType&) = delete;
    VORKTaskMediaType& operator=(const VORKTaskMediaType&) = delete;

    AM_MEDIA_TYPE** operator&() { return &type_; }
    AM_MEDIA_TYPE* operator->() { return type_; }
    AM_MEDIA_TYPE* get() { return type_; }
    VIDEOINFOHEADER* VideoInfo();
    const BITMAPINFOHEADER* BitmapHeader();
    REFERENCE_TIME* FrameTime();
private:
    AM_MEDIA_TYPE* type_ = nullptr;
};
