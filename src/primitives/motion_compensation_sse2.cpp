// SSE2 versions of the motion compensation kernels; same results as the scalar ones, bit for
// bit. Every load covers exactly the samples that the scalar version reads.
//
// A block goes as units of 16 bytes: one row of a 16-wide block, or two rows of an 8-wide one
// (the upper row in the low half). Each unit is predicted and stored at once, so nothing of the
// block is kept on the stack. The four-sample average of the HH mode stays in bytes: the
// average of two rounded-up pair averages is one too high exactly when both pairs and the two
// averages had odd sums, which one correction bit undoes.
#include "primitives/motion_compensation.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstddef>

#if defined(__GNUC__)
#define D2U_MC_INLINE inline __attribute__((always_inline))
#else
#define D2U_MC_INLINE inline
#endif

namespace d2u {
namespace mc {
namespace {

// The unit at p: the row p (16-wide) or the rows p and p + step (8-wide).
template <int kWidth>
D2U_MC_INLINE __m128i LoadUnit(const Ipp8u* p, ptrdiff_t step) {
    if (kWidth == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + step)));
}

template <int kWidth>
D2U_MC_INLINE void StoreUnit(Ipp8u* p, ptrdiff_t step, __m128i value) {
    if (kWidth == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), value);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), value);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + step), _mm_unpackhi_epi64(value, value));
    }
}

// (a + b + 1 - roundDown) >> 1 per byte; roundDownBits holds roundDown in every byte.
D2U_MC_INLINE __m128i Average2(__m128i a, __m128i b, __m128i roundDownBits) {
    __m128i up = _mm_avg_epu8(a, b);
    return _mm_sub_epi8(up, _mm_and_si128(_mm_xor_si128(a, b), roundDownBits));
}

// (a + b + c + d + 2) >> 2 per byte.
D2U_MC_INLINE __m128i Average4Up(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i ab = _mm_avg_epu8(a, b);
    __m128i cd = _mm_avg_epu8(c, d);
    __m128i odd = _mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
    __m128i correction = _mm_and_si128(_mm_and_si128(odd, _mm_xor_si128(ab, cd)), one);
    return _mm_sub_epi8(_mm_avg_epu8(ab, cd), correction);
}

// (a + b + c + d + 1) >> 2 per byte, through 16-bit sums.
D2U_MC_INLINE __m128i Average4Down(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi16(1);
    __m128i low =
        _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                      _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
    __m128i high =
        _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                      _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
    low = _mm_srli_epi16(_mm_add_epi16(low, rounding), 2);
    high = _mm_srli_epi16(_mm_add_epi16(high, rounding), 2);
    return _mm_packus_epi16(low, high);
}

// One unit of prediction at the given half-sample mode (a compile-time constant).
template <int kWidth, int kMode>
D2U_MC_INLINE __m128i PredictUnit(const Ipp8u* p, ptrdiff_t step, __m128i roundDownBits,
                                  bool roundDown) {
    __m128i a = LoadUnit<kWidth>(p, step);
    if (kMode == IPPVC_MC_APX_FF) return a;
    if (kMode == IPPVC_MC_APX_HF) return Average2(a, LoadUnit<kWidth>(p + 1, step), roundDownBits);
    __m128i c = LoadUnit<kWidth>(p + step, step);
    if (kMode == IPPVC_MC_APX_FH) return Average2(a, c, roundDownBits);
    __m128i b = LoadUnit<kWidth>(p + 1, step);
    __m128i d = LoadUnit<kWidth>(p + step + 1, step);
    return roundDown ? Average4Down(a, b, c, d) : Average4Up(a, b, c, d);
}

// The residual rows of a unit widened and added to the prediction, clipped to bytes.
template <int kWidth>
D2U_MC_INLINE __m128i AddResidual(__m128i prediction, const Ipp16s* residual, ptrdiff_t step) {
    const __m128i zero = _mm_setzero_si128();
    const Ipp16s* second =
        kWidth == 16
            ? residual + 8
            : reinterpret_cast<const Ipp16s*>(reinterpret_cast<const Ipp8u*>(residual) + step);
    __m128i low = _mm_adds_epi16(_mm_unpacklo_epi8(prediction, zero),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual)));
    __m128i high = _mm_adds_epi16(_mm_unpackhi_epi8(prediction, zero),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)));
    return _mm_packus_epi16(low, high);
}

template <int kWidth>
constexpr int RowsPerUnit() {
    return kWidth == 16 ? 1 : 2;
}

template <int kWidth, int kHeight, int kMode>
void SingleAtMode(const Ipp8u* ref, ptrdiff_t refStep, const Ipp16s* residual,
                  ptrdiff_t residualStep, Ipp8u* dst, ptrdiff_t dstStep, bool roundDown) {
    constexpr int kRows = RowsPerUnit<kWidth>();
    const __m128i roundDownBits = _mm_set1_epi8(static_cast<char>(roundDown ? 1 : 0));
    const Ipp8u* residualBytes = reinterpret_cast<const Ipp8u*>(residual);
    for (int y = 0; y < kHeight; y += kRows) {
        __m128i value = PredictUnit<kWidth, kMode>(ref, refStep, roundDownBits, roundDown);
        if (residual) {
            value = AddResidual<kWidth>(value, reinterpret_cast<const Ipp16s*>(residualBytes),
                                        residualStep);
            residualBytes += kRows * residualStep;
        }
        StoreUnit<kWidth>(dst, dstStep, value);
        ref += kRows * refStep;
        dst += kRows * dstStep;
    }
}

template <int kWidth, int kHeight>
void PredictSingleSse2(const Ipp8u* ref, Ipp32s refStep, const Ipp16s* residual,
                       Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s mode,
                       Ipp32s roundControl) {
    const bool roundDown = (roundControl & 1) != 0;
    switch (mode & 12) {
        case IPPVC_MC_APX_HF:
            return SingleAtMode<kWidth, kHeight, IPPVC_MC_APX_HF>(
                ref, refStep, residual, residualStep, dst, dstStep, roundDown);
        case IPPVC_MC_APX_FH:
            return SingleAtMode<kWidth, kHeight, IPPVC_MC_APX_FH>(
                ref, refStep, residual, residualStep, dst, dstStep, roundDown);
        case IPPVC_MC_APX_HH:
            return SingleAtMode<kWidth, kHeight, IPPVC_MC_APX_HH>(
                ref, refStep, residual, residualStep, dst, dstStep, roundDown);
        default:
            return SingleAtMode<kWidth, kHeight, IPPVC_MC_APX_FF>(
                ref, refStep, residual, residualStep, dst, dstStep, roundDown);
    }
}

template <int kWidth, int kHeight, int kModeF, int kModeB>
void BidirectionalAtModes(const Ipp8u* refF, ptrdiff_t refStepF, const Ipp8u* refB,
                          ptrdiff_t refStepB, const Ipp16s* residual, ptrdiff_t residualStep,
                          Ipp8u* dst, ptrdiff_t dstStep, bool roundDown) {
    constexpr int kRows = RowsPerUnit<kWidth>();
    const __m128i roundDownBits = _mm_set1_epi8(static_cast<char>(roundDown ? 1 : 0));
    const Ipp8u* residualBytes = reinterpret_cast<const Ipp8u*>(residual);
    for (int y = 0; y < kHeight; y += kRows) {
        __m128i forward = PredictUnit<kWidth, kModeF>(refF, refStepF, roundDownBits, roundDown);
        __m128i backward = PredictUnit<kWidth, kModeB>(refB, refStepB, roundDownBits, roundDown);
        __m128i value = _mm_avg_epu8(forward, backward);
        if (residual) {
            value = AddResidual<kWidth>(value, reinterpret_cast<const Ipp16s*>(residualBytes),
                                        residualStep);
            residualBytes += kRows * residualStep;
        }
        StoreUnit<kWidth>(dst, dstStep, value);
        refF += kRows * refStepF;
        refB += kRows * refStepB;
        dst += kRows * dstStep;
    }
}

template <int kWidth, int kHeight, int kModeF>
void BidirectionalAtMode(const Ipp8u* refF, ptrdiff_t refStepF, const Ipp8u* refB,
                         ptrdiff_t refStepB, Ipp32s modeB, const Ipp16s* residual,
                         ptrdiff_t residualStep, Ipp8u* dst, ptrdiff_t dstStep, bool roundDown) {
    switch (modeB & 12) {
        case IPPVC_MC_APX_HF:
            return BidirectionalAtModes<kWidth, kHeight, kModeF, IPPVC_MC_APX_HF>(
                refF, refStepF, refB, refStepB, residual, residualStep, dst, dstStep, roundDown);
        case IPPVC_MC_APX_FH:
            return BidirectionalAtModes<kWidth, kHeight, kModeF, IPPVC_MC_APX_FH>(
                refF, refStepF, refB, refStepB, residual, residualStep, dst, dstStep, roundDown);
        case IPPVC_MC_APX_HH:
            return BidirectionalAtModes<kWidth, kHeight, kModeF, IPPVC_MC_APX_HH>(
                refF, refStepF, refB, refStepB, residual, residualStep, dst, dstStep, roundDown);
        default:
            return BidirectionalAtModes<kWidth, kHeight, kModeF, IPPVC_MC_APX_FF>(
                refF, refStepF, refB, refStepB, residual, residualStep, dst, dstStep, roundDown);
    }
}

template <int kWidth, int kHeight>
void PredictBidirectionalSse2(const Ipp8u* refF, Ipp32s refStepF, Ipp32s modeF, const Ipp8u* refB,
                              Ipp32s refStepB, Ipp32s modeB, const Ipp16s* residual,
                              Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep,
                              Ipp32s roundControl) {
    const bool roundDown = (roundControl & 1) != 0;
    switch (modeF & 12) {
        case IPPVC_MC_APX_HF:
            return BidirectionalAtMode<kWidth, kHeight, IPPVC_MC_APX_HF>(
                refF, refStepF, refB, refStepB, modeB, residual, residualStep, dst, dstStep,
                roundDown);
        case IPPVC_MC_APX_FH:
            return BidirectionalAtMode<kWidth, kHeight, IPPVC_MC_APX_FH>(
                refF, refStepF, refB, refStepB, modeB, residual, residualStep, dst, dstStep,
                roundDown);
        case IPPVC_MC_APX_HH:
            return BidirectionalAtMode<kWidth, kHeight, IPPVC_MC_APX_HH>(
                refF, refStepF, refB, refStepB, modeB, residual, residualStep, dst, dstStep,
                roundDown);
        default:
            return BidirectionalAtMode<kWidth, kHeight, IPPVC_MC_APX_FF>(
                refF, refStepF, refB, refStepB, modeB, residual, residualStep, dst, dstStep,
                roundDown);
    }
}

}  // namespace

void InstallSse2Kernels(KernelTable& table) {
    table.single[k16x16] = PredictSingleSse2<16, 16>;
    table.single[k16x8] = PredictSingleSse2<16, 8>;
    table.single[k8x8] = PredictSingleSse2<8, 8>;
    table.single[k8x4] = PredictSingleSse2<8, 4>;
    table.bidirectional[k16x16] = PredictBidirectionalSse2<16, 16>;
    table.bidirectional[k16x8] = PredictBidirectionalSse2<16, 8>;
    table.bidirectional[k8x8] = PredictBidirectionalSse2<8, 8>;
    table.bidirectional[k8x4] = PredictBidirectionalSse2<8, 4>;
}

}  // namespace mc
}  // namespace d2u

#else

namespace d2u {
namespace mc {
void InstallSse2Kernels(KernelTable&) {}
}  // namespace mc
}  // namespace d2u

#endif
