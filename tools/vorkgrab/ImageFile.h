// Images as a person sees them, and the files they are saved in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VORKGrabberBase.h"

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // top row first, red-green-blue per pixel
};

// How a delivered image lies in its buffer.
struct DeliveredLayout {
    int width = 0;
    int height = 0;
    VORKColorMode mode = VORKColorModeRGB24;  // the pixel format delivered
    int bytesPerPixel = 3;
    size_t stride = 0;             // bytes from one row to the next; 0: width * bytesPerPixel
    bool topRowFirst = true;       // false: the bottom row comes first, as DirectShow delivers RGB
    bool columnsMirrored = false;  // true: each row runs right to left
};

// Bytes per row of a bitmap: rows are padded to a multiple of 4 bytes.
size_t DibStride(int width, int bytesPerPixel);

// Converts a delivered image of 8, 16, 24 or 32 bits per pixel; false when the
// layout is not one or the buffer is smaller than it says.
bool ToViewable(const uint8_t* data, size_t size, const DeliveredLayout& layout, RgbImage& image);

enum class ImageKind { Png, Bmp, Ppm, Jpeg };

// The kind an output file name asks for by its extension.
bool KindOfPath(const std::wstring& path, ImageKind& kind);

// JPEG quality from 1 to 100.
constexpr int kDefaultJpegQuality = 90;
std::vector<uint8_t> Encode(const RgbImage& image, ImageKind kind, int jpegQuality = kDefaultJpegQuality);

// Pictures larger than this many pixels a side are not made.
constexpr int kMaxImageSide = 16384;
