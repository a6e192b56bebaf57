#include "primitives/yuv_to_rgb.h"

#include <cstddef>

#include "primitives/kernel_dispatch.h"
#include "primitives/yuv_to_rgb_row.h"

namespace d2u {
namespace {

Ipp8u ClampToByte(int32_t value) {
    return static_cast<Ipp8u>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

int32_t ChromaTerm(int32_t coefficientU, int32_t u, int32_t coefficientV, int32_t v) {
    return (coefficientU * u + coefficientV * v + kYuvRgbRound) >> kYuvRgbShift;
}

void ConvertYuvRowSse2ThenScalar(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                                 int32_t width) {
    int32_t done = ConvertYuvRowSse2(y, u, v, bgrx, width);
    ConvertYuvRowScalar(y + done, u + done / 2, v + done / 2,
                        bgrx + 4 * static_cast<ptrdiff_t>(done), width - done);
}

void ConvertYuvRowAvx2ThenNarrower(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                                   int32_t width) {
    int32_t done = ConvertYuvRowAvx2(y, u, v, bgrx, width);
    ConvertYuvRowSse2ThenScalar(y + done, u + done / 2, v + done / 2,
                                bgrx + 4 * static_cast<ptrdiff_t>(done), width - done);
}

// Constant-initialised, so usable before the family is installed.
YuvRowConverter convertRow = &ConvertYuvRowScalar;

void InstallYuvToRgbKernels(KernelLevel level) {
    convertRow = &ConvertYuvRowScalar;
    if (level >= KernelLevel::kSse2) convertRow = &ConvertYuvRowSse2ThenScalar;
    if (level >= KernelLevel::kAvx2) convertRow = &ConvertYuvRowAvx2ThenNarrower;
}

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
IppStatus ConvertPicture(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst, int dstStep,
                         IppiSize roiSize, int chromaRowShift) {
    IppStatus status = CheckArguments(pSrc, srcStep, pDst, dstStep, roiSize);
    if (status != ippStsNoErr) return status;
    for (int32_t row = 0; row < roiSize.height; ++row) {
        ptrdiff_t chromaRow = row >> chromaRowShift;
        convertRow(pSrc[0] + static_cast<ptrdiff_t>(row) * srcStep[0],
                   pSrc[1] + chromaRow * srcStep[1], pSrc[2] + chromaRow * srcStep[2],
                   pDst + static_cast<ptrdiff_t>(row) * dstStep, roiSize.width);
    }
    return ippStsNoErr;
}

}  // namespace

D2U_REGISTER_KERNEL_FAMILY(InstallYuvToRgbKernels);

void ConvertYuvRowScalar(const Ipp8u* y, const Ipp8u* u, const Ipp8u* v, Ipp8u* bgrx,
                         int32_t width) {
    for (int32_t x = 0; x < width; ++x, bgrx += 4) {
        int32_t cb = u[x >> 1] - 128;
        int32_t cr = v[x >> 1] - 128;
        int32_t luma = y[x];
        bgrx[0] = ClampToByte(luma + ChromaTerm(kBlueFromU, cb, 0, cr));
        bgrx[1] = ClampToByte(luma + ChromaTerm(kGreenFromU, cb, kGreenFromV, cr));
        bgrx[2] = ClampToByte(luma + ChromaTerm(0, cb, kRedFromV, cr));
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
