// SSE2 versions of the motion compensation kernels (see motion_compensation_units.h).
#include "primitives/motion_compensation.h"

#if defined(__SSE2__)
#include "primitives/motion_compensation_units.h"

namespace d2u {

void InitMotionCompensationKernelsSse2(mc::KernelTable& table) {
    mc::FillSimdKernels(table);
}

}  // namespace d2u

#else

namespace d2u {
void InitMotionCompensationKernelsSse2(mc::KernelTable&) {}
}  // namespace d2u

#endif
