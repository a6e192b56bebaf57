// AVX2 version of the inverse DCT; the same numbers as the scalar version, bit for bit.
//
// The first pass runs down the columns with all eight of them in one register (pairs of rows
// interleaved, 32-bit sums for columns 0 to 7). Its results are packed two rows to a register,
// [row y | row y + 4], and the second pass runs along those rows in place: each row is
// reordered to (t0, t2, t4, t6, t1, t3, t5, t7), each pair broadcast and multiplied with the
// weights of outputs 0 to 3; the even and odd halves give outputs 0 to 3 as their sum and 7 to
// 4 as their difference. No transposes are needed.
//
// Blocks with only a DC coefficient take a short cut. Others run the whole transform: skipping
// the multiply-adds for zero rows or columns 4 to 7 made decoding slower (mispredicted branches
// on the usual mix of blocks cost more than the work saved).
#include "primitives/inverse_dct.h"

// 32-bit Windows compilers do not reliably align the stack for 256-bit spills: the DLL keeps
// the SSE2 version there.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

#include <cstddef>

namespace d2u {
namespace idct {
namespace {

inline Ipp32s Packed(Ipp32s even, Ipp32s odd) {
    return static_cast<Ipp32s>((static_cast<Ipp32u>(odd) << 16) |
                               (static_cast<Ipp32u>(even) & 0xFFFFu));
}

inline __m256i Pair(Ipp32s even, Ipp32s odd) {
    return _mm256_set1_epi32(Packed(even, odd));
}

// Four pairs, one per 32-bit lane of each 128-bit half.
inline __m256i Pairs(Ipp32s e0, Ipp32s o0, Ipp32s e1, Ipp32s o1, Ipp32s e2, Ipp32s o2, Ipp32s e3,
                     Ipp32s o3) {
    return _mm256_setr_epi32(Packed(e0, o0), Packed(e1, o1), Packed(e2, o2), Packed(e3, o3),
                             Packed(e0, o0), Packed(e1, o1), Packed(e2, o2), Packed(e3, o3));
}

inline void Butterfly(const __m256i a[4], const __m256i b[4], __m256i out[8]) {
    for (int k = 0; k < 4; ++k) {
        out[k] = _mm256_add_epi32(a[k], b[k]);
        out[7 - k] = _mm256_sub_epi32(a[k], b[k]);
    }
}

// ---- First pass: spread[v] holds row v as [u0..3 twice | u4..7 twice], so that interleaving
// two rows gives the pairs of all eight columns.

inline void FirstPass(const __m256i spread[8], __m256i out[8]) {
    const Weights& w = kFirstPass;
    const __m256i x04 = _mm256_unpacklo_epi16(spread[0], spread[4]);
    const __m256i x26 = _mm256_unpacklo_epi16(spread[2], spread[6]);
    const __m256i x13 = _mm256_unpacklo_epi16(spread[1], spread[3]);
    const __m256i x57 = _mm256_unpacklo_epi16(spread[5], spread[7]);
    const __m256i round = _mm256_set1_epi32(kFirstRounding);
    const __m256i even0 = _mm256_add_epi32(_mm256_madd_epi16(x04, Pair(w.w4, w.w4)), round);
    const __m256i even1 = _mm256_add_epi32(_mm256_madd_epi16(x04, Pair(w.w4, -w.w4)), round);
    __m256i a[4] = {_mm256_add_epi32(even0, _mm256_madd_epi16(x26, Pair(w.w2, w.w6))),
                    _mm256_add_epi32(even1, _mm256_madd_epi16(x26, Pair(w.w6, -w.w2))),
                    _mm256_add_epi32(even1, _mm256_madd_epi16(x26, Pair(-w.w6, w.w2))),
                    _mm256_add_epi32(even0, _mm256_madd_epi16(x26, Pair(-w.w2, -w.w6)))};
    __m256i b[4] = {_mm256_add_epi32(_mm256_madd_epi16(x13, Pair(w.w1, w.w3)),
                                     _mm256_madd_epi16(x57, Pair(w.w5, w.w7))),
                    _mm256_add_epi32(_mm256_madd_epi16(x13, Pair(w.w3, -w.w7)),
                                     _mm256_madd_epi16(x57, Pair(-w.w1, -w.w5))),
                    _mm256_add_epi32(_mm256_madd_epi16(x13, Pair(w.w5, -w.w1)),
                                     _mm256_madd_epi16(x57, Pair(w.w7, w.w3))),
                    _mm256_add_epi32(_mm256_madd_epi16(x13, Pair(w.w7, -w.w5)),
                                     _mm256_madd_epi16(x57, Pair(w.w3, -w.w1)))};
    Butterfly(a, b, out);
}

// 32-bit sums [y] (columns 0..7) to 16 bits, two rows a register: [row y | row y + 4],
// with the second pass's rounding term added to column 0.
inline void PackRows(const __m256i sums[8], __m256i rows[4]) {
    const __m256i rounding = _mm256_setr_epi16(kSecondRounding, 0, 0, 0, 0, 0, 0, 0,
                                               kSecondRounding, 0, 0, 0, 0, 0, 0, 0);
    for (int y = 0; y < 4; ++y) {
        __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(sums[y], kFirstShift),
                                            _mm256_srai_epi32(sums[y + 4], kFirstShift));
        packed = _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
        rows[y] = _mm256_adds_epi16(packed, rounding);
    }
}

// ---- Second pass along the rows of each 128-bit half.

// Outputs 0..3 from the even (a) and odd (b) sums; 7..4 from their difference, reversed.
inline __m256i RoundPair(__m256i a, __m256i b) {
    const __m256i front = _mm256_srai_epi32(_mm256_add_epi32(a, b), kSecondShift);
    const __m256i back = _mm256_shuffle_epi32(_mm256_sub_epi32(a, b), _MM_SHUFFLE(0, 1, 2, 3));
    return _mm256_packs_epi32(front, _mm256_srai_epi32(back, kSecondShift));
}

inline __m256i EvenOddOrder(__m256i row) {
    const __m256i order = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15, 0,
                                           1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    return _mm256_shuffle_epi8(row, order);
}

inline __m256i SecondPass(__m256i row) {
    const Weights& w = kSecondPass;
    const __m256i pairs = EvenOddOrder(row);
    const __m256i t02 = _mm256_shuffle_epi32(pairs, _MM_SHUFFLE(0, 0, 0, 0));
    const __m256i t46 = _mm256_shuffle_epi32(pairs, _MM_SHUFFLE(1, 1, 1, 1));
    const __m256i t13 = _mm256_shuffle_epi32(pairs, _MM_SHUFFLE(2, 2, 2, 2));
    const __m256i t57 = _mm256_shuffle_epi32(pairs, _MM_SHUFFLE(3, 3, 3, 3));
    const __m256i a = _mm256_add_epi32(
        _mm256_madd_epi16(t02, Pairs(w.w4, w.w2, w.w4, w.w6, w.w4, -w.w6, w.w4, -w.w2)),
        _mm256_madd_epi16(t46, Pairs(w.w4, w.w6, -w.w4, -w.w2, -w.w4, w.w2, w.w4, -w.w6)));
    const __m256i b = _mm256_add_epi32(
        _mm256_madd_epi16(t13, Pairs(w.w1, w.w3, w.w3, -w.w7, w.w5, -w.w1, w.w7, -w.w5)),
        _mm256_madd_epi16(t57, Pairs(w.w5, w.w7, -w.w1, -w.w5, w.w7, w.w3, w.w3, -w.w1)));
    return RoundPair(a, b);
}

inline bool IsZero(__m128i value) {
    return _mm_movemask_epi8(_mm_cmpeq_epi16(value, _mm_setzero_si128())) == 0xFFFF;
}

// Every coefficient but the DC one, or-ed together.
inline __m128i AnyAc(const __m128i rows[8]) {
    __m128i any = _mm_srli_si128(rows[0], 2);
    for (int v = 1; v < 8; ++v) any = _mm_or_si128(any, rows[v]);
    return any;
}

// The transform into out[y], [row y | row y + 4] for y in 0..3. Inline into both entry points,
// so that the rows stay in registers up to the stores.
__attribute__((always_inline)) inline void InverseRows(const Ipp16s* src, __m256i out[4]) {
    const __m128i minimum = _mm_set1_epi16(kInputMin);
    const __m128i maximum = _mm_set1_epi16(kInputMax);
    __m128i rows[8];
    __m256i spread[8];
    for (int v = 0; v < 8; ++v) {
        __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * v));
        rows[v] = _mm_min_epi16(_mm_max_epi16(row, minimum), maximum);
        spread[v] =
            _mm256_permute4x64_epi64(_mm256_castsi128_si256(rows[v]), _MM_SHUFFLE(1, 1, 0, 0));
    }
    if (IsZero(AnyAc(rows))) {
        // Only the DC coefficient: every sample is (dc + 4) >> 3.
        const __m128i dc = _mm_srai_epi16(_mm_add_epi16(rows[0], _mm_set1_epi16(4)), 3);
        const __m256i all = _mm256_broadcastw_epi16(dc);
        for (int y = 0; y < 4; ++y) out[y] = all;
        return;
    }
    __m256i sums[8];
    FirstPass(spread, sums);
    __m256i columns[4];
    PackRows(sums, columns);
    for (int y = 0; y < 4; ++y) out[y] = SecondPass(columns[y]);
}

void InverseAvx2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    __m256i rows[4];
    InverseRows(src, rows);
    Ipp8u* base = reinterpret_cast<Ipp8u*>(dst);
    const ptrdiff_t step = dstStep;
    for (int y = 0; y < 4; ++y) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(base + step * y),
                         _mm256_castsi256_si128(rows[y]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(base + step * (y + 4)),
                         _mm256_extracti128_si256(rows[y], 1));
    }
}

void InverseClipAvx2(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal, int clipDown,
                     int clipUp) {
    __m256i rows[4];
    InverseRows(src, rows);
    const __m256i add = _mm256_set1_epi16(static_cast<short>(addVal));
    const __m256i low = _mm256_set1_epi16(static_cast<short>(clipDown));
    const __m256i high = _mm256_set1_epi16(static_cast<short>(clipUp));
    const ptrdiff_t step = dstStep;
    for (int y = 0; y < 4; ++y) {
        __m256i value =
            _mm256_min_epi16(_mm256_max_epi16(_mm256_adds_epi16(rows[y], add), low), high);
        value = _mm256_packus_epi16(value, value);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + step * y), _mm256_castsi256_si128(value));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + step * (y + 4)),
                         _mm256_extracti128_si256(value, 1));
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
