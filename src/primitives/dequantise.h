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

// Runs the installed kernel of `mode`, clamping the quantiser into range.
void Dequantise(Mode mode, const Ipp16s* levels, const uint16_t* matrix, Ipp32s quantiser,
                Ipp32s dc, Ipp16s* out);

// Fills the entries that the SSE2 versions provide; leaves the others.
void InstallSse2Kernels(KernelTable& table);

}  // namespace dequant
}  // namespace d2u
