// Kernel dispatch: each kernel family keeps a table of function pointers, filled with the scalar
// versions at start and overwritten at library load with the best versions the CPU supports.
// Callers always go through the tables; tests force the scalar level to compare results.
#pragma once

namespace d2u {

enum class KernelLevel : int { kScalar = 0, kSse2 = 1, kAvx2 = 2 };

// The best level that both the build and the CPU support.
KernelLevel DetectKernelLevel();
// Fills every family's table for min(level, DetectKernelLevel()).
void InstallKernels(KernelLevel level);
void InstallBestKernels();
KernelLevel InstalledKernelLevel();

// One install function per kernel family; each fills its own table for the given level.
void InstallResizeKernels(KernelLevel level);
// Further families add their install function here and call it from InstallKernels.

}  // namespace d2u
