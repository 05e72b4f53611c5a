// The picture every virtual camera shows: a white marker at the top left, colour
// bars above, a grey ramp with a checker below, and the frame number in 32
// black and white blocks across the middle. A picture that comes back with the
// marker anywhere else was turned or flipped on the way.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vork {

// Colour of a pixel (x from the left, y from the top) before the counter is stamped.
void PatternColor(int32_t x, int32_t y, int32_t width, int32_t height, uint8_t& r, uint8_t& g, uint8_t& b);

// Where the counter's blocks are: one per bit, most significant first.
struct CounterLayout {
    int32_t block = 0;
    int32_t x0 = 0;
    int32_t y0 = 0;
    CounterLayout(int32_t width, int32_t height);
    bool Fits() const { return block >= 1; }
};

// Calls put(x, y, level) for every pixel of the counter's blocks, level 255
// for a 1 bit and 0 for a 0; nothing when the picture is too small for them.
template <class Put>
void ForEachCounterPixel(int32_t width, int32_t height, uint32_t counter, Put put) {
    const CounterLayout layout(width, height);
    for (int bit = 0; layout.Fits() && bit < 32; ++bit) {
        const uint8_t level = (counter >> (31 - bit)) & 1 ? 255 : 0;
        for (int32_t dy = 0; dy < layout.block; ++dy)
            for (int32_t dx = 0; dx < layout.block; ++dx) put(layout.x0 + bit * layout.block + dx, layout.y0 + dy, level);
    }
}

// The whole pattern, top row first, red, green and blue per pixel.
void PaintPattern(int32_t width, int32_t height, std::vector<uint8_t>& rgb);
// Stamps the counter into such a picture; nothing when it is too small for the blocks.
void StampCounter(uint8_t* rgb, int32_t width, int32_t height, uint32_t counter);
// Reads the counter back through `bright(x, y)`; -1 when the picture is too
// small to carry one.
long ReadCounter(int32_t width, int32_t height, const std::function<bool(int32_t, int32_t)>& bright);

}  // namespace vork
