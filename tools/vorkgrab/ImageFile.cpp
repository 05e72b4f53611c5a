#include "ImageFile.h"

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
void Put32BigEndian(std::vector<uint8_t>& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32BigEndian(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32BigEndian(out, Crc32(out.data() + start, out.size() - start));
}

// PNG with its image data in stored (uncompressed) deflate blocks: every viewer
// reads it, and no compression library is needed.
std::vector<uint8_t> EncodePng(const RgbImage& image) {
    std::vector<uint8_t> raw;
    const size_t row = static_cast<size_t>(image.width) * 3;
    raw.reserve((row + 1) * static_cast<size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);  // no filter
        const uint8_t* src = image.rgb.data() + row * static_cast<size_t>(y);
        raw.insert(raw.end(), src, src + row);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t offset = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - offset);
        z.push_back(offset + n == raw.size() ? 1 : 0);
        Put16(z, static_cast<unsigned>(n));
        Put16(z, static_cast<unsigned>(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                 raw.begin() + static_cast<std::ptrdiff_t>(offset + n));
        offset += n;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    Put32BigEndian(z, (b << 16) | a);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32BigEndian(header, static_cast<uint32_t>(image.width));
    Put32BigEndian(header, static_cast<uint32_t>(image.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    PngChunk(out, "IHDR", header);
    PngChunk(out, "IDAT", z);
    PngChunk(out, "IEND", {});
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

bool KindOfPath(const std::wstring& path, ImageKind& kind) {
    if (path.size() < 4) return false;
    std::wstring ext = path.substr(path.size() - 4);
    for (auto& c : ext) c = static_cast<wchar_t>(towlower(c));
    if (ext == L".png") kind = ImageKind::Png;
    else if (ext == L".bmp") kind = ImageKind::Bmp;
    else if (ext == L".ppm") kind = ImageKind::Ppm;
    else return false;
    return true;
}

std::vector<uint8_t> Encode(const RgbImage& image, ImageKind kind) {
    switch (kind) {
    case ImageKind::Png: return EncodePng(image);
    case ImageKind::Bmp: return EncodeBmp(image);
    default: return EncodePpm(image);
    }
}
