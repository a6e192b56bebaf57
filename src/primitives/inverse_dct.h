// 8x8 inverse DCT.
//
// The transform is computed in two separable passes with 14-bit cosine constants
// (round(2^14 * sqrt(2) * cos(k * pi / 16))): the first pass keeps every bit of its sums, the
// second sums in 64-bit precision and rounds once, to nearest with halves up. Inputs are taken
// as saturated to [-2048, 2047], the range of dequantised coefficients; for such input no
// intermediate overflows, so every version computes exactly the same numbers.
#pragma once

#include "primitives/ipp_types.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

// Inverse DCT of 64 coefficients (raster order) into 8 rows of 8 signed 16-bit samples;
// dstStep is the row step in bytes.
IppStatus ippiDCT8x8Inv_16s_C1R(const Ipp16s* pSrc, Ipp16s* pDst, int dstStep);

// Inverse DCT, plus addVal, clipped to [clipDown, clipUp], written as 8 rows of 8 bytes;
// dstStep is the row step in bytes.
IppStatus ippiDCT8x8InvLSClip_16s8u_C1R(const Ipp16s* pSrc, Ipp8u* pDst, int dstStep, int addVal,
                                        Ipp8u clipDown, Ipp8u clipUp);

namespace idct {

constexpr Ipp32s kW1 = 22725;
constexpr Ipp32s kW2 = 21407;
constexpr Ipp32s kW3 = 19266;
constexpr Ipp32s kW4 = 16384;
constexpr Ipp32s kW5 = 12873;
constexpr Ipp32s kW6 = 8867;
constexpr Ipp32s kW7 = 4520;
constexpr Ipp16s kInputMin = -2048;
constexpr Ipp16s kInputMax = 2047;

using InverseKernel = void (*)(const Ipp16s* src, Ipp16s* dst, int dstStep);
using InverseClipKernel = void (*)(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal,
                                   int clipDown, int clipUp);

struct KernelTable {
    InverseKernel inverse;
    InverseClipKernel inverseClip;
};

// Fill the entries that the SSE2 and AVX2 versions provide; leave the others.
void InstallSse2Kernels(KernelTable& table);
void InstallAvx2Kernels(KernelTable& table);

}  // namespace idct
}  // namespace d2u
