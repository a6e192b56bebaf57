// AVX2 word byte swap: one byte shuffle per 32 bytes, two registers a step; and the start code
// search over the swapped words.
#include "primitives/byte_order.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include <algorithm>

namespace d2u {
namespace {

void SwapWordBytesAvx2(uint32_t* words, int32_t count) {
    const __m256i order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3,
                                           2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        auto* lanes = reinterpret_cast<__m256i*>(words + i);
        const __m256i first = _mm256_loadu_si256(lanes);
        const __m256i second = _mm256_loadu_si256(lanes + 1);
        _mm256_storeu_si256(lanes, _mm256_shuffle_epi8(first, order));
        _mm256_storeu_si256(lanes + 1, _mm256_shuffle_epi8(second, order));
    }
    for (; i < count; ++i) words[i] = __builtin_bswap32(words[i]);
}

// The first prefix whose 01 byte lies in [from + 2, limit), 32 stream bytes a step: the bytes put
// in stream order with one shuffle, then a bit mask of the zeros and one of the ones, so that a
// prefix is a one with zeros one and two bits below it, the bits of the step before carried in.
int64_t FindStartCodePrefixAvx2(const uint32_t* words, int64_t from, int64_t limit) {
    const __m256i order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3,
                                           2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const auto* memory = reinterpret_cast<const uint8_t*>(words);
    const int64_t first = from + 2;
    int64_t step = first & ~int64_t{3};
    uint32_t wanted = ~0u << (first - step);  // the ones before `first` do not count
    uint32_t zerosBefore = ZerosBefore(words, step);
    for (; step + 32 <= limit; step += 32) {
        const __m256i bytes = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(memory + step)), order);
        const auto zeros = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_setzero_si256())));
        const auto ones = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(1))));
        const uint32_t ends =
            ones & wanted & (zeros << 1 | zerosBefore >> 31) & (zeros << 2 | zerosBefore >> 30);
        if (ends != 0) return step + __builtin_ctz(ends) - 2;
        zerosBefore = zeros;
        wanted = ~0u;
    }
    return FindStartCodePrefixFrom(words, std::max(first, step), limit);
}

}  // namespace

void InitByteOrderKernelsAvx2(ByteOrderKernels& kernels) {
    kernels.swapWords = SwapWordBytesAvx2;
    kernels.findPrefix = FindStartCodePrefixAvx2;
}

}  // namespace d2u

#else

namespace d2u {
void InitByteOrderKernelsAvx2(ByteOrderKernels&) {}
}  // namespace d2u

#endif
