#include "primitives/yuv_to_rgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <vector>

#include "primitives/kernel_dispatch.h"
#include "support/colour_reference.h"

namespace d2u {
namespace {

using Converter = IppStatus (*)(const Ipp8u* const[3], const int[3], Ipp8u*, int, IppiSize);

struct KernelCase {
    const char* name;
    Converter convert;
    int chromaRowShift;  // 1: chroma has half the rows
};
const KernelCase kKernels[] = {{"4:2:0", &ippiYUV420ToRGB_8u_P3AC4R, 1},
                               {"4:2:2", &ippiYUV422ToRGB_8u_P3AC4R, 0}};

// Random planes and destination, with room after each row and one destination row below the
// region; the extremes are frequent so that clamping is exercised.
struct Picture {
    int width, height, steps[3], destinationStep;
    std::vector<uint8_t> planes[3], destination;

    Picture(int w, int h, int chromaRowShift, int padding, std::mt19937& random)
        : width(w), height(h), steps{w + padding, (w + 1) / 2 + padding, (w + 1) / 2 + padding} {
        int chromaRows = (h + chromaRowShift) >> chromaRowShift;
        destinationStep = 4 * (w + padding);
        planes[0].resize(static_cast<size_t>(steps[0] * h));
        planes[1].resize(static_cast<size_t>(steps[1] * chromaRows));
        planes[2].resize(planes[1].size());
        destination.resize(static_cast<size_t>(destinationStep * (h + 1)));
        for (auto* bytes : {&planes[0], &planes[1], &planes[2], &destination}) {
            for (uint8_t& byte : *bytes) {
                uint32_t draw = random();
                byte = draw % 8 == 0 ? 0 : (draw % 8 == 1 ? 255 : static_cast<uint8_t>(draw >> 8));
            }
        }
    }

    IppStatus Convert(Converter convert) {
        const Ipp8u* sources[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        return convert(sources, steps, destination.data(), destinationStep, {width, height});
    }
    int Sample(int plane, int x, int y) const { return planes[plane][y * steps[plane] + x]; }
};

// Converts `picture` with the scalar kernels, and copies of it at each SIMD level the machine
// has; every copy must end with the scalar bytes. `picture` is left converted by the scalar
// kernels; the best kernels stay installed.
void ExpectEveryLevelGivesTheScalarBytes(Picture& picture, Converter convert) {
    const Picture original = picture;
    InstallKernels(KernelLevel::kScalar);
    ASSERT_EQ(picture.Convert(convert), ippStsNoErr);
    for (KernelLevel level : {KernelLevel::kSse2, KernelLevel::kAvx2}) {
        if (level > DetectKernelLevel()) continue;
        SCOPED_TRACE("level " + std::to_string(static_cast<int>(level)));
        Picture simd = original;
        InstallKernels(level);
        ASSERT_EQ(simd.Convert(convert), ippStsNoErr);
        ASSERT_EQ(simd.destination, picture.destination);
    }
    InstallBestKernels();
}

// Pixel (x, y) takes chroma sample x / 2 of row y / 2 (4:2:0) or of row y (4:2:2). Only the
// three colour bytes of the region's pixels are written. The widths reach past the SIMD steps and
// past the chunks of pixels whose chroma the SIMD versions keep for a second row.
TEST(YuvToRgbKernels, PixelsGetTheMatrixColourAndTheBestVersionGivesTheScalarBytes) {
    std::mt19937 random(20240601);
    for (const KernelCase& kernel : kKernels) {
        const int widths[] = {1, 2, 3, 15, 16, 17, 31, 32, 33, 47, 64, 100, 353, 720, 2100};
        for (size_t n = 0; n < sizeof(widths) / sizeof(widths[0]); ++n) {
            // Odd and even heights: a 4:2:0 picture can end with a row that has no partner.
            const int width = widths[n];
            const int height = 1 + static_cast<int>(n % 2) + 2 * static_cast<int>(random() % 4);
            SCOPED_TRACE(std::string(kernel.name) + " " + std::to_string(width) + "x" +
                         std::to_string(height));
            Picture scalar(width, height, kernel.chromaRowShift, static_cast<int>(random() % 5),
                           random);
            const std::vector<uint8_t> original = scalar.destination;
            ASSERT_NO_FATAL_FAILURE(ExpectEveryLevelGivesTheScalarBytes(scalar, kernel.convert));
            for (size_t i = 0; i < original.size(); ++i) {
                int y = static_cast<int>(i) / scalar.destinationStep;
                int x = static_cast<int>(i) % scalar.destinationStep / 4;
                if (y >= height || x >= width || i % 4 == 3) {
                    ASSERT_EQ(scalar.destination[i], original[i]) << "byte " << i;
                } else if (i % 4 == 0) {
                    int chromaRow = y >> kernel.chromaRowShift;
                    ASSERT_LE(test::ColourDistance(&scalar.destination[i], scalar.Sample(0, x, y),
                                                   scalar.Sample(1, x / 2, chromaRow),
                                                   scalar.Sample(2, x / 2, chromaRow)),
                              1)
                        << "at " << x << "," << y;
                }
            }
        }
    }
}

// Missing planes or destination, empty regions and rows shorter than the region are refused before
// anything is read; the chroma rows of an odd width hold its last pixel's sample too.
TEST(YuvToRgbKernels, BadArgumentsAreRefused) {
    std::vector<uint8_t> samples(64), out(4 * 64);
    const Ipp8u* planes[3] = {samples.data(), samples.data(), samples.data()};
    const Ipp8u* withoutCb[3] = {samples.data(), nullptr, samples.data()};
    const int steps[3] = {5, 3, 3}, shortLuma[3] = {4, 3, 3}, shortChroma[3] = {5, 3, 2};
    const struct {
        const Ipp8u* const* source;
        const int* step;
        Ipp8u* destination;
        int destinationStep;
        IppiSize size;
        IppStatus expected;
    } cases[] = {
        {planes, steps, out.data(), 20, {5, 2}, ippStsNoErr},
        {nullptr, steps, out.data(), 20, {5, 2}, ippStsNullPtrErr},
        {withoutCb, steps, out.data(), 20, {5, 2}, ippStsNullPtrErr},
        {planes, nullptr, out.data(), 20, {5, 2}, ippStsNullPtrErr},
        {planes, steps, nullptr, 20, {5, 2}, ippStsNullPtrErr},
        {planes, steps, out.data(), 20, {0, 2}, ippStsSizeErr},
        {planes, steps, out.data(), 20, {5, 0}, ippStsSizeErr},
        {planes, shortLuma, out.data(), 20, {5, 2}, ippStsStepErr},
        {planes, shortChroma, out.data(), 20, {5, 2}, ippStsStepErr},
        {planes, steps, out.data(), 19, {5, 2}, ippStsStepErr},
    };
    for (const KernelCase& kernel : kKernels) {
        for (size_t i = 0; i < std::size(cases); ++i) {
            const auto& c = cases[i];
            EXPECT_EQ(kernel.convert(c.source, c.step, c.destination, c.destinationStep, c.size),
                      c.expected)
                << kernel.name << " case " << i;
        }
    }
}

}  // namespace
}  // namespace d2u
