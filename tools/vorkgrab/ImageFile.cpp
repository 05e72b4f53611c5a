#include "ImageFile.h"

#include "stb_image_write.h"

#include <algorithm>
#include <array>
#include <cwctype>

namespace {

uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
uint8_t Expand6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

void PixelToRgb(const uint8_t* p, VORKColorMode mode, uint8_t* out) {
    switch (mode) {
    case VORKColorModeRGB8:  // the simulated and most real 8-bit formats are grey
        out[0] = out[1] = out[2] = p[0];
        break;
    case VORKColorModeRGB24:
    case VORKColorModeRGB32:  // blue, green, red (and an unused byte)
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
        break;
    case VORKColorModeRGB555: {
        const unsigned v = p[0] | (p[1] << 8);
        out[0] = Expand5((v >> 10) & 31);
        out[1] = Expand5((v >> 5) & 31);
        out[2] = Expand5(v & 31);
        break;
    }
    case VORKColorModeRGB565: {
        const unsigned v = p[0] | (p[1] << 8);
        out[0] = Expand5((v >> 11) & 31);
        out[1] = Expand6((v >> 5) & 63);
        out[2] = Expand5(v & 31);
        break;
    }
    default:
        out[0] = out[1] = out[2] = 0;
    }
}

int BytesPerPixelOf(VORKColorMode mode) {
    switch (mode) {
    case VORKColorModeRGB8: return 1;
    case VORKColorModeRGB555:
    case VORKColorModeRGB565: return 2;
    case VORKColorModeRGB24: return 3;
    case VORKColorModeRGB32: return 4;
    default: return 0;
    }
}

void Put16(std::vector<uint8_t>& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}



void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

// PNG with deflate compression and per-row filters.
std::vector<uint8_t> EncodePng(const RgbImage& image) {
    std::vector<uint8_t> out;
    stbi_write_png_to_func(&AppendBytes, &out, image.width, image.height, 3, image.rgb.data(), image.width * 3);
    return out;
}

std::vector<uint8_t> EncodeJpeg(const RgbImage& image, int quality) {
    std::vector<uint8_t> out;
    stbi_write_jpg_to_func(&AppendBytes, &out, image.width, image.height, 3, image.rgb.data(), quality);
    return out;
}

// A 24-bit BMP: rows bottom up, blue-green-red, each padded to 4 bytes.
std::vector<uint8_t> EncodeBmp(const RgbImage& image) {
    const size_t stride = (static_cast<size_t>(image.width) * 3 + 3) & ~static_cast<size_t>(3);
    const uint32_t pixels = static_cast<uint32_t>(stride * static_cast<size_t>(image.height));
    std::vector<uint8_t> out = {'B', 'M'};
    Put32(out, 54 + pixels);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(image.width));
    Put32(out, static_cast<uint32_t>(image.height));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, pixels);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = image.height - 1; y >= 0; --y) {
        const uint8_t* src = image.rgb.data() + static_cast<size_t>(y) * image.width * 3;
        for (int x = 0; x < image.width; ++x) out.insert(out.end(), {src[3 * x + 2], src[3 * x + 1], src[3 * x]});
        out.resize(out.size() + stride - static_cast<size_t>(image.width) * 3, 0);
    }
    return out;
}

std::vector<uint8_t> EncodePpm(const RgbImage& image) {
    const std::string header = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    out.insert(out.end(), image.rgb.begin(), image.rgb.end());
    return out;
}

}  // namespace

size_t DibStride(int width, int bytesPerPixel) {
    return (static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel) + 3) & ~static_cast<size_t>(3);
}

bool ToViewable(const uint8_t* data, size_t size, const DeliveredLayout& layout, RgbImage& image) {
    if (!data || layout.width <= 0 || layout.height <= 0 || layout.width > kMaxImageSide ||
        layout.height > kMaxImageSide || layout.bytesPerPixel != BytesPerPixelOf(layout.mode))
        return false;
    const size_t row = static_cast<size_t>(layout.width) * static_cast<size_t>(layout.bytesPerPixel);
    const size_t stride = layout.stride ? layout.stride : row;
    if (stride < row) return false;
    // The last row needs only its pixels, not its padding.
    if (stride * static_cast<size_t>(layout.height - 1) + row > size) return false;
    image.width = layout.width;
    image.height = layout.height;
    image.rgb.assign(static_cast<size_t>(layout.width) * static_cast<size_t>(layout.height) * 3, 0);
    for (int y = 0; y < layout.height; ++y) {
        const int sourceRow = layout.topRowFirst ? y : layout.height - 1 - y;
        const uint8_t* src = data + stride * static_cast<size_t>(sourceRow);
        uint8_t* dst = image.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(layout.width) * 3;
        for (int x = 0; x < layout.width; ++x) {
            const int sourceColumn = layout.columnsMirrored ? layout.width - 1 - x : x;
            PixelToRgb(src + static_cast<size_t>(sourceColumn) * static_cast<size_t>(layout.bytesPerPixel),
                       layout.mode, dst + 3 * static_cast<size_t>(x));
        }
    }
    return true;
}

namespace {
std::wstring ToLower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}
}  // namespace

bool KindOfPath(const std::wstring& path, ImageKind& kind) {
    if (path.size() < 4) return false;
    std::wstring ext = path.substr(path.size() - 4);
    for (auto& c : ext) c = static_cast<wchar_t>(towlower(c));
    if (ext == L".png") kind = ImageKind::Png;
    else if (ext == L".bmp") kind = ImageKind::Bmp;
    else if (ext == L".ppm") kind = ImageKind::Ppm;
    else if (ext == L".jpg" || (path.size() >= 5 && ToLower(path.substr(path.size() - 5)) == L".jpeg"))
        kind = ImageKind::Jpeg;
    else return false;
    return true;
}

std::vector<uint8_t> Encode(const RgbImage& image, ImageKind kind, int jpegQuality) {
    switch (kind) {
    case ImageKind::Png: return EncodePng(image);
    case ImageKind::Bmp: return EncodeBmp(image);
    case ImageKind::Jpeg: return EncodeJpeg(image, jpegQuality);
    default: return EncodePpm(image);
    }
}
