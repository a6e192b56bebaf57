// SSE2 versions of the motion compensation kernels; same results as the scalar ones, bit for
// bit. Every load covers exactly the samples that the scalar version reads.
#include "primitives/motion_compensation.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstddef>

namespace d2u {
namespace mc {
namespace {

template <int kWidth>
__m128i LoadRow(const Ipp8u* p) {
    if (kWidth == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// (a + b + 1 - roundDown) >> 1 per byte.
__m128i Average2(__m128i a, __m128i b, __m128i roundDownBits) {
    __m128i up = _mm_avg_epu8(a, b);
    return _mm_sub_epi8(up, _mm_and_si128(_mm_xor_si128(a, b), roundDownBits));
}

__m128i Sum4Half(__m128i a, __m128i b, __m128i c, __m128i d, __m128i rounding, bool high) {
    __m128i zero = _mm_setzero_si128();
    auto widen = [&](__m128i v) {
        return high ? _mm_unpackhi_epi8(v, zero) : _mm_unpacklo_epi8(v, zero);
    };
    __m128i sum =
        _mm_add_epi16(_mm_add_epi16(widen(a), widen(b)), _mm_add_epi16(widen(c), widen(d)));
    return _mm_srli_epi16(_mm_add_epi16(sum, rounding), 2);
}

// The predicted bytes of the kHeight rows of a block (the low kWidth bytes of each are
// meaningful), with the half-sample mode decided once for the block.
template <int kWidth, int kHeight>
void PredictBlock(const Ipp8u* ref, Ipp32s step, Ipp32s mode, int roundDown, __m128i out[]) {
    const __m128i roundDownBits = _mm_set1_epi8(static_cast<char>(roundDown));
    auto at = [ref, step](int y) { return ref + static_cast<ptrdiff_t>(step) * y; };
    switch (mode & 12) {
        case IPPVC_MC_APX_HF:
            for (int y = 0; y < kHeight; ++y) {
                out[y] =
                    Average2(LoadRow<kWidth>(at(y)), LoadRow<kWidth>(at(y) + 1), roundDownBits);
            }
            break;
        case IPPVC_MC_APX_FH: {
            __m128i above = LoadRow<kWidth>(at(0));
            for (int y = 0; y < kHeight; ++y) {
                __m128i below = LoadRow<kWidth>(at(y + 1));
                out[y] = Average2(above, below, roundDownBits);
                above = below;
            }
            break;
        }
        case IPPVC_MC_APX_HH: {
            const __m128i rounding = _mm_set1_epi16(static_cast<short>(2 - roundDown));
            __m128i a = LoadRow<kWidth>(at(0));
            __m128i b = LoadRow<kWidth>(at(0) + 1);
            for (int y = 0; y < kHeight; ++y) {
                __m128i c = LoadRow<kWidth>(at(y + 1));
                __m128i d = LoadRow<kWidth>(at(y + 1) + 1);
                __m128i low = Sum4Half(a, b, c, d, rounding, false);
                __m128i high = kWidth == 16 ? Sum4Half(a, b, c, d, rounding, true) : low;
                out[y] = _mm_packus_epi16(low, high);
                a = c;
                b = d;
            }
            break;
        }
        default:
            for (int y = 0; y < kHeight; ++y) out[y] = LoadRow<kWidth>(at(y));
            break;
    }
}

// Adds the residual row to the predicted bytes, clips and stores kWidth bytes.
template <int kWidth>
void AddResidualAndStore(__m128i prediction, const Ipp16s* residual, Ipp8u* out) {
    __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_adds_epi16(_mm_unpacklo_epi8(prediction, zero),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual)));
    if (kWidth == 16) {
        __m128i high =
            _mm_adds_epi16(_mm_unpackhi_epi8(prediction, zero),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(low, high));
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(low, low));
    }
}

const Ipp16s* ResidualRow(const Ipp16s* residual, Ipp32s step, int row) {
    return reinterpret_cast<const Ipp16s*>(reinterpret_cast<const Ipp8u*>(residual) +
                                           static_cast<ptrdiff_t>(step) * row);
}

template <int kWidth, int kHeight>
void PredictSingleSse2(const Ipp8u* ref, Ipp32s refStep, const Ipp16s* residual,
                       Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep, Ipp32s mode,
                       Ipp32s roundControl) {
    __m128i prediction[kHeight];
    PredictBlock<kWidth, kHeight>(ref, refStep, mode, roundControl & 1, prediction);
    for (int y = 0; y < kHeight; ++y) {
        AddResidualAndStore<kWidth>(prediction[y], ResidualRow(residual, residualStep, y),
                                    dst + static_cast<ptrdiff_t>(dstStep) * y);
    }
}

template <int kWidth, int kHeight>
void PredictBidirectionalSse2(const Ipp8u* refF, Ipp32s refStepF, Ipp32s modeF, const Ipp8u* refB,
                              Ipp32s refStepB, Ipp32s modeB, const Ipp16s* residual,
                              Ipp32s residualStep, Ipp8u* dst, Ipp32s dstStep,
                              Ipp32s roundControl) {
    __m128i forward[kHeight];
    __m128i backward[kHeight];
    PredictBlock<kWidth, kHeight>(refF, refStepF, modeF, roundControl & 1, forward);
    PredictBlock<kWidth, kHeight>(refB, refStepB, modeB, roundControl & 1, backward);
    for (int y = 0; y < kHeight; ++y) {
        AddResidualAndStore<kWidth>(_mm_avg_epu8(forward[y], backward[y]),
                                    ResidualRow(residual, residualStep, y),
                                    dst + static_cast<ptrdiff_t>(dstStep) * y);
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
