#include "primitives/resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "kernel_levels.h"

namespace d2u {
namespace {

struct Plane {
    Plane(int w, int h, int step) : width(w), height(h), pitch(step), data(size_t(step) * h) {}
    uint8_t& at(int x, int y) { return data[size_t(y) * pitch + x]; }
    int width, height, pitch;
    std::vector<uint8_t> data;
};

IppStatus Resize(const Plane& source, Plane& destination, int mode) {
    return ippiResize_8u_C1R(source.data.data(), {source.width, source.height}, source.pitch,
                             {0, 0, source.width, source.height}, destination.data.data(),
                             destination.pitch, {destination.width, destination.height},
                             double(destination.width) / source.width,
                             double(destination.height) / source.height, mode);
}

// In every mode a flat plane stays flat (and the padding behind the region untouched), and unit
// factors reproduce the source.
TEST(Resize, FlatPlanesStayFlatAndUnitFactorsCopy) {
    std::mt19937 random(5);
    Plane noise(33, 17, 40), flat(37, 23, 48);
    noise.data = test::RandomVector(noise.data.size(), random);
    std::fill(flat.data.begin(), flat.data.end(), 201);
    for (int mode : {IPPI_INTER_NN, IPPI_INTER_LINEAR, IPPI_INTER_CUBIC}) {
        Plane copy(33, 17, 33), stretched(101, 9, 112);
        ASSERT_EQ(Resize(noise, copy, mode), ippStsNoErr);
        ASSERT_EQ(Resize(flat, stretched, mode), ippStsNoErr);
        for (int y = 0; y < 17; ++y)
            ASSERT_TRUE(std::equal(&copy.at(0, y), &copy.at(0, y) + 33, &noise.at(0, y))) << mode;
        for (int y = 0; y < 9; ++y)
            ASSERT_EQ(std::count(&stretched.at(0, y), &stretched.at(0, y) + 101, 201), 101) << mode;
        EXPECT_EQ(stretched.at(105, 0), 0);
    }
}

// Linear and cubic interpolation keep a ramp a ramp: away from the borders each sample is the
// source's linear function at its centre-aligned position, rounded (the positions fall on
// thirds, far from halves).
TEST(Resize, RampsStayRampsAtTheirCentredPositions) {
    Plane ramp(32, 16, 32), stretched(96, 48, 96);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) ramp.at(x, y) = static_cast<uint8_t>(4 * x + 4 * y);
    }
    auto position = [](int d) { return (d + 0.5) / 3 - 0.5; };
    for (int mode : {IPPI_INTER_LINEAR, IPPI_INTER_CUBIC}) {
        ASSERT_EQ(Resize(ramp, stretched, mode), ippStsNoErr);
        for (int y = 4; y <= 40; ++y) {
            for (int x = 4; x <= 88; ++x) {
                ASSERT_EQ(stretched.at(x, y), std::lround(4 * position(x) + 4 * position(y)))
                    << mode << " at " << x << ", " << y;
            }
        }
    }
}

// A missing source, an unknown mode, a zero factor and a region outside the source are refused.
TEST(Resize, BadArgumentsAreRefused) {
    Plane source(8, 8, 8), destination(4, 4, 4);
    auto resize = [&destination](const Ipp8u* pixels, IppiRect roi, double xFactor, int mode) {
        return ippiResize_8u_C1R(pixels, {8, 8}, 8, roi, destination.data.data(), 4, {4, 4},
                                 xFactor, 0.5, mode);
    };
    const Ipp8u* pixels = source.data.data();
    EXPECT_EQ(resize(nullptr, {0, 0, 8, 8}, 0.5, IPPI_INTER_LINEAR), ippStsNullPtrErr);
    EXPECT_NE(resize(pixels, {0, 0, 8, 8}, 0.5, 3), ippStsNoErr);
    EXPECT_NE(resize(pixels, {0, 0, 8, 8}, 0.0, IPPI_INTER_LINEAR), ippStsNoErr);
    EXPECT_NE(resize(pixels, {9, 9, 8, 8}, 0.5, IPPI_INTER_LINEAR), ippStsNoErr);
}

}  // namespace
}  // namespace d2u
