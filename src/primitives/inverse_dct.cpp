#include "primitives/inverse_dct.h"

#include <cstddef>
#include <cstdint>

namespace d2u {
namespace idct {
namespace {

// The 8-point transform matrix of one pass: [sample][frequency].
struct Basis {
    Ipp32s at[8][8];
    explicit constexpr Basis(const Weights& w)
        : at{{w.w4, w.w1, w.w2, w.w3, w.w4, w.w5, w.w6, w.w7},
             {w.w4, w.w3, w.w6, -w.w7, -w.w4, -w.w1, -w.w2, -w.w5},
             {w.w4, w.w5, -w.w6, -w.w1, -w.w4, w.w7, w.w2, w.w3},
             {w.w4, w.w7, -w.w2, -w.w5, w.w4, w.w3, -w.w6, -w.w1},
             {w.w4, -w.w7, -w.w2, w.w5, w.w4, -w.w3, -w.w6, w.w1},
             {w.w4, -w.w5, -w.w6, w.w1, -w.w4, -w.w7, w.w2, -w.w3},
             {w.w4, -w.w3, w.w6, w.w7, -w.w4, w.w1, -w.w2, w.w5},
             {w.w4, -w.w1, w.w2, -w.w3, w.w4, -w.w5, w.w6, -w.w7}} {}
};
constexpr Basis kFirstBasis(kFirstPass);
constexpr Basis kSecondBasis(kSecondPass);

Ipp32s SaturateInput(Ipp16s value) {
    return value < kInputMin ? kInputMin : (value > kInputMax ? kInputMax : value);
}

Ipp32s Saturate16(Ipp32s value) {
    return value < -32768 ? -32768 : (value > 32767 ? 32767 : value);
}

// The transform without storing: out[y][x] for y, x in 0..7.
void Transform(const Ipp16s* src, Ipp32s out[8][8]) {
    Ipp32s columns[8][8];  // [y][u]
    for (int u = 0; u < 8; ++u) {
        for (int y = 0; y < 8; ++y) {
            Ipp32s sum = kFirstRounding;
            for (int v = 0; v < 8; ++v) sum += kFirstBasis.at[y][v] * SaturateInput(src[v * 8 + u]);
            columns[y][u] = Saturate16(sum >> kFirstShift);
        }
    }
    for (int y = 0; y < 8; ++y) {
        columns[y][0] = Saturate16(columns[y][0] + kSecondRounding);
        for (int x = 0; x < 8; ++x) {
            Ipp32s sum = 0;
            for (int u = 0; u < 8; ++u) sum += kSecondBasis.at[x][u] * columns[y][u];
            out[y][x] = sum >> kSecondShift;
        }
    }
}

void InverseScalar(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    Ipp32s out[8][8];
    Transform(src, out);
    for (int y = 0; y < 8; ++y) {
        Ipp16s* row = reinterpret_cast<Ipp16s*>(reinterpret_cast<Ipp8u*>(dst) +
                                                static_cast<ptrdiff_t>(dstStep) * y);
        for (int x = 0; x < 8; ++x) row[x] = static_cast<Ipp16s>(out[y][x]);
    }
}

void InverseClipScalar(const Ipp16s* src, Ipp8u* dst, int dstStep, int addVal, int clipDown,
                       int clipUp) {
    Ipp32s out[8][8];
    Transform(src, out);
    for (int y = 0; y < 8; ++y) {
        Ipp8u* row = dst + static_cast<ptrdiff_t>(dstStep) * y;
        for (int x = 0; x < 8; ++x) {
            Ipp32s value = out[y][x] + addVal;
            value = value < clipDown ? clipDown : (value > clipUp ? clipUp : value);
            row[x] = static_cast<Ipp8u>(value);
        }
    }
}

void InverseIntraScalar(const Ipp16s* src, Ipp8u* dst, int dstStep) {
    InverseClipScalar(src, dst, dstStep, 0, 0, 255);
}

}  // namespace
}  // namespace idct

namespace {

idct::KernelTable table;

// Without a kernel of its own, the block goes whole through the installed transform.
void InverseTwoThroughBlock(Ipp16s* block, Ipp16s, int, Ipp16s last, Ipp16s* dst, int dstStep) {
    block[63] = last;
    table.inverse(block, dst, dstStep);
}

// Without a kernel of its own, the corner block is built and goes through the installed
// transform.
void InverseIntraCornersThroughBlock(Ipp16s dc, Ipp16s last, Ipp8u* dst, int dstStep) {
    alignas(32) Ipp16s block[64] = {};
    block[0] = dc;
    block[63] = last;
    table.inverseIntra(block, dst, dstStep);
}

void InstallInverseDctKernels(KernelLevel level) {
    table.inverse = idct::InverseScalar;
    table.inverseClip = idct::InverseClipScalar;
    table.inverseIntra = idct::InverseIntraScalar;
    table.inverseTwo = InverseTwoThroughBlock;
    table.inverseInRange = nullptr;
    table.inverseIntraInRange = nullptr;
    table.inverseIntraCorners = InverseIntraCornersThroughBlock;
    if (level != KernelLevel::kScalar) idct::InstallSse2Kernels(table);
    if (level == KernelLevel::kAvx2) idct::InstallAvx2Kernels(table);
    // Saturating an input in range changes nothing.
    if (!table.inverseInRange) table.inverseInRange = table.inverse;
    if (!table.inverseIntraInRange) table.inverseIntraInRange = table.inverseIntra;
}

}  // namespace

D2U_REGISTER_KERNEL_FAMILY(InstallInverseDctKernels);

IppStatus ippiDCT8x8Inv_16s_C1R(const Ipp16s* pSrc, Ipp16s* pDst, int dstStep) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    table.inverse(pSrc, pDst, dstStep);
    return ippStsNoErr;
}

IppStatus ippiDCT8x8InvLSClip_16s8u_C1R(const Ipp16s* pSrc, Ipp8u* pDst, int dstStep, int addVal,
                                        Ipp8u clipDown, Ipp8u clipUp) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    if (clipDown > clipUp) return ippStsBadArgErr;
    if (addVal < -32768 || addVal > 32767) return ippStsBadArgErr;
    table.inverseClip(pSrc, pDst, dstStep, addVal, clipDown, clipUp);
    return ippStsNoErr;
}

IppStatus ippiDCT8x8InvIntra_16s8u_C1R(const Ipp16s* pSrc, Ipp8u* pDst, int dstStep) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    table.inverseIntra(pSrc, pDst, dstStep);
    return ippStsNoErr;
}

namespace idct {

void InverseTwoCoefficients(Ipp16s* block, Ipp16s value, int position, Ipp16s last, Ipp16s* dst,
                            int dstStep) {
    table.inverseTwo(block, value, position, last, dst, dstStep);
}

void Inverse(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    table.inverse(src, dst, dstStep);
}

void InverseIntra(const Ipp16s* src, Ipp8u* dst, int dstStep) {
    table.inverseIntra(src, dst, dstStep);
}

void InverseInRange(const Ipp16s* src, Ipp16s* dst, int dstStep) {
    table.inverseInRange(src, dst, dstStep);
}

void InverseIntraInRange(const Ipp16s* src, Ipp8u* dst, int dstStep) {
    table.inverseIntraInRange(src, dst, dstStep);
}

void InverseIntraCorners(Ipp16s dc, Ipp16s last, Ipp8u* dst, int dstStep) {
    table.inverseIntraCorners(dc, last, dst, dstStep);
}

}  // namespace idct
}  // namespace d2u
