// AVX2 word byte swap: one byte shuffle per 32 bytes, two registers a step.
#include "primitives/byte_order.h"

#if defined(__AVX2__)
#include <immintrin.h>

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

}  // namespace

void InitByteOrderKernelsAvx2(ByteOrderKernels& kernels) {
    kernels.swapWords = SwapWordBytesAvx2;
}

}  // namespace d2u

#else

namespace d2u {
void InitByteOrderKernelsAvx2(ByteOrderKernels&) {}
}  // namespace d2u

#endif
