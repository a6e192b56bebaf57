#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {
KernelLevel installedLevel = KernelLevel::kScalar;

bool CpuHas(const char* feature) {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    __builtin_cpu_init();
    if (feature[0] == 'a') return __builtin_cpu_supports("avx2");
    return __builtin_cpu_supports("sse2");
#else
    (void)feature;
    return false;
#endif
}
}  // namespace

KernelLevel DetectKernelLevel() {
#if defined(D2U_FORCE_SCALAR) || !(defined(__i386__) || defined(__x86_64__))
    return KernelLevel::kScalar;
#else
    if (CpuHas("avx2")) return KernelLevel::kAvx2;
    if (CpuHas("sse2")) return KernelLevel::kSse2;
    return KernelLevel::kScalar;
#endif
}

void InstallKernels(KernelLevel level) {
    KernelLevel best = DetectKernelLevel();
    if (static_cast<int>(level) > static_cast<int>(best)) level = best;
    installedLevel = level;
    InstallResizeKernels(level);
}

void InstallBestKernels() { InstallKernels(DetectKernelLevel()); }

KernelLevel InstalledKernelLevel() { return installedLevel; }

}  // namespace d2u
