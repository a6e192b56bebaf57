// Copies of whole picture planes that nothing of the decoder reads again soon (the host's copy
// of a reference picture): the wider versions write past the caches, so that the copy does not
// push the reference pictures out of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/kernel_dispatch.h"

namespace d2u {

// Copies `bytes` bytes; the two areas do not overlap; any alignment and length.
void StreamCopy(uint8_t* destination, const uint8_t* source, size_t bytes);

using StreamCopyKernel = void (*)(uint8_t* destination, const uint8_t* source, size_t bytes);

// The versions of the wider instruction sets, or null where the build has none.
StreamCopyKernel StreamCopySse2();
StreamCopyKernel StreamCopyAvx2();

void InstallStreamCopyKernels(KernelLevel level);

}  // namespace d2u
