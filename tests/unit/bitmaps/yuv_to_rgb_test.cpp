#include "primitives/yuv_to_rgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "colour_reference.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

using test::Bgr;
using test::ColourDistance;
using test::ExpectedColour;

using Converter = IppStatus (*)(const Ipp8u* const[3], const int[3], Ipp8u*, int, IppiSize);

// Planes and a destination with room around the region, for one conversion.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t chromaRows = 0;
    int steps[3] = {0, 0, 0};
    int destinationStep = 0;
    std::vector<uint8_t> planes[3];
    std::vector<uint8_t> destination;

    Picture(int32_t w, int32_t h, bool halfChromaRows, int padding) : width(w), height(h) {
        chromaRows = halfChromaRows ? (h + 1) / 2 : h;
        steps[0] = w + padding;
        steps[1] = steps[2] = (w + 1) / 2 + padding;
        destinationStep = 4 * w + 4 * padding;
        planes[0].resize(static_cast<size_t>(steps[0]) * h);
        planes[1].resize(static_cast<size_t>(steps[1]) * chromaRows);
        planes[2].resize(static_cast<size_t>(steps[2]) * chromaRows);
        destination.resize(static_cast<size_t>(destinationStep) * h);
    }

    IppStatus Convert(Converter converter) {
        const Ipp8u* sources[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        return converter(sources, steps, destination.data(), destinationStep, {width, height});
    }

    const uint8_t* Pixel(int x, int y) const {
        return destination.data() + static_cast<size_t>(y) * destinationStep + 4 * x;
    }
    uint8_t Sample(int plane, int x, int y) const { return planes[plane][y * steps[plane] + x]; }
};

// Random bytes with the extremes over-represented, so that clamping is exercised.
uint8_t RandomSample(std::mt19937& random) {
    uint32_t draw = random();
    switch (draw % 8) {
        case 0:
            return 0;
        case 1:
            return 255;
        default:
            return static_cast<uint8_t>(draw >> 8);
    }
}

void FillRandom(std::vector<uint8_t>& bytes, std::mt19937& random) {
    for (auto& byte : bytes) byte = RandomSample(random);
}

class YuvToRgbKernels : public ::testing::Test {
protected:
    void TearDown() override { InstallBestKernels(); }
};

struct KernelCase {
    const char* name;
    Converter converter;
    bool halfChromaRows;
};

const KernelCase kKernels[] = {{"4:2:0", &ippiYUV420ToRGB_8u_P3AC4R, true},
                               {"4:2:2", &ippiYUV422ToRGB_8u_P3AC4R, false}};

TEST_F(YuvToRgbKernels, BestVersionGivesTheScalarBytesOnRandomPictures) {
    std::mt19937 random(20240601);
    const int32_t widths[] = {1, 2, 3, 15, 16, 17, 31, 32, 33, 47, 64, 100, 353, 720};
    for (const KernelCase& kernel : kKernels) {
        for (int32_t width : widths) {
            int32_t height = 1 + static_cast<int32_t>(random() % 9);
            Picture scalar(width, height, kernel.halfChromaRows, static_cast<int>(random() % 5));
            for (auto& plane : scalar.planes) FillRandom(plane, random);
            FillRandom(scalar.destination, random);
            Picture best = scalar;

            InstallKernels(KernelLevel::kScalar);
            ASSERT_EQ(scalar.Convert(kernel.converter), ippStsNoErr);
            InstallBestKernels();
            ASSERT_EQ(best.Convert(kernel.converter), ippStsNoErr);
            ASSERT_EQ(scalar.destination, best.destination)
                << kernel.name << " width " << width << " height " << height;
        }
    }
}

// Every (Cb, Cr) pair at several luma levels, against the colour matrix in floating point.
TEST_F(YuvToRgbKernels, EveryChromaPairGivesTheMatrixColourWithinOne) {
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kAvx2}) {
        InstallKernels(level);
        for (int luma : {0, 16, 90, 128, 200, 235, 255}) {
            // 4:2:2: one row per Cr value, one chroma column (two pixels) per Cb value.
            Picture picture(512, 256, false, 0);
            for (int y = 0; y < 256; ++y) {
                for (int x = 0; x < 512; ++x) picture.planes[0][y * 512 + x] = uint8_t(luma);
                for (int x = 0; x < 256; ++x) {
                    picture.planes[1][y * 256 + x] = uint8_t(x);
                    picture.planes[2][y * 256 + x] = uint8_t(y);
                }
            }
            ASSERT_EQ(picture.Convert(&ippiYUV422ToRGB_8u_P3AC4R), ippStsNoErr);
            int worst = 0;
            for (int cr = 0; cr < 256; ++cr) {
                for (int x = 0; x < 512; ++x) {
                    int distance =
                        ColourDistance(picture.Pixel(x, cr), ExpectedColour(luma, x / 2, cr));
                    worst = std::max(worst, distance);
                }
            }
            EXPECT_LE(worst, 1) << "luma " << luma << " level " << static_cast<int>(level);
        }
    }
}

TEST_F(YuvToRgbKernels, GreyStaysExactlyGrey) {
    for (const KernelCase& kernel : kKernels) {
        Picture picture(40, 4, kernel.halfChromaRows, 0);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 40; ++x) picture.planes[0][y * 40 + x] = uint8_t(x * 6 + y);
        }
        std::fill(picture.planes[1].begin(), picture.planes[1].end(), 128);
        std::fill(picture.planes[2].begin(), picture.planes[2].end(), 128);
        ASSERT_EQ(picture.Convert(kernel.converter), ippStsNoErr);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 40; ++x) {
                const uint8_t* pixel = picture.Pixel(x, y);
                ASSERT_EQ(pixel[0], x * 6 + y);
                ASSERT_EQ(pixel[1], x * 6 + y);
                ASSERT_EQ(pixel[2], x * 6 + y);
            }
        }
    }
}

// The fourth byte of every pixel, the padding after each row and the rows below the region keep
// their values.
TEST_F(YuvToRgbKernels, WritesOnlyTheThreeColourBytesOfTheRegion) {
    std::mt19937 random(7);
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kAvx2}) {
        InstallKernels(level);
        for (const KernelCase& kernel : kKernels) {
            Picture picture(37, 6, kernel.halfChromaRows, 3);
            for (auto& plane : picture.planes) FillRandom(plane, random);
            FillRandom(picture.destination, random);
            std::vector<uint8_t> before = picture.destination;
            IppiSize smaller = {picture.width, picture.height - 1};
            const Ipp8u* sources[3] = {picture.planes[0].data(), picture.planes[1].data(),
                                       picture.planes[2].data()};
            ASSERT_EQ(kernel.converter(sources, picture.steps, picture.destination.data(),
                                       picture.destinationStep, smaller),
                      ippStsNoErr);
            for (size_t i = 0; i < before.size(); ++i) {
                size_t row = i / picture.destinationStep;
                size_t column = i % picture.destinationStep;
                bool colourByte = row < 5 && column < 4u * 37 && column % 4 != 3;
                if (!colourByte) {
                    ASSERT_EQ(picture.destination[i], before[i]) << "byte " << i;
                }
            }
        }
    }
}

// Pixel (x, y) takes chroma sample x / 2 of row y / 2 (4:2:0) or of row y (4:2:2).
TEST_F(YuvToRgbKernels, ChromaSamplesAreSharedByTheirPixels) {
    std::mt19937 random(99);
    for (const KernelCase& kernel : kKernels) {
        Picture picture(35, 7, kernel.halfChromaRows, 1);
        for (auto& plane : picture.planes) FillRandom(plane, random);
        ASSERT_EQ(picture.Convert(kernel.converter), ippStsNoErr);
        for (int y = 0; y < 7; ++y) {
            int chromaRow = kernel.halfChromaRows ? y / 2 : y;
            for (int x = 0; x < 35; ++x) {
                Bgr expected =
                    ExpectedColour(picture.Sample(0, x, y), picture.Sample(1, x / 2, chromaRow),
                                   picture.Sample(2, x / 2, chromaRow));
                ASSERT_LE(ColourDistance(picture.Pixel(x, y), expected), 1)
                    << kernel.name << " at " << x << "," << y;
            }
        }
    }
}

TEST_F(YuvToRgbKernels, RejectsMissingPlanesEmptyRegionsAndShortSteps) {
    Picture picture(8, 2, true, 0);
    std::fill(picture.destination.begin(), picture.destination.end(), 0xAB);
    const Ipp8u* sources[3] = {picture.planes[0].data(), picture.planes[1].data(), nullptr};
    uint8_t* out = picture.destination.data();
    EXPECT_EQ(ippiYUV420ToRGB_8u_P3AC4R(sources, picture.steps, out, 32, {8, 2}), ippStsNullPtrErr);
    sources[2] = picture.planes[2].data();
    EXPECT_EQ(ippiYUV420ToRGB_8u_P3AC4R(sources, picture.steps, out, 32, {0, 2}), ippStsSizeErr);
    EXPECT_EQ(ippiYUV422ToRGB_8u_P3AC4R(sources, picture.steps, out, 32, {8, -1}), ippStsSizeErr);
    EXPECT_EQ(ippiYUV420ToRGB_8u_P3AC4R(sources, picture.steps, out, 31, {8, 2}), ippStsStepErr);
    int shortChroma[3] = {8, 3, 4};
    EXPECT_EQ(ippiYUV422ToRGB_8u_P3AC4R(sources, shortChroma, out, 32, {8, 2}), ippStsStepErr);
    for (uint8_t byte : picture.destination) ASSERT_EQ(byte, 0xAB);
}

}  // namespace
}  // namespace d2u
