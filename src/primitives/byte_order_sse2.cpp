// SSE2 word byte swap: sixteen bytes at a time, the bytes of each 16-bit half swapped, then the
// halves.
#include "primitives/byte_order.h"

#if defined(__SSE2__)
#include <emmintrin.h>

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

}  // namespace

void InitByteOrderKernelsSse2(ByteOrderKernels& kernels) {
    kernels.swapWords = SwapWordBytesSse2;
}

}  // namespace d2u

#else

namespace d2u {
void InitByteOrderKernelsSse2(ByteOrderKernels&) {}
}  // namespace d2u

#endif
