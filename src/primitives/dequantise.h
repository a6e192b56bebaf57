// Inverse quantisation of one quantised level into a DCT coefficient, in the four forms of
// MPEG-1 and MPEG-2 intra and non-intra blocks:
// - MPEG-1 intra:      (2 * level * W * q) / 16, made odd towards zero
// - MPEG-1 non-intra:  ((2 * level + sign) * W * q) / 16, made odd towards zero
// - MPEG-2 intra:      (2 * level * W * q) / 32
// - MPEG-2 non-intra:  ((2 * level + sign) * W * q) / 32
// with divisions truncating towards zero and every result saturated to [-2048, 2047]. The
// coefficient readers apply it as they read each level; MPEG-2's mismatch control of the last
// coefficient and the intra DC coefficient are theirs.
#pragma once

#include <cstdint>

#include "primitives/ipp_types.h"

namespace d2u {
namespace dequant {

constexpr Ipp32s kCoefficientMin = -2048;
constexpr Ipp32s kCoefficientMax = 2047;
// Quantiser scales above this are clamped, so that weight * scale fits 16 bits.
constexpr Ipp32s kMaxQuantiser = 127;

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

}  // namespace dequant
}  // namespace d2u
