#include "Frames.h"

#include <cstdlib>
#include <cstring>

#include "vork/frameformat.h"
#include "vork/testpattern.h"

namespace vcam {

FramePainter::FramePainter(const GUID& subtype, LONG width, LONG height)
    : subtype_(subtype),
      width_(width),
      height_(std::abs(height)),
      bottomUp_(height > 0),
      stride_(vork::StrideOf(subtype, width)) {
    Pack(settings_);
}

BYTE* FramePainter::Row(BYTE* frame, LONG y) const {
    return frame + static_cast<size_t>(bottomUp_ ? height_ - 1 - y : y) * stride_;
}

void FramePainter::Pack(const vork::PictureSettings& settings) {
    std::vector<uint8_t> picture;
    vork::PaintPattern(width_, height_, picture);
    settings.Apply(picture);
    packed_.assign(static_cast<size_t>(stride_) * static_cast<size_t>(height_), 0);
    const uint8_t* p = picture.data();
    for (LONG y = 0; y < height_; ++y) {
        BYTE* row = Row(packed_.data(), y);
        for (LONG x = 0; x < width_; ++x, p += 3) vork::PutRgbPixel(row, x, subtype_, p[0], p[1], p[2]);
    }
    settings_ = settings;
}

// Scales the whole output: k((p*gain - 128)*contrast + 128 + offset) is the
// same expression with contrast and offset scaled.
vork::PictureSettings Dimmed(const vork::PictureSettings& settings, double level) {
    vork::PictureSettings dimmed = settings;
    dimmed.contrast = settings.contrast * level;
    dimmed.offset = settings.offset * level + 128.0 * level - 128.0;
    return dimmed;
}

bool FramePainter::Paint(uint32_t counter, const vork::PictureSettings& settings, BYTE* frame, size_t size) {
    if (settings != settings_) Pack(settings);
    if (size < packed_.size() || packed_.empty()) return false;
    std::memcpy(frame, packed_.data(), packed_.size());
    vork::ForEachCounterPixel(width_, height_, counter, [&](LONG x, LONG y, BYTE level) {
        vork::PutRgbPixel(Row(frame, y), x, subtype_, level, level, level);
    });
    return true;
}

}  // namespace vcam
