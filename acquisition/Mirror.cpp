#include "Mirror.h"

#include <atomic>
#include <cstring>
#include <string>
#include <memory>
#include <utility>

#include <immintrin.h>

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

// One output register: the bytes each input register contributes, combined.
// The selection is fixed at compile time, so only the shuffles that contribute
// are made.
template <int BPP, int O, int I>
__attribute__((target("ssse3"), always_inline)) inline __m128i Part(const __m128i* in, const __m128i (&masks)[4][4]) {
    if constexpr (kMasks[BPP].used[O][I])
        return _mm_shuffle_epi8(in[I], masks[O][I]);
    else
        return _mm_setzero_si128();
}

template <int BPP, int O, int... I>
__attribute__((target("ssse3"), always_inline)) inline __m128i Output(const __m128i* in, const __m128i (&masks)[4][4],
                                                                      std::integer_sequence<int, I...>) {
    return (Part<BPP, O, I>(in, masks) | ...);
}

template <int BPP, int... O>
__attribute__((target("ssse3"), always_inline)) inline void StoreReversed(BYTE* to, const __m128i* in,
                                                                          const __m128i (&masks)[4][4],
                                                                          std::integer_sequence<int, O...>) {
    (_mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * O),
                      Output<BPP, O>(in, masks, std::make_integer_sequence<int, BPP>())),
     ...);
}

template <int BPP>
__attribute__((target("ssse3"))) void ReverseRowSsse3(BYTE* row, size_t width) {
    constexpr size_t kBlock = 16 * BPP;
    BYTE* left = row;
    BYTE* right = row + width * BPP;  // one past the last pixel
    // The masks stay in registers for the whole row.
    __m128i masks[4][4];
    for (int o = 0; o < BPP; ++o)
        for (int i = 0; i < BPP; ++i)
            masks[o][i] = _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks[BPP].mask[o][i]));
    while (static_cast<size_t>(right - left) >= 2 * kBlock) {
        __m128i l[BPP], r[BPP];
        for (int i = 0; i < BPP; ++i) {
            l[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 16 * i));
            r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right - kBlock + 16 * i));
        }
        StoreReversed<BPP>(left, r, masks, std::make_integer_sequence<int, BPP>());
        StoreReversed<BPP>(right - kBlock, l, masks, std::make_integer_sequence<int, BPP>());
        left += kBlock;
        right -= kBlock;
    }
    // Fewer than 32 pixels are left in the middle.
    ReverseRowPixels<BPP>(left, static_cast<size_t>(right - left) / BPP);
}

// Three-byte pixels: registers are loaded and stored at whole pixels, five to a
// register (15 bytes), so that reversing a block of 15 pixels is one shuffle per
// register. Each 16-byte store also writes one byte that belongs to the next
// register's five pixels; the stores run in an order in which the next store
// rewrites that byte, and the next blocks' stores rewrite the bytes past these.
struct Pixel3Masks {
    // Left: pixels in lanes 0..14, taken from a register whose pixels are in lanes
    // 1..15. Right: the reverse placement.
    alignas(16) signed char left[16];
    alignas(16) signed char right[16];
};

constexpr Pixel3Masks MakePixel3Masks() {
    Pixel3Masks m{};
    m.left[15] = static_cast<signed char>(0x80);
    m.right[0] = static_cast<signed char>(0x80);
    for (int p = 0; p < 5; ++p) {
        for (int c = 0; c < 3; ++c) {
            m.left[3 * p + c] = static_cast<signed char>(1 + 3 * (4 - p) + c);
            m.right[1 + 3 * p + c] = static_cast<signed char>(3 * (4 - p) + c);
        }
    }
    return m;
}

constexpr Pixel3Masks kPixel3 = MakePixel3Masks();

// The six registers of one pair of blocks: the left block's pixels in lanes
// 0..14, the right block's (loaded one byte early) in lanes 1..15.
struct Pixel3Blocks {
    __m128i l[3];
    __m128i r[3];
};

// Plain helpers rather than lambdas: a lambda does not take its enclosing
// function's instruction set, which the 32-bit build does not assume.
__attribute__((target("ssse3"), always_inline)) inline __m128i Load16(const BYTE* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("ssse3"), always_inline)) inline void Store16(BYTE* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

__attribute__((target("ssse3"), always_inline)) inline Pixel3Blocks LoadBlocks(const BYTE* left, const BYTE* r) {
    return {{Load16(left), Load16(left + 15), Load16(left + 30)}, {Load16(r - 1), Load16(r + 14), Load16(r + 29)}};
}

template <>
__attribute__((target("ssse3"))) void ReverseRowSsse3<3>(BYTE* row, size_t width) {
    constexpr ptrdiff_t kBlock = 45;  // 15 pixels
    constexpr ptrdiff_t kMinimum = 2 * kBlock + 2;  // two blocks and the two bytes past them
    const __m128i toLeft = _mm_load_si128(reinterpret_cast<const __m128i*>(kPixel3.left));
    const __m128i toRight = _mm_load_si128(reinterpret_cast<const __m128i*>(kPixel3.right));
    BYTE* left = row;
    BYTE* right = row + width * 3;
    if (right - left >= kMinimum) {
        Pixel3Blocks current = LoadBlocks(left, right - kBlock);
        for (;;) {
            BYTE* r = right - kBlock;
            BYTE* nextLeft = left + kBlock;
            BYTE* nextRight = r;
            // The next blocks are loaded before this pair is stored, so no load
            // waits for the overlapping stores; past the last pair, the two
            // bytes the stores overwrite are kept instead.
            const bool more = nextRight - nextLeft >= kMinimum;
            Pixel3Blocks next{};
            BYTE pastLeft = 0;
            BYTE pastRight = 0;
            if (more) {
                next = LoadBlocks(nextLeft, nextRight - kBlock);
            } else {
                pastLeft = nextLeft[0];
                pastRight = nextRight[-1];
            }
            Store16(left, _mm_shuffle_epi8(current.r[2], toLeft));
            Store16(left + 15, _mm_shuffle_epi8(current.r[1], toLeft));
            Store16(left + 30, _mm_shuffle_epi8(current.r[0], toLeft));
            Store16(r + 29, _mm_shuffle_epi8(current.l[0], toRight));
            Store16(r + 14, _mm_shuffle_epi8(current.l[1], toRight));
            Store16(r - 1, _mm_shuffle_epi8(current.l[2], toRight));
            left = nextLeft;
            right = nextRight;
            if (!more) {
                left[0] = pastLeft;
                right[-1] = pastRight;
                break;
            }
            current = next;
        }
    }
    ReverseRowPixels<3>(left, static_cast<size_t>(right - left) / 3);
}

// ---- AVX2: 32 bytes at a time for pixel sizes that divide a lane ------------------

// 32 bytes with their 16-byte halves exchanged as they are loaded, so that only
// an in-lane shuffle remains to reverse them.
__attribute__((target("avx2"), always_inline)) inline __m256i LoadHalvesSwapped(const BYTE* p) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 1);
}

template <int BPP>
__attribute__((target("avx2"), always_inline)) inline __m256i LoadReversed32(const BYTE* p) {
    if constexpr (BPP == 4) {
        return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                                           _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
    } else {
        const __m128i lane = _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks[BPP].mask[0][BPP - 1]));
        return _mm256_shuffle_epi8(LoadHalvesSwapped(p), _mm256_broadcastsi128_si256(lane));
    }
}

template <int BPP>
__attribute__((target("avx2"))) void ReverseRowAvx2(BYTE* row, size_t width) {
    BYTE* left = row;
    BYTE* right = row + width * BPP;
    while (right - left >= 128) {  // two registers from each end at a time
        const __m256i l0 = LoadReversed32<BPP>(left);
        const __m256i l1 = LoadReversed32<BPP>(left + 32);
        const __m256i r0 = LoadReversed32<BPP>(right - 32);
        const __m256i r1 = LoadReversed32<BPP>(right - 64);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(left), r0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(left + 32), r1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(right - 32), l0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(right - 64), l1);
        left += 64;
        right -= 64;
    }
    while (right - left >= 64) {
        const __m256i l = LoadReversed32<BPP>(left);
        const __m256i r = LoadReversed32<BPP>(right - 32);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(left), r);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(right - 32), l);
        left += 32;
        right -= 32;
    }
    ReverseRowSsse3<BPP>(left, static_cast<size_t>(right - left) / BPP);
}

__attribute__((target("avx2"))) void SwapRowsAvx2(BYTE* a, BYTE* b, size_t bytes) {
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(a + i), y);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(b + i), x);
    }
    for (; i < bytes; ++i) std::swap(a[i], b[i]);
}

// The instructions this processor offers, asked once.
enum class Kernel { Scalar, Ssse3, Avx2 };

Kernel BestKernel() {
    static const Kernel kernel = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) return Kernel::Avx2;
        if (__builtin_cpu_supports("ssse3")) return Kernel::Ssse3;
        return Kernel::Scalar;
    }();
    return kernel;
}

bool Supports(Kernel kernel) {
    switch (kernel) {
    case Kernel::Avx2: return BestKernel() == Kernel::Avx2;
    case Kernel::Ssse3: return BestKernel() != Kernel::Scalar;
    default: return true;
    }
}

// A kernel chosen by name (tests and benchmarks run each one), else the best.
std::atomic<int> g_forcedKernel{-1};

Kernel ActiveKernel() {
    const int forced = g_forcedKernel.load(std::memory_order_relaxed);
    return forced >= 0 ? static_cast<Kernel>(forced) : BestKernel();
}

template <int BPP>
void MirrorRows(BYTE* image, size_t width, size_t height) {
    const size_t rowBytes = width * BPP;
    const Kernel kernel = ActiveKernel();
    for (size_t y = 0; y < height; ++y) {
        BYTE* row = image + y * rowBytes;
        // Three-byte pixels do not divide a 16-byte lane: they keep the SSSE3 kernel.
        if (kernel == Kernel::Avx2 && BPP != 3) ReverseRowAvx2<BPP>(row, width);
        else if (kernel != Kernel::Scalar) ReverseRowSsse3<BPP>(row, width);
        else ReverseRowPixels<BPP>(row, width);
    }
}

}  // namespace

namespace {

// Exchanges two rows through registers, 64 bytes at a time: each byte is read
// and written once, as a copy would.
void SwapRows(BYTE* a, BYTE* b, size_t bytes) {
    constexpr size_t kChunk = 64;
    size_t i = 0;
    for (; i + kChunk <= bytes; i += kChunk) {
        BYTE x[kChunk];
        BYTE y[kChunk];
        std::memcpy(x, a + i, kChunk);
        std::memcpy(y, b + i, kChunk);
        std::memcpy(a + i, y, kChunk);
        std::memcpy(b + i, x, kChunk);
    }
    for (; i < bytes; ++i) std::swap(a[i], b[i]);
}

}  // namespace

BYTE* MirrorImageVertical(BYTE* image, unsigned width, unsigned height, unsigned bytesPerPixel) {
    if (!image) return nullptr;
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    if (height < 2 || rowBytes == 0) return image;
    BYTE* top = image;
    BYTE* bottom = image + (static_cast<size_t>(height) - 1) * rowBytes;
    const bool avx2 = ActiveKernel() == Kernel::Avx2;
    while (top < bottom) {
        if (avx2) SwapRowsAvx2(top, bottom, rowBytes);
        else SwapRows(top, bottom, rowBytes);
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

bool VORKSetMirrorImplementation(const char* name) {
    if (!name) {
        g_forcedKernel = -1;
        return true;
    }
    const std::string wanted = name;
    Kernel kernel = Kernel::Scalar;
    if (wanted == "avx2") kernel = Kernel::Avx2;
    else if (wanted == "ssse3") kernel = Kernel::Ssse3;
    else if (wanted != "scalar") return false;
    if (!Supports(kernel)) return false;
    g_forcedKernel = static_cast<int>(kernel);
    return true;
}

const char* VORKMirrorImplementation() {
    switch (ActiveKernel()) {
    case Kernel::Avx2: return "avx2";
    case Kernel::Ssse3: return "ssse3";
    default: return "scalar";
    }
}
