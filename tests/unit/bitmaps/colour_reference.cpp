#include "colour_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace d2u {
namespace test {
namespace {

int ClampRound(double value) {
    return static_cast<int>(std::lround(std::min(255.0, std::max(0.0, value))));
}

void FillPlane(YUVPlane& plane, int index, const SampleFunction& sample) {
    for (int y = 0; y < plane.height; ++y) {
        for (int x = 0; x < plane.pitch; ++x) plane.data[y * plane.pitch + x] = sample(index, x, y);
    }
}

}  // namespace

Bgr ExpectedColour(int luma, int cb, int cr) {
    double u = cb - 128.0;
    double v = cr - 128.0;
    return {ClampRound(luma + 2.032 * u), ClampRound(luma - 0.394 * u - 0.581 * v),
            ClampRound(luma + 1.140 * v)};
}

int ColourDistance(const uint8_t* pixel, const Bgr& expected) {
    return std::max({std::abs(pixel[0] - expected.blue), std::abs(pixel[1] - expected.green),
                     std::abs(pixel[2] - expected.red)});
}

void MakeFrame(CYUVFrame& frame, int32_t width, int32_t height, const SampleFunction& sample) {
    frame.Allocate(width, height);
    FillPlane(frame.Y, 0, sample);
    FillPlane(frame.U, 1, sample);
    FillPlane(frame.V, 2, sample);
}

}  // namespace test
}  // namespace d2u
