// AVX2 version of the YUV row conversion: 32 pixels of each row per step, same fixed-point
// arithmetic as the scalar version (see yuv_to_rgb.h).
//
// Each chroma term is turned once into two saturated bytes, its positive part and its negative
// part, so that clamp(Y + term, 0, 255) becomes one saturating add and one saturating subtract
// on bytes; the terms serve both rows of a 4:2:0 row pair.
//
// The 256-bit unpack instructions work within each 128-bit lane. The luma dwords (four pixels
// each) are therefore loaded in the order 0 2 4 6 | 1 3 5 7, and the chroma samples in the
// matching order, so that the two unpack steps that interleave the colours end with pixels 0-7,
// 8-15, 16-23 and 24-31 each in one register, ready to store.
#include <cstddef>

#include "primitives/yuv_to_rgb.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace d2u {
namespace {

constexpr int32_t kPixelsPerStep = 32;
constexpr int32_t kStepsPerChunk = 64;
constexpr ptrdiff_t kPrefetchDistance = 2048;  // bytes

// Sixteen chroma samples as (sample - 128) words, lower lane 0 1 4 5 8 9 12 13, upper lane
// 2 3 6 7 10 11 14 15: the samples of the pixels of each lane's luma dwords.
__m256i LoadCentredSamples(const Ipp8u* samples) {
    const __m128i order = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
    return _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_shuffle_epi8(bytes, order)),
                            _mm256_set1_epi16(128));
}

// (coefficient * sample + kYuvRgbRound) >> kYuvRgbShift for a one-sample term: the rounding
// multiply gives (a * b + 2^14) >> 15, which with a = 4 * sample is the same value.
__m256i SingleTerms(__m256i centred, int32_t coefficient) {
    return _mm256_mulhrs_epi16(_mm256_slli_epi16(centred, 2),
                               _mm256_set1_epi16(static_cast<int16_t>(coefficient)));
}

__m256i GreenTerms(__m256i cb, __m256i cr) {
    const auto pair = static_cast<int32_t>((static_cast<uint32_t>(kGreenFromV) << 16) |
                                           (static_cast<uint32_t>(kGreenFromU) & 0xFFFFu));
    const __m256i coefficients = _mm256_set1_epi32(pair);
    const __m256i round = _mm256_set1_epi32(kYuvRgbRound);
    __m256i low = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(cb, cr), coefficients), round),
        kYuvRgbShift);
    __m256i high = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(cb, cr), coefficients), round),
        kYuvRgbShift);
    return _mm256_packs_epi32(low, high);
}

// What one colour adds to and takes from the luma of 32 pixels, each byte saturated, in the
// order of the luma bytes.
struct ColourOffsets {
    __m256i raise;
    __m256i lower;
};

ColourOffsets OffsetsOfTerms(__m256i terms) {
    __m256i parts = _mm256_packus_epi16(terms, _mm256_sub_epi16(_mm256_setzero_si256(), terms));
    return {_mm256_unpacklo_epi8(parts, parts), _mm256_unpackhi_epi8(parts, parts)};
}

struct PairOffsets {
    ColourOffsets blue;
    ColourOffsets green;
    ColourOffsets red;
};

PairOffsets LoadOffsets(const Ipp8u* u, const Ipp8u* v) {
    const __m256i cb = LoadCentredSamples(u);
    const __m256i cr = LoadCentredSamples(v);
    return {OffsetsOfTerms(SingleTerms(cb, kBlueFromU)), OffsetsOfTerms(GreenTerms(cb, cr)),
            OffsetsOfTerms(SingleTerms(cr, kRedFromV))};
}

__m256i ColourBytes(__m256i luma, const ColourOffsets& offsets) {
    return _mm256_subs_epu8(_mm256_adds_epu8(luma, offsets.raise), offsets.lower);
}

// Writes eight pixels, keeping the fourth byte of each.
void StorePixels(Ipp8u* destination, __m256i pixels) {
    const __m256i fourthByte = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    auto* target = reinterpret_cast<__m256i*>(destination);
    _mm256_storeu_si256(target, _mm256_blendv_epi8(pixels, _mm256_loadu_si256(target), fourthByte));
}

void ConvertThirtyTwoPixels(const Ipp8u* y, const PairOffsets& offsets, Ipp8u* bgrx) {
    // The destination is the host's buffer, usually far out of the caches: asking for it well
    // ahead keeps the loads of its fourth bytes from stalling.
    _mm_prefetch(reinterpret_cast<const char*>(bgrx + kPrefetchDistance), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(bgrx + kPrefetchDistance + 64), _MM_HINT_T0);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lumaOrder = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i luma = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y)), lumaOrder);
    const __m256i blue = ColourBytes(luma, offsets.blue);
    const __m256i green = ColourBytes(luma, offsets.green);
    const __m256i red = ColourBytes(luma, offsets.red);

    const __m256i blueGreenLow = _mm256_unpacklo_epi8(blue, green);   // 0-3 8-11 | 4-7 12-15
    const __m256i blueGreenHigh = _mm256_unpackhi_epi8(blue, green);  // 16-19 24-27 | 20-23 28-31
    const __m256i redLow = _mm256_unpacklo_epi8(red, zero);
    const __m256i redHigh = _mm256_unpackhi_epi8(red, zero);
    StorePixels(bgrx, _mm256_unpacklo_epi16(blueGreenLow, redLow));
    StorePixels(bgrx + 32, _mm256_unpackhi_epi16(blueGreenLow, redLow));
    StorePixels(bgrx + 64, _mm256_unpacklo_epi16(blueGreenHigh, redHigh));
    StorePixels(bgrx + 96, _mm256_unpackhi_epi16(blueGreenHigh, redHigh));
}

}  // namespace

int32_t ConvertYuvRowsAvx2(const YuvRows& rows, int32_t width) {
    return ConvertYuvRowsInChunks<kPixelsPerStep, kStepsPerChunk, PairOffsets>(
        rows, width, LoadOffsets, ConvertThirtyTwoPixels);
}

}  // namespace d2u

#else

namespace d2u {
int32_t ConvertYuvRowsAvx2(const YuvRows&, int32_t) {
    return 0;
}
}  // namespace d2u

#endif
