#include "Mirror.h"

#include <cstring>
#include <memory>

#include <tmmintrin.h>

namespace {

// ---- Plain row reversal: any pixel size ---------------------------------------------

void ReverseRowBytewise(BYTE* row, size_t width, size_t bpp, BYTE* scratch) {
    if (width < 2) return;
    BYTE* left = row;
    BYTE* right = row + (width - 1) * bpp;
    while (left < right) {
        for (size_t b = 0; b < bpp; ++b) {
            scratch[b] = left[b];
            left[b] = right[b];
            right[b] = scratch[b];
        }
        left += bpp;
        right -= bpp;
    }
}

// Whole-pixel moves for the common sizes.
template <size_t BPP>
void ReverseRowPixels(BYTE* row, size_t width) {
    if (width < 2) return;
    BYTE* left = row;
    BYTE* right = row + (width - 1) * BPP;
    BYTE pixel[BPP];
    while (left < right) {
        std::memcpy(pixel, left, BPP);
        std::memcpy(left, right, BPP);
        std::memcpy(right, pixel, BPP);
        left += BPP;
        right -= BPP;
    }
}

// ---- SSSE3: 16 pixels at a time from both ends --------------------------------------
//
// A block of 16 pixels is BPP 16-byte registers. Reversing the block's pixel
// order takes, for output register o, the bytes of input register i through the
// shuffle mask kMasks[BPP][o][i] (0x80 where a byte comes from another register).

struct ShuffleMasks {
    alignas(16) signed char mask[4][4][16];
    bool used[4][4];
};

constexpr ShuffleMasks MakeMasks(int bpp) {
    ShuffleMasks m{};
    for (int o = 0; o < bpp; ++o) {
        for (int i = 0; i < bpp; ++i) {
            m.used[o][i] = false;
            for (int lane = 0; lane < 16; ++lane) {
                const int k = o * 16 + lane;  // output byte in the block
                const int pixel = k / bpp;
                const int channel = k % bpp;
                const int source = (15 - pixel) * bpp + channel;
                const bool here = source / 16 == i;
                m.mask[o][i][lane] = static_cast<signed char>(here ? source % 16 : 0x80);
                if (here) m.used[o][i] = true;
            }
        }
    }
    return m;
}

constexpr ShuffleMasks kMasks[5] = {ShuffleMasks{}, MakeMasks(1), MakeMasks(2), MakeMasks(3), MakeMasks(4)};

template <int BPP>
__attribute__((target("ssse3"))) inline void ReverseBlock(const __m128i (&in)[BPP], __m128i (&out)[BPP]) {
    const ShuffleMasks& m = kMasks[BPP];
    for (int o = 0; o < BPP; ++o) {
        __m128i acc = _mm_setzero_si128();
        for (int i = 0; i < BPP; ++i) {
            if (!m.used[o][i]) continue;
            const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(m.mask[o][i]));
            acc = _mm_or_si128(acc, _mm_shuffle_epi8(in[i], mask));
        }
        out[o] = acc;
    }
}

template <int BPP>
__attribute__((target("ssse3"))) void ReverseRowSsse3(BYTE* row, size_t width) {
    constexpr size_t kBlock = 16 * BPP;
    BYTE* left = row;
    BYTE* right = row + width * BPP;  // one past the last pixel
    while (static_cast<size_t>(right - left) >= 2 * kBlock) {
        __m128i l[BPP], r[BPP], rl[BPP], rr[BPP];
        for (int i = 0; i < BPP; ++i) {
            l[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 16 * i));
            r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right - kBlock + 16 * i));
        }
        ReverseBlock<BPP>(l, rl);
        ReverseBlock<BPP>(r, rr);
        for (int i = 0; i < BPP; ++i) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(left + 16 * i), rr[i]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(right - kBlock + 16 * i), rl[i]);
        }
        left += kBlock;
        right -= kBlock;
    }
    // Fewer than 32 pixels are left in the middle.
    ReverseRowPixels<BPP>(left, static_cast<size_t>(right - left) / BPP);
}

bool HasSsse3() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

template <int BPP>
void MirrorRows(BYTE* image, size_t width, size_t height) {
    const size_t rowBytes = width * BPP;
    const bool simd = HasSsse3();
    for (size_t y = 0; y < height; ++y) {
        BYTE* row = image + y * rowBytes;
        if (simd) ReverseRowSsse3<BPP>(row, width);
        else ReverseRowPixels<BPP>(row, width);
    }
}

}  // namespace

BYTE* MirrorImageVertical(BYTE* image, unsigned width, unsigned height, unsigned bytesPerPixel) {
    if (!image) return nullptr;
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    if (height < 2 || rowBytes == 0) return image;
    std::unique_ptr<BYTE[]> scratch(new BYTE[rowBytes]);
    BYTE* top = image;
    BYTE* bottom = image + (static_cast<size_t>(height) - 1) * rowBytes;
    while (top < bottom) {
        std::memcpy(scratch.get(), top, rowBytes);
        std::memcpy(top, bottom, rowBytes);
        std::memcpy(bottom, scratch.get(), rowBytes);
        top += rowBytes;
        bottom -= rowBytes;
    }
    return image;
}

BYTE* MirrorImageHorizontal(BYTE* image, unsigned width, unsigned height, unsigned bytesPerPixel) {
    if (!image) return nullptr;
    if (height == 0 || width < 2 || bytesPerPixel == 0) return image;
    switch (bytesPerPixel) {
    case 1: MirrorRows<1>(image, width, height); break;
    case 2: MirrorRows<2>(image, width, height); break;
    case 3: MirrorRows<3>(image, width, height); break;
    case 4: MirrorRows<4>(image, width, height); break;
    default: {
        std::unique_ptr<BYTE[]> scratch(new BYTE[bytesPerPixel]);
        const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
        for (size_t y = 0; y < height; ++y) ReverseRowBytewise(image + y * rowBytes, width, bytesPerPixel, scratch.get());
    }
    }
    return image;
}

const char* VORKMirrorImplementation() { return HasSsse3() ? "ssse3" : "scalar"; }
