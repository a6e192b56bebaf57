#include "primitives/motion_compensation.h"

#include <cstddef>

namespace d2u {
namespace {

const Ipp16s* ResidualRow(const Ipp16s* residual, Ipp32s step, int row) {
    return reinterpret_cast<const Ipp16s*>(reinterpret_cast<const Ipp8u*>(residual) +
                                           static_cast<ptrdiff_t>(step) * row);
}

Ipp8u Clip(int value) {
    return static_cast<Ipp8u>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// One predicted sample at column x of the row `ref`, `below` being the next row.
int PredictSample(const Ipp8u* ref, const Ipp8u* below, int x, Ipp32s mode) {
    switch (mode & 12) {
        case IPPVC_MC_APX_HF:
            return (ref[x] + ref[x + 1] + 1) >> 1;
        case IPPVC_MC_APX_FH:
            return (ref[x] + below[x] + 1) >> 1;
        case IPPVC_MC_APX_HH:
            return (ref[x] + ref[x + 1] + below[x] + below[x + 1] + 2) >> 2;
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
                         Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s mode) {
    for (int y = 0; y < kHeight; ++y) {
        const Ipp8u* row = ref + static_cast<ptrdiff_t>(refStep) * y;
        const Ipp8u* below = RowBelow(row, refStep, mode);
        const Ipp16s* res = residual ? ResidualRow(residual, residualStep, y) : nullptr;
        Ipp8u* out = dst + static_cast<ptrdiff_t>(dstStep) * y;
        for (int x = 0; x < kWidth; ++x) {
            out[x] = Clip(PredictSample(row, below, x, mode) + (res ? res[x] : 0));
        }
    }
}

template <int kWidth, int kHeight>
void PredictBidirectionalScalar(const Ipp8u* refF, Ipp32s refStepF, Ipp32s modeF, const Ipp8u* refB,
                                Ipp32s refStepB, Ipp32s modeB, const Ipp16s* residual,
                                Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep) {
    for (int y = 0; y < kHeight; ++y) {
        const Ipp8u* rowF = refF + static_cast<ptrdiff_t>(refStepF) * y;
        const Ipp8u* rowB = refB + static_cast<ptrdiff_t>(refStepB) * y;
        const Ipp8u* belowF = RowBelow(rowF, refStepF, modeF);
        const Ipp8u* belowB = RowBelow(rowB, refStepB, modeB);
        const Ipp16s* res = residual ? ResidualRow(residual, residualStep, y) : nullptr;
        Ipp8u* out = dst + static_cast<ptrdiff_t>(dstStep) * y;
        for (int x = 0; x < kWidth; ++x) {
            int forward = PredictSample(rowF, belowF, x, modeF);
            int backward = PredictSample(rowB, belowB, x, modeB);
            out[x] = Clip(((forward + backward + 1) >> 1) + (res ? res[x] : 0));
        }
    }
}

void PredictMacroblockScalar(const mc::MacroblockReference& reference,
                             const mc::MacroblockTarget& target) {
    PredictSingleScalar<16, 16>(reference.plane[0], reference.step[0], target.residual[0], 32,
                                target.plane[0], target.step[0], reference.lumaMode);
    for (int k = 1; k < 3; ++k)
        PredictSingleScalar<8, 8>(reference.plane[k], reference.step[k], target.residual[k], 16,
                                  target.plane[k], target.step[k], reference.chromaMode);
}

void PredictMacroblockBidirectionalScalar(const mc::MacroblockReference& forward,
                                          const mc::MacroblockReference& backward,
                                          const mc::MacroblockTarget& target) {
    PredictBidirectionalScalar<16, 16>(forward.plane[0], forward.step[0], forward.lumaMode,
                                       backward.plane[0], backward.step[0], backward.lumaMode,
                                       target.residual[0], 32, target.plane[0], target.step[0]);
    for (int k = 1; k < 3; ++k)
        PredictBidirectionalScalar<8, 8>(forward.plane[k], forward.step[k], forward.chromaMode,
                                         backward.plane[k], backward.step[k], backward.chromaMode,
                                         target.residual[k], 16, target.plane[k], target.step[k]);
}

// Indexed by mc::BlockShape: 16x16, 16x8, 8x8, 8x4.
constexpr mc::KernelTable kScalarKernels = {
    {PredictSingleScalar<16, 16>, PredictSingleScalar<16, 8>, PredictSingleScalar<8, 8>,
     PredictSingleScalar<8, 4>},
    {PredictBidirectionalScalar<16, 16>, PredictBidirectionalScalar<16, 8>,
     PredictBidirectionalScalar<8, 8>, PredictBidirectionalScalar<8, 4>},
    PredictMacroblockScalar,
    PredictMacroblockBidirectionalScalar};

mc::KernelTable table = kScalarKernels;

}  // namespace

const mc::KernelTable& mc::InstalledKernels() {
    return table;
}

void InitMotionCompensationKernels(KernelLevel level) {
    table = kScalarKernels;
    if (level >= KernelLevel::kSse2) InitMotionCompensationKernelsSse2(table);
    if (level >= KernelLevel::kAvx2) InitMotionCompensationKernelsAvx2(table);
}

}  // namespace d2u
