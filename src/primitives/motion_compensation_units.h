// The motion compensation kernels for SSE2 and wider: one source for the SSE2 and the AVX2
// versions, each file compiling it for its own instruction set (everything here has internal
// linkage, so that the two versions never mix). Same results as the scalar kernels, bit for
// bit; every load covers exactly the samples that the scalar version reads.
//
// A block goes as units of 16 bytes: one row of a 16-wide block, or two rows of an 8-wide one
// (the upper row in the low half). Each unit is predicted and stored at once, so nothing of the
// block is kept on the stack. The half-sample mode is a template argument, so the row loops hold
// no decisions. The vertical modes carry what they computed of the row below a unit on to the
// next unit rather than loading it again: its samples (FH), or its horizontal pair averages (HH).
// The four-sample average of the HH mode stays in bytes: the average of two rounded-up pair
// averages is one too high exactly when both pairs and the two averages had odd sums, which one
// correction bit undoes. With AVX2 the luma blocks of the macroblock kernels go as 32-byte units of
// two rows, the same steps on twice the samples. The Windows DLL runs them too: its compiler
// realigns the stack of functions that spill 256-bit values and spills them with unaligned moves.
#pragma once

#include <emmintrin.h>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <cstddef>
#include <type_traits>

#include "platform/inline_hints.h"
#include "primitives/motion_compensation.h"

namespace d2u {
namespace mc {
namespace {

// ---- Units of reference rows.

// The unit at p: the row p (16-wide) or the rows p and p + step (8-wide). The last unit of a
// vertical mode reads only its upper row (`upperOnly`), the row below the block.
template <int kWidth>
D2U_ALWAYS_INLINE __m128i LoadUnit(const Ipp8u* p, ptrdiff_t step, bool upperOnly = false) {
    if (kWidth == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i upper = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    if (upperOnly) return upper;
    return _mm_castps_si128(
        _mm_loadh_pi(_mm_castsi128_ps(upper), reinterpret_cast<const __m64*>(p + step)));
}

template <int kWidth>
D2U_ALWAYS_INLINE void StoreUnit(Ipp8u* p, ptrdiff_t step, __m128i value) {
    if (kWidth == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), value);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), value);
        _mm_storeh_pi(reinterpret_cast<__m64*>(p + step), _mm_castsi128_ps(value));
    }
}

// The lower row of an 8-wide unit (high half of `upper`) over the upper row of the next one
// (low half of `lower`): the unit one row down.
D2U_ALWAYS_INLINE __m128i Straddle(__m128i upper, __m128i lower) {
    return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(upper), _mm_castsi128_pd(lower), 1));
}

// ---- What the vertical modes keep of a unit, and how two such units one row apart combine.

// FH: the samples.
struct Samples {
    __m128i value;

    template <int kWidth>
    static D2U_ALWAYS_INLINE Samples Load(const Ipp8u* p, ptrdiff_t step, bool upperOnly) {
        return {LoadUnit<kWidth>(p, step, upperOnly)};
    }
    static D2U_ALWAYS_INLINE Samples Straddle(const Samples& upper, const Samples& lower) {
        return {mc::Straddle(upper.value, lower.value)};
    }
    static D2U_ALWAYS_INLINE __m128i Predict(const Samples& top, const Samples& bottom) {
        return _mm_avg_epu8(top.value, bottom.value);
    }
};

// HH: the rounded-up averages of the horizontal pairs, and their odd bits.
struct PairAverages {
    __m128i average;
    __m128i odd;

    template <int kWidth>
    static D2U_ALWAYS_INLINE PairAverages Load(const Ipp8u* p, ptrdiff_t step, bool upperOnly) {
        const __m128i a = LoadUnit<kWidth>(p, step, upperOnly);
        const __m128i b = LoadUnit<kWidth>(p + 1, step, upperOnly);
        return {_mm_avg_epu8(a, b), _mm_xor_si128(a, b)};
    }
    static D2U_ALWAYS_INLINE PairAverages Straddle(const PairAverages& upper,
                                                   const PairAverages& lower) {
        return {mc::Straddle(upper.average, lower.average), mc::Straddle(upper.odd, lower.odd)};
    }
    // (a + b + c + d + 2) >> 2 per byte.
    static D2U_ALWAYS_INLINE __m128i Predict(const PairAverages& top, const PairAverages& bottom) {
        const __m128i odd = _mm_or_si128(top.odd, bottom.odd);
        const __m128i correction = _mm_and_si128(
            _mm_and_si128(odd, _mm_xor_si128(top.average, bottom.average)), _mm_set1_epi8(1));
        return _mm_sub_epi8(_mm_avg_epu8(top.average, bottom.average), correction);
    }
};

template <int kWidth>
constexpr int RowsPerUnit() {
    return kWidth == 16 ? 1 : 2;
}

// ---- The predictions of the units of a block, top to bottom, at one mode.

// FF and HF: each unit on its own.
template <int kWidth, int kMode>
class HorizontalPredictor {
public:
    HorizontalPredictor(const Ipp8u* ref, ptrdiff_t step) : ref_(ref), step_(step) {}

    D2U_ALWAYS_INLINE __m128i Next(bool) {
        const __m128i a = LoadUnit<kWidth>(ref_, step_);
        __m128i value = a;
        if (kMode == IPPVC_MC_APX_HF) value = _mm_avg_epu8(a, LoadUnit<kWidth>(ref_ + 1, step_));
        ref_ += RowsPerUnit<kWidth>() * step_;
        return value;
    }

private:
    const Ipp8u* ref_;
    ptrdiff_t step_;
};

// FH and HH: each unit with the one a row below; `last` marks the last unit of the block, whose
// next unit holds only the row below the block.
template <int kWidth, typename Rows>
class VerticalPredictor {
public:
    VerticalPredictor(const Ipp8u* ref, ptrdiff_t step)
        : ref_(ref), step_(step), top_(Rows::template Load<kWidth>(ref, step, false)) {}

    D2U_ALWAYS_INLINE __m128i Next(bool last) {
        ref_ += RowsPerUnit<kWidth>() * step_;
        const Rows next = Rows::template Load<kWidth>(ref_, step_, last);
        const Rows bottom = kWidth == 16 ? next : Rows::Straddle(top_, next);
        const __m128i value = Rows::Predict(top_, bottom);
        top_ = next;
        return value;
    }

private:
    const Ipp8u* ref_;
    ptrdiff_t step_;
    Rows top_;
};

template <int kWidth, int kMode>
struct PredictorFor {
    using Type = HorizontalPredictor<kWidth, kMode>;
};

template <int kWidth>
struct PredictorFor<kWidth, IPPVC_MC_APX_FH> {
    using Type = VerticalPredictor<kWidth, Samples>;
};

template <int kWidth>
struct PredictorFor<kWidth, IPPVC_MC_APX_HH> {
    using Type = VerticalPredictor<kWidth, PairAverages>;
};

template <int kWidth, int kMode>
using Predictor = typename PredictorFor<kWidth, kMode>::Type;

// ---- Residual and stores.

// The residual rows of a unit widened and added to the prediction, clipped to bytes. With AVX2
// the sixteen sums take one register.
template <int kWidth>
D2U_ALWAYS_INLINE __m128i AddResidual(__m128i prediction, const Ipp16s* residual, ptrdiff_t step) {
    const Ipp16s* second =
        kWidth == 16
            ? residual + 8
            : reinterpret_cast<const Ipp16s*>(reinterpret_cast<const Ipp8u*>(residual) + step);
#if defined(__AVX2__)
    const __m256i rows = kWidth == 16
                             ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(residual))
                             : _mm256_inserti128_si256(
                                   _mm256_castsi128_si256(
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), 1);
    const __m256i sums = _mm256_adds_epi16(_mm256_cvtepu8_epi16(prediction), rows);
    return _mm_packus_epi16(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
#else
    const __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_adds_epi16(_mm_unpacklo_epi8(prediction, zero),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual)));
    __m128i high = _mm_adds_epi16(_mm_unpackhi_epi8(prediction, zero),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)));
    return _mm_packus_epi16(low, high);
#endif
}

// Each unit of `predict` (a callable taking the last-unit flag), plus the residual if there is
// one, stored. The block loops stay loops: unrolled, the kernels' mode variants took several
// times the instruction cache, which the decoder's other hot code needs as much.
template <int kWidth, int kHeight, typename Predict>
D2U_ALWAYS_INLINE void StoreBlock(Predict predict, const Ipp16s* residual, ptrdiff_t residualStep,
                                  Ipp8u* dst, ptrdiff_t dstStep) {
    constexpr int kRows = RowsPerUnit<kWidth>();
    const Ipp8u* residualBytes = reinterpret_cast<const Ipp8u*>(residual);
    D2U_ROLLED
    for (int y = 0; y < kHeight; y += kRows) {
        __m128i value = predict(y + kRows == kHeight);
        if (residual) {
            value = AddResidual<kWidth>(value, reinterpret_cast<const Ipp16s*>(residualBytes),
                                        residualStep);
            residualBytes += kRows * residualStep;
        }
        StoreUnit<kWidth>(dst, dstStep, value);
        dst += kRows * dstStep;
    }
}

#if defined(__AVX2__)
// ---- 16-wide blocks of the macroblock kernels with AVX2: two rows to a unit (the upper row in
// the low half). The same steps as the 16-byte units, half as many of them.

D2U_ALWAYS_INLINE __m256i LoadRowPair(const Ipp8u* p, ptrdiff_t step) {
    const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + step));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(upper), lower, 1);
}

// The unit at p; the last unit of a vertical mode reads only its upper row, the row below the
// block (its high half is zero).
D2U_ALWAYS_INLINE __m256i LoadWideUnit(const Ipp8u* p, ptrdiff_t step, bool upperOnly) {
    if (upperOnly)
        return _mm256_inserti128_si256(_mm256_setzero_si256(),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 0);
    return LoadRowPair(p, step);
}

// The lower row of `upper` over the upper row of `lower`: the unit one row down.
D2U_ALWAYS_INLINE __m256i StraddleWide(__m256i upper, __m256i lower) {
    return _mm256_permute2x128_si256(upper, lower, 0x21);
}

// Where the units of a 16x16 block are read: two rows of it each.
class LumaUnits {
public:
    LumaUnits(const Ipp8u* p, ptrdiff_t step) : p_(p), step_(step) {}

    // The unit `offset` samples right of the current one; with `upperOnly`, its upper row.
    D2U_ALWAYS_INLINE __m256i Load(int offset, bool upperOnly) const {
        return LoadWideUnit(p_ + offset, step_, upperOnly);
    }
    D2U_ALWAYS_INLINE void Next() { p_ += 2 * step_; }
    static D2U_ALWAYS_INLINE __m256i Straddle(__m256i upper, __m256i lower) {
        return StraddleWide(upper, lower);
    }

private:
    const Ipp8u* p_;
    ptrdiff_t step_;
};

// Where the units of the two 8x8 chroma blocks are read, both at once: two rows of Cb in the
// low half (the upper row in its low eight bytes), the same two rows of Cr in the high half.
class ChromaUnits {
public:
    ChromaUnits(const Ipp8u* cb, ptrdiff_t cbStep, const Ipp8u* cr, ptrdiff_t crStep)
        : cb_(cb), cr_(cr), cbStep_(cbStep), crStep_(crStep) {}

    D2U_ALWAYS_INLINE __m256i Load(int offset, bool upperOnly) const {
        return _mm256_inserti128_si256(
            _mm256_castsi128_si256(LoadUnit<8>(cb_ + offset, cbStep_, upperOnly)),
            LoadUnit<8>(cr_ + offset, crStep_, upperOnly), 1);
    }
    D2U_ALWAYS_INLINE void Next() {
        cb_ += 2 * cbStep_;
        cr_ += 2 * crStep_;
    }
    // The lower rows of `upper` over the upper rows of `lower`, in each half.
    static D2U_ALWAYS_INLINE __m256i Straddle(__m256i upper, __m256i lower) {
        return _mm256_castpd_si256(
            _mm256_shuffle_pd(_mm256_castsi256_pd(upper), _mm256_castsi256_pd(lower), 5));
    }

private:
    const Ipp8u* cb_;
    const Ipp8u* cr_;
    ptrdiff_t cbStep_;
    ptrdiff_t crStep_;
};

// What the vertical modes keep of a unit: the samples (FH) or the rounded-up averages of the
// horizontal pairs and their odd bits (HH).
template <int kMode, typename Units>
struct WideRows {
    __m256i average;
    __m256i odd;

    static D2U_ALWAYS_INLINE WideRows Load(const Units& units, bool upperOnly) {
        const __m256i a = units.Load(0, upperOnly);
        if (kMode == IPPVC_MC_APX_FH) return {a, a};
        const __m256i b = units.Load(1, upperOnly);
        return {_mm256_avg_epu8(a, b), _mm256_xor_si256(a, b)};
    }
    static D2U_ALWAYS_INLINE WideRows Straddle(const WideRows& upper, const WideRows& lower) {
        return {Units::Straddle(upper.average, lower.average),
                Units::Straddle(upper.odd, lower.odd)};
    }
    // (a + b + 1) >> 1 (FH) or (a + b + c + d + 2) >> 2 (HH) per byte, as PairAverages.
    static D2U_ALWAYS_INLINE __m256i Predict(const WideRows& top, const WideRows& bottom) {
        const __m256i average = _mm256_avg_epu8(top.average, bottom.average);
        if (kMode == IPPVC_MC_APX_FH) return average;
        const __m256i odd = _mm256_or_si256(top.odd, bottom.odd);
        const __m256i correction =
            _mm256_and_si256(_mm256_and_si256(odd, _mm256_xor_si256(top.average, bottom.average)),
                             _mm256_set1_epi8(1));
        return _mm256_sub_epi8(average, correction);
    }
};

template <int kMode, typename Units = LumaUnits, bool kVertical = (kMode & IPPVC_MC_APX_FH) != 0>
class WidePredictor {
public:
    explicit WidePredictor(const Units& units) : units_(units) {}

    D2U_ALWAYS_INLINE __m256i Next(bool) {
        const __m256i a = units_.Load(0, false);
        __m256i value = a;
        if (kMode == IPPVC_MC_APX_HF) value = _mm256_avg_epu8(a, units_.Load(1, false));
        units_.Next();
        return value;
    }

private:
    Units units_;
};

template <int kMode, typename Units>
class WidePredictor<kMode, Units, true> {
public:
    explicit WidePredictor(const Units& units)
        : units_(units), top_(WideRows<kMode, Units>::Load(units, false)) {}

    D2U_ALWAYS_INLINE __m256i Next(bool last) {
        using Rows = WideRows<kMode, Units>;
        units_.Next();
        const Rows next = Rows::Load(units_, last);
        const __m256i value = Rows::Predict(top_, Rows::Straddle(top_, next));
        top_ = next;
        return value;
    }

private:
    Units units_;
    WideRows<kMode, Units> top_;
};

// A 16x16 block from the units of `predict`, plus the residual rows (16 samples each) if there
// are any.
template <typename Predict>
D2U_ALWAYS_INLINE void StoreWideBlock(Predict predict, const Ipp16s* residual,
                                      ptrdiff_t residualStep, Ipp8u* dst, ptrdiff_t dstStep) {
    const Ipp8u* residualBytes = reinterpret_cast<const Ipp8u*>(residual);
    D2U_ROLLED
    for (int y = 0; y < 16; y += 2) {
        __m256i value = predict(y == 14);
        if (residual) {
            const __m256i upper = _mm256_adds_epi16(
                _mm256_cvtepu8_epi16(_mm256_castsi256_si128(value)),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(residualBytes)));
            const __m256i lower = _mm256_adds_epi16(
                _mm256_cvtepu8_epi16(_mm256_extracti128_si256(value, 1)),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(residualBytes + residualStep)));
            // The packing interleaves the rows' halves by 128-bit lane; the permute puts them back.
            value = _mm256_permute4x64_epi64(_mm256_packus_epi16(upper, lower), 0xD8);
            residualBytes += 2 * residualStep;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(value));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + dstStep),
                         _mm256_extracti128_si256(value, 1));
        dst += 2 * dstStep;
    }
}

template <int kMode>
void WideSingleAtMode(const Ipp8u* ref, ptrdiff_t refStep, const Ipp16s* residual,
                      ptrdiff_t residualStep, Ipp8u* dst, ptrdiff_t dstStep) {
    WidePredictor<kMode> predictor(LumaUnits(ref, refStep));
    StoreWideBlock([&](bool last) { return predictor.Next(last); }, residual, residualStep, dst,
                   dstStep);
}

// The average of `forward`'s units with the prediction at kMode, plus the residual rows.
template <int kMode>
void WideAverageAtMode(const Ipp8u* ref, ptrdiff_t refStep, const __m256i* forward,
                       const Ipp16s* residual, ptrdiff_t residualStep, Ipp8u* dst,
                       ptrdiff_t dstStep) {
    WidePredictor<kMode> predictor(LumaUnits(ref, refStep));
    StoreWideBlock([&](bool last) { return _mm256_avg_epu8(*forward++, predictor.Next(last)); },
                   residual, residualStep, dst, dstStep);
}

// A chroma area without residual, for a macroblock whose other chroma block has one.
struct alignas(32) NoChromaResidual {
    Ipp16s rows[64];
};
constexpr NoChromaResidual kNoChromaResidual = {};

// The Cb and Cr blocks from the chroma units of `predict`, plus their residual rows (eight
// samples each, 16 bytes apart) where either block has them.
template <typename Predict>
D2U_ALWAYS_INLINE void StoreChromaBlocks(Predict predict, const MacroblockTarget& target) {
    Ipp8u* cb = target.plane[1];
    Ipp8u* cr = target.plane[2];
    const ptrdiff_t cbStep = target.step[1];
    const ptrdiff_t crStep = target.step[2];
    const Ipp16s* cbResidual = target.residual[1];
    const Ipp16s* crResidual = target.residual[2];
    const bool residual = cbResidual || crResidual;
    if (!cbResidual) cbResidual = kNoChromaResidual.rows;
    if (!crResidual) crResidual = kNoChromaResidual.rows;
    D2U_ROLLED
    for (int y = 0; y < 8; y += 2) {
        const __m256i value = predict(y == 6);
        __m128i upper;  // the upper rows: Cb in the low half, Cr in the high half
        __m128i lower;
        if (residual) {
            const __m256i cbSums =
                _mm256_adds_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(value)),
                                  _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cbResidual)));
            const __m256i crSums =
                _mm256_adds_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(value, 1)),
                                  _mm256_loadu_si256(reinterpret_cast<const __m256i*>(crResidual)));
            // The packing goes by 128-bit lane: the upper rows of both blocks, then the lower.
            const __m256i bytes = _mm256_packus_epi16(cbSums, crSums);
            upper = _mm256_castsi256_si128(bytes);
            lower = _mm256_extracti128_si256(bytes, 1);
            cbResidual += 16;
            crResidual += 16;
        } else {
            const __m128i cbRows = _mm256_castsi256_si128(value);
            const __m128i crRows = _mm256_extracti128_si256(value, 1);
            upper = _mm_unpacklo_epi64(cbRows, crRows);
            lower = _mm_unpackhi_epi64(cbRows, crRows);
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), upper);
        _mm_storeh_pi(reinterpret_cast<__m64*>(cr), _mm_castsi128_ps(upper));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + cbStep), lower);
        _mm_storeh_pi(reinterpret_cast<__m64*>(cr + crStep), _mm_castsi128_ps(lower));
        cb += 2 * cbStep;
        cr += 2 * crStep;
    }
}

D2U_ALWAYS_INLINE ChromaUnits ChromaOf(const MacroblockReference& reference) {
    return ChromaUnits(reference.plane[1], reference.step[1], reference.plane[2],
                       reference.step[2]);
}
#endif

// ---- The kernels.

// body(std::integral_constant<int, mode>) for the half-sample mode `mode`.
template <typename Body>
D2U_ALWAYS_INLINE void AtMode(Ipp32s mode, Body body) {
    switch (mode & 12) {
        case IPPVC_MC_APX_HF:
            return body(std::integral_constant<int, IPPVC_MC_APX_HF>());
        case IPPVC_MC_APX_FH:
            return body(std::integral_constant<int, IPPVC_MC_APX_FH>());
        case IPPVC_MC_APX_HH:
            return body(std::integral_constant<int, IPPVC_MC_APX_HH>());
        default:
            return body(std::integral_constant<int, IPPVC_MC_APX_FF>());
    }
}

template <int kWidth, int kHeight, int kMode>
void SingleAtMode(const Ipp8u* ref, ptrdiff_t refStep, const Ipp16s* residual,
                  ptrdiff_t residualStep, Ipp8u* dst, ptrdiff_t dstStep) {
    Predictor<kWidth, kMode> predictor(ref, refStep);
    StoreBlock<kWidth, kHeight>([&](bool last) { return predictor.Next(last); }, residual,
                                residualStep, dst, dstStep);
}

template <int kWidth, int kHeight>
void PredictSingleSimd(const Ipp8u* ref, Ipp32s refStep, const Ipp16s* residual,
                       Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s mode) {
    AtMode(mode, [&](auto m) {
        SingleAtMode<kWidth, kHeight, decltype(m)::value>(ref, refStep, residual, residualStep, dst,
                                                          dstStep);
    });
}

// Bidirectional prediction goes in two steps: the forward prediction of a block unit by unit into
// a buffer, then the backward one averaged with it. Each direction takes one of four kernels
// instead of one of sixteen mode pairs; B pictures use most pairs, and the smaller set of kernels
// stays in the instruction cache.

// The units of a block from `predictor`, into `units`.
template <typename Predictor, typename Unit, int kUnits>
D2U_ALWAYS_INLINE void PredictUnits(Predictor predictor, Unit (&units)[kUnits]) {
    D2U_ROLLED
    for (int i = 0; i < kUnits; ++i) units[i] = predictor.Next(i == kUnits - 1);
}

// The average of `forward`'s units with the prediction at kMode, plus the residual rows.
template <int kWidth, int kHeight, int kMode>
void AverageAtMode(const Ipp8u* ref, ptrdiff_t refStep, const __m128i* forward,
                   const Ipp16s* residual, ptrdiff_t residualStep, Ipp8u* dst, ptrdiff_t dstStep) {
    Predictor<kWidth, kMode> predictor(ref, refStep);
    StoreBlock<kWidth, kHeight>(
        [&](bool last) { return _mm_avg_epu8(*forward++, predictor.Next(last)); }, residual,
        residualStep, dst, dstStep);
}

template <int kWidth, int kHeight>
void PredictBidirectionalSimd(const Ipp8u* refF, Ipp32s refStepF, Ipp32s modeF, const Ipp8u* refB,
                              Ipp32s refStepB, Ipp32s modeB, const Ipp16s* residual,
                              Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep) {
    __m128i forward[kHeight / RowsPerUnit<kWidth>()];
    AtMode(modeF, [&](auto mode) {
        PredictUnits(Predictor<kWidth, decltype(mode)::value>(refF, refStepF), forward);
    });
    AtMode(modeB, [&](auto mode) {
        AverageAtMode<kWidth, kHeight, decltype(mode)::value>(refB, refStepB, forward, residual,
                                                              residualStep, dst, dstStep);
    });
}

// The chroma blocks of a macroblock share their mode: one decision for both.
void PredictMacroblockSimd(const MacroblockReference& reference, const MacroblockTarget& target) {
    AtMode(reference.lumaMode, [&](auto mode) {
#if defined(__AVX2__)
        WideSingleAtMode<decltype(mode)::value>(reference.plane[0], reference.step[0],
                                                target.residual[0], 32, target.plane[0],
                                                target.step[0]);
#else
        SingleAtMode<16, 16, decltype(mode)::value>(reference.plane[0], reference.step[0],
                                                           target.residual[0], 32, target.plane[0],
                                                           target.step[0]);
#endif
    });
    AtMode(reference.chromaMode, [&](auto mode) {
#if defined(__AVX2__)
        WidePredictor<decltype(mode)::value, ChromaUnits> predictor(ChromaOf(reference));
        StoreChromaBlocks([&](bool last) { return predictor.Next(last); }, target);
#else
        for (int k = 1; k < 3; ++k)
            SingleAtMode<8, 8, decltype(mode)::value>(reference.plane[k], reference.step[k],
                                                             target.residual[k], 16,
                                                             target.plane[k], target.step[k]);
#endif
    });
}

void PredictMacroblockBidirectionalSimd(const MacroblockReference& forward,
                                        const MacroblockReference& backward,
                                        const MacroblockTarget& target) {
#if defined(__AVX2__)
    __m256i luma[8];
    __m256i chroma[4];
#else
    __m128i luma[16];
    __m128i chroma[2][4];
#endif
    AtMode(forward.lumaMode, [&](auto mode) {
        constexpr int kMode = decltype(mode)::value;
#if defined(__AVX2__)
        PredictUnits(WidePredictor<kMode>(LumaUnits(forward.plane[0], forward.step[0])), luma);
#else
        PredictUnits(Predictor<16, kMode>(forward.plane[0], forward.step[0]), luma);
#endif
    });
    AtMode(backward.lumaMode, [&](auto mode) {
#if defined(__AVX2__)
        WideAverageAtMode<decltype(mode)::value>(backward.plane[0], backward.step[0], luma,
                                                 target.residual[0], 32, target.plane[0],
                                                 target.step[0]);
#else
        AverageAtMode<16, 16, decltype(mode)::value>(backward.plane[0], backward.step[0],
                                                            luma, target.residual[0], 32,
                                                            target.plane[0], target.step[0]);
#endif
    });
#if defined(__AVX2__)
    AtMode(forward.chromaMode, [&](auto mode) {
        PredictUnits(WidePredictor<decltype(mode)::value, ChromaUnits>(ChromaOf(forward)), chroma);
    });
    AtMode(backward.chromaMode, [&](auto mode) {
        WidePredictor<decltype(mode)::value, ChromaUnits> predictor(ChromaOf(backward));
        const __m256i* units = chroma;
        StoreChromaBlocks(
            [&](bool last) { return _mm256_avg_epu8(*units++, predictor.Next(last)); }, target);
    });
#else
    AtMode(forward.chromaMode, [&](auto mode) {
        for (int k = 1; k < 3; ++k)
            PredictUnits(Predictor<8, decltype(mode)::value>(forward.plane[k], forward.step[k]),
                         chroma[k - 1]);
    });
    AtMode(backward.chromaMode, [&](auto mode) {
        for (int k = 1; k < 3; ++k)
            AverageAtMode<8, 8, decltype(mode)::value>(backward.plane[k], backward.step[k],
                                                       chroma[k - 1], target.residual[k], 16,
                                                       target.plane[k], target.step[k]);
    });
#endif
}

// Every kernel of the table, in the instruction set this file is compiled for.
void FillSimdKernels(KernelTable& table) {
    table.macroblock = PredictMacroblockSimd;
    table.macroblockBidirectional = PredictMacroblockBidirectionalSimd;
    table.single[k16x16] = PredictSingleSimd<16, 16>;
    table.single[k16x8] = PredictSingleSimd<16, 8>;
    table.single[k8x8] = PredictSingleSimd<8, 8>;
    table.single[k8x4] = PredictSingleSimd<8, 4>;
    table.bidirectional[k16x16] = PredictBidirectionalSimd<16, 16>;
    table.bidirectional[k16x8] = PredictBidirectionalSimd<16, 8>;
    table.bidirectional[k8x8] = PredictBidirectionalSimd<8, 8>;
    table.bidirectional[k8x4] = PredictBidirectionalSimd<8, 4>;
}

}  // namespace
}  // namespace mc
}  // namespace d2u
