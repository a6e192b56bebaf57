// One row of the YUV to 32-bit pixel conversion, shared by the scalar and the SIMD versions.
// The arithmetic is fixed point so that every version gives the same bytes:
//     term = (coefficient_u * u + coefficient_v * v + kYuvRgbRound) >> kYuvRgbShift
//     byte = clamp(Y + term, 0, 255)
// with arithmetic shifts and the coefficients below (the colour matrix scaled by 2^13).
#pragma once

#include <cstdint>

#include "primitives/ipp_types.h"

namespace d2u {

constexpr int kYuvRgbShift = 13;
constexpr int32_t kYuvRgbRound = 1 << (kYuvRgbShift - 1);
constexpr int32_t kRedFromV = 9339;     // 1.140
constexpr int32_t kGreenFromU = -3228;  // -0.394
constexpr int32_t kGreenFromV = -4760;  // -0.581
constexpr int32_t kBlueFromU = 16646;   // 2.032

// Converts `width` pixels; u and v hold one sample per two pixels.
using YuvRowConverter = void (*)(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                                 int32_t width);

void ConvertYuvRowScalar(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                         int32_t width);
// Converts the leading multiple of 16 pixels and returns how many it did; the caller finishes
// the row with the scalar version.
int32_t ConvertYuvRowSse2(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                          int32_t width);
// The same for the leading multiple of 32 pixels.
int32_t ConvertYuvRowAvx2(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                          int32_t width);

}  // namespace d2u
