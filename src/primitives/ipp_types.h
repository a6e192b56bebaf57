// Types and constants shared by the signal-processing kernels. The kernels keep the names and
// argument orders of the primitives library the decoder was designed against; they are this
// project's own code.
#pragma once

#include <cstdint>

namespace d2u {

using Ipp8u = uint8_t;
using Ipp16s = int16_t;
using Ipp32s = int32_t;
using Ipp32u = uint32_t;

using IppStatus = int32_t;
constexpr IppStatus ippStsNoErr = 0;
constexpr IppStatus ippStsNullPtrErr = -8;
constexpr IppStatus ippStsSizeErr = -6;
constexpr IppStatus ippStsBadArgErr = -5;
constexpr IppStatus ippStsMemAllocErr = -9;
constexpr IppStatus ippStsVLCErr = -191;
constexpr IppStatus ippStsStepErr = -14;
constexpr IppStatus ippStsResizeFactorErr = -23;
constexpr IppStatus ippStsInterpolationErr = -22;

struct IppiSize {
    int32_t width;
    int32_t height;
};

struct IppiRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// Interpolation modes of ippiResize_8u_C1R.
constexpr int IPPI_INTER_NN = 1;
constexpr int IPPI_INTER_LINEAR = 2;
constexpr int IPPI_INTER_CUBIC = 4;

}  // namespace d2u
