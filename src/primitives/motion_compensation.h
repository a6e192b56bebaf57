// Motion-compensated prediction of one block: the reference block at a half-sample position
// (MPEG rounding: averages round up), plus a 16-bit residual, clipped to 0..255. The
// bidirectional forms average a forward and a backward prediction, rounding up, before the
// residual is added; a null residual stores the prediction alone, as a zero residual would.
//
// mode: 8 x (horizontal half-sample) + 4 x (vertical half-sample), so 0, 4, 8 or 12.
// Steps are in bytes, the residual step too. A block with a horizontal half-sample reads one
// column more than its width, one with a vertical half-sample one row more than its height.
#pragma once

#include "primitives/ipp_types.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

// Half-sample modes.
constexpr Ipp32s IPPVC_MC_APX_FF = 0;
constexpr Ipp32s IPPVC_MC_APX_FH = 4;
constexpr Ipp32s IPPVC_MC_APX_HF = 8;
constexpr Ipp32s IPPVC_MC_APX_HH = 12;

// The family's dispatch table. One entry per block shape: 16x16, 16x8, 8x8, 8x4.
namespace mc {

enum BlockShape { k16x16 = 0, k16x8 = 1, k8x8 = 2, k8x4 = 3, kShapeCount = 4 };

using SingleKernel = void (*)(const Ipp8u* ref, Ipp32s refStep, const Ipp16s* residual,
                              Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s mode);
using BidirectionalKernel = void (*)(const Ipp8u* refF, Ipp32s refStepF, Ipp32s modeF,
                                     const Ipp8u* refB, Ipp32s refStepB, Ipp32s modeB,
                                     const Ipp16s* residual, Ipp32s residualStep, Ipp8u* dst,
                                     Ipp32s dstStep);

// A whole macroblock of a 4:2:0 picture in one call: the 16x16 luma block and the 8x8 Cb and Cr
// blocks. The residual is laid out as the decoder keeps it: luma rows of 32 bytes, chroma rows
// of 16 bytes; a null area is taken as zero.
struct MacroblockReference {
    const Ipp8u* plane[3];  // luma, Cb, Cr: the first sample of each block
    Ipp32s step[3];
    Ipp32s lumaMode;
    Ipp32s chromaMode;
};
struct MacroblockTarget {
    Ipp8u* plane[3];
    Ipp32s step[3];
    const Ipp16s* residual[3];
};
using MacroblockKernel = void (*)(const MacroblockReference& reference,
                                  const MacroblockTarget& target);
using MacroblockBidirectionalKernel = void (*)(const MacroblockReference& forward,
                                               const MacroblockReference& backward,
                                               const MacroblockTarget& target);

struct KernelTable {
    SingleKernel single[kShapeCount];
    BidirectionalKernel bidirectional[kShapeCount];
    MacroblockKernel macroblock;
    MacroblockBidirectionalKernel macroblockBidirectional;
};

// The installed kernels; callers check their own arguments.
const KernelTable& InstalledKernels();

}  // namespace mc

void InitMotionCompensationKernels(KernelLevel level);
// Fill the entries that the SSE2 and the AVX2 versions provide; nothing where the build has none.
void InitMotionCompensationKernelsSse2(mc::KernelTable& table);
void InitMotionCompensationKernelsAvx2(mc::KernelTable& table);

}  // namespace d2u
