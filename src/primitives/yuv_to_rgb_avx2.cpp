// AVX2 version of the YUV row conversion: 32 pixels per step, same fixed-point arithmetic as the
// scalar version (see yuv_to_rgb_row.h).
//
// The 256-bit unpack and pack instructions work within each 128-bit lane, so the luma bytes,
// the chroma terms and the colour bytes all carry pixels 0-15 in the lower lane and 16-31 in
// the upper one; only the final pixel words are put back in order across the lanes.
#include <cstddef>

#include "primitives/yuv_to_rgb_row.h"

// 32-bit Windows compilers do not reliably align the stack for 256-bit spills: the DLL keeps
// the SSE2 version there.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

namespace d2u {
namespace {

constexpr int32_t kPixelsPerStep = 32;

__m256i CoefficientPairs(int32_t coefficientU, int32_t coefficientV) {
    const auto pair = static_cast<int32_t>((static_cast<uint32_t>(coefficientV) << 16) |
                                           (static_cast<uint32_t>(coefficientU) & 0xFFFFu));
    return _mm256_set1_epi32(pair);
}

// (Cb - 128, Cr - 128) pairs of sixteen chroma samples: `low` holds samples 0-3 and 8-11,
// `high` samples 4-7 and 12-15.
struct ChromaPairs {
    __m256i low;
    __m256i high;
};

ChromaPairs LoadChromaPairs(const Ipp8u* u, const Ipp8u* v) {
    const __m256i bias = _mm256_set1_epi16(128);
    __m256i cb = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u))), bias);
    __m256i cr = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v))), bias);
    return {_mm256_unpacklo_epi16(cb, cr), _mm256_unpackhi_epi16(cb, cr)};
}

// The sixteen chroma terms of one colour as 16-bit values, samples 0-7 in the lower lane.
__m256i ChromaTerms(const ChromaPairs& pairs, __m256i coefficients) {
    const __m256i round = _mm256_set1_epi32(kYuvRgbRound);
    __m256i low = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(pairs.low, coefficients), round), kYuvRgbShift);
    __m256i high = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(pairs.high, coefficients), round), kYuvRgbShift);
    return _mm256_packs_epi32(low, high);
}

// Thirty-two clamped bytes of one colour: luma plus the chroma term of each pixel's pair.
__m256i ColourBytes(__m256i lumaLow, __m256i lumaHigh, __m256i terms) {
    __m256i low = _mm256_add_epi16(lumaLow, _mm256_unpacklo_epi16(terms, terms));
    __m256i high = _mm256_add_epi16(lumaHigh, _mm256_unpackhi_epi16(terms, terms));
    return _mm256_packus_epi16(low, high);
}

// Writes eight pixels, keeping the fourth byte of each.
void StorePixels(Ipp8u* destination, __m256i pixels) {
    const __m256i fourthByte = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    auto* target = reinterpret_cast<__m256i*>(destination);
    __m256i kept = _mm256_and_si256(_mm256_loadu_si256(target), fourthByte);
    _mm256_storeu_si256(target, _mm256_or_si256(kept, pixels));
}

void ConvertThirtyTwoPixels(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx) {
    const __m256i zero = _mm256_setzero_si256();
    const ChromaPairs pairs = LoadChromaPairs(u, v);
    const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    // Pixels 0-7 | 16-23, and 8-15 | 24-31.
    const __m256i lumaLow = _mm256_unpacklo_epi8(luma, zero);
    const __m256i lumaHigh = _mm256_unpackhi_epi8(luma, zero);

    const __m256i blue =
        ColourBytes(lumaLow, lumaHigh, ChromaTerms(pairs, CoefficientPairs(kBlueFromU, 0)));
    const __m256i green = ColourBytes(
        lumaLow, lumaHigh, ChromaTerms(pairs, CoefficientPairs(kGreenFromU, kGreenFromV)));
    const __m256i red =
        ColourBytes(lumaLow, lumaHigh, ChromaTerms(pairs, CoefficientPairs(0, kRedFromV)));

    const __m256i blueGreenLow = _mm256_unpacklo_epi8(blue, green);   // 0-7 | 16-23
    const __m256i blueGreenHigh = _mm256_unpackhi_epi8(blue, green);  // 8-15 | 24-31
    const __m256i redLow = _mm256_unpacklo_epi8(red, zero);
    const __m256i redHigh = _mm256_unpackhi_epi8(red, zero);
    const __m256i pixels0 = _mm256_unpacklo_epi16(blueGreenLow, redLow);    // 0-3 | 16-19
    const __m256i pixels1 = _mm256_unpackhi_epi16(blueGreenLow, redLow);    // 4-7 | 20-23
    const __m256i pixels2 = _mm256_unpacklo_epi16(blueGreenHigh, redHigh);  // 8-11 | 24-27
    const __m256i pixels3 = _mm256_unpackhi_epi16(blueGreenHigh, redHigh);  // 12-15 | 28-31
    StorePixels(bgrx, _mm256_permute2x128_si256(pixels0, pixels1, 0x20));
    StorePixels(bgrx + 32, _mm256_permute2x128_si256(pixels2, pixels3, 0x20));
    StorePixels(bgrx + 64, _mm256_permute2x128_si256(pixels0, pixels1, 0x31));
    StorePixels(bgrx + 96, _mm256_permute2x128_si256(pixels2, pixels3, 0x31));
}

}  // namespace

int32_t ConvertYuvRowAvx2(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                          int32_t width) {
    int32_t x = 0;
    for (; x + kPixelsPerStep <= width; x += kPixelsPerStep) {
        ConvertThirtyTwoPixels(y + x, u + x / 2, v + x / 2, bgrx + 4 * static_cast<ptrdiff_t>(x));
    }
    return x;
}

}  // namespace d2u

#else

namespace d2u {
int32_t ConvertYuvRowAvx2(const Ipp8u*, const Ipp8u*, const Ipp8u*, Ipp8u*, int32_t) {
    return 0;
}
}  // namespace d2u

#endif
