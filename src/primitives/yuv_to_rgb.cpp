#include "primitives/yuv_to_rgb.h"

#include <cstddef>

namespace d2u {
namespace {

Ipp8u ClampToByte(int32_t value) {
    return static_cast<Ipp8u>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

int32_t ChromaTerm(int32_t coefficientU, int32_t u, int32_t coefficientV, int32_t v) {
    return (coefficientU * u + coefficientV * v + kYuvRgbRound) >> kYuvRgbShift;
}

void ConvertYuvRowsSse2ThenScalar(const YuvRows& rows, int32_t width) {
    int32_t done = ConvertYuvRowsSse2(rows, width);
    ConvertYuvRowsScalar(AdvanceYuvRows(rows, done), width - done);
}

void ConvertYuvRowsAvx2ThenNarrower(const YuvRows& rows, int32_t width) {
    int32_t done = ConvertYuvRowsAvx2(rows, width);
    ConvertYuvRowsSse2ThenScalar(AdvanceYuvRows(rows, done), width - done);
}

YuvToRgbKernels kernels = {ConvertYuvRowsScalar};

IppStatus CheckArguments(const Ipp8u* const pSrc[3], const int srcStep[3], const Ipp8u* pDst,
                         int dstStep, IppiSize roiSize) {
    if (!pSrc || !srcStep || !pSrc[0] || !pSrc[1] || !pSrc[2] || !pDst) return ippStsNullPtrErr;
    if (roiSize.width <= 0 || roiSize.height <= 0) return ippStsSizeErr;
    int64_t chromaWidth = (static_cast<int64_t>(roiSize.width) + 1) / 2;
    if (srcStep[0] < roiSize.width || srcStep[1] < chromaWidth || srcStep[2] < chromaWidth ||
        dstStep < 4 * static_cast<int64_t>(roiSize.width)) {
        return ippStsStepErr;
    }
    return ippStsNoErr;
}

// chromaRowShift: 1 when chroma has half the rows (4:2:0), 0 when it has all of them (4:2:2).
// The luma rows that share a chroma row are converted together, so that its chroma terms are
// worked out once.
IppStatus ConvertPicture(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst, int dstStep,
                         IppiSize roiSize, int chromaRowShift) {
    IppStatus status = CheckArguments(pSrc, srcStep, pDst, dstStep, roiSize);
    if (status != ippStsNoErr) return status;
    const int32_t rowsPerChromaRow = 1 << chromaRowShift;
    for (int32_t row = 0; row < roiSize.height; row += rowsPerChromaRow) {
        const ptrdiff_t chromaRow = row >> chromaRowShift;
        const int32_t count =
            roiSize.height - row < rowsPerChromaRow ? roiSize.height - row : rowsPerChromaRow;
        YuvRows rows{};
        rows.u = pSrc[1] + chromaRow * srcStep[1];
        rows.v = pSrc[2] + chromaRow * srcStep[2];
        rows.count = count;
        for (int32_t k = 0; k < 2; ++k) {
            // A lone last row stands in for the missing second one, which is not converted.
            const ptrdiff_t lumaRow = row + (k < count ? k : 0);
            rows.y[k] = pSrc[0] + lumaRow * srcStep[0];
            rows.bgrx[k] = pDst + lumaRow * dstStep;
        }
        kernels.convertRows(rows, roiSize.width);
    }
    return ippStsNoErr;
}

}  // namespace

void InitYuvToRgbKernels(KernelLevel level) {
    kernels = {ConvertYuvRowsScalar};
    if (level >= KernelLevel::kSse2) kernels = {ConvertYuvRowsSse2ThenScalar};
    if (level >= KernelLevel::kAvx2) kernels = {ConvertYuvRowsAvx2ThenNarrower};
}

YuvRows AdvanceYuvRows(const YuvRows& rows, int32_t pixels) {
    YuvRows advanced = rows;
    for (int32_t k = 0; k < 2; ++k) {
        advanced.y[k] += pixels;
        advanced.bgrx[k] += 4 * static_cast<ptrdiff_t>(pixels);
    }
    advanced.u += pixels / 2;
    advanced.v += pixels / 2;
    return advanced;
}

void ConvertYuvRowsScalar(const YuvRows& rows, int32_t width) {
    for (int32_t k = 0; k < rows.count; ++k) {
        const Ipp8u* y = rows.y[k];
        Ipp8u* bgrx = rows.bgrx[k];
        for (int32_t x = 0; x < width; ++x, bgrx += 4) {
            int32_t cb = rows.u[x >> 1] - 128;
            int32_t cr = rows.v[x >> 1] - 128;
            int32_t luma = y[x];
            bgrx[0] = ClampToByte(luma + ChromaTerm(kBlueFromU, cb, 0, cr));
            bgrx[1] = ClampToByte(luma + ChromaTerm(kGreenFromU, cb, kGreenFromV, cr));
            bgrx[2] = ClampToByte(luma + ChromaTerm(0, cb, kRedFromV, cr));
        }
    }
}

IppStatus ippiYUV420ToRGB_8u_P3AC4R(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst,
                                    int dstStep, IppiSize roiSize) {
    return ConvertPicture(pSrc, srcStep, pDst, dstStep, roiSize, 1);
}

IppStatus ippiYUV422ToRGB_8u_P3AC4R(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst,
                                    int dstStep, IppiSize roiSize) {
    return ConvertPicture(pSrc, srcStep, pDst, dstStep, roiSize, 0);
}

}  // namespace d2u
