#include "pixels.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

namespace vorksim {
namespace {

BYTE Clip(int v) { return static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v); }

// BT.601, limited range, in the integer form video converters use.
void RgbToYuv(int r, int g, int b, int& y, int& u, int& v) {
    y = ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16;
    u = ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128;
    v = ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128;
}

void YuvToRgb(int y, int u, int v, BYTE* rgb) {
    const int c = y - 16, d = u - 128, e = v - 128;
    rgb[0] = Clip((298 * c + 409 * e + 128) >> 8);
    rgb[1] = Clip((298 * c - 100 * d - 208 * e + 128) >> 8);
    rgb[2] = Clip((298 * c + 516 * d + 128) >> 8);
}

// One handle per thread for each direction: turbojpeg handles are not shared.
struct JpegHandles {
    tjhandle compress = tjInitCompress();
    tjhandle decompress = tjInitDecompress();
    ~JpegHandles() {
        if (compress) tjDestroy(compress);
        if (decompress) tjDestroy(decompress);
    }
};

JpegHandles& Jpeg() {
    thread_local JpegHandles handles;
    return handles;
}

bool PackJpeg(const RgbPicture& picture, std::vector<BYTE>& frame) {
    tjhandle handle = Jpeg().compress;
    if (!handle) return false;
    unsigned long size = tjBufSize(picture.width, picture.height, TJSAMP_422);
    frame.resize(size);
    unsigned char* out = frame.data();
    // TJFLAG_NOREALLOC: the frame's own buffer, sized for the worst case.
    if (tjCompress2(handle, picture.rgb.data(), picture.width, 0, picture.height, TJPF_RGB, &out, &size, TJSAMP_422,
                    kMjpegQuality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0)
        return false;
    frame.resize(size);
    return true;
}

bool UnpackJpeg(const BYTE* data, size_t size, LONG width, LONG height, RgbPicture& picture) {
    tjhandle handle = Jpeg().decompress;
    if (!handle) return false;
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    auto* jpeg = const_cast<unsigned char*>(data);
    if (tjDecompressHeader3(handle, jpeg, static_cast<unsigned long>(size), &w, &h, &subsampling, &colorspace) != 0)
        return false;
    if (w != width || h != height) return false;
    picture.Resize(width, height);
    return tjDecompress2(handle, jpeg, static_cast<unsigned long>(size), picture.rgb.data(), width, 0, height, TJPF_RGB,
                         TJFLAG_FASTDCT) == 0;
}

}  // namespace

bool IsCompressedSubtype(const GUID& subtype) { return IsEqualGUID(subtype, MEDIASUBTYPE_MJPG); }

namespace {

// NV12: the luma plane top down, then one row of interleaved U and V per two rows.
void PackNv12(const RgbPicture& picture, std::vector<BYTE>& frame) {
    const LONG w = picture.width, h = picture.height;
    const DWORD stride = vork::StrideOf(MEDIASUBTYPE_NV12, w);
    frame.assign(vork::ImageSizeOf(MEDIASUBTYPE_NV12, w, h), 0);
    BYTE* chroma = frame.data() + static_cast<size_t>(stride) * static_cast<size_t>(h);
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 0; x < w; ++x) {
            const BYTE* p = picture.At(x, y);
            int yy, u, v;
            RgbToYuv(p[0], p[1], p[2], yy, u, v);
            frame[static_cast<size_t>(y) * stride + x] = Clip(yy);
            if (y % 2 || x % 2) continue;
            BYTE* q = chroma + static_cast<size_t>(y / 2) * stride + x;
            q[0] = Clip(u);
            q[1] = Clip(v);
        }
    }
}

bool UnpackNv12(const BYTE* data, size_t size, LONG w, LONG h, RgbPicture& picture) {
    const DWORD stride = vork::StrideOf(MEDIASUBTYPE_NV12, w);
    if (size < vork::ImageSizeOf(MEDIASUBTYPE_NV12, w, h)) return false;
    picture.Resize(w, h);
    const BYTE* chroma = data + static_cast<size_t>(stride) * static_cast<size_t>(h);
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 0; x < w; ++x) {
            const BYTE* q = chroma + static_cast<size_t>(y / 2) * stride + (x & ~1L);
            YuvToRgb(data[static_cast<size_t>(y) * stride + x], q[0], q[1], picture.At(x, y));
        }
    }
    return true;
}

}  // namespace

bool PackFrame(const RgbPicture& picture, const GUID& s, std::vector<BYTE>& frame, bool topDown) {
    if (IsCompressedSubtype(s)) return PackJpeg(picture, frame);
    if (s == MEDIASUBTYPE_NV12) {
        PackNv12(picture, frame);
        return true;
    }
    const LONG w = picture.width, h = picture.height;
    const DWORD stride = vork::StrideOf(s, w);
    frame.assign(static_cast<size_t>(stride) * static_cast<size_t>(h), 0);
    for (LONG y = 0; y < h; ++y) {
        // Bitmaps run bottom up unless told; YUY2 top down.
        const bool bottomUp = !(s == MEDIASUBTYPE_YUY2) && !topDown;
        BYTE* row = frame.data() + static_cast<size_t>(bottomUp ? h - 1 - y : y) * stride;
        const BYTE* in = picture.At(0, y);
        if (s == MEDIASUBTYPE_YUY2) {
            for (LONG x = 0; x < w; x += 2) {
                const BYTE* p0 = in + x * 3;
                const BYTE* p1 = x + 1 < w ? p0 + 3 : p0;
                int y0, u0, v0, y1, u1, v1;
                RgbToYuv(p0[0], p0[1], p0[2], y0, u0, v0);
                RgbToYuv(p1[0], p1[1], p1[2], y1, u1, v1);
                BYTE* q = row + (x / 2) * 4;
                q[0] = Clip(y0);
                q[1] = Clip((u0 + u1 + 1) / 2);
                q[2] = Clip(y1);
                q[3] = Clip((v0 + v1 + 1) / 2);
            }
            continue;
        }
        for (LONG x = 0; x < w; ++x)
            if (!PutRgbPixel(row, x, s, in[x * 3], in[x * 3 + 1], in[x * 3 + 2])) return false;
    }
    return true;
}

bool UnpackFrame(const BYTE* data, size_t size, const GUID& s, LONG width, LONG height, RgbPicture& picture,
                 bool topDown) {
    if (!data || width <= 0 || height <= 0) return false;
    if (IsCompressedSubtype(s)) return UnpackJpeg(data, size, width, height, picture);
    if (s == MEDIASUBTYPE_NV12) return UnpackNv12(data, size, width, height, picture);
    const DWORD stride = vork::StrideOf(s, width);
    if (size < static_cast<size_t>(stride) * static_cast<size_t>(height)) return false;
    picture.Resize(width, height);
    auto expand5 = [](unsigned v) { return static_cast<BYTE>((v << 3) | (v >> 2)); };
    auto expand6 = [](unsigned v) { return static_cast<BYTE>((v << 2) | (v >> 4)); };
    for (LONG y = 0; y < height; ++y) {
        const bool bottomUp = !(s == MEDIASUBTYPE_YUY2) && !topDown;
        const BYTE* row = data + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride;
        BYTE* out = picture.At(0, y);
        if (s == MEDIASUBTYPE_YUY2) {
            for (LONG x = 0; x < width; x += 2) {
                const BYTE* q = row + (x / 2) * 4;
                YuvToRgb(q[0], q[1], q[3], out + x * 3);
                if (x + 1 < width) YuvToRgb(q[2], q[1], q[3], out + (x + 1) * 3);
            }
            continue;
        }
        for (LONG x = 0; x < width; ++x) {
            BYTE* p = out + x * 3;
            if (s == MEDIASUBTYPE_RGB24 || s == MEDIASUBTYPE_RGB32) {
                const BYTE* q = row + x * (s == MEDIASUBTYPE_RGB24 ? 3 : 4);
                p[0] = q[2];
                p[1] = q[1];
                p[2] = q[0];
            } else if (s == MEDIASUBTYPE_RGB565 || s == MEDIASUBTYPE_RGB555) {
                uint16_t v;
                std::memcpy(&v, row + x * 2, 2);
                const bool six = s == MEDIASUBTYPE_RGB565;
                p[0] = expand5(six ? (v >> 11) & 31 : (v >> 10) & 31);
                p[1] = six ? expand6((v >> 5) & 63) : expand5((v >> 5) & 31);
                p[2] = expand5(v & 31);
            } else if (s == MEDIASUBTYPE_RGB8) {
                p[0] = p[1] = p[2] = row[x];
            } else {
                return false;
            }
        }
    }
    return true;
}

}  // namespace vorksim
