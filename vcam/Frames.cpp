#include "Frames.h"

#include <cstdlib>
#include <cstring>

#include "MediaTypes.h"
#include "vork/testpattern.h"

namespace vcam {

FramePainter::FramePainter(const GUID& subtype, LONG width, LONG height)
    : subtype_(subtype),
      width_(width),
      height_(std::abs(height)),
      bottomUp_(height > 0),
      stride_(StrideOf(subtype, width)),
      frameBytes_(static_cast<size_t>(stride_) * static_cast<size_t>(height_)) {
    vork::PaintPattern(width_, height_, pattern_);
}

bool FramePainter::Paint(uint32_t counter, const vork::PictureSettings& settings, BYTE* frame, size_t size) {
    if (size < frameBytes_ || pattern_.empty()) return false;
    if (settings != settings_) {
        vork::PaintPattern(width_, height_, pattern_);
        settings.Apply(pattern_);
        settings_ = settings;
    }
    stamped_ = pattern_;
    vork::StampCounter(stamped_.data(), width_, height_, counter);
    const WORD bits = BitCountOf(subtype_);
    const bool is565 = IsEqualGUID(subtype_, MEDIASUBTYPE_RGB565) != 0;
    for (LONG y = 0; y < height_; ++y) {
        BYTE* row = frame + static_cast<size_t>(bottomUp_ ? height_ - 1 - y : y) * stride_;
        const uint8_t* p = stamped_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_) * 3;
        std::memset(row, 0, stride_);
        for (LONG x = 0; x < width_; ++x, p += 3) {
            const BYTE r = p[0], g = p[1], b = p[2];
            if (bits == 24 || bits == 32) {
                BYTE* q = row + static_cast<size_t>(x) * (bits / 8);
                q[0] = b;
                q[1] = g;
                q[2] = r;
            } else if (bits == 16) {
                const auto v = static_cast<uint16_t>(is565 ? ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                                                           : ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                std::memcpy(row + static_cast<size_t>(x) * 2, &v, 2);
            } else {
                row[x] = static_cast<BYTE>((r * 77 + g * 150 + b * 29) >> 8);
            }
        }
    }
    return true;
}

}  // namespace vcam
