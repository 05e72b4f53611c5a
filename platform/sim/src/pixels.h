// Pictures and the frames of the simulated cameras and filters: packing a
// picture into a frame of a subtype (the RGB formats bottom up, YUY2 with the
// BT.601 conversion, MJPG as a real JPEG bitstream) and reading one back.
#pragma once

#include <vector>

#include <dshow.h>

#include "vork/frameformat.h"

namespace vorksim {

// A picture as a person sees it: top row first, red, green and blue per pixel.
struct RgbPicture {
    LONG width = 0;
    LONG height = 0;
    std::vector<BYTE> rgb;

    void Resize(LONG w, LONG h) {
        width = w;
        height = h;
        rgb.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 3, 0);
    }
    BYTE* At(LONG x, LONG y) { return rgb.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3; }
    const BYTE* At(LONG x, LONG y) const {
        return rgb.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
    }
};

bool IsCompressedSubtype(const GUID& subtype);

using vork::PutRgbPixel;

// Writes the picture as a frame of the subtype; false for a subtype it cannot.
// An RGB frame's rows run bottom-up unless `topDown`.
bool PackFrame(const RgbPicture& picture, const GUID& subtype, std::vector<BYTE>& frame, bool topDown = false);

// Reads a frame of the subtype at the size back into a picture; false when the
// data is too short or not a frame of that kind.
bool UnpackFrame(const BYTE* data, size_t size, const GUID& subtype, LONG width, LONG height, RgbPicture& picture,
                 bool topDown = false);

// JPEG quality of the simulated MJPG cameras.
constexpr int kMjpegQuality = 90;

}  // namespace vorksim
