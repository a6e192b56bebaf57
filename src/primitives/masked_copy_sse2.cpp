// SSE2 rows of the masked copies: 16 pixels per step, blended by the mask's zero test.
#include "primitives/masked_copy.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

namespace d2u {
namespace {

constexpr int32_t kPixelsPerStep = 16;

// 0xFF where the mask byte is zero (the destination is kept), 0 where it is copied.
__m128i KeepMask(const Ipp8u* mask) {
    __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask));
    return _mm_cmpeq_epi8(m, _mm_setzero_si128());
}

void Blend16(const Ipp8u* source, Ipp8u* destination, __m128i keep) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(destination));
    __m128i result = _mm_or_si128(_mm_and_si128(keep, d), _mm_andnot_si128(keep, s));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination), result);
}

template <int kChannels>
void CopyTail(const Ipp8u* source, Ipp8u* destination, const Ipp8u* mask, int32_t from,
              int32_t width) {
    for (int32_t x = from; x < width; ++x) {
        if (mask[x]) std::memcpy(destination + x * kChannels, source + x * kChannels, kChannels);
    }
}

void MaskedCopyRowC1(const Ipp8u* source, Ipp8u* destination, const Ipp8u* mask, int32_t width) {
    int32_t x = 0;
    for (; x + kPixelsPerStep <= width; x += kPixelsPerStep) {
        Blend16(source + x, destination + x, KeepMask(mask + x));
    }
    CopyTail<1>(source, destination, mask, x, width);
}

void MaskedCopyRowC4(const Ipp8u* source, Ipp8u* destination, const Ipp8u* mask, int32_t width) {
    int32_t x = 0;
    for (; x + kPixelsPerStep <= width; x += kPixelsPerStep) {
        __m128i keep = KeepMask(mask + x);
        __m128i low = _mm_unpacklo_epi8(keep, keep);
        __m128i high = _mm_unpackhi_epi8(keep, keep);
        const Ipp8u* s = source + x * 4;
        Ipp8u* d = destination + x * 4;
        Blend16(s, d, _mm_unpacklo_epi16(low, low));
        Blend16(s + 16, d + 16, _mm_unpackhi_epi16(low, low));
        Blend16(s + 32, d + 32, _mm_unpacklo_epi16(high, high));
        Blend16(s + 48, d + 48, _mm_unpackhi_epi16(high, high));
    }
    CopyTail<4>(source, destination, mask, x, width);
}

// Three-byte pixels do not line up with vector lanes; subtitle masks are mostly long runs, so
// whole steps that are all kept or all copied go fast and mixed steps go pixel by pixel.
void MaskedCopyRowC3(const Ipp8u* source, Ipp8u* destination, const Ipp8u* mask, int32_t width) {
    int32_t x = 0;
    for (; x + kPixelsPerStep <= width; x += kPixelsPerStep) {
        int keepBits = _mm_movemask_epi8(KeepMask(mask + x));
        if (keepBits == 0xFFFF) continue;
        if (keepBits == 0) {
            std::memcpy(destination + x * 3, source + x * 3, kPixelsPerStep * 3);
            continue;
        }
        CopyTail<3>(source, destination, mask, x, x + kPixelsPerStep);
    }
    CopyTail<3>(source, destination, mask, x, width);
}

}  // namespace

void InitMaskedCopyKernelsSse2(MaskedCopyKernels& kernels) {
    kernels = {MaskedCopyRowC1, MaskedCopyRowC3, MaskedCopyRowC4};
}

}  // namespace d2u

#else

namespace d2u {
void InitMaskedCopyKernelsSse2(MaskedCopyKernels&) {}
}  // namespace d2u

#endif
