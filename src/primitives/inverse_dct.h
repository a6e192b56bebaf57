// 8x8 inverse DCT.
//
// The transform is computed in two separable passes with 16-bit intermediates, so that every
// product fits the 16 x 16 -> 32-bit multiply-add of the SIMD versions:
//
//   input     X[v][u] saturated to [-2048, 2047], the range of dequantised coefficients;
//   pass 1    down the columns: t[y][u] = sat16((sum_v A[y][v] * X[v][u] + 2^10) >> 11),
//             A[y][v] = round(2^14 * sqrt(2) * cos((2y + 1) * v * pi / 16)), 2^14 for v = 0;
//   bias      t[y][0] = sat16(t[y][0] + 32): the rounding term of pass 2, carried by the
//             column whose weight is 2^13 for every output;
//   pass 2    along the rows: out[y][x] = (sum_u C[x][u] * t[y][u]) >> 19,
//             C the same cosines at 2^13 (8192 for u = 0);
//
// with sat16 saturating to [-32768, 32767] and >> an arithmetic shift (rounding down). The
// first pass carries 4.5 fraction bits and saturates only if a column transform exceeds about
// 1448 in magnitude (blocks of samples within [-256, 255] stay below 730), so coded pictures
// never reach it. Every sum fits 32 bits for any input (|pass-2 sum| <= 32768 * 61212 < 2^31)
// and the outputs fit 16 bits, so every version computes exactly the same numbers.
// The result meets the IEEE 1180 accuracy limits with margin (mean square error below 0.01
// per position against the limit of 0.06).
#pragma once

#include "primitives/ipp_types.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

// Inverse DCT of 64 coefficients (raster order) into 8 rows of 8 signed 16-bit samples;
// dstStep is the row step in bytes.
IppStatus ippiDCT8x8Inv_16s_C1R(const Ipp16s* pSrc, Ipp16s* pDst, int dstStep);

// An intra block: the inverse DCT clipped to [0, 255], written as 8 rows of 8 bytes.
IppStatus ippiDCT8x8InvIntra_16s8u_C1R(const Ipp16s* pSrc, Ipp8u* pDst, int dstStep);

namespace idct {

// The inverse DCT of a block whose only coefficients besides zeros are `value` at raster
// position `position` (0 to 62) and `last` at 63, as ippiDCT8x8Inv_16s_C1R gives it: the
// decoder's commonest residual block (one coefficient and the one that mismatch control sets),
// handed over straight from the coefficient reader. `block` holds `value` at `position` and
// zeros elsewhere; a version without a short cut stores `last` at 63 and transforms it.
void InverseTwoCoefficients(Ipp16s* block, Ipp16s value, int position, Ipp16s last, Ipp16s* dst,
                            int dstStep);

// ippiDCT8x8Inv_16s_C1R and ippiDCT8x8InvIntra_16s8u_C1R without their argument checks, for the
// coefficient readers, whose blocks lie in [kInputMin, kInputMax] already as they dequantise
// them: the same numbers, without saturating the input first.
void InverseInRange(const Ipp16s* src, Ipp16s* dst, int dstStep);
void InverseIntraInRange(const Ipp16s* src, Ipp8u* dst, int dstStep);
// The intra transform of the block holding `dc` at 0, `last` at 63 and zeros elsewhere, both within
// the input range: an intra block of its DC value alone, with what mismatch control sets.
void InverseIntraCorners(Ipp16s dc, Ipp16s last, Ipp8u* dst, int dstStep);

// The scaled cosines round(2^scale * sqrt(2) * cos(k * pi / 16)), k = 1..7 (w4 is 2^scale).
struct Weights {
    Ipp32s w1, w2, w3, w4, w5, w6, w7;
};
constexpr Weights kFirstPass = {22725, 21407, 19266, 16384, 12873, 8867, 4520};
constexpr Weights kSecondPass = {11363, 10703, 9633, 8192, 6436, 4433, 2260};
constexpr int kFirstShift = 11;
constexpr Ipp32s kFirstRounding = 1 << (kFirstShift - 1);
constexpr int kSecondShift = 19;
// 2^18 (half of the second shift) in units of the second pass's DC weight 2^13.
constexpr Ipp16s kSecondRounding = 32;
constexpr Ipp16s kInputMin = -2048;
constexpr Ipp16s kInputMax = 2047;

using InverseKernel = void (*)(const Ipp16s* src, Ipp16s* dst, int dstStep);
using InverseIntraKernel = void (*)(const Ipp16s* src, Ipp8u* dst, int dstStep);
using InverseTwoKernel = void (*)(Ipp16s* block, Ipp16s value, int position, Ipp16s last,
                                  Ipp16s* dst, int dstStep);
using InverseCornersKernel = void (*)(Ipp16s dc, Ipp16s last, Ipp8u* dst, int dstStep);

struct KernelTable {
    InverseKernel inverse;
    InverseIntraKernel inverseIntra;
    InverseTwoKernel inverseTwo;
    InverseKernel inverseInRange;
    InverseIntraKernel inverseIntraInRange;
    InverseCornersKernel inverseIntraCorners;
};

}  // namespace idct

void InitInverseDctKernels(KernelLevel level);
// Fill the entries that the SSE2 and AVX2 versions provide; nothing where the build has none.
void InitInverseDctKernelsSse2(idct::KernelTable& table);
void InitInverseDctKernelsAvx2(idct::KernelTable& table);

}  // namespace d2u
