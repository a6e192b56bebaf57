#include "demux/zero_pair_scan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace d2u {

size_t FindZeroPair(const uint8_t* data, size_t from, size_t end) {
    if (end <= from) return end;
    size_t at = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; at + 17 <= end; at += 16) {
        __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
        int pairs = _mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(first, zero), _mm_cmpeq_epi8(second, zero)));
        if (pairs != 0)
            return at + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(pairs)));
    }
#endif
    for (; at + 1 < end; ++at) {
        if (data[at] == 0 && data[at + 1] == 0) return at;
    }
    return end - 1;
}

}  // namespace d2u
