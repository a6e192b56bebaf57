// SSE2 word byte swap: sixteen bytes at a time, the bytes of each 16-bit half swapped, then the
// halves; and the start code search over the swapped words.
#include "primitives/byte_order.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <algorithm>

namespace d2u {
namespace {

void SwapWordBytesSse2(uint32_t* words, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        auto* lane = reinterpret_cast<__m128i*>(words + i);
        __m128i value = _mm_loadu_si128(lane);
        value = _mm_or_si128(_mm_slli_epi16(value, 8), _mm_srli_epi16(value, 8));
        value = _mm_shufflehi_epi16(_mm_shufflelo_epi16(value, 0xB1), 0xB1);
        _mm_storeu_si128(lane, value);
    }
    for (; i < count; ++i) words[i] = __builtin_bswap32(words[i]);
}

// As the AVX2 search, 16 stream bytes a step, the bytes put in stream order with shifts.
int64_t FindStartCodePrefixSse2(const uint32_t* words, int64_t from, int64_t limit) {
    const auto* memory = reinterpret_cast<const uint8_t*>(words);
    const int64_t first = from + 2;
    int64_t step = first & ~int64_t{3};
    uint32_t wanted = 0xFFFFu << (first - step);  // the ones before `first` do not count
    uint32_t zerosBefore = ZerosBefore(words, step) >> 16;
    for (; step + 16 <= limit; step += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(memory + step));
        bytes = _mm_or_si128(_mm_slli_epi16(bytes, 8), _mm_srli_epi16(bytes, 8));
        bytes = _mm_shufflehi_epi16(_mm_shufflelo_epi16(bytes, 0xB1), 0xB1);
        const auto zeros =
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
        const auto ones =
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(1))));
        const uint32_t ends =
            ones & wanted & (zeros << 1 | zerosBefore >> 15) & (zeros << 2 | zerosBefore >> 14);
        if (ends != 0) return step + __builtin_ctz(ends) - 2;
        zerosBefore = zeros;
        wanted = 0xFFFFu;
    }
    return FindStartCodePrefixFrom(words, std::max(first, step), limit);
}

}  // namespace

void InitByteOrderKernelsSse2(ByteOrderKernels& kernels) {
    kernels.swapWords = SwapWordBytesSse2;
    kernels.findPrefix = FindStartCodePrefixSse2;
}

}  // namespace d2u

#else

namespace d2u {
void InitByteOrderKernelsSse2(ByteOrderKernels&) {}
}  // namespace d2u

#endif
