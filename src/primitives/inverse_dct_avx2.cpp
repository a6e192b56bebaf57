// AVX2 version of the inverse DCT; the same numbers as the scalar version, bit for bit.
//
// The block is loaded two rows to a register. Each row is reordered to columns (0, 4, 1, 5 | 2, 6,
// 3, 7) and the rows are interleaved in pairs (0, 4), (2, 6), (1, 5), (3, 7), so that the first
// pass runs down all eight columns of a pair at once (32-bit sums, one column per lane). Its even
// and odd halves give rows k and 7 - k as their sum and difference; packing those two leaves, in
// each 32-bit lane, two columns of the same row and parity: (t0, t4) and (t1, t5) in the low half,
// (t2, t6) and (t3, t7) in the high half. The second pass broadcasts each such pair of row k to the
// low half and of row 7 - k to the high half with one permute and multiplies it with the weights of
// outputs 0 to 3; the even and odd sums give outputs 0 to 3 as their sum and 7 to 4 as their
// difference. No transposes are needed, and each k goes through both passes before the next, which
// keeps the sums in registers.
//
// Residual blocks with one coefficient besides the last one (outside column 7), which the
// coefficient reader hands over as values (InverseTwoAvx2), take a short cut of about 40
// instructions instead of 150: most blocks of one coefficient in SD and HD streams (mismatch
// control sets the last coefficient in most coded blocks). The whole transform does not look for
// them again: by then under 1% of its blocks are such. Intra
// blocks almost always hold a DC coefficient, so theirs is the one for the DC and last
// coefficients only (about a quarter of the intra blocks of a 6 Mbit/s stream, more in HD). Others
// run the whole transform: skipping the multiply-adds for zero rows or columns 4 to 7 made decoding
// slower (mispredicted branches on the usual mix of blocks cost more than the work saved; even with
// coefficient 63 set aside, under a quarter of the non-intra blocks of a 6 Mbit/s stream fit in
// rows and columns 0 to 3).
#include "primitives/inverse_dct.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace d2u {
namespace idct {
namespace {

constexpr Ipp32s Packed(Ipp32s even, Ipp32s odd) {
    return static_cast<Ipp32s>((static_cast<Ipp32u>(odd) << 16) |
                               (static_cast<Ipp32u>(even) & 0xFFFFu));
}

// The weights of output k (0..3) for the input pairs (0, 4), (2, 6), (1, 5) and (3, 7): the even
// half of the transform from the first two, the odd half from the last two.
struct PairWeights {
    Ipp32s p04[4], p26[4], p15[4], p37[4];
};

constexpr PairWeights Split(const Weights& w) {
    return {{Packed(w.w4, w.w4), Packed(w.w4, -w.w4), Packed(w.w4, -w.w4), Packed(w.w4, w.w4)},
            {Packed(w.w2, w.w6), Packed(w.w6, -w.w2), Packed(-w.w6, w.w2), Packed(-w.w2, -w.w6)},
            {Packed(w.w1, w.w5), Packed(w.w3, -w.w1), Packed(w.w5, w.w7), Packed(w.w7, w.w3)},
            {Packed(w.w3, w.w7), Packed(-w.w7, -w.w5), Packed(-w.w1, w.w3), Packed(-w.w5, -w.w1)}};
}

constexpr PairWeights kFirstPairs = Split(kFirstPass);
constexpr PairWeights kSecondPairs = Split(kSecondPass);

// The column-7 weights of rows (or outputs) 0 to 3; those of 7 to 4 are their negatives.
struct LastWeights {
    Ipp32s at[4];
};

constexpr LastWeights Last(const Weights& w) {
    return {{w.w7, -w.w5, w.w3, -w.w1}};
}

constexpr LastWeights kFirstLast = Last(kFirstPass);
constexpr LastWeights kSecondLast = Last(kSecondPass);

// 32 bytes of constant lanes.
struct alignas(32) Lanes {
    Ipp32s at[8];
};

constexpr Lanes Splat(Ipp32s value) {
    return {{value, value, value, value, value, value, value, value}};
}

constexpr Lanes Twice(const Ipp32s (&pairs)[4]) {
    return {{pairs[0], pairs[1], pairs[2], pairs[3], pairs[0], pairs[1], pairs[2], pairs[3]}};
}

// The pair (1, weight of coefficient 63 in row k) in lanes 0 to 3 and that of row 7 - k in lanes 4
// to 7, for the pairs (first-pass rounding, coefficient 63).
constexpr Lanes LastRowPair(int k) {
    const Ipp32s upper = Packed(1, kFirstLast.at[k]);
    const Ipp32s lower = Packed(1, -kFirstLast.at[k]);
    return {{upper, upper, upper, upper, lower, lower, lower, lower}};
}

// The weight of column 7 in outputs 0 to 3 over a zero high word, in both halves.
constexpr Lanes LastColumn() {
    const LastWeights& w = kSecondLast;
    const Ipp32s x0 = Packed(w.at[0], 0), x1 = Packed(w.at[1], 0);
    const Ipp32s x2 = Packed(w.at[2], 0), x3 = Packed(w.at[3], 0);
    return {{x0, x1, x2, x3, x0, x1, x2, x3}};
}

// The weights of both passes: the same for every column in the first, per output in the second.
struct Tables {
    Lanes first04[2], first26[4], first15[4], first37[4];
    Lanes second04, second26, second15, second37;
    Lanes inputMinimum, inputMaximum;  // 16-bit lanes
    Lanes firstRounding;
    Lanes secondRounding;  // words 0 and 4
    Lanes columnOrder;     // bytes of (0, 4, 1, 5, 2, 6, 3, 7), in both halves
    Lanes wordOrder;       // bytes of words (0, 1, 2, 3, 7, 6, 5, 4), in both halves
    Lanes byteOrder;       // bytes (0, 1, 2, 3, 7, 6, 5, 4) of each 8, in both halves
    Lanes lastRow[4];      // see LastRowPair
    Lanes lastColumn;      // see LastColumn
};

constexpr Tables kTables = {{Splat(kFirstPairs.p04[0]), Splat(kFirstPairs.p04[1])},
                            {Splat(kFirstPairs.p26[0]), Splat(kFirstPairs.p26[1]),
                             Splat(kFirstPairs.p26[2]), Splat(kFirstPairs.p26[3])},
                            {Splat(kFirstPairs.p15[0]), Splat(kFirstPairs.p15[1]),
                             Splat(kFirstPairs.p15[2]), Splat(kFirstPairs.p15[3])},
                            {Splat(kFirstPairs.p37[0]), Splat(kFirstPairs.p37[1]),
                             Splat(kFirstPairs.p37[2]), Splat(kFirstPairs.p37[3])},
                            Twice(kSecondPairs.p04),
                            Twice(kSecondPairs.p26),
                            Twice(kSecondPairs.p15),
                            Twice(kSecondPairs.p37),
                            Splat(Packed(kInputMin, kInputMin)),
                            Splat(Packed(kInputMax, kInputMax)),
                            Splat(kFirstRounding),
                            {{kSecondRounding, 0, kSecondRounding, 0, 0, 0, 0, 0}},
                            {{0x09080100, 0x0B0A0302, 0x0D0C0504, 0x0F0E0706, 0x09080100,
                              0x0B0A0302, 0x0D0C0504, 0x0F0E0706}},
                            {{0x03020100, 0x07060504, 0x0D0C0F0E, 0x09080B0A, 0x03020100,
                              0x07060504, 0x0D0C0F0E, 0x09080B0A}},
                            {{0x03020100, 0x04050607, 0x0B0A0908, 0x0C0D0E0F, 0x03020100,
                              0x04050607, 0x0B0A0908, 0x0C0D0E0F}},
                            {LastRowPair(0), LastRowPair(1), LastRowPair(2), LastRowPair(3)},
                            LastColumn()};

inline __m256i Load(const Lanes& lanes) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.at));
}

// The tables at an address the optimiser cannot see through, so that it reads them as memory
// operands instead of loading each into a register first.
inline const Tables& OpaqueTables() {
    const Tables* tables = &kTables;
    asm("" : "+r"(tables));
    return *tables;
}

// ---- Blocks with one coefficient X at row v, column u < 7, besides the last one Z (63).
//
// The first pass leaves zero in columns other than u and 7 ((0 + 2^10) >> 11), and in those two
// tu[y] = (A[y][v] * X + 2^10) >> 11 and t7[y] = (A[y][7] * Z + 2^10) >> 11, both within 16 bits
// (|A| <= 22725, |X|, |Z| <= 2048). The rounding term 32 of column 0 adds 2^13 * 32 = 2^18 to
// every output, also when u = 0, so that out[y][x] = (C[x][u] * tu[y] + C[x][7] * t7[y] + 2^18)
// >> 19. (A * X + 2^10) >> 11 equals the rounded high half (A * 16X + 2^14) >> 15 of one rounding
// multiply, 16X staying within 16 bits: the first pass is one such multiply of the pairs (16X, 16Z)
// with (A[y][v], A[y][7]), and each row y one multiply-add of its pair (tu[y], t7[y]) with
// (C[x][u], C[x][7]) for the eight x.

// cos(k * pi / 16) scaled as the weights (the DC weight w4 for k = 0, as in column 0).
constexpr Ipp32s Cosine(const Weights& w, int k) {
    const Ipp32s magnitude[9] = {w.w4, w.w1, w.w2, w.w3, w.w4, w.w5, w.w6, w.w7, 0};
    k %= 32;
    if (k > 16) k = 32 - k;
    return k > 8 ? -magnitude[16 - k] : magnitude[k];
}

// The basis of a pass: the weight of frequency f in sample n.
constexpr Ipp32s BasisAt(const Weights& w, int n, int f) {
    return f == 0 ? w.w4 : Cosine(w, (2 * n + 1) * f);
}

// For row v: the pairs (A[y][v], A[y][7]), y = 0..7 in lanes 0 to 7.
constexpr Lanes SparseFirst(int v) {
    Lanes lanes = {};
    for (int y = 0; y < 8; ++y)
        lanes.at[y] = Packed(BasisAt(kFirstPass, y, v), BasisAt(kFirstPass, y, 7));
    return lanes;
}

// For column u: the pairs (C[x][u], C[x][7]) of outputs 0 to 3 (first) and 4 to 7 (second), in
// both halves.
struct SparseColumn {
    Lanes outputs[2];
};

constexpr SparseColumn SparseSecond(int u) {
    SparseColumn column = {};
    for (int half = 0; half < 2; ++half) {
        for (int x = 0; x < 4; ++x) {
            const Ipp32s pair = Packed(BasisAt(kSecondPass, 4 * half + x, u),
                                       BasisAt(kSecondPass, 4 * half + x, 7));
            column.outputs[half].at[x] = column.outputs[half].at[x + 4] = pair;
        }
    }
    return column;
}

struct SparseTables {
    Lanes first[8];          // by row
    SparseColumn second[7];  // by column
    Lanes rounding;          // 2^18
};

constexpr SparseTables MakeSparseTables() {
    SparseTables t = {};
    for (int v = 0; v < 8; ++v) t.first[v] = SparseFirst(v);
    for (int u = 0; u < 7; ++u) t.second[u] = SparseSecond(u);
    t.rounding = Splat(1 << (kSecondShift - 1));
    return t;
}

alignas(32) constexpr SparseTables kSparse = MakeSparseTables();

inline const SparseTables& OpaqueSparseTables() {
    const SparseTables* tables = &kSparse;
    asm("" : "+r"(tables));
    return *tables;
}

// Rows i (low half) and i + 4 (high half), to store(i, rows) for i in 0..3, of a block with one
// coefficient x at `row`, `column` (below 7) besides the last one, `last`; minimum and maximum
// are the input range.
template <typename Store>
__attribute__((always_inline)) inline void OneCoefficientRows(Ipp16s x, Ipp16s last, int row,
                                                              int column, __m256i minimum,
                                                              __m256i maximum, Store store) {
    const SparseTables& t = OpaqueSparseTables();
    // (16X, 16Z) in every lane.
    __m256i pairs = _mm256_blend_epi16(_mm256_set1_epi16(x), _mm256_set1_epi16(last), 0xAA);
    pairs = _mm256_slli_epi16(_mm256_min_epi16(_mm256_max_epi16(pairs, minimum), maximum), 4);
    // (tu[y], t7[y]) in lane y.
    const __m256i columns = _mm256_mulhrs_epi16(pairs, Load(t.first[row]));
    const SparseColumn& weights = t.second[column];
    const __m256i rounding = Load(t.rounding);
    const auto outputs = [&](__m256i pair) {
        const __m256i low = _mm256_madd_epi16(pair, Load(weights.outputs[0]));
        const __m256i high = _mm256_madd_epi16(pair, Load(weights.outputs[1]));
        return _mm256_packs_epi32(
            _mm256_srai_epi32(_mm256_add_epi32(low, rounding), kSecondShift),
            _mm256_srai_epi32(_mm256_add_epi32(high, rounding), kSecondShift));
    };
    store(0, outputs(_mm256_shuffle_epi32(columns, 0x00)));
    store(1, outputs(_mm256_shuffle_epi32(columns, 0x55)));
    store(2, outputs(_mm256_shuffle_epi32(columns, 0xAA)));
    store(3, outputs(_mm256_shuffle_epi32(columns, 0xFF)));
}

// First-pass sums of two rows to 16 bits in one register, with the second pass's rounding term
// added to column 0 of both (words 0 and 4).
inline __m256i PackRows(const Tables& t, __m256i upper, __m256i lower) {
    const __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(upper, kFirstShift),
                                              _mm256_srai_epi32(lower, kFirstShift));
    return _mm256_adds_epi16(packed, Load(t.secondRounding));
}

// ---- Second pass along the rows of each half.

// Outputs 0..3 from the even (a) and odd (b) sums, then 7..4 from their difference (the
// stores put those four in order).
inline __m256i RoundPair(__m256i a, __m256i b) {
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(a, b), kSecondShift),
                              _mm256_srai_epi32(_mm256_sub_epi32(a, b), kSecondShift));
}

inline __m256i SecondPass(const Tables& t, __m256i rows) {
    const __m256i t04 =
        _mm256_permutevar8x32_epi32(rows, _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2));
    const __m256i t15 =
        _mm256_permutevar8x32_epi32(rows, _mm256_setr_epi32(1, 1, 1, 1, 3, 3, 3, 3));
    const __m256i t26 =
        _mm256_permutevar8x32_epi32(rows, _mm256_setr_epi32(4, 4, 4, 4, 6, 6, 6, 6));
    const __m256i t37 =
        _mm256_permutevar8x32_epi32(rows, _mm256_setr_epi32(5, 5, 5, 5, 7, 7, 7, 7));
    const __m256i a = _mm256_add_epi32(_mm256_madd_epi16(t04, Load(t.second04)),
                                       _mm256_madd_epi16(t26, Load(t.second26)));
    const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(t15, Load(t.second15)),
                                       _mm256_madd_epi16(t37, Load(t.second37)));
    return RoundPair(a, b);
}

// Whether every coefficient but the DC one (0) and the last one (63) is zero. Mismatch control
// sets the last one in most coded blocks, so that blocks holding only a DC value usually hold both.
inline bool OnlyCorners(const __m256i rows[4]) {
    const __m256i notFirst =
        _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i notLast =
        _mm256_setr_epi16(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0);
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(rows[0], notFirst), rows[1]),
                        _mm256_or_si256(rows[2], _mm256_and_si256(rows[3], notLast)));
    return _mm256_testz_si256(any, any);
}

// The transform of a block with only coefficients 0 and 63 (X and Z), in the layout of the full
// one. The first pass gives 8X in column 0 exactly, zero in columns 1 to 6 and
// t7[y] = (A[y][7] * Z + 2^10) >> 11 in column 7 (no saturation: |t7| <= 22725); the second pass
// then sums 2^13 * (8X + 32) = (X + 4) << 16 and C[x][7] * t7[y], with C[7 - x][7] = -C[x][7].
// `dc` holds X in the low word of each lane (the high word is shifted out), `last` the pairs
// (2^10, Z).
template <typename Store>
__attribute__((always_inline)) inline void CornerValueRows(const Tables& t, __m256i dc,
                                                           __m256i last, Store store) {
    const __m256i even = _mm256_slli_epi32(_mm256_add_epi32(dc, _mm256_set1_epi32(4)), 16);
    for (int k = 0; k < 4; ++k) {
        // t7 of row k in lanes 0 to 3, of row 7 - k in 4 to 7; the high words are its sign, which
        // meets the zero high words of the weights.
        const __m256i column =
            _mm256_srai_epi32(_mm256_madd_epi16(last, Load(t.lastRow[k])), kFirstShift);
        store(k, RoundPair(even, _mm256_madd_epi16(column, Load(t.lastColumn))));
    }
}

template <typename Store>
__attribute__((always_inline)) inline void CornerRows(const Tables& t, const __m256i rows[4],
                                                      Store store) {
    // The low word of each lane is X, the high word the zero coefficient 1.
    const __m256i dc = _mm256_broadcastd_epi32(_mm256_castsi256_si128(rows[0]));
    // Pairs (2^10, Z): coefficient 62 is zero.
    const __m256i last = _mm256_or_si256(_mm256_permutevar8x32_epi32(rows[3], _mm256_set1_epi32(7)),
                                         _mm256_set1_epi32(kFirstRounding));
    CornerValueRows(t, dc, last, store);
}

// Rows 2k and 2k + 1 in rows[k].
inline void LoadRows(const Ipp16s* src, __m256i rows[4]) {
    for (int k = 0; k < 4; ++k)
        rows[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 16 * k));
}

inline void SaturateRows(const Tables& t, __m256i rows[4]) {
    const __m256i minimum = Load(t.inputMinimum);
    const __m256i maximum = Load(t.inputMaximum);
    for (int k = 0; k < 4; ++k)
        rows[k] = _mm256_min_epi16(_mm256_max_epi16(rows[k], minimum), maximum);
}

// The whole transform of the saturated rows, handing [row k | row 7 - k] to store(k, rows) for k in
// 0..3 in turn. Inline into both entry points, so that the rows stay in registers up to the stores.
template <typename Store>
__attribute__((always_inline)) inline void FullRows(const Tables& t, __m256i rows[4], Store store) {
    // Rows 2k and 2k + 1 reordered to columns (0, 4, 1, 5, 2, 6, 3, 7).
    for (int k = 0; k < 4; ++k) rows[k] = _mm256_shuffle_epi8(rows[k], Load(t.columnOrder));
    // [pair columns 0, 4, 1, 5 | pair columns 2, 6, 3, 7] for the row pairs (2k, 2k + 4) and (2k +
    // 1, 2k + 5).
    const __m256i low01 = _mm256_unpacklo_epi16(rows[0], rows[2]);
    const __m256i high01 = _mm256_unpackhi_epi16(rows[0], rows[2]);
    const __m256i low23 = _mm256_unpacklo_epi16(rows[1], rows[3]);
    const __m256i high23 = _mm256_unpackhi_epi16(rows[1], rows[3]);
    const __m256i x04 = _mm256_permute2x128_si256(low01, high01, 0x20);
    const __m256i x15 = _mm256_permute2x128_si256(low01, high01, 0x31);
    const __m256i x26 = _mm256_permute2x128_si256(low23, high23, 0x20);
    const __m256i x37 = _mm256_permute2x128_si256(low23, high23, 0x31);
    const __m256i round = Load(t.firstRounding);
    const __m256i even0 = _mm256_add_epi32(_mm256_madd_epi16(x04, Load(t.first04[0])), round);
    const __m256i even1 = _mm256_add_epi32(_mm256_madd_epi16(x04, Load(t.first04[1])), round);
    for (int k = 0; k < 4; ++k) {
        const __m256i even = (k == 0 || k == 3) ? even0 : even1;
        const __m256i a = _mm256_add_epi32(even, _mm256_madd_epi16(x26, Load(t.first26[k])));
        const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(x15, Load(t.first15[k])),
                                           _mm256_madd_epi16(x37, Load(t.first37[k])));
        store(k, SecondPass(t, PackRows(t, _mm256_add_epi32(a, b), _mm256_sub_epi32(a, b))));
    }
}

// The transform, with the short cut for the corners. kReaderBlock: a block of the coefficient
// readers, whose coefficients lie in the input range already and whose blocks of the corners
// alone have gone to the corner entry (the whole transform gives the same numbers for them).
template <bool kReaderBlock = false, typename Store>
__attribute__((always_inline)) inline void InverseRows(const Tables& t, const Ipp16s* src,
                                                       Store store) {
    __m256i rows[4];  // rows 2k and 2k + 1
    LoadRows(src, rows);
    if (!kReaderBlock) {
        SaturateRows(t, rows);
        if (OnlyCorners(rows)) {
            CornerRows(t, rows, store);
            return;
        }
    }
    FullRows(t, rows, store);
}
// Stores rows i (low half) and i + 4 (high half) of OneCoefficientRows.
inline auto RowHalves(Ipp8u* upper, ptrdiff_t step) {
    return [upper, step](int i, __m256i rows) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(upper + i * step),
                         _mm256_castsi256_si128(rows));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(upper + (i + 4) * step),
                         _mm256_extracti128_si256(rows, 1));
    };
}

template <bool kReaderBlock>
void InverseRowsToResidual(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    const ptrdiff_t step = dstStep;
    Ipp8u* upper = reinterpret_cast<Ipp8u*>(dst);
    const Tables& t = OpaqueTables();
    __m256i rows[4];
    LoadRows(src, rows);
    if (!kReaderBlock) SaturateRows(t, rows);
    Ipp8u* lower = upper + 7 * step;
    FullRows(t, rows, [&](int, __m256i rows) {
        rows = _mm256_shuffle_epi8(rows, Load(t.wordOrder));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(upper), _mm256_castsi256_si128(rows));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lower), _mm256_extracti128_si256(rows, 1));
        upper += step;
        lower -= step;
    });
}

void InverseAvx2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    InverseRowsToResidual<false>(src, dst, dstStep);
}

void InverseInRangeAvx2(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    InverseRowsToResidual<true>(src, dst, dstStep);
}

void InverseTwoAvx2(Ipp16s* block, Ipp16s value, int position, Ipp16s last, Ipp16s* dst,
                    int dstStep) {
    const int row = (position >> 3) & 7;
    const int column = position & 7;
    if (column == 7) {
        // Column 7 adds to column 7 of the first pass: the whole transform.
        block[63] = last;
        InverseAvx2(block, dst, dstStep);
        return;
    }
    const Tables& t = OpaqueTables();
    OneCoefficientRows(value, last, row, column, Load(t.inputMinimum), Load(t.inputMaximum),
                       RowHalves(reinterpret_cast<Ipp8u*>(dst), dstStep));
}

// Rows k and k + 1 (low half) and 7 - k and 6 - k (high half), 8 bytes each.
inline void StoreRowPairs(Ipp8u* dst, ptrdiff_t step, int k, __m256i bytes) {
    const __m128i upper = _mm256_castsi256_si128(bytes);
    const __m128i lower = _mm256_extracti128_si256(bytes, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + k * step), upper);
    _mm_storeh_pi(reinterpret_cast<__m64*>(dst + (k + 1) * step), _mm_castsi128_ps(upper));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (7 - k) * step), lower);
    _mm_storeh_pi(reinterpret_cast<__m64*>(dst + (6 - k) * step), _mm_castsi128_ps(lower));
}

// Rows [k | 7 - k] to bytes, stored two registers at a time.
class ByteRows {
public:
    ByteRows(const Tables& t, Ipp8u* dst, ptrdiff_t step) : t_(t), dst_(dst), step_(step) {}

    void operator()(int k, __m256i rows) {
        if (k & 1) {
            const __m256i bytes = _mm256_packus_epi16(previous_, rows);
            StoreRowPairs(dst_, step_, k - 1, _mm256_shuffle_epi8(bytes, Load(t_.byteOrder)));
        }
        previous_ = rows;
    }

private:
    const Tables& t_;
    Ipp8u* dst_;
    ptrdiff_t step_;
    __m256i previous_ = _mm256_setzero_si256();
};

// Rows to bytes, two registers at a time; the packing clips to the byte range by itself.
template <bool kReaderBlock = false>
void InverseIntraRows(const Ipp16s* src, Ipp8u* dst, ptrdiff_t step) {
    const Tables& t = OpaqueTables();
    ByteRows bytes(t, dst, step);
    InverseRows<kReaderBlock>(t, src, [&](int k, __m256i rows) { bytes(k, rows); });
}

void InverseIntraAvx2(const Ipp16s* src, Ipp8u* dst, int dstStep) {
    InverseIntraRows(src, dst, dstStep);
}

void InverseIntraInRangeAvx2(const Ipp16s* src, Ipp8u* dst, int dstStep) {
    InverseIntraRows<true>(src, dst, dstStep);
}

void InverseIntraCornersAvx2(Ipp16s dc, Ipp16s last, Ipp8u* dst, int dstStep) {
    const Tables& t = OpaqueTables();
    const __m256i dcLanes = _mm256_set1_epi32(static_cast<uint16_t>(dc));
    const __m256i lastLanes = _mm256_set1_epi32(
        static_cast<Ipp32s>((static_cast<Ipp32u>(static_cast<uint16_t>(last)) << 16) |
                            static_cast<Ipp32u>(kFirstRounding)));
    CornerValueRows(t, dcLanes, lastLanes, ByteRows(t, dst, dstStep));
}

}  // namespace

}  // namespace idct

void InitInverseDctKernelsAvx2(idct::KernelTable& table) {
    table.inverse = idct::InverseAvx2;
    table.inverseIntra = idct::InverseIntraAvx2;
    table.inverseInRange = idct::InverseInRangeAvx2;
    table.inverseIntraInRange = idct::InverseIntraInRangeAvx2;
    table.inverseIntraCorners = idct::InverseIntraCornersAvx2;
    table.inverseTwo = idct::InverseTwoAvx2;
}

}  // namespace d2u

#else

namespace d2u {
void InitInverseDctKernelsAvx2(idct::KernelTable&) {}
}  // namespace d2u

#endif
