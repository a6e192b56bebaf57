// SSE2 version of the inverse DCT; the same numbers as the scalar version, bit for bit.
//
// The first pass runs down the columns with 32-bit sums. The second pass needs more than 32
// bits for its sums, so each first-pass value r is split into r = 2^14 * high + low with
// 0 <= low < 2^14; both halves go through the 16-bit multiply-add separately and are joined
// when the result is rounded:
//   (sum(W * r) + 2^30) >> 31 == (H + 2^16 + (L >> 14)) >> 17,
// with H = sum(W * high) and L = sum(W * low), both within 32 bits.
#include "primitives/inverse_dct.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstddef>

namespace d2u {
namespace idct {
namespace {

struct Wide {
    __m128i lo;  // lanes 0 to 3 as 32-bit values
    __m128i hi;  // lanes 4 to 7
};

inline __m128i Pair(Ipp32s even, Ipp32s odd) {
    return _mm_setr_epi16(static_cast<short>(even), static_cast<short>(odd),
                          static_cast<short>(even), static_cast<short>(odd),
                          static_cast<short>(even), static_cast<short>(odd),
                          static_cast<short>(even), static_cast<short>(odd));
}

// One half (four lanes) of the 8-point transform; x0..x7 hold the lanes interleaved in pairs.
inline void TransformHalf(__m128i e0, __m128i e1, __m128i o0, __m128i o1, __m128i out[8]) {
    __m128i a0 =
        _mm_add_epi32(_mm_madd_epi16(e0, Pair(kW4, kW4)), _mm_madd_epi16(e1, Pair(kW2, kW6)));
    __m128i a1 =
        _mm_add_epi32(_mm_madd_epi16(e0, Pair(kW4, -kW4)), _mm_madd_epi16(e1, Pair(kW6, -kW2)));
    __m128i a2 =
        _mm_add_epi32(_mm_madd_epi16(e0, Pair(kW4, -kW4)), _mm_madd_epi16(e1, Pair(-kW6, kW2)));
    __m128i a3 =
        _mm_add_epi32(_mm_madd_epi16(e0, Pair(kW4, kW4)), _mm_madd_epi16(e1, Pair(-kW2, -kW6)));
    __m128i b0 =
        _mm_add_epi32(_mm_madd_epi16(o0, Pair(kW1, kW3)), _mm_madd_epi16(o1, Pair(kW5, kW7)));
    __m128i b1 =
        _mm_add_epi32(_mm_madd_epi16(o0, Pair(kW3, -kW7)), _mm_madd_epi16(o1, Pair(-kW1, -kW5)));
    __m128i b2 =
        _mm_add_epi32(_mm_madd_epi16(o0, Pair(kW5, -kW1)), _mm_madd_epi16(o1, Pair(kW7, kW3)));
    __m128i b3 =
        _mm_add_epi32(_mm_madd_epi16(o0, Pair(kW7, -kW5)), _mm_madd_epi16(o1, Pair(kW3, -kW1)));
    out[0] = _mm_add_epi32(a0, b0);
    out[7] = _mm_sub_epi32(a0, b0);
    out[1] = _mm_add_epi32(a1, b1);
    out[6] = _mm_sub_epi32(a1, b1);
    out[2] = _mm_add_epi32(a2, b2);
    out[5] = _mm_sub_epi32(a2, b2);
    out[3] = _mm_add_epi32(a3, b3);
    out[4] = _mm_sub_epi32(a3, b3);
}

// The 8-point transform of in[0..7] (frequency index) lane by lane: out[k] is sample k.
inline void Transform(const __m128i in[8], Wide out[8]) {
    __m128i lo[8];
    __m128i hi[8];
    TransformHalf(_mm_unpacklo_epi16(in[0], in[4]), _mm_unpacklo_epi16(in[2], in[6]),
                  _mm_unpacklo_epi16(in[1], in[3]), _mm_unpacklo_epi16(in[5], in[7]), lo);
    TransformHalf(_mm_unpackhi_epi16(in[0], in[4]), _mm_unpackhi_epi16(in[2], in[6]),
                  _mm_unpackhi_epi16(in[1], in[3]), _mm_unpackhi_epi16(in[5], in[7]), hi);
    for (int k = 0; k < 8; ++k) out[k] = Wide{lo[k], hi[k]};
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

inline __m128i JoinAndRound(__m128i high, __m128i low) {
    __m128i sum =
        _mm_add_epi32(_mm_add_epi32(high, _mm_set1_epi32(1 << 16)), _mm_srai_epi32(low, 14));
    return _mm_srai_epi32(sum, 17);
}

// The transform into out[y], 8 signed 16-bit samples of row y.
void InverseRows(const Ipp16s* src, __m128i out[8]) {
    const __m128i minimum = _mm_set1_epi16(kInputMin);
    const __m128i maximum = _mm_set1_epi16(kInputMax);
    __m128i rows[8];
    __m128i any = _mm_setzero_si128();
    for (int v = 0; v < 8; ++v) {
        __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * v));
        rows[v] = _mm_min_epi16(_mm_max_epi16(row, minimum), maximum);
        any = _mm_or_si128(any, v == 0 ? _mm_srli_si128(rows[v], 2) : rows[v]);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) == 0xFFFF) {
        // Only the DC coefficient: every sample is (dc * 2^28 + 2^30) >> 31.
        __m128i dc = _mm_srai_epi16(_mm_add_epi16(rows[0], _mm_set1_epi16(4)), 3);
        dc = _mm_shufflelo_epi16(dc, 0);
        dc = _mm_unpacklo_epi64(dc, dc);
        for (int y = 0; y < 8; ++y) out[y] = dc;
        return;
    }
    Wide columns[8];  // [y], lanes u
    Transform(rows, columns);
    const __m128i lowMask = _mm_set1_epi32(0x3FFF);
    __m128i high[8];
    __m128i low[8];
    for (int y = 0; y < 8; ++y) {
        high[y] =
            _mm_packs_epi32(_mm_srai_epi32(columns[y].lo, 14), _mm_srai_epi32(columns[y].hi, 14));
        low[y] = _mm_packs_epi32(_mm_and_si128(columns[y].lo, lowMask),
                                 _mm_and_si128(columns[y].hi, lowMask));
    }
    Transpose(high);  // [u], lanes y
    Transpose(low);
    Wide highSums[8];  // [x], lanes y
    Wide lowSums[8];
    Transform(high, highSums);
    Transform(low, lowSums);
    for (int x = 0; x < 8; ++x) {
        out[x] = _mm_packs_epi32(JoinAndRound(highSums[x].lo, lowSums[x].lo),
                                 JoinAndRound(highSums[x].hi, lowSums[x].hi));
    }
    Transpose(out);
}

void InverseSse2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    __m128i out[8];
    InverseRows(src, out);
    Ipp8u* row = reinterpret_cast<Ipp8u*>(dst);
    for (int y = 0; y < 8; ++y, row += dstStep) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row), out[y]);
    }
}

void InverseClipSse2(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal, int clipDown,
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

void InstallSse2Kernels(KernelTable& table) {
    table.inverse = InverseSse2;
    table.inverseClip = InverseClipSse2;
}

}  // namespace idct
}  // namespace d2u

#else

namespace d2u {
namespace idct {
void InstallSse2Kernels(KernelTable&) {}
}  // namespace idct
}  // namespace d2u

#endif
