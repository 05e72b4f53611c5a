// Frames of a video format as DirectShow describes them: bits per pixel, row
// strides, the VIDEOINFOHEADER media type, and RGB pixels written into rows.
// The simulated cameras and vorkvcam describe and paint their frames with these.
#pragma once

#include <vector>

#include <dshow.h>

#include "vork/cameradescription.h"

namespace vork {

// RGB8, RGB555, RGB565, RGB24 and RGB32: bitmaps, their rows bottom up.
bool IsRgbSubtype(const GUID& subtype);
// Bits per pixel of a frame; 24 for MJPG, whose size is that of its picture.
WORD BitCountOf(const GUID& subtype);
// Bytes per row of an uncompressed frame: rows are padded to 4 bytes. NV12's
// is that of its luma plane.
DWORD StrideOf(const GUID& subtype, LONG width);
// Bytes of a whole frame; NV12's chroma plane adds half its luma plane.
DWORD ImageSizeOf(const GUID& subtype, LONG width, LONG height);

// The media type of a format: VIDEOINFOHEADER with bottom-up rows, RGB8's grey
// palette or RGB565's masks after it. Its format block is `block`, which must
// outlive the type; the caller copies both into a type of its own.
// A format whose rate is unreported says AvgTimePerFrame 0.
AM_MEDIA_TYPE VideoMediaType(const VideoFormat& format, std::vector<BYTE>& block);
// The same as FORMAT_VideoInfo2 with a VIDEOINFOHEADER2 block.
AM_MEDIA_TYPE VideoMediaType2(const VideoFormat& format, std::vector<BYTE>& block);

// The bitmap header and frame interval of a video type by its format type
// (VIDEOINFOHEADER or VIDEOINFOHEADER2); nullptr and 0 for anything else.
const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& type);
REFERENCE_TIME FrameIntervalOf(const AM_MEDIA_TYPE& type);

// Writes one pixel into a row of an RGB frame (RGB8 as grey); false for a
// subtype that is not RGB.
bool PutRgbPixel(BYTE* row, LONG x, const GUID& subtype, BYTE r, BYTE g, BYTE b);

}  // namespace vork
