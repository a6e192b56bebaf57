#include "primitives/masked_copy.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace d2u {
namespace {

template <int kChannels>
void MaskedCopyRowScalar(const Ipp8u* source, Ipp8u* destination, const Ipp8u* mask,
                         int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        if (mask[x] == 0) continue;
        std::memcpy(destination + x * kChannels, source + x * kChannels, kChannels);
    }
}

MaskedCopyKernels kernels = {MaskedCopyRowScalar<1>, MaskedCopyRowScalar<3>,
                             MaskedCopyRowScalar<4>};

bool CoversRow(int step, int32_t rowBytes) {
    int64_t magnitude = step < 0 ? -static_cast<int64_t>(step) : step;
    return magnitude >= rowBytes;
}

IppStatus MaskedCopy(MaskedCopyRow row, int32_t channels, const Ipp8u* pSrc, int srcStep,
                     Ipp8u* pDst, int dstStep, IppiSize roiSize, const Ipp8u* pMask, int maskStep) {
    if (!pSrc || !pDst || !pMask) return ippStsNullPtrErr;
    if (roiSize.width <= 0 || roiSize.height <= 0) return ippStsSizeErr;
    int32_t rowBytes = roiSize.width * channels;
    if (srcStep < rowBytes || maskStep < roiSize.width || !CoversRow(dstStep, rowBytes)) {
        return ippStsStepErr;
    }
    for (int32_t y = 0; y < roiSize.height; ++y) {
        row(pSrc + static_cast<ptrdiff_t>(y) * srcStep, pDst + static_cast<ptrdiff_t>(y) * dstStep,
            pMask + static_cast<ptrdiff_t>(y) * maskStep, roiSize.width);
    }
    return ippStsNoErr;
}

}  // namespace

IppStatus ippiCopy_8u_C1MR(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize, const Ipp8u* pMask, int maskStep) {
    return MaskedCopy(kernels.channels1, 1, pSrc, srcStep, pDst, dstStep, roiSize, pMask, maskStep);
}

IppStatus ippiCopy_8u_C3MR(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize, const Ipp8u* pMask, int maskStep) {
    return MaskedCopy(kernels.channels3, 3, pSrc, srcStep, pDst, dstStep, roiSize, pMask, maskStep);
}

IppStatus ippiCopy_8u_C4MR(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize, const Ipp8u* pMask, int maskStep) {
    return MaskedCopy(kernels.channels4, 4, pSrc, srcStep, pDst, dstStep, roiSize, pMask, maskStep);
}

void InitMaskedCopyKernels(KernelLevel level) {
    kernels = {MaskedCopyRowScalar<1>, MaskedCopyRowScalar<3>, MaskedCopyRowScalar<4>};
    if (level >= KernelLevel::kSse2) InitMaskedCopyKernelsSse2(kernels);
}

}  // namespace d2u
