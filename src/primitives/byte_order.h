// Byte order of the stream's 32-bit words: the file holds each word's most significant byte
// first, the reader wants them as host words. One pass over every byte read, so it is a kernel;
// so is the search for start codes in the swapped words, which the slice threads run over every
// byte of a picture before its slices are shared out.
#pragma once

#include <cstdint>

#include "primitives/kernel_dispatch.h"

namespace d2u {

// Byte `index` of the stream whose words start at `words`.
inline uint32_t StreamByte(const uint32_t* words, int64_t index) {
    return (words[index >> 2] >> (24 - 8 * (index & 3))) & 0xFF;
}

// Reverses the four bytes of each of `count` words in place; any alignment.
void SwapWordBytes(uint32_t* words, int32_t count);

// The stream byte (bytes count from the most significant byte of words[0]) at which the first
// 00 00 01 begins that starts at or after byte `from` and ends before byte `limit`; `limit` when
// there is none. Reads the words that hold bytes from - 2 (when not before words[0]) to limit - 1.
int64_t FindStartCodePrefix(const uint32_t* words, int64_t from, int64_t limit);

struct ByteOrderKernels {
    void (*swapWords)(uint32_t* words, int32_t count);
    int64_t (*findPrefix)(const uint32_t* words, int64_t from, int64_t limit);
};

// The byte by byte search that every version ends with: the first prefix whose 01 byte lies in
// [first, limit) (its zeros are read before `first`), or `limit`.
int64_t FindStartCodePrefixFrom(const uint32_t* words, int64_t first, int64_t limit);
// Bits 30 and 31 set where the two bytes before byte `at` (at a word boundary) are zero.
uint32_t ZerosBefore(const uint32_t* words, int64_t at);

void InitByteOrderKernels(KernelLevel level);
// Fill the entries that the wider instruction sets provide; nothing where the build has none.
void InitByteOrderKernelsSse2(ByteOrderKernels& kernels);
void InitByteOrderKernelsAvx2(ByteOrderKernels& kernels);

}  // namespace d2u
