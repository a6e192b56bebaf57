// AVX2 version of the inverse DCT; the same numbers as the scalar version, bit for bit.
//
// The arithmetic is that of the SSE2 version (see inverse_dct_sse2.cpp): an exact first pass
// and a second pass on the high and low halves of its results. Here the first pass covers all
// eight columns in one register, and the second pass carries the high halves in the lower
// 128-bit lane and the low halves in the upper lane, so both go through one set of
// multiply-adds.
#include "primitives/inverse_dct.h"

// 32-bit Windows compilers do not reliably align the stack for 256-bit spills: the DLL keeps
// the SSE2 version there.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

namespace d2u {
namespace idct {
namespace {

inline __m256i Pair(Ipp32s even, Ipp32s odd) {
    return _mm256_set1_epi32(
        static_cast<int>((static_cast<Ipp32u>(odd) << 16) | (static_cast<Ipp32u>(even) & 0xFFFFu)));
}

// The 8-point transform on interleaved pairs (even: x0/x4 and x2/x6, odd: x1/x3 and x5/x7).
inline void TransformPairs(__m256i e0, __m256i e1, __m256i o0, __m256i o1, __m256i out[8]) {
    __m256i a0 = _mm256_add_epi32(_mm256_madd_epi16(e0, Pair(kW4, kW4)),
                                  _mm256_madd_epi16(e1, Pair(kW2, kW6)));
    __m256i a1 = _mm256_add_epi32(_mm256_madd_epi16(e0, Pair(kW4, -kW4)),
                                  _mm256_madd_epi16(e1, Pair(kW6, -kW2)));
    __m256i a2 = _mm256_add_epi32(_mm256_madd_epi16(e0, Pair(kW4, -kW4)),
                                  _mm256_madd_epi16(e1, Pair(-kW6, kW2)));
    __m256i a3 = _mm256_add_epi32(_mm256_madd_epi16(e0, Pair(kW4, kW4)),
                                  _mm256_madd_epi16(e1, Pair(-kW2, -kW6)));
    __m256i b0 = _mm256_add_epi32(_mm256_madd_epi16(o0, Pair(kW1, kW3)),
                                  _mm256_madd_epi16(o1, Pair(kW5, kW7)));
    __m256i b1 = _mm256_add_epi32(_mm256_madd_epi16(o0, Pair(kW3, -kW7)),
                                  _mm256_madd_epi16(o1, Pair(-kW1, -kW5)));
    __m256i b2 = _mm256_add_epi32(_mm256_madd_epi16(o0, Pair(kW5, -kW1)),
                                  _mm256_madd_epi16(o1, Pair(kW7, kW3)));
    __m256i b3 = _mm256_add_epi32(_mm256_madd_epi16(o0, Pair(kW7, -kW5)),
                                  _mm256_madd_epi16(o1, Pair(kW3, -kW1)));
    out[0] = _mm256_add_epi32(a0, b0);
    out[7] = _mm256_sub_epi32(a0, b0);
    out[1] = _mm256_add_epi32(a1, b1);
    out[6] = _mm256_sub_epi32(a1, b1);
    out[2] = _mm256_add_epi32(a2, b2);
    out[5] = _mm256_sub_epi32(a2, b2);
    out[3] = _mm256_add_epi32(a3, b3);
    out[4] = _mm256_sub_epi32(a3, b3);
}

// Transposes the 8x8 blocks of 16-bit values in each 128-bit lane.
inline void TransposeLanes(__m256i r[8]) {
    __m256i t0 = _mm256_unpacklo_epi16(r[0], r[1]);
    __m256i t1 = _mm256_unpackhi_epi16(r[0], r[1]);
    __m256i t2 = _mm256_unpacklo_epi16(r[2], r[3]);
    __m256i t3 = _mm256_unpackhi_epi16(r[2], r[3]);
    __m256i t4 = _mm256_unpacklo_epi16(r[4], r[5]);
    __m256i t5 = _mm256_unpackhi_epi16(r[4], r[5]);
    __m256i t6 = _mm256_unpacklo_epi16(r[6], r[7]);
    __m256i t7 = _mm256_unpackhi_epi16(r[6], r[7]);
    __m256i u0 = _mm256_unpacklo_epi32(t0, t2);
    __m256i u1 = _mm256_unpackhi_epi32(t0, t2);
    __m256i u2 = _mm256_unpacklo_epi32(t1, t3);
    __m256i u3 = _mm256_unpackhi_epi32(t1, t3);
    __m256i u4 = _mm256_unpacklo_epi32(t4, t6);
    __m256i u5 = _mm256_unpackhi_epi32(t4, t6);
    __m256i u6 = _mm256_unpacklo_epi32(t5, t7);
    __m256i u7 = _mm256_unpackhi_epi32(t5, t7);
    r[0] = _mm256_unpacklo_epi64(u0, u4);
    r[1] = _mm256_unpackhi_epi64(u0, u4);
    r[2] = _mm256_unpacklo_epi64(u1, u5);
    r[3] = _mm256_unpackhi_epi64(u1, u5);
    r[4] = _mm256_unpacklo_epi64(u2, u6);
    r[5] = _mm256_unpackhi_epi64(u2, u6);
    r[6] = _mm256_unpacklo_epi64(u3, u7);
    r[7] = _mm256_unpackhi_epi64(u3, u7);
}

inline void Transpose(__m128i r[8]) {
    __m256i wide[8];
    for (int i = 0; i < 8; ++i) wide[i] = _mm256_castsi128_si256(r[i]);
    TransposeLanes(wide);
    for (int i = 0; i < 8; ++i) r[i] = _mm256_castsi256_si128(wide[i]);
}

// (H + 2^16 + (L >> 14)) >> 17 with H in the lower lane and L in the upper lane.
inline __m128i JoinAndRound(__m256i sums) {
    __m128i high = _mm256_castsi256_si128(sums);
    __m128i low = _mm256_extracti128_si256(sums, 1);
    __m128i sum =
        _mm_add_epi32(_mm_add_epi32(high, _mm_set1_epi32(1 << 16)), _mm_srai_epi32(low, 14));
    return _mm_srai_epi32(sum, 17);
}

void InverseRows(const Ipp16s* src, __m128i out[8]) {
    const __m128i minimum = _mm_set1_epi16(kInputMin);
    const __m128i maximum = _mm_set1_epi16(kInputMax);
    __m256i spread[8];  // row v as [u0..3 twice | u4..7 twice]
    __m128i any = _mm_setzero_si128();
    __m128i first = _mm_setzero_si128();
    for (int v = 0; v < 8; ++v) {
        __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * v));
        row = _mm_min_epi16(_mm_max_epi16(row, minimum), maximum);
        if (v == 0) first = row;
        any = _mm_or_si128(any, v == 0 ? _mm_srli_si128(row, 2) : row);
        spread[v] = _mm256_permute4x64_epi64(_mm256_castsi128_si256(row), _MM_SHUFFLE(1, 1, 0, 0));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) == 0xFFFF) {
        __m128i dc = _mm_srai_epi16(_mm_add_epi16(first, _mm_set1_epi16(4)), 3);
        dc = _mm_shufflelo_epi16(dc, 0);
        dc = _mm_unpacklo_epi64(dc, dc);
        for (int y = 0; y < 8; ++y) out[y] = dc;
        return;
    }
    __m256i columns[8];  // [y], 32-bit lanes u0..7
    TransformPairs(_mm256_unpacklo_epi16(spread[0], spread[4]),
                   _mm256_unpacklo_epi16(spread[2], spread[6]),
                   _mm256_unpacklo_epi16(spread[1], spread[3]),
                   _mm256_unpacklo_epi16(spread[5], spread[7]), columns);
    const __m256i lowMask = _mm256_set1_epi32(0x3FFF);
    __m256i halves[8];  // [y]: high halves u0..7 | low halves u0..7
    for (int y = 0; y < 8; ++y) {
        __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(columns[y], 14),
                                            _mm256_and_si256(columns[y], lowMask));
        halves[y] = _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
    }
    TransposeLanes(halves);  // [u]: high halves y0..7 | low halves y0..7
    __m256i sumsLow[8];      // [x]: H for y0..3 | L for y0..3
    __m256i sumsHigh[8];     // [x]: H for y4..7 | L for y4..7
    TransformPairs(_mm256_unpacklo_epi16(halves[0], halves[4]),
                   _mm256_unpacklo_epi16(halves[2], halves[6]),
                   _mm256_unpacklo_epi16(halves[1], halves[3]),
                   _mm256_unpacklo_epi16(halves[5], halves[7]), sumsLow);
    TransformPairs(_mm256_unpackhi_epi16(halves[0], halves[4]),
                   _mm256_unpackhi_epi16(halves[2], halves[6]),
                   _mm256_unpackhi_epi16(halves[1], halves[3]),
                   _mm256_unpackhi_epi16(halves[5], halves[7]), sumsHigh);
    for (int x = 0; x < 8; ++x) {
        out[x] = _mm_packs_epi32(JoinAndRound(sumsLow[x]), JoinAndRound(sumsHigh[x]));
    }
    Transpose(out);
}

void InverseAvx2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    __m128i out[8];
    InverseRows(src, out);
    Ipp8u* row = reinterpret_cast<Ipp8u*>(dst);
    for (int y = 0; y < 8; ++y, row += dstStep) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row), out[y]);
    }
}

void InverseClipAvx2(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal, int clipDown,
                     int clipUp) {
    __m128i out[8];
    InverseRows(src, out);
    const __m128i add = _mm_set1_epi16(static_cast<short>(addVal));
    const __m128i low = _mm_set1_epi16(static_cast<short>(clipDown));
    const __m128i high = _mm_set1_epi16(static_cast<short>(clipUp));
    Ipp8u* row = dst;
    for (int y = 0; y < 8; ++y, row += dstStep) {
        __m128i value = _mm_min_epi16(_mm_max_epi16(_mm_adds_epi16(out[y], add), low), high);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row), _mm_packus_epi16(value, value));
    }
}

}  // namespace

void InstallAvx2Kernels(KernelTable& table) {
    table.inverse = InverseAvx2;
    table.inverseClip = InverseClipAvx2;
}

}  // namespace idct
}  // namespace d2u

#else

namespace d2u {
namespace idct {
void InstallAvx2Kernels(KernelTable&) {}
}  // namespace idct
}  // namespace d2u

#endif
