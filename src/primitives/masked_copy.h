// Masked copies: pixels whose mask byte is non-zero are copied from source to destination, all
// other destination pixels stay as they were. One, three and four 8-bit channels per pixel.
#pragma once

#include "primitives/ipp_types.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

// Steps are bytes from one row to the next; the destination step may be negative (bottom-up
// images), the others must cover a row. Returns ippStsNullPtrErr, ippStsSizeErr (empty region)
// or ippStsStepErr without touching the destination.
IppStatus ippiCopy_8u_C1MR(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize, const Ipp8u* pMask, int maskStep);
IppStatus ippiCopy_8u_C3MR(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize, const Ipp8u* pMask, int maskStep);
IppStatus ippiCopy_8u_C4MR(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize, const Ipp8u* pMask, int maskStep);

// One row of a masked copy: `width` pixels of the given channel count.
using MaskedCopyRow = void (*)(const Ipp8u* source, Ipp8u* destination, const Ipp8u* mask,
                               int32_t width);

struct MaskedCopyKernels {
    MaskedCopyRow channels1;
    MaskedCopyRow channels3;
    MaskedCopyRow channels4;
};

void InitMaskedCopyKernels(KernelLevel level);
// Fills the entries that the SSE2 versions provide; nothing where the build has none.
void InitMaskedCopyKernelsSse2(MaskedCopyKernels& kernels);

}  // namespace d2u
