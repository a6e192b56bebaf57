// SSE2 version of the inverse DCT; the same numbers as the scalar version, bit for bit.
//
// Both passes run down the lanes: the first transforms the columns of the coefficient rows, a
// transpose turns its results into columns, the second pass transforms those, and a second
// transpose restores rows. Blocks with only the DC and the last coefficient take a short cut;
// skipping the multiply-adds for zero rows or columns 4 to 7 did not pay (see
// inverse_dct_avx2.cpp).
#include "primitives/inverse_dct.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace d2u {
namespace idct {
namespace {

inline __m128i Pair(Ipp32s even, Ipp32s odd) {
    return _mm_setr_epi16(static_cast<short>(even), static_cast<short>(odd),
                          static_cast<short>(even), static_cast<short>(odd),
                          static_cast<short>(even), static_cast<short>(odd),
                          static_cast<short>(even), static_cast<short>(odd));
}

// The even and odd halves of the 8-point transform, four 32-bit lanes each, with the rounding
// term added to the even half; out[k] = a[k] + b[k] and out[7 - k] = a[k] - b[k].
inline void Butterfly(const __m128i a[4], const __m128i b[4], __m128i out[8]) {
    for (int k = 0; k < 4; ++k) {
        out[k] = _mm_add_epi32(a[k], b[k]);
        out[7 - k] = _mm_sub_epi32(a[k], b[k]);
    }
}

// All eight inputs; pairs (x0, x4), (x2, x6), (x1, x3), (x5, x7) interleaved.
inline void TransformHalf(__m128i x04, __m128i x26, __m128i x13, __m128i x57, const Weights& w,
                          Ipp32s rounding, __m128i out[8]) {
    const __m128i round = _mm_set1_epi32(rounding);
    const __m128i even0 = _mm_add_epi32(_mm_madd_epi16(x04, Pair(w.w4, w.w4)), round);
    const __m128i even1 = _mm_add_epi32(_mm_madd_epi16(x04, Pair(w.w4, -w.w4)), round);
    __m128i a[4] = {_mm_add_epi32(even0, _mm_madd_epi16(x26, Pair(w.w2, w.w6))),
                    _mm_add_epi32(even1, _mm_madd_epi16(x26, Pair(w.w6, -w.w2))),
                    _mm_add_epi32(even1, _mm_madd_epi16(x26, Pair(-w.w6, w.w2))),
                    _mm_add_epi32(even0, _mm_madd_epi16(x26, Pair(-w.w2, -w.w6)))};
    __m128i b[4] = {
        _mm_add_epi32(_mm_madd_epi16(x13, Pair(w.w1, w.w3)), _mm_madd_epi16(x57, Pair(w.w5, w.w7))),
        _mm_add_epi32(_mm_madd_epi16(x13, Pair(w.w3, -w.w7)),
                      _mm_madd_epi16(x57, Pair(-w.w1, -w.w5))),
        _mm_add_epi32(_mm_madd_epi16(x13, Pair(w.w5, -w.w1)),
                      _mm_madd_epi16(x57, Pair(w.w7, w.w3))),
        _mm_add_epi32(_mm_madd_epi16(x13, Pair(w.w7, -w.w5)),
                      _mm_madd_epi16(x57, Pair(w.w3, -w.w1)))};
    Butterfly(a, b, out);
}

// One pass down the lanes: out[k] = sat16((sum_i basis[k][i] * in[i] + rounding) >> shift).
template <int kShift>
inline void Pass(const __m128i in[8], const Weights& w, Ipp32s rounding, __m128i out[8]) {
    __m128i lo[8];
    __m128i hi[8];
    TransformHalf(_mm_unpacklo_epi16(in[0], in[4]), _mm_unpacklo_epi16(in[2], in[6]),
                  _mm_unpacklo_epi16(in[1], in[3]), _mm_unpacklo_epi16(in[5], in[7]), w, rounding,
                  lo);
    TransformHalf(_mm_unpackhi_epi16(in[0], in[4]), _mm_unpackhi_epi16(in[2], in[6]),
                  _mm_unpackhi_epi16(in[1], in[3]), _mm_unpackhi_epi16(in[5], in[7]), w, rounding,
                  hi);
    for (int k = 0; k < 8; ++k) {
        out[k] = _mm_packs_epi32(_mm_srai_epi32(lo[k], kShift), _mm_srai_epi32(hi[k], kShift));
    }
}

inline void Transpose(__m128i r[8]) {
    __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]);
    __m128i t1 = _mm_unpackhi_epi16(r[0], r[1]);
    __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]);
    __m128i t3 = _mm_unpackhi_epi16(r[2], r[3]);
    __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]);
    __m128i t5 = _mm_unpackhi_epi16(r[4], r[5]);
    __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]);
    __m128i t7 = _mm_unpackhi_epi16(r[6], r[7]);
    __m128i u0 = _mm_unpacklo_epi32(t0, t2);
    __m128i u1 = _mm_unpackhi_epi32(t0, t2);
    __m128i u2 = _mm_unpacklo_epi32(t1, t3);
    __m128i u3 = _mm_unpackhi_epi32(t1, t3);
    __m128i u4 = _mm_unpacklo_epi32(t4, t6);
    __m128i u5 = _mm_unpackhi_epi32(t4, t6);
    __m128i u6 = _mm_unpacklo_epi32(t5, t7);
    __m128i u7 = _mm_unpackhi_epi32(t5, t7);
    r[0] = _mm_unpacklo_epi64(u0, u4);
    r[1] = _mm_unpackhi_epi64(u0, u4);
    r[2] = _mm_unpacklo_epi64(u1, u5);
    r[3] = _mm_unpackhi_epi64(u1, u5);
    r[4] = _mm_unpacklo_epi64(u2, u6);
    r[5] = _mm_unpackhi_epi64(u2, u6);
    r[6] = _mm_unpacklo_epi64(u3, u7);
    r[7] = _mm_unpackhi_epi64(u3, u7);
}

inline bool IsZero(__m128i value) {
    return _mm_movemask_epi8(_mm_cmpeq_epi16(value, _mm_setzero_si128())) == 0xFFFF;
}

inline __m128i Words(Ipp32s w0, Ipp32s w1, Ipp32s w2, Ipp32s w3, Ipp32s w4, Ipp32s w5, Ipp32s w6,
                     Ipp32s w7) {
    return _mm_setr_epi16(static_cast<short>(w0), static_cast<short>(w1), static_cast<short>(w2),
                          static_cast<short>(w3), static_cast<short>(w4), static_cast<short>(w5),
                          static_cast<short>(w6), static_cast<short>(w7));
}

// The transform of a block with only coefficients 0 and 63 (X in the first row, Z in the last).
// The first pass gives 8X in column 0 exactly, zero in columns 1 to 6 and
// t7[y] = (A[y][7] * Z + 2^10) >> 11 in column 7 (no saturation: |t7| <= 22725); the second pass
// then sums 2^13 * (8X + 32) = (X + 4) << 16 and C[x][7] * t7[y], with C[7 - x][7] = -C[x][7].
inline void CornerRows(__m128i first, __m128i last, __m128i out[8]) {
    const Weights& a = kFirstPass;
    const Weights& c = kSecondPass;
    // The low word of each lane is X, the high word the zero coefficient 1, shifted out.
    const __m128i even =
        _mm_slli_epi32(_mm_add_epi32(_mm_shuffle_epi32(first, 0), _mm_set1_epi32(4)), 16);
    // Pairs (2^10, Z): coefficient 62 is zero.
    const __m128i pair =
        _mm_or_si128(_mm_shuffle_epi32(last, 0xFF), _mm_set1_epi32(kFirstRounding));
    const __m128i upper = _mm_srai_epi32(
        _mm_madd_epi16(pair, Words(1, a.w7, 1, -a.w5, 1, a.w3, 1, -a.w1)), kFirstShift);
    const __m128i lower = _mm_srai_epi32(
        _mm_madd_epi16(pair, Words(1, a.w1, 1, -a.w3, 1, a.w5, 1, -a.w7)), kFirstShift);
    // t7[y] in every lane; its sign in the high words meets the zero high words of the weights.
    const __m128i column[8] = {_mm_shuffle_epi32(upper, 0x00), _mm_shuffle_epi32(upper, 0x55),
                               _mm_shuffle_epi32(upper, 0xAA), _mm_shuffle_epi32(upper, 0xFF),
                               _mm_shuffle_epi32(lower, 0x00), _mm_shuffle_epi32(lower, 0x55),
                               _mm_shuffle_epi32(lower, 0xAA), _mm_shuffle_epi32(lower, 0xFF)};
    const __m128i weights = Words(c.w7, 0, -c.w5, 0, c.w3, 0, -c.w1, 0);
    for (int y = 0; y < 8; ++y) {
        const __m128i odd = _mm_madd_epi16(column[y], weights);
        // Outputs 0..3, then 7..4 put in order.
        const __m128i packed =
            _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(even, odd), kSecondShift),
                            _mm_srai_epi32(_mm_sub_epi32(even, odd), kSecondShift));
        out[y] = _mm_shufflehi_epi16(packed, 0x1B);
    }
}

// The transform into out[y], 8 signed 16-bit samples of row y.
inline void InverseRows(const Ipp16s* src, __m128i out[8]) {
    const __m128i minimum = _mm_set1_epi16(kInputMin);
    const __m128i maximum = _mm_set1_epi16(kInputMax);
    __m128i rows[8];
    for (int v = 0; v < 8; ++v) {
        __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * v));
        rows[v] = _mm_min_epi16(_mm_max_epi16(row, minimum), maximum);
    }
    // Every coefficient but the first and the last, or-ed together.
    __m128i inner = _mm_or_si128(_mm_srli_si128(rows[0], 2), _mm_slli_si128(rows[7], 2));
    for (int v = 1; v < 7; ++v) inner = _mm_or_si128(inner, rows[v]);
    if (IsZero(inner)) {
        CornerRows(rows[0], rows[7], out);
        return;
    }
    __m128i columns[8];  // [y], lanes u, then [u], lanes y
    Pass<kFirstShift>(rows, kFirstPass, kFirstRounding, columns);
    Transpose(columns);
    columns[0] = _mm_adds_epi16(columns[0], _mm_set1_epi16(kSecondRounding));
    Pass<kSecondShift>(columns, kSecondPass, 0, out);
    Transpose(out);
}

inline void StoreRows(const __m128i rows[8], Ipp16s* dst, int dstStep) {
    Ipp8u* row = reinterpret_cast<Ipp8u*>(dst);
    for (int y = 0; y < 8; ++y, row += dstStep) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row), rows[y]);
    }
}

// The packing saturates to the byte range: the clipping of intra blocks.
inline void StoreByteRows(const __m128i rows[8], Ipp8u* dst, int dstStep) {
    Ipp8u* row = dst;
    for (int y = 0; y < 8; ++y, row += dstStep) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row), _mm_packus_epi16(rows[y], rows[y]));
    }
}

void InverseSse2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    __m128i rows[8];
    InverseRows(src, rows);
    StoreRows(rows, dst, dstStep);
}

void InverseIntraSse2(const Ipp16s* src, Ipp8u* dst, int dstStep) {
    __m128i rows[8];
    InverseRows(src, rows);
    StoreByteRows(rows, dst, dstStep);
}

}  // namespace

}  // namespace idct

void InitInverseDctKernelsSse2(idct::KernelTable& table) {
    table.inverse = table.inverseInRange = idct::InverseSse2;
    table.inverseIntra = table.inverseIntraInRange = idct::InverseIntraSse2;
}

}  // namespace d2u

#else

namespace d2u {
void InitInverseDctKernelsSse2(idct::KernelTable&) {}
}  // namespace d2u

#endif
