// Plane resizing: nearest, linear and cubic interpolation.
#pragma once

#include "primitives/ipp_types.h"
#include "primitives/kernel_dispatch.h"

namespace d2u {

// Scales the source region by xFactor, yFactor into the destination region (dstRoiSize),
// which is filled whole. Destination sample (x, y) takes the source at
// ((x + 0.5) / xFactor - 0.5, (y + 0.5) / yFactor - 0.5) + the region's origin, clamped to the
// region.
IppStatus ippiResize_8u_C1R(const Ipp8u* pSrc, IppiSize srcSize, int srcStep, IppiRect srcRoi,
                            Ipp8u* pDst, int dstStep, IppiSize dstRoiSize, double xFactor,
                            double yFactor, int interpolation);

}  // namespace d2u
