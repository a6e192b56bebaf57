// SSE2 version of the YUV row conversion: 16 pixels of each row per step, same fixed-point
// arithmetic as the scalar version (see yuv_to_rgb.h).
//
// Each chroma term is turned once into two saturated bytes, its positive part and its negative
// part, so that clamp(Y + term, 0, 255) becomes one saturating add and one saturating subtract
// on bytes; the terms serve both rows of a 4:2:0 row pair.
#include "primitives/yuv_to_rgb.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>

namespace d2u {

#if defined(__SSE2__)
namespace {

constexpr int32_t kPixelsPerStep = 16;
constexpr int32_t kStepsPerChunk = 64;
constexpr ptrdiff_t kPrefetchDistance = 2048;  // bytes

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

// What one colour adds to and takes from the luma of sixteen pixels, each byte saturated.
struct ColourOffsets {
    __m128i raise;
    __m128i lower;
};

// The eight chroma terms of one colour, each repeated for the two pixels it serves.
ColourOffsets ChromaOffsets(const ChromaPairs& pairs, __m128i coefficients) {
    const __m128i round = _mm_set1_epi32(kYuvRgbRound);
    __m128i low =
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs.low, coefficients), round), kYuvRgbShift);
    __m128i high = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs.high, coefficients), round),
                                  kYuvRgbShift);
    __m128i terms = _mm_packs_epi32(low, high);
    __m128i parts = _mm_packus_epi16(terms, _mm_sub_epi16(_mm_setzero_si128(), terms));
    return {_mm_unpacklo_epi8(parts, parts), _mm_unpackhi_epi8(parts, parts)};
}

__m128i ColourBytes(__m128i luma, const ColourOffsets& offsets) {
    return _mm_subs_epu8(_mm_adds_epu8(luma, offsets.raise), offsets.lower);
}

// Writes four pixels, keeping the fourth byte of each.
void StorePixels(Ipp8u* destination, __m128i pixels) {
    const __m128i fourthByte = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    auto* target = reinterpret_cast<__m128i*>(destination);
    __m128i kept = _mm_and_si128(_mm_loadu_si128(target), fourthByte);
    _mm_storeu_si128(target, _mm_or_si128(kept, pixels));
}

struct PairOffsets {
    ColourOffsets blue;
    ColourOffsets green;
    ColourOffsets red;
};

PairOffsets LoadOffsets(const Ipp8u* u, const Ipp8u* v) {
    const ChromaPairs pairs = LoadChromaPairs(u, v);
    return {ChromaOffsets(pairs, CoefficientPairs(kBlueFromU, 0)),
            ChromaOffsets(pairs, CoefficientPairs(kGreenFromU, kGreenFromV)),
            ChromaOffsets(pairs, CoefficientPairs(0, kRedFromV))};
}

void ConvertSixteenPixels(const Ipp8u* y, const PairOffsets& offsets, Ipp8u* bgrx) {
    // The destination is the host's buffer, usually far out of the caches: asking for it well
    // ahead keeps the loads of its fourth bytes from stalling.
    _mm_prefetch(reinterpret_cast<const char*>(bgrx + kPrefetchDistance), _MM_HINT_T0);
    const __m128i zero = _mm_setzero_si128();
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const __m128i blue = ColourBytes(luma, offsets.blue);
    const __m128i green = ColourBytes(luma, offsets.green);
    const __m128i red = ColourBytes(luma, offsets.red);

    const __m128i blueGreenLow = _mm_unpacklo_epi8(blue, green);
    const __m128i blueGreenHigh = _mm_unpackhi_epi8(blue, green);
    const __m128i redLow = _mm_unpacklo_epi8(red, zero);
    const __m128i redHigh = _mm_unpackhi_epi8(red, zero);
    StorePixels(bgrx, _mm_unpacklo_epi16(blueGreenLow, redLow));
    StorePixels(bgrx + 16, _mm_unpackhi_epi16(blueGreenLow, redLow));
    StorePixels(bgrx + 32, _mm_unpacklo_epi16(blueGreenHigh, redHigh));
    StorePixels(bgrx + 48, _mm_unpackhi_epi16(blueGreenHigh, redHigh));
}

}  // namespace

int32_t ConvertYuvRowsSse2(const YuvRows& rows, int32_t width) {
    return ConvertYuvRowsInChunks<kPixelsPerStep, kStepsPerChunk, PairOffsets>(
        rows, width, LoadOffsets, ConvertSixteenPixels);
}

#else

int32_t ConvertYuvRowsSse2(const YuvRows&, int32_t) {
    return 0;
}

#endif

}  // namespace d2u
