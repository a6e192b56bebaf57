// SSE2 versions of the inverse quantisation; the same results as the scalar ones, bit for bit.
#include "primitives/dequantise.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace d2u {
namespace dequant {
namespace {

// Division of 32-bit lanes by 2^shift, truncating towards zero.
inline __m128i DivideTruncating(__m128i value, int shift) {
    __m128i bias = _mm_and_si128(_mm_srai_epi32(value, 31), _mm_set1_epi32((1 << shift) - 1));
    return _mm_srai_epi32(_mm_add_epi32(value, bias), shift);
}

// Even non-zero lanes move one step towards zero.
inline __m128i MakeOdd(__m128i value) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi32(1);
    __m128i even = _mm_andnot_si128(_mm_cmpeq_epi32(value, zero),
                                    _mm_cmpeq_epi32(_mm_and_si128(value, one), zero));
    __m128i sign = _mm_or_si128(_mm_srai_epi32(value, 31), one);
    return _mm_sub_epi32(value, _mm_and_si128(sign, even));
}

template <bool kIntra, bool kMpeg1>
void DequantiseSse2(const Ipp16s* levels, const uint16_t* matrix, Ipp32s quantiser, Ipp32s dc,
                    Ipp16s* out) {
    const int shift = kMpeg1 ? (kIntra ? 3 : 4) : (kIntra ? 4 : 5);
    const __m128i zero = _mm_setzero_si128();
    const __m128i minimum = _mm_set1_epi16(static_cast<short>(kCoefficientMin));
    const __m128i maximum = _mm_set1_epi16(static_cast<short>(kCoefficientMax));
    const __m128i weightMask = _mm_set1_epi16(0xFF);
    const __m128i scaleBy = _mm_set1_epi16(static_cast<short>(quantiser));
    __m128i parity = zero;
    for (int i = 0; i < 64; i += 8) {
        __m128i level = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + i));
        level = _mm_min_epi16(_mm_max_epi16(level, minimum), maximum);
        __m128i weight = _mm_and_si128(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(matrix + i)), weightMask);
        __m128i scale = _mm_mullo_epi16(weight, scaleBy);
        __m128i multiplier = level;
        if (!kIntra) {
            __m128i sign =
                _mm_sub_epi16(_mm_cmpgt_epi16(zero, level), _mm_cmpgt_epi16(level, zero));
            multiplier = _mm_add_epi16(_mm_add_epi16(level, level), sign);
        }
        __m128i productLow = _mm_mullo_epi16(multiplier, scale);
        __m128i productHigh = _mm_mulhi_epi16(multiplier, scale);
        __m128i low = DivideTruncating(_mm_unpacklo_epi16(productLow, productHigh), shift);
        __m128i high = DivideTruncating(_mm_unpackhi_epi16(productLow, productHigh), shift);
        if (kMpeg1) {
            low = MakeOdd(low);
            high = MakeOdd(high);
        }
        __m128i value = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(low, high), minimum), maximum);
        if (kIntra && i == 0) {
            Ipp32s saturated = dc < kCoefficientMin ? kCoefficientMin
                                                    : (dc > kCoefficientMax ? kCoefficientMax : dc);
            value = _mm_insert_epi16(value, saturated, 0);
        }
        parity = _mm_xor_si128(parity, value);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), value);
    }
    if (!kMpeg1) {
        parity = _mm_xor_si128(parity, _mm_srli_si128(parity, 8));
        parity = _mm_xor_si128(parity, _mm_srli_si128(parity, 4));
        parity = _mm_xor_si128(parity, _mm_srli_si128(parity, 2));
        if ((_mm_cvtsi128_si32(parity) & 1) == 0) out[63] = static_cast<Ipp16s>(out[63] ^ 1);
    }
}

}  // namespace

void InstallSse2Kernels(KernelTable& table) {
    table.kernel[kIntraMpeg1] = DequantiseSse2<true, true>;
    table.kernel[kNonIntraMpeg1] = DequantiseSse2<false, true>;
    table.kernel[kIntraMpeg2] = DequantiseSse2<true, false>;
    table.kernel[kNonIntraMpeg2] = DequantiseSse2<false, false>;
}

}  // namespace dequant
}  // namespace d2u

#else

namespace d2u {
namespace dequant {
void InstallSse2Kernels(KernelTable&) {}
}  // namespace dequant
}  // namespace d2u

#endif
