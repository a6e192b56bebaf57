#include "primitives/kernel_dispatch.h"

#include "primitives/byte_order.h"
#include "primitives/inverse_dct.h"
#include "primitives/masked_copy.h"
#include "primitives/motion_compensation.h"
#include "primitives/stream_copy.h"
#include "primitives/yuv_to_rgb.h"

namespace d2u {

KernelLevel DetectKernelLevel() {
#if defined(D2U_FORCE_SCALAR) || !(defined(__i386__) || defined(__x86_64__)) || !defined(__GNUC__)
    return KernelLevel::kScalar;
#else
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return KernelLevel::kAvx2;
    if (__builtin_cpu_supports("sse2")) return KernelLevel::kSse2;
    return KernelLevel::kScalar;
#endif
}

bool EarlyReferencePrefetchPays() {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    __builtin_cpu_init();
    return !__builtin_cpu_is("intel");
#else
    return true;
#endif
}

// Every family is listed here, so that none can be left out of a static link.
void InstallKernels(KernelLevel level) {
    const KernelLevel best = DetectKernelLevel();
    if (level > best) level = best;
    InitByteOrderKernels(level);
    InitStreamCopyKernels(level);
    InitMaskedCopyKernels(level);
    InitYuvToRgbKernels(level);
    InitInverseDctKernels(level);
    InitMotionCompensationKernels(level);
}

void InstallBestKernels() {
    InstallKernels(DetectKernelLevel());
}

}  // namespace d2u
