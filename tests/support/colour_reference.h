// The colour a pixel must get, computed in floating point straight from the colour matrix.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace d2u {
namespace test {

// The largest difference between the blue, green and red bytes at `pixel` and the colour of
// the samples (luma, cb, cr).
inline int ColourDistance(const uint8_t* pixel, int luma, int cb, int cr) {
    auto expected = [](double value) {
        return static_cast<int>(std::lround(std::min(255.0, std::max(0.0, value))));
    };
    double u = cb - 128.0, v = cr - 128.0;
    return std::max({std::abs(pixel[0] - expected(luma + 2.032 * u)),
                     std::abs(pixel[1] - expected(luma - 0.394 * u - 0.581 * v)),
                     std::abs(pixel[2] - expected(luma + 1.140 * v))});
}

}  // namespace test
}  // namespace d2u
