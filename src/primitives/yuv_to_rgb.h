// Colour conversion of decoded pictures into 32-bit pixels.
//
// pSrc holds the Y, U (Cb) and V (Cr) planes with their row steps in srcStep. Each destination
// pixel is four bytes: blue, green, red of the picture's colour, the byte order of 32-bit
// bitmaps, followed by a fourth byte that is left as it was. With u = Cb - 128, v = Cr - 128:
//     R = Y + 1.140 v,  G = Y - 0.394 u - 0.581 v,  B = Y + 2.032 u,  each clamped to 0..255.
// Chroma is subsampled horizontally by two in both kernels, and vertically by two in the 4:2:0
// kernel. Rows are written top to bottom, dstStep bytes apart.
//
// The scalar and SIMD row kernels work in fixed point, so that every version gives the same bytes:
//     term = (coefficient_u * u + coefficient_v * v + kYuvRgbRound) >> kYuvRgbShift
//     byte = clamp(Y + term, 0, 255)
// with arithmetic shifts and the coefficients below (the colour matrix scaled by 2^13).
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/ipp_types.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

IppStatus ippiYUV420ToRGB_8u_P3AC4R(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst,
                                    int dstStep, IppiSize roiSize);
IppStatus ippiYUV422ToRGB_8u_P3AC4R(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst,
                                    int dstStep, IppiSize roiSize);

constexpr int kYuvRgbShift = 13;
constexpr int32_t kYuvRgbRound = 1 << (kYuvRgbShift - 1);
constexpr int32_t kRedFromV = 9339;     // 1.140
constexpr int32_t kGreenFromU = -3228;  // -0.394
constexpr int32_t kGreenFromV = -4760;  // -0.581
constexpr int32_t kBlueFromU = 16646;   // 2.032

// One or two luma rows that share a chroma row (two for 4:2:0 pictures, whose chroma rows each
// serve two luma rows), with the destination row of each.
struct YuvRows {
    const Ipp8u* y[2];
    const Ipp8u* u;  // one sample per two pixels
    const Ipp8u* v;
    Ipp8u* bgrx[2];
    int32_t count;  // 1 or 2
};

// Returns the rows moved `pixels` pixels to the right.
YuvRows AdvanceYuvRows(const YuvRows& rows, int32_t pixels);

// Converts `width` pixels of each row.
void ConvertYuvRowsScalar(const YuvRows& rows, int32_t width);

// Convert the leading multiple of 16 (SSE2) or 32 (AVX2) pixels of each row and return how many
// they did; the caller finishes the rows with a narrower version.
int32_t ConvertYuvRowsSse2(const YuvRows& rows, int32_t width);
int32_t ConvertYuvRowsAvx2(const YuvRows& rows, int32_t width);

struct YuvToRgbKernels {
    void (*convertRows)(const YuvRows& rows, int32_t width);
};

void InitYuvToRgbKernels(KernelLevel level);

// The driver of the SIMD versions: the rows of a pair are converted one after the other, which
// the memory system handles better than both at once, in chunks of kStepsPerChunk steps whose
// chroma offsets (load(u, v) per step) are kept for the second row. convert(y, offsets, bgrx)
// converts one step of kPixelsPerStep pixels. Returns the pixels converted in each row.
template <int32_t kPixelsPerStep, int32_t kStepsPerChunk, typename Offsets, typename Load,
          typename Convert>
inline int32_t ConvertYuvRowsInChunks(const YuvRows& rows, int32_t width, Load load,
                                      Convert convert) {
    const int32_t steps = width / kPixelsPerStep;
    Offsets offsets[kStepsPerChunk];
    for (int32_t first = 0; first < steps; first += kStepsPerChunk) {
        const int32_t count = steps - first < kStepsPerChunk ? steps - first : kStepsPerChunk;
        const ptrdiff_t start = static_cast<ptrdiff_t>(first) * kPixelsPerStep;
        for (int32_t k = 0; k < count; ++k) {
            const ptrdiff_t x = start + static_cast<ptrdiff_t>(k) * kPixelsPerStep;
            offsets[k] = load(rows.u + x / 2, rows.v + x / 2);
            convert(rows.y[0] + x, offsets[k], rows.bgrx[0] + 4 * x);
        }
        if (rows.count < 2) continue;
        for (int32_t k = 0; k < count; ++k) {
            const ptrdiff_t x = start + static_cast<ptrdiff_t>(k) * kPixelsPerStep;
            convert(rows.y[1] + x, offsets[k], rows.bgrx[1] + 4 * x);
        }
    }
    return steps * kPixelsPerStep;
}

}  // namespace d2u
