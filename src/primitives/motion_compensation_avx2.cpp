// AVX2 versions of the motion compensation kernels: the SSE2 ones with the residual added
// sixteen samples to a register, and the macroblock kernels' luma two rows to a register (see
// motion_compensation_units.h).
#include "primitives/motion_compensation.h"

#if defined(__AVX2__)
#include "primitives/motion_compensation_units.h"

namespace d2u {

void InitMotionCompensationKernelsAvx2(mc::KernelTable& table) {
    mc::FillSimdKernels(table);
}

}  // namespace d2u

#else

namespace d2u {
void InitMotionCompensationKernelsAvx2(mc::KernelTable&) {}
}  // namespace d2u

#endif
