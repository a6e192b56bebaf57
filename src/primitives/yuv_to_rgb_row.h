// Rows of the YUV to 32-bit pixel conversion, shared by the scalar and the SIMD versions.
// The arithmetic is fixed point so that every version gives the same bytes:
//     term = (coefficient_u * u + coefficient_v * v + kYuvRgbRound) >> kYuvRgbShift
//     byte = clamp(Y + term, 0, 255)
// with arithmetic shifts and the coefficients below (the colour matrix scaled by 2^13).
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/ipp_types.h"

namespace d2u {

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
