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

struct StreamCopyKernels {
    void (*copy)(uint8_t* destination, const uint8_t* source, size_t bytes);
};

void InitStreamCopyKernels(KernelLevel level);
// Fill the entries that the wider instruction sets provide; nothing where the build has none.
void InitStreamCopyKernelsSse2(StreamCopyKernels& kernels);
void InitStreamCopyKernelsAvx2(StreamCopyKernels& kernels);

}  // namespace d2u
