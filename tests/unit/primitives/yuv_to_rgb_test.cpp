#include "primitives/yuv_to_rgb.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kernel_levels.h"
#include "support/colour_reference.h"

namespace d2u {
namespace {

using Converter = IppStatus (*)(const Ipp8u* const[3], const int[3], Ipp8u*, int, IppiSize);

const struct {
    const char* name;
    Converter convert;
    int chromaRowShift;  // 1: chroma has half the rows
} kKernels[] = {{"4:2:0", &ippiYUV420ToRGB_8u_P3AC4R, 1}, {"4:2:2", &ippiYUV422ToRGB_8u_P3AC4R, 0}};

// Pixel (x, y) takes chroma sample x / 2 of row y / 2 (4:2:0) or of row y (4:2:2). Only the
// three colour bytes of the region's pixels are written. The widths reach past the SIMD steps and
// past the chunks of pixels whose chroma the SIMD versions keep for a second row; a 4:2:0 picture
// of odd height ends with a row that has no partner. The planes have room after each row and the
// destination one row below the region; extremes are frequent so that clamping is exercised.
TEST(YuvToRgbKernels, PixelsGetTheMatrixColourAndEveryLevelGivesTheScalarBytes) {
    std::mt19937 random(20240601);
    for (const auto& kernel : kKernels) {
        const int widths[] = {1, 2, 3, 15, 16, 17, 31, 32, 33, 47, 64, 100, 353, 720, 2100};
        for (size_t n = 0; n < std::size(widths); ++n) {
            const int width = widths[n], chromaWidth = (width + 1) / 2;
            const int height = 1 + int(n % 2) + 2 * int(random() % 4);
            const int padding = int(random() % 5), destinationStep = 4 * (width + padding);
            const int chromaRows = (height + kernel.chromaRowShift) >> kernel.chromaRowShift;
            SCOPED_TRACE(std::string(kernel.name) + " " + std::to_string(width) + "x" +
                         std::to_string(height));
            const int steps[3] = {width + padding, chromaWidth + padding, chromaWidth + padding};
            std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(size_t(steps[0]) * height),
                                              std::vector<uint8_t>(size_t(steps[1]) * chromaRows),
                                              std::vector<uint8_t>(size_t(steps[1]) * chromaRows)};
            std::vector<uint8_t> original(size_t(destinationStep) * (height + 1));
            for (auto* bytes : {&planes[0], &planes[1], &planes[2], &original}) {
                for (uint8_t& byte : *bytes) {
                    const uint32_t draw = static_cast<uint32_t>(random());
                    byte = draw % 8 == 0   ? 0
                           : draw % 8 == 1 ? 255
                                           : static_cast<uint8_t>(draw >> 8);
                }
            }
            auto convert = [&] {
                const Ipp8u* sources[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
                std::vector<uint8_t> destination = original;
                EXPECT_EQ(kernel.convert(sources, steps, destination.data(), destinationStep,
                                         {width, height}),
                          ippStsNoErr);
                return destination;
            };
            test::ExpectEveryLevelGivesTheScalarResult(convert);
            const std::vector<uint8_t> result = convert();
            auto sample = [&](int plane, int x, int y) {
                return planes[plane][y * steps[plane] + x];
            };
            for (size_t i = 0; i < original.size(); ++i) {
                const int y = int(i) / destinationStep, x = int(i) % destinationStep / 4;
                if (y >= height || x >= width || i % 4 == 3) {
                    ASSERT_EQ(result[i], original[i]) << "byte " << i;
                } else if (i % 4 == 0) {
                    const int chromaRow = y >> kernel.chromaRowShift;
                    ASSERT_LE(test::ColourDistance(&result[i], sample(0, x, y),
                                                   sample(1, x / 2, chromaRow),
                                                   sample(2, x / 2, chromaRow)),
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
    for (const auto& kernel : kKernels) {
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
