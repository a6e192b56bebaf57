#include "primitives/byte_order.h"

#include <algorithm>
#include <cstring>

namespace d2u {
namespace {

bool PrefixEndsAt(const uint32_t* words, int64_t one) {
    return StreamByte(words, one) == 1 && StreamByte(words, one - 1) == 0 &&
           StreamByte(words, one - 2) == 0;
}

void SwapWordBytesScalar(uint32_t* words, int32_t count) {
    auto* bytes = reinterpret_cast<const uint8_t*>(words);
    for (int32_t i = 0; i < count; ++i, bytes += 4) {
        words[i] = (static_cast<uint32_t>(bytes[0]) << 24) |
                   (static_cast<uint32_t>(bytes[1]) << 16) |
                   (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
    }
}

// memchr finds the next word holding a byte 01 (the bytes of a word are in memory order, which
// is not the stream's, but the word is the same); only a prefix ending in that word can be next.
int64_t FindStartCodePrefixScalar(const uint32_t* words, int64_t from, int64_t limit) {
    const int64_t aligned = std::min(limit, (from + 5) & ~int64_t{3});
    const int64_t head = FindStartCodePrefixFrom(words, from + 2, aligned);
    if (head != aligned) return head;
    int64_t one = std::max(from + 2, aligned);
    const auto* memory = reinterpret_cast<const uint8_t*>(words);
    const int64_t wholeWords = limit & ~int64_t{3};
    while (one < wholeWords) {
        const void* found = std::memchr(memory + one, 1, static_cast<size_t>(wholeWords - one));
        if (!found) break;
        const int64_t word = (static_cast<const uint8_t*>(found) - memory) & ~int64_t{3};
        const int64_t prefix = FindStartCodePrefixFrom(words, std::max(one, word), word + 4);
        if (prefix != word + 4) return prefix;
        one = word + 4;
    }
    return FindStartCodePrefixFrom(words, std::max(one, wholeWords), limit);
}

ByteOrderKernels kernels = {SwapWordBytesScalar, FindStartCodePrefixScalar};

}  // namespace

int64_t FindStartCodePrefixFrom(const uint32_t* words, int64_t first, int64_t limit) {
    for (int64_t one = first; one < limit; ++one) {
        if (PrefixEndsAt(words, one)) return one - 2;
    }
    return limit;
}

uint32_t ZerosBefore(const uint32_t* words, int64_t at) {
    if (at < 2) return 0;
    return (StreamByte(words, at - 2) == 0 ? 1u << 30 : 0) |
           (StreamByte(words, at - 1) == 0 ? 1u << 31 : 0);
}

int64_t FindStartCodePrefix(const uint32_t* words, int64_t from, int64_t limit) {
    return kernels.findPrefix(words, from, limit);
}

void SwapWordBytes(uint32_t* words, int32_t count) {
    kernels.swapWords(words, count);
}

void InitByteOrderKernels(KernelLevel level) {
    kernels = {SwapWordBytesScalar, FindStartCodePrefixScalar};
    if (level >= KernelLevel::kSse2) InitByteOrderKernelsSse2(kernels);
    if (level >= KernelLevel::kAvx2) InitByteOrderKernelsAvx2(kernels);
}

}  // namespace d2u
