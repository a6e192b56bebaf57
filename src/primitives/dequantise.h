// Inverse quantisation of one 8x8 block of quantised levels (raster order) into DCT
// coefficients, in the four forms of MPEG-1 and MPEG-2 intra and non-intra blocks:
// - MPEG-1 intra:      (2 * level * W * q) / 16, made odd towards zero
// - MPEG-1 non-intra:  ((2 * level + sign) * W * q) / 16, made odd towards zero
// - MPEG-2 intra:      (2 * level * W * q) / 32
// - MPEG-2 non-intra:  ((2 * level + sign) * W * q) / 32
// with divisions truncating towards zero, every result saturated to [-2048, 2047], and for
// MPEG-2 the mismatch control of the last coefficient (the sum of all 64 made odd). Intra
// blocks take their DC coefficient ready-made.
#pragma once

#include <cstdint>

#include "primitives/ipp_types.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace dequant {

enum Mode : int { kIntraMpeg1 = 0, kNonIntraMpeg1 = 1, kIntraMpeg2 = 2, kNonIntraMpeg2 = 3 };
constexpr int kModeCount = 4;

constexpr Ipp32s kCoefficientMin = -2048;
constexpr Ipp32s kCoefficientMax = 2047;
// Quantiser scales above this are clamped, so that weight * scale fits 16 bits.
constexpr Ipp32s kMaxQuantiser = 127;

// levels: quantised levels in [-2048, 2047] (others are saturated first); matrix: weights, of
// which the low 8 bits count; quantiser: 0 to kMaxQuantiser; dc: intra DC coefficient.
using Kernel = void (*)(const Ipp16s* levels, const uint16_t* matrix, Ipp32s quantiser, Ipp32s dc,
                        Ipp16s* out);

struct KernelTable {
    Kernel kernel[kModeCount];
};

// One coefficient from a level already in [-2048, 2047] (as every decoded level is), the
// weight's low 8 bits and the quantiser (0 to kMaxQuantiser), before the mismatch control.
// Worked on the magnitude: truncation towards zero is then a plain shift, and the sign goes
// back on at the end.
template <bool kIntra, bool kMpeg1>
inline Ipp32s DequantiseLevelInRange(Ipp32s level, uint16_t weight, Ipp32s quantiser) {
    const int shift = kMpeg1 ? (kIntra ? 3 : 4) : (kIntra ? 4 : 5);
    const Ipp32s negative = level >> 31;  // -1 or 0
    const Ipp32s magnitude = (level ^ negative) - negative;
    // 2 * |level| + 1 for non-intra levels; a zero level stays zero.
    const Ipp32s multiplier = kIntra ? magnitude : 2 * magnitude + (magnitude != 0 ? 1 : 0);
    Ipp32s value = (multiplier * ((weight & 0xFF) * quantiser)) >> shift;
    // MPEG-1: an even non-zero value moves one step towards zero.
    if (kMpeg1) value -= (value != 0) & ~value & 1;
    // Saturation to [-2048, 2047]: the magnitude limit is one more for negative values.
    const Ipp32s limit = kCoefficientMax - negative;
    value = value > limit ? limit : value;
    return (value ^ negative) - negative;
}

// One coefficient as every version computes it: the level (saturated first), the weight's low
// 8 bits and the quantiser, before the mismatch control.
template <bool kIntra, bool kMpeg1>
inline Ipp32s DequantiseLevel(Ipp32s level, uint16_t weight, Ipp32s quantiser) {
    level = level < kCoefficientMin ? kCoefficientMin
                                    : (level > kCoefficientMax ? kCoefficientMax : level);
    return DequantiseLevelInRange<kIntra, kMpeg1>(level, weight, quantiser);
}

// Runs the installed kernel of `mode`, clamping the quantiser into range.
void Dequantise(Mode mode, const Ipp16s* levels, const uint16_t* matrix, Ipp32s quantiser,
                Ipp32s dc, Ipp16s* out);

// Fills the entries that the SSE2 versions provide; leaves the others.
void InstallSse2Kernels(KernelTable& table);

}  // namespace dequant
}  // namespace d2u
