#include "primitives/resize.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

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
    for (auto& v : noise.data) v = uint8_t(random());
    std::fill(flat.data.begin(), flat.data.end(), 201);
    for (int mode : {IPPI_INTER_NN, IPPI_INTER_LINEAR, IPPI_INTER_CUBIC}) {
        Plane copy(33, 17, 33), stretched(101, 9, 112);
        ASSERT_EQ(Resize(noise, copy, mode), ippStsNoErr);
        ASSERT_EQ(Resize(flat, stretched, mode), ippStsNoErr);
        for (int y = 0; y < 17; ++y) {
            for (int x = 0; x < 33; ++x) ASSERT_EQ(copy.at(x, y), noise.at(x, y)) << mode;
        }
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 101; ++x) ASSERT_EQ(stretched.at(x, y), 201) << mode;
        }
        EXPECT_EQ(stretched.at(105, 0), 0);
    }
}

TEST(Resize, BadArgumentsAreRefused) {
    Plane source(8, 8, 8), destination(4, 4, 4);
    EXPECT_EQ(ippiResize_8u_C1R(nullptr, {8, 8}, 8, {0, 0, 8, 8}, destination.data.data(), 4,
                                {4, 4}, 0.5, 0.5, IPPI_INTER_LINEAR),
              ippStsNullPtrErr);
    EXPECT_NE(Resize(source, destination, 3), ippStsNoErr);
    EXPECT_NE(ippiResize_8u_C1R(source.data.data(), {8, 8}, 8, {0, 0, 8, 8},
                                destination.data.data(), 4, {4, 4}, 0.0, 0.5, IPPI_INTER_LINEAR),
              ippStsNoErr);
    EXPECT_NE(ippiResize_8u_C1R(source.data.data(), {8, 8}, 8, {9, 9, 8, 8},
                                destination.data.data(), 4, {4, 4}, 0.5, 0.5, IPPI_INTER_LINEAR),
              ippStsNoErr);
}

}  // namespace
}  // namespace d2u
