// Kernel dispatch: each kernel family keeps a table of function pointers, filled with the scalar
// versions at start and overwritten at library load with the best versions the CPU supports.
// Callers always go through the tables; tests force the scalar level to compare results.
//
// A family registers its install function once, in its own source file:
//     D2U_REGISTER_KERNEL_FAMILY(InstallResizeKernels);
// and the install function fills the family's table for the level it is given.
#pragma once

namespace d2u {

enum class KernelLevel : int { kScalar = 0, kSse2 = 1, kAvx2 = 2 };

using KernelInstaller = void (*)(KernelLevel level);

// The best level that both the build and the CPU support.
KernelLevel DetectKernelLevel();
// Fills every registered family's table for min(level, DetectKernelLevel()).
void InstallKernels(KernelLevel level);
void InstallBestKernels();
KernelLevel InstalledKernelLevel();

// Adds a family and installs it at the level in force, so the order of static
// initialisation against library load does not matter.
bool RegisterKernelFamily(KernelInstaller installer);

}  // namespace d2u

#define D2U_REGISTER_KERNEL_FAMILY(installer)                                                     \
    namespace {                                                                                   \
    [[maybe_unused]] const bool registered_##installer = ::d2u::RegisterKernelFamily(&installer); \
    }
