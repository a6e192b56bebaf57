// The colour that a pixel must get, computed in floating point straight from the colour matrix,
// and small helpers to build decoded frames for the bitmap tests.
#pragma once

#include <cstdint>
#include <functional>

#include "decoder/yuv_frame.h"

namespace d2u {
namespace test {

struct Bgr {
    int blue;
    int green;
    int red;
};

Bgr ExpectedColour(int luma, int cb, int cr);

// The largest difference between the colour bytes at `pixel` and `expected`.
int ColourDistance(const uint8_t* pixel, const Bgr& expected);

// Which plane a sample belongs to: 0 Y, 1 Cb, 2 Cr.
using SampleFunction = std::function<uint8_t(int plane, int x, int y)>;

// Allocates a frame of the given display size and fills every allocated sample.
void MakeFrame(CYUVFrame& frame, int32_t width, int32_t height, const SampleFunction& sample);

}  // namespace test
}  // namespace d2u
