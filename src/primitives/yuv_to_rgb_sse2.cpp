// SSE2 version of the YUV row conversion: 16 pixels per step, same fixed-point arithmetic as the
// scalar version (see yuv_to_rgb_row.h).
#include "primitives/yuv_to_rgb_row.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>

namespace d2u {

#if defined(__SSE2__)
namespace {

constexpr int32_t kPixelsPerStep = 16;

__m128i CoefficientPairs(int32_t coefficientU, int32_t coefficientV) {
    auto u = static_cast<int16_t>(coefficientU);
    auto v = static_cast<int16_t>(coefficientV);
    return _mm_setr_epi16(u, v, u, v, u, v, u, v);
}

// Interleaved (Cb - 128, Cr - 128) pairs of eight chroma samples, four pairs per register.
struct ChromaPairs {
    __m128i low;
    __m128i high;
};

ChromaPairs LoadChromaPairs(const Ipp8u* u, const Ipp8u* v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    __m128i cb = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)), zero), bias);
    __m128i cr = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), zero), bias);
    return {_mm_unpacklo_epi16(cb, cr), _mm_unpackhi_epi16(cb, cr)};
}

// The eight chroma terms of one colour, as 16-bit values.
__m128i ChromaTerms(const ChromaPairs& pairs, __m128i coefficients) {
    const __m128i round = _mm_set1_epi32(kYuvRgbRound);
    __m128i low =
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs.low, coefficients), round), kYuvRgbShift);
    __m128i high = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs.high, coefficients), round),
                                  kYuvRgbShift);
    return _mm_packs_epi32(low, high);
}

// Sixteen clamped bytes of one colour: luma plus the chroma term of each pixel's sample pair.
__m128i ColourBytes(__m128i lumaLow, __m128i lumaHigh, __m128i terms) {
    __m128i low = _mm_add_epi16(lumaLow, _mm_unpacklo_epi16(terms, terms));
    __m128i high = _mm_add_epi16(lumaHigh, _mm_unpackhi_epi16(terms, terms));
    return _mm_packus_epi16(low, high);
}

// Writes four pixels, keeping the fourth byte of each.
void StorePixels(Ipp8u* destination, __m128i pixels) {
    const __m128i fourthByte = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    auto* target = reinterpret_cast<__m128i*>(destination);
    __m128i kept = _mm_and_si128(_mm_loadu_si128(target), fourthByte);
    _mm_storeu_si128(target, _mm_or_si128(kept, pixels));
}

void ConvertSixteenPixels(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx) {
    const __m128i zero = _mm_setzero_si128();
    ChromaPairs pairs = LoadChromaPairs(u, v);
    __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    __m128i lumaLow = _mm_unpacklo_epi8(luma, zero);
    __m128i lumaHigh = _mm_unpackhi_epi8(luma, zero);

    __m128i blue =
        ColourBytes(lumaLow, lumaHigh, ChromaTerms(pairs, CoefficientPairs(kBlueFromU, 0)));
    __m128i green = ColourBytes(lumaLow, lumaHigh,
                                ChromaTerms(pairs, CoefficientPairs(kGreenFromU, kGreenFromV)));
    __m128i red =
        ColourBytes(lumaLow, lumaHigh, ChromaTerms(pairs, CoefficientPairs(0, kRedFromV)));

    __m128i blueGreenLow = _mm_unpacklo_epi8(blue, green);
    __m128i blueGreenHigh = _mm_unpackhi_epi8(blue, green);
    __m128i redLow = _mm_unpacklo_epi8(red, zero);
    __m128i redHigh = _mm_unpackhi_epi8(red, zero);
    StorePixels(bgrx, _mm_unpacklo_epi16(blueGreenLow, redLow));
    StorePixels(bgrx + 16, _mm_unpackhi_epi16(blueGreenLow, redLow));
    StorePixels(bgrx + 32, _mm_unpacklo_epi16(blueGreenHigh, redHigh));
    StorePixels(bgrx + 48, _mm_unpackhi_epi16(blueGreenHigh, redHigh));
}

}  // namespace

int32_t ConvertYuvRowSse2(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                          int32_t width) {
    int32_t x = 0;
    for (; x + kPixelsPerStep <= width; x += kPixelsPerStep) {
        ConvertSixteenPixels(y + x, u + x / 2, v + x / 2, bgrx + 4 * static_cast<ptrdiff_t>(x));
    }
    return x;
}

#else

int32_t ConvertYuvRowSse2(const Ipp8u*, const Ipp8u*, const Ipp8u*, Ipp8u*, int32_t) {
    return 0;
}

#endif

}  // namespace d2u
