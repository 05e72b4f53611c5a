// Mirroring in place gives exactly the plain definition's result.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "Mirror.h"

namespace {

// The definition, one byte at a time.
std::vector<BYTE> ReferenceHorizontal(std::vector<BYTE> image, unsigned w, unsigned h, unsigned bpp) {
    for (unsigned y = 0; y < h; ++y) {
        BYTE* row = image.data() + static_cast<size_t>(y) * w * bpp;
        if (w < 2) continue;
        for (unsigned l = 0, r = w - 1; l < r; ++l, --r)
            for (unsigned b = 0; b < bpp; ++b) std::swap(row[l * bpp + b], row[r * bpp + b]);
    }
    return image;
}

std::vector<BYTE> ReferenceVertical(std::vector<BYTE> image, unsigned w, unsigned h, unsigned bpp) {
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    if (h < 2) return image;
    for (unsigned t = 0, b = h - 1; t < b; ++t, --b)
        for (size_t i = 0; i < rowBytes; ++i) std::swap(image[t * rowBytes + i], image[b * rowBytes + i]);
    return image;
}

TEST(Mirror, NoImageIsLeftAlone) {
    EXPECT_EQ(MirrorImageVertical(nullptr, 4, 4, 3), nullptr);
    EXPECT_EQ(MirrorImageHorizontal(nullptr, 4, 4, 3), nullptr);
}

// Each kernel the processor offers is run by name, so that a machine whose best
// kernel is AVX2 still checks the SSSE3 and scalar ones.
class MirrorKernel : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!VORKSetMirrorImplementation(GetParam())) GTEST_SKIP() << GetParam() << " is not offered by this processor";
        ASSERT_STREQ(VORKMirrorImplementation(), GetParam());
    }
    void TearDown() override { VORKSetMirrorImplementation(nullptr); }
};

INSTANTIATE_TEST_SUITE_P(EveryKernel, MirrorKernel, ::testing::Values("scalar", "ssse3", "avx2"));

TEST(Mirror, AnUnknownKernelIsRefused) {
    const std::string best = VORKMirrorImplementation();
    EXPECT_FALSE(VORKSetMirrorImplementation("neon"));
    EXPECT_EQ(VORKMirrorImplementation(), best);
}

TEST_P(MirrorKernel, MatchesThePlainDefinitionOnRandomImages) {
    std::mt19937 random(1234);
    const unsigned widths[] = {0, 1, 2, 3, 15, 16, 17, 31, 32, 33, 47, 48, 63, 64, 65, 95, 96, 97, 129, 640, 1920};
    for (unsigned bpp = 1; bpp <= 7; ++bpp) {
        for (unsigned w : widths) {
            for (unsigned h : {0u, 1u, 2u, 3u, 5u}) {
                std::vector<BYTE> image(static_cast<size_t>(w) * h * bpp + 16);  // a guard after the image
                for (auto& b : image) b = static_cast<BYTE>(random());
                const std::vector<BYTE> original = image;
                std::vector<BYTE> expected = ReferenceHorizontal(original, w, h, bpp);
                MirrorImageHorizontal(image.data(), w, h, bpp);
                ASSERT_EQ(image, expected) << "horizontal w=" << w << " h=" << h << " bpp=" << bpp;
                image = original;
                expected = ReferenceVertical(original, w, h, bpp);
                MirrorImageVertical(image.data(), w, h, bpp);
                ASSERT_EQ(image, expected) << "vertical w=" << w << " h=" << h << " bpp=" << bpp;
            }
        }
    }
}

}  // namespace
