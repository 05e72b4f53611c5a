#include "vork/testpattern.h"

#include <algorithm>

namespace vork {

void PatternColor(int32_t x, int32_t y, int32_t width, int32_t height, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int32_t marker = std::max<int32_t>(1, std::min(width, height) / 8);
    if (x < marker && y < marker) {  // orientation marker: white, top left
        r = g = b = 255;
        return;
    }
    if (y < height / 2 || height < 2) {
        // Colour bars, darkening towards the middle; none of them white.
        static const uint8_t kBars[7][3] = {{0, 0, 230}, {230, 0, 0}, {230, 0, 230}, {0, 230, 0},
                                             {0, 230, 230}, {230, 230, 0}, {128, 128, 128}};
        const int32_t bar = std::min<int32_t>(6, static_cast<int32_t>(int64_t{x} * 7 / std::max<int32_t>(1, width)));
        const double shade = 1.0 - 0.5 * y / std::max<int32_t>(1, height / 2);
        r = static_cast<uint8_t>(kBars[bar][0] * shade);
        g = static_cast<uint8_t>(kBars[bar][1] * shade);
        b = static_cast<uint8_t>(kBars[bar][2] * shade);
        return;
    }
    // Bottom half: a grey ramp from left to right with a checker, never white.
    const auto ramp = static_cast<uint8_t>(20 + int64_t{140} * x / std::max<int32_t>(1, width));
    const bool check = ((x / 16) + (y / 16)) % 2 == 0;
    r = g = b = static_cast<uint8_t>(check ? ramp : ramp / 2);
}

CounterLayout::CounterLayout(int32_t width, int32_t height) {
    block = std::min(width / 40, height / 40);
    if (block < 1) return;
    x0 = (width - 32 * block) / 2;
    y0 = height / 2 - block / 2;
}

void PaintPattern(int32_t width, int32_t height, std::vector<uint8_t>& rgb) {
    rgb.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    uint8_t* p = rgb.data();
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x, p += 3) PatternColor(x, y, width, height, p[0], p[1], p[2]);
}

void StampCounter(uint8_t* rgb, int32_t width, int32_t height, uint32_t counter) {
    ForEachCounterPixel(width, height, counter, [&](int32_t x, int32_t y, uint8_t level) {
        uint8_t* p = rgb + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
        p[0] = p[1] = p[2] = level;
    });
}

long ReadCounter(int32_t width, int32_t height, const std::function<bool(int32_t, int32_t)>& bright) {
    const CounterLayout layout(width, height);
    if (!layout.Fits()) return -1;
    uint32_t value = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const int32_t x = layout.x0 + bit * layout.block + layout.block / 2;
        value = (value << 1) | (bright(x, layout.y0 + layout.block / 2) ? 1u : 0u);
    }
    return static_cast<long>(value);
}

}  // namespace vork
