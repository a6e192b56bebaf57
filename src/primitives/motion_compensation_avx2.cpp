// AVX2 versions of the motion compensation kernels: the SSE2 ones with the residual added
// sixteen samples to a register (see motion_compensation_units.h).
#include "primitives/motion_compensation.h"

#if defined(__AVX2__)
#include "primitives/motion_compensation_units.h"

namespace d2u {
namespace mc {

void InstallAvx2Kernels(KernelTable& table) {
    table.macroblock = PredictMacroblockSimd;
    table.macroblockBidirectional = PredictMacroblockBidirectionalSimd;
    table.single[k16x16] = PredictSingleSimd<16, 16>;
    table.single[k16x8] = PredictSingleSimd<16, 8>;
    table.single[k8x8] = PredictSingleSimd<8, 8>;
    table.single[k8x4] = PredictSingleSimd<8, 4>;
    table.bidirectional[k16x16] = PredictBidirectionalSimd<16, 16>;
    table.bidirectional[k16x8] = PredictBidirectionalSimd<16, 8>;
    table.bidirectional[k8x8] = PredictBidirectionalSimd<8, 8>;
    table.bidirectional[k8x4] = PredictBidirectionalSimd<8, 4>;
}

}  // namespace mc
}  // namespace d2u

#else

namespace d2u {
namespace mc {
void InstallAvx2Kernels(KernelTable&) {}
}  // namespace mc
}  // namespace d2u

#endif
