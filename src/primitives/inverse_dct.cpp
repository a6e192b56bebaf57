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

void InverseIntraScalar(const Ipp16s* src, Ipp8u* dst, int dstStep) {
    Ipp32s out[8][8];
    Transform(src, out);
    for (int y = 0; y < 8; ++y) {
        Ipp8u* row = dst + static_cast<ptrdiff_t>(dstStep) * y;
        for (int x = 0; x < 8; ++x) {
            row[x] = static_cast<Ipp8u>(out[y][x] < 0 ? 0 : (out[y][x] > 255 ? 255 : out[y][x]));
        }
    }
}

}  // namespace
}  // namespace idct

namespace {

void InverseTwoThroughBlock(Ipp16s* block, Ipp16s, int, Ipp16s last, Ipp16s* dst, int dstStep);
void InverseIntraCornersThroughBlock(Ipp16s dc, Ipp16s last, Ipp8u* dst, int dstStep);

// Saturating an input in range changes nothing: the in-range entries are the others here.
constexpr idct::KernelTable kScalarKernels = {
    idct::InverseScalar, idct::InverseIntraScalar, InverseTwoThroughBlock,
    idct::InverseScalar, idct::InverseIntraScalar, InverseIntraCornersThroughBlock};

idct::KernelTable table = kScalarKernels;

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

}  // namespace

void InitInverseDctKernels(KernelLevel level) {
    table = kScalarKernels;
    if (level >= KernelLevel::kSse2) InitInverseDctKernelsSse2(table);
    if (level >= KernelLevel::kAvx2) InitInverseDctKernelsAvx2(table);
}

IppStatus ippiDCT8x8Inv_16s_C1R(const Ipp16s* pSrc, Ipp16s* pDst, int dstStep) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    table.inverse(pSrc, pDst, dstStep);
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
