// Kernel dispatch: each kernel family keeps a table of function pointers, constant-initialised
// with the scalar versions (so that the tables are never null, whatever runs first) and filled
// by the family's one Init...Kernels(level) function. InstallKernels calls every family's init
// in one place; the library installs the best level when it is loaded, and tests force lower
// levels to compare results.
#pragma once

namespace d2u {

enum class KernelLevel : int { kScalar = 0, kSse2 = 1, kAvx2 = 2 };

// The best level that both the build and the CPU support.
KernelLevel DetectKernelLevel();
// Fills every family's table for min(level, DetectKernelLevel()).
void InstallKernels(KernelLevel level);
void InstallBestKernels();

// Whether asking the cache for a macroblock's reference blocks before its coefficients are read
// makes decoding faster on this CPU. It did on AMD cores (HD decoding about 6% faster); on an
// Intel Xeon with 2 MiB of L2 a core the prefetch instructions cost 5% of HD decoding, the
// references arriving in time without them.
bool EarlyReferencePrefetchPays();

}  // namespace d2u
