// Frames of the test pattern in the RGB formats: the pattern painted once per
// size, each frame its copy with the counter stamped, packed into the frame's
// row order and pixel layout.
#pragma once

#include <dshow.h>

#include <cstdint>
#include <vector>

#include "vork/cameradescription.h"

namespace vcam {

class FramePainter {
public:
    // A positive height is a bottom-up frame, as bitmaps are; negative, top-down.
    FramePainter(const GUID& subtype, LONG width, LONG height);
    size_t FrameBytes() const { return frameBytes_; }
    // False when the buffer cannot hold a frame. The picture shows the proc-amp's
    // settings; a change of them paints the pattern anew.
    bool Paint(uint32_t counter, const vork::PictureSettings& settings, BYTE* frame, size_t size);

private:
    GUID subtype_;
    LONG width_;
    LONG height_;
    bool bottomUp_;
    DWORD stride_;
    size_t frameBytes_;
    vork::PictureSettings settings_;
    std::vector<uint8_t> pattern_;
    std::vector<uint8_t> stamped_;
};

}  // namespace vcam
