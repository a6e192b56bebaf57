// Colour conversion of decoded pictures into 32-bit pixels.
//
// pSrc holds the Y, U (Cb) and V (Cr) planes with their row steps in srcStep. Each destination
// pixel is four bytes: blue, green, red of the picture's colour, the byte order of 32-bit
// bitmaps, followed by a fourth byte that is left as it was. With u = Cb - 128, v = Cr - 128:
//     R = Y + 1.140 v,  G = Y - 0.394 u - 0.581 v,  B = Y + 2.032 u,  each clamped to 0..255.
// Chroma is subsampled horizontally by two in both kernels, and vertically by two in the 4:2:0
// kernel. Rows are written top to bottom, dstStep bytes apart.
#pragma once

#include "primitives/ipp_types.h"

namespace d2u {

IppStatus ippiYUV420ToRGB_8u_P3AC4R(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst,
                                    int dstStep, IppiSize roiSize);
IppStatus ippiYUV422ToRGB_8u_P3AC4R(const Ipp8u* const pSrc[3], const int srcStep[3], Ipp8u* pDst,
                                    int dstStep, IppiSize roiSize);

}  // namespace d2u
