// Byte order of the stream's 32-bit words: the file holds each word's most significant byte
// first, the reader wants them as host words. One pass over every byte read, so it is a kernel.
#pragma once

#include <cstdint>

#include "primitives/kernel_dispatch.h"

namespace d2u {

// Reverses the four bytes of each of `count` words in place; any alignment.
void SwapWordBytes(uint32_t* words, int32_t count);

using WordSwap = void (*)(uint32_t* words, int32_t count);

// The versions of the wider instruction sets, or null where the build has none.
WordSwap WordSwapSse2();
WordSwap WordSwapAvx2();

void InstallByteOrderKernels(KernelLevel level);

}  // namespace d2u
