// Frames of the test pattern in the RGB formats: the pattern is packed into a
// frame once per size and picture settings, and each frame is its copy with the
// counter's blocks stamped in.
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
    size_t FrameBytes() const { return packed_.size(); }
    // False when the buffer cannot hold a frame. The picture shows the proc-amp's
    // settings; a change of them packs the pattern anew.
    bool Paint(uint32_t counter, const vork::PictureSettings& settings, BYTE* frame, size_t size);

private:
    void Pack(const vork::PictureSettings& settings);
    BYTE* Row(BYTE* frame, LONG y) const;

    GUID subtype_;
    LONG width_;
    LONG height_;
    bool bottomUp_;
    DWORD stride_;
    vork::PictureSettings settings_;
    std::vector<BYTE> packed_;
};

// The settings scaled towards black: 0 black, 1 the settings themselves,
// as a camera's first frames after a start rise to the full picture.
vork::PictureSettings Dimmed(const vork::PictureSettings& settings, double level);

}  // namespace vcam
