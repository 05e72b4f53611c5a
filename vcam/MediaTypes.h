// Media types of the camera's formats, and an owner for AM_MEDIA_TYPE's task
// memory, which DirectShow callers free with CoTaskMemFree.
#pragma once

#include <dshow.h>

#include "vork/cameradescription.h"
#include "vork/frameformat.h"

namespace vcam {

class MediaType {
public:
    MediaType() = default;
    explicit MediaType(const AM_MEDIA_TYPE& type) { Assign(type); }
    MediaType(const MediaType& other) { Assign(other.type_); }
    MediaType& operator=(const MediaType& other);
    ~MediaType() { Clear(); }

    void Assign(const AM_MEDIA_TYPE& type);
    void Clear();
    const AM_MEDIA_TYPE& get() const { return type_; }
    const VIDEOINFOHEADER* VideoInfo() const;
    bool Empty() const { return IsEqualGUID(type_.majortype, GUID_NULL) != 0; }
    // A copy in task memory for a caller to free (DeleteMediaType's contract).
    AM_MEDIA_TYPE* TaskCopy() const;

private:
    AM_MEDIA_TYPE type_{};
};

// Copies `from` into `to`, the format block in task memory.
HRESULT CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from);
void FreeMediaTypeBlock(AM_MEDIA_TYPE& type);

// The subtypes this camera paints: the RGB ones.
inline bool CanPaint(const GUID& subtype) { return vork::IsRgbSubtype(subtype); }

// The type of a format, as vork::VideoMediaType describes it.
MediaType TypeOf(const vork::VideoFormat& format);

// Whether a type asks for this format: its size (either row order), subtype and
// a frame interval the format can keep (0 meaning the format's own).
bool Asks(const AM_MEDIA_TYPE& type, const vork::VideoFormat& format);

}  // namespace vcam
