// Media types of the camera's formats, and an owner for AM_MEDIA_TYPE's task
// memory, which DirectShow callers free with CoTaskMemFree.
#pragma once

#include <dshow.h>
#include <dvdmedia.h>

#include <vector>

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

// The parts of VIDEOINFOHEADER and VIDEOINFOHEADER2 that a video type's
// users read: both are null for a type of neither format.
struct VideoHeader {
    REFERENCE_TIME* interval = nullptr;
    BITMAPINFOHEADER* bitmap = nullptr;
};
VideoHeader HeaderOf(const AM_MEDIA_TYPE& type);
bool IsVideoInfo2(const AM_MEDIA_TYPE& type);

// The frame interval of a rate, as capture filters round it.
inline REFERENCE_TIME IntervalOf(double fps) { return static_cast<REFERENCE_TIME>(10000000.0 / fps); }
// The rates a format keeps: its list, or its one rate.
std::vector<double> RatesOf(const vork::VideoFormat& format);

// The type of a format, as vork::VideoMediaType describes it, in a
// VIDEOINFOHEADER2 block when `info2`. A camera that does not report its rate
// says AvgTimePerFrame 0.
MediaType TypeOf(const vork::VideoFormat& format, bool info2 = false);

// Whether a type asks for this format: its size (either row order), subtype and
// a frame interval the format keeps (0 meaning the format's own). A format with
// a list of rates keeps those only; with one rate, any slower one too.
// VIDEOINFOHEADER2 only of a camera that offers it.
bool Asks(const AM_MEDIA_TYPE& type, const vork::VideoFormat& format, bool info2Offered);

}  // namespace vcam
