#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

// Constant-initialised, so valid before any dynamic initialisation runs.
KernelLevel installedLevel = KernelLevel::kScalar;

constexpr int kMaxFamilies = 64;
KernelInstaller families[kMaxFamilies];
int familyCount = 0;

}  // namespace

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

void InstallKernels(KernelLevel level) {
    KernelLevel best = DetectKernelLevel();
    if (static_cast<int>(level) > static_cast<int>(best)) level = best;
    installedLevel = level;
    for (int i = 0; i < familyCount; ++i) families[i](level);
}

void InstallBestKernels() {
    InstallKernels(DetectKernelLevel());
}

KernelLevel InstalledKernelLevel() {
    return installedLevel;
}

bool RegisterKernelFamily(KernelInstaller installer) {
    if (!installer || familyCount >= kMaxFamilies) return false;
    families[familyCount++] = installer;
    installer(installedLevel);
    return true;
}

}  // namespace d2u
