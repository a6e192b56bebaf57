#include "primitives/motion_compensation.h"

#include <cstddef>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

using mc::BlockShape;
using mc::k16x16;
using mc::k16x8;
using mc::k8x4;
using mc::k8x8;

const Ipp16s* ResidualRow(const Ipp16s* residual, Ipp32s step, int row) {
    return reinterpret_cast<const Ipp16s*>(reinterpret_cast<const Ipp8u*>(residual) +
                                           static_cast<ptrdiff_t>(step) * row);
}

Ipp8u Clip(int value) {
    return static_cast<Ipp8u>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// One predicted sample at column x of the row `ref`, `below` being the next row.
int PredictSample(const Ipp8u* ref, const Ipp8u* below, int x, Ipp32s mode, int roundDown) {
    switch (mode & 12) {
        case IPPVC_MC_APX_HF:
            return (ref[x] + ref[x + 1] + 1 - roundDown) >> 1;
        case IPPVC_MC_APX_FH:
            return (ref[x] + below[x] + 1 - roundDown) >> 1;
        case IPPVC_MC_APX_HH:
            return (ref[x] + ref[x + 1] + below[x] + below[x + 1] + 2 - roundDown) >> 2;
        default:
            return ref[x];
    }
}

// Only the half-sample modes read the row below; the full-sample ones must not touch it.
const Ipp8u* RowBelow(const Ipp8u* ref, Ipp32s step, Ipp32s mode) {
    return (mode & IPPVC_MC_APX_FH) ? ref + step : ref;
}

template <int kWidth, int kHeight>
void PredictSingleScalar(const Ipp8u* ref, Ipp32s refStep, const Ipp16s* residual,
                         Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s mode,
                         Ipp32s roundControl) {
    int roundDown = roundControl & 1;
    for (int y = 0; y < kHeight; ++y) {
        const Ipp8u* row = ref + static_cast<ptrdiff_t>(refStep) * y;
        const Ipp8u* below = RowBelow(row, refStep, mode);
        const Ipp16s* res = residual ? ResidualRow(residual, residualStep, y) : nullptr;
        Ipp8u* out = dst + static_cast<ptrdiff_t>(dstStep) * y;
        for (int x = 0; x < kWidth; ++x) {
            out[x] = Clip(PredictSample(row, below, x, mode, roundDown) + (res ? res[x] : 0));
        }
    }
}

template <int kWidth, int kHeight>
void PredictBidirectionalScalar(const Ipp8u* refF, Ipp32s refStepF, Ipp32s modeF, const Ipp8u* refB,
                                Ipp32s refStepB, Ipp32s modeB, const Ipp16s* residual,
                                Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep,
                                Ipp32s roundControl) {
    int roundDown = roundControl & 1;
    for (int y = 0; y < kHeight; ++y) {
        const Ipp8u* rowF = refF + static_cast<ptrdiff_t>(refStepF) * y;
        const Ipp8u* rowB = refB + static_cast<ptrdiff_t>(refStepB) * y;
        const Ipp8u* belowF = RowBelow(rowF, refStepF, modeF);
        const Ipp8u* belowB = RowBelow(rowB, refStepB, modeB);
        const Ipp16s* res = residual ? ResidualRow(residual, residualStep, y) : nullptr;
        Ipp8u* out = dst + static_cast<ptrdiff_t>(dstStep) * y;
        for (int x = 0; x < kWidth; ++x) {
            int forward = PredictSample(rowF, belowF, x, modeF, roundDown);
            int backward = PredictSample(rowB, belowB, x, modeB, roundDown);
            out[x] = Clip(((forward + backward + 1) >> 1) + (res ? res[x] : 0));
        }
    }
}

void PredictMacroblockScalar(const mc::MacroblockReference& reference,
                             const mc::MacroblockTarget& target) {
    PredictSingleScalar<16, 16>(reference.plane[0], reference.step[0], target.residual[0], 32,
                                target.plane[0], target.step[0], reference.lumaMode, 0);
    for (int k = 1; k < 3; ++k)
        PredictSingleScalar<8, 8>(reference.plane[k], reference.step[k], target.residual[k], 16,
                                  target.plane[k], target.step[k], reference.chromaMode, 0);
}

void PredictMacroblockBidirectionalScalar(const mc::MacroblockReference& forward,
                                          const mc::MacroblockReference& backward,
                                          const mc::MacroblockTarget& target) {
    PredictBidirectionalScalar<16, 16>(forward.plane[0], forward.step[0], forward.lumaMode,
                                       backward.plane[0], backward.step[0], backward.lumaMode,
                                       target.residual[0], 32, target.plane[0], target.step[0], 0);
    for (int k = 1; k < 3; ++k)
        PredictBidirectionalScalar<8, 8>(forward.plane[k], forward.step[k], forward.chromaMode,
                                         backward.plane[k], backward.step[k], backward.chromaMode,
                                         target.residual[k], 16, target.plane[k], target.step[k],
                                         0);
}

mc::KernelTable table;

void InstallMotionCompensationKernels(KernelLevel level) {
    table.single[k16x16] = PredictSingleScalar<16, 16>;
    table.single[k16x8] = PredictSingleScalar<16, 8>;
    table.single[k8x8] = PredictSingleScalar<8, 8>;
    table.single[k8x4] = PredictSingleScalar<8, 4>;
    table.bidirectional[k16x16] = PredictBidirectionalScalar<16, 16>;
    table.bidirectional[k16x8] = PredictBidirectionalScalar<16, 8>;
    table.bidirectional[k8x8] = PredictBidirectionalScalar<8, 8>;
    table.bidirectional[k8x4] = PredictBidirectionalScalar<8, 4>;
    table.macroblock = PredictMacroblockScalar;
    table.macroblockBidirectional = PredictMacroblockBidirectionalScalar;
    if (level != KernelLevel::kScalar) mc::InstallSse2Kernels(table);
    if (level == KernelLevel::kAvx2) mc::InstallAvx2Kernels(table);
}

IppStatus RunSingle(BlockShape shape, const Ipp8u* ref, Ipp32s refStep, const Ipp16s* residual,
                    Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s mode,
                    Ipp32s roundControl) {
    if (!ref || !residual || !dst) return ippStsNullPtrErr;
    if (mode < 0 || mode > 15) return ippStsBadArgErr;
    table.single[shape](ref, refStep, residual, residualStep, dst, dstStep, mode, roundControl);
    return ippStsNoErr;
}

IppStatus RunBidirectional(BlockShape shape, const Ipp8u* refF, Ipp32s refStepF, Ipp32s modeF,
                           const Ipp8u* refB, Ipp32s refStepB, Ipp32s modeB, const Ipp16s* residual,
                           Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s roundControl) {
    if (!refF || !refB || !residual || !dst) return ippStsNullPtrErr;
    if (modeF < 0 || modeF > 15 || modeB < 0 || modeB > 15) return ippStsBadArgErr;
    table.bidirectional[shape](refF, refStepF, modeF, refB, refStepB, modeB, residual, residualStep,
                               dst, dstStep, roundControl);
    return ippStsNoErr;
}

}  // namespace

D2U_REGISTER_KERNEL_FAMILY(InstallMotionCompensationKernels);

const mc::KernelTable& mc::InstalledKernels() {
    return table;
}

IppStatus ippiMC16x16_8u_C1(const Ipp8u* pSrcRef, Ipp32s srcStep, const Ipp16s* pSrcYData,
                            Ipp32s srcYDataStep, Ipp8u* pDst, Ipp32s dstStep, Ipp32s mcType,
                            Ipp32s roundControl) {
    return RunSingle(mc::k16x16, pSrcRef, srcStep, pSrcYData, srcYDataStep, pDst, dstStep, mcType,
                     roundControl);
}

IppStatus ippiMC16x8_8u_C1(const Ipp8u* pSrcRef, Ipp32s srcStep, const Ipp16s* pSrcYData,
                           Ipp32s srcYDataStep, Ipp8u* pDst, Ipp32s dstStep, Ipp32s mcType,
                           Ipp32s roundControl) {
    return RunSingle(mc::k16x8, pSrcRef, srcStep, pSrcYData, srcYDataStep, pDst, dstStep, mcType,
                     roundControl);
}

IppStatus ippiMC8x8_8u_C1(const Ipp8u* pSrcRef, Ipp32s srcStep, const Ipp16s* pSrcYData,
                          Ipp32s srcYDataStep, Ipp8u* pDst, Ipp32s dstStep, Ipp32s mcType,
                          Ipp32s roundControl) {
    return RunSingle(mc::k8x8, pSrcRef, srcStep, pSrcYData, srcYDataStep, pDst, dstStep, mcType,
                     roundControl);
}

IppStatus ippiMC8x4_8u_C1(const Ipp8u* pSrcRef, Ipp32s srcStep, const Ipp16s* pSrcYData,
                          Ipp32s srcYDataStep, Ipp8u* pDst, Ipp32s dstStep, Ipp32s mcType,
                          Ipp32s roundControl) {
    return RunSingle(mc::k8x4, pSrcRef, srcStep, pSrcYData, srcYDataStep, pDst, dstStep, mcType,
                     roundControl);
}

IppStatus ippiMC16x16B_8u_C1(const Ipp8u* pSrcRefF, Ipp32s srcStepF, Ipp32s mcTypeF,
                             const Ipp8u* pSrcRefB, Ipp32s srcStepB, Ipp32s mcTypeB,
                             const Ipp16s* pSrcYData, Ipp32s srcYDataStep, Ipp8u* pDst,
                             Ipp32s dstStep, Ipp32s roundControl) {
    return RunBidirectional(mc::k16x16, pSrcRefF, srcStepF, mcTypeF, pSrcRefB, srcStepB, mcTypeB,
                            pSrcYData, srcYDataStep, pDst, dstStep, roundControl);
}

IppStatus ippiMC16x8B_8u_C1(const Ipp8u* pSrcRefF, Ipp32s srcStepF, Ipp32s mcTypeF,
                            const Ipp8u* pSrcRefB, Ipp32s srcStepB, Ipp32s mcTypeB,
                            const Ipp16s* pSrcYData, Ipp32s srcYDataStep, Ipp8u* pDst,
                            Ipp32s dstStep, Ipp32s roundControl) {
    return RunBidirectional(mc::k16x8, pSrcRefF, srcStepF, mcTypeF, pSrcRefB, srcStepB, mcTypeB,
                            pSrcYData, srcYDataStep, pDst, dstStep, roundControl);
}

IppStatus ippiMC8x8B_8u_C1(const Ipp8u* pSrcRefF, Ipp32s srcStepF, Ipp32s mcTypeF,
                           const Ipp8u* pSrcRefB, Ipp32s srcStepB, Ipp32s mcTypeB,
                           const Ipp16s* pSrcYData, Ipp32s srcYDataStep, Ipp8u* pDst,
                           Ipp32s dstStep, Ipp32s roundControl) {
    return RunBidirectional(mc::k8x8, pSrcRefF, srcStepF, mcTypeF, pSrcRefB, srcStepB, mcTypeB,
                            pSrcYData, srcYDataStep, pDst, dstStep, roundControl);
}

IppStatus ippiMC8x4B_8u_C1(const Ipp8u* pSrcRefF, Ipp32s srcStepF, Ipp32s mcTypeF,
                           const Ipp8u* pSrcRefB, Ipp32s srcStepB, Ipp32s mcTypeB,
                           const Ipp16s* pSrcYData, Ipp32s srcYDataStep, Ipp8u* pDst,
                           Ipp32s dstStep, Ipp32s roundControl) {
    return RunBidirectional(mc::k8x4, pSrcRefF, srcStepF, mcTypeF, pSrcRefB, srcStepB, mcTypeB,
                            pSrcYData, srcYDataStep, pDst, dstStep, roundControl);
}

}  // namespace d2u
