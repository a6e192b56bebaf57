// SSE2 versions of the motion compensation kernels (see motion_compensation_units.h).
#include "primitives/motion_compensation.h"

#if defined(__SSE2__)
#include "primitives/motion_compensation_units.h"

namespace d2u {
namespace mc {

void InstallSse2Kernels(KernelTable& table) {
    FillSimdKernels(table);
}

}  // namespace mc
}  // namespace d2u

#else

namespace d2u {
namespace mc {
void InstallSse2Kernels(KernelTable&) {}
}  // namespace mc
}  // namespace d2u

#endif
