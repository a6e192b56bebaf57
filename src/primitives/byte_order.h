// Byte order of the stream's 32-bit words: the file holds each word's most significant byte
// first, the reader wants them as host words. One pass over every byte read, so it is a kernel.
#pragma once

#include <cstdint>

#include "primitives/kernel_dispatch.h"

namespace d2u {

// Reverses the four bytes of each of `count` words in place; any alignment.
void SwapWordBytes(uint32_t* words, int32_t count);

struct ByteOrderKernels {
    void (*swapWords)(uint32_t* words, int32_t count);
};

void InitByteOrderKernels(KernelLevel level);
// Fill the entries that the wider instruction sets provide; nothing where the build has none.
void InitByteOrderKernelsSse2(ByteOrderKernels& kernels);
void InitByteOrderKernelsAvx2(ByteOrderKernels& kernels);

}  // namespace d2u
