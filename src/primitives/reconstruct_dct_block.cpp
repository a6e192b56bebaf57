#include "primitives/reconstruct_dct_block.h"

#include "primitives/dequantise.h"
#include "primitives/vlc_huffman_table.h"

namespace d2u {
namespace {

constexpr int kEscapeRunBits = 6;
constexpr int kMpeg2EscapeLevelBits = 12;
constexpr int kMpeg1EscapeLevelBits = 8;
// DC predictors of valid streams stay within a few thousand; this only keeps garbage finite.
constexpr Ipp32s kPredictorLimit = 1 << 16;

enum class Escape { kMpeg1, kMpeg2 };

// Two's complement value of the low `bits` bits.
Ipp32s SignExtend(Ipp32u value, int bits) {
    Ipp32s half = 1 << (bits - 1);
    return static_cast<Ipp32s>(value & VlcLowMask(bits)) - ((value & half) ? 2 * half : 0);
}

Ipp32s ReadEscapedLevel(Ipp32u** ppBitStream, int* pOffset, Escape escape) {
    if (escape == Escape::kMpeg2) {
        return SignExtend(VlcReadBits(ppBitStream, pOffset, kMpeg2EscapeLevelBits),
                          kMpeg2EscapeLevelBits);
    }
    Ipp32s level =
        SignExtend(VlcReadBits(ppBitStream, pOffset, kMpeg1EscapeLevelBits), kMpeg1EscapeLevelBits);
    if (level == 0) return static_cast<Ipp32s>(VlcReadBits(ppBitStream, pOffset, 8));
    if (level == -128) return static_cast<Ipp32s>(VlcReadBits(ppBitStream, pOffset, 8)) - 256;
    return level;
}

// Reads run/level codewords up to the end of block into levels (raster positions), the first
// at scan index `start` + run. `first` decodes the first codeword, `others` the rest.
IppStatus ReadCoefficients(Ipp32u** ppBitStream, int* pOffset, const IppVCHuffmanSpec_32s& first,
                           const IppVCHuffmanSpec_32s& others, const Ipp32u* scan, int start,
                           Escape escape, Ipp16s levels[64], Ipp32s* last) {
    const IppVCHuffmanSpec_32s* table = &first;
    int index = start - 1;
    for (;;) {
        int length = 0;
        const VlcSlot* slot = VlcFindCodeword(*table, *ppBitStream, *pOffset, &length);
        if (!slot) return ippStsVLCErr;
        VlcSkipBits(ppBitStream, pOffset, length);
        Ipp32s run = slot->run;
        Ipp32s level = slot->value;
        if (run == kVlcEndOfBlock) break;
        if (run == kVlcEscape) {
            run = static_cast<Ipp32s>(VlcReadBits(ppBitStream, pOffset, kEscapeRunBits));
            level = ReadEscapedLevel(ppBitStream, pOffset, escape);
        }
        index += run + 1;
        if (index > 63) return ippStsVLCErr;
        levels[scan[index] & 63] = static_cast<Ipp16s>(level);
        table = &others;
    }
    *last = index < start ? start - 1 : index;
    return ippStsNoErr;
}

// dct_dc_differential of `size` bits.
Ipp32s ReadDcDifferential(Ipp32u** ppBitStream, int* pOffset, Ipp32s size) {
    if (size == 0) return 0;
    Ipp32s bits = static_cast<Ipp32s>(VlcReadBits(ppBitStream, pOffset, size));
    return bits < (1 << (size - 1)) ? bits - (1 << size) + 1 : bits;
}

Ipp32s LimitPredictor(Ipp32s value) {
    return value < -kPredictorLimit ? -kPredictorLimit
                                    : (value > kPredictorLimit ? kPredictorLimit : value);
}

bool ValidPosition(Ipp32u** ppBitStream, int* pOffset) {
    return ppBitStream && *ppBitStream && pOffset && *pOffset >= 0 && *pOffset <= 31;
}

// Updates the DC predictor with the next DC difference, scaled by `differenceScale`.
IppStatus ReadIntraDc(Ipp32u** ppBitStream, int* pOffset, const IppVCHuffmanSpec_32s& dcTable,
                      Ipp32s differenceScale, Ipp32s* predictor) {
    Ipp32s size = 0;
    Ipp32s unused = 0;
    IppStatus status = VCHuffmanDecodeRunLevel(ppBitStream, pOffset, &unused, &size, &dcTable);
    if (status != ippStsNoErr) return status;
    if (size < 0 || size > 11) return ippStsVLCErr;
    Ipp32s difference = ReadDcDifferential(ppBitStream, pOffset, size);
    *predictor = LimitPredictor(*predictor + difference * differenceScale);
    return ippStsNoErr;
}

IppStatus ReconstructIntra(Ipp32u** ppBitStream, int* pOffset, const IppVCHuffmanSpec_32s* dcTable,
                           const IppVCHuffmanSpec_32s* acTable, const Ipp32u* scan, int quantiser,
                           const uint16_t* matrix, Ipp32s* predictor, Ipp32s dcShift,
                           dequant::Mode mode, Ipp16s* dst, Ipp32s* dstSize) {
    if (!ValidPosition(ppBitStream, pOffset)) return ippStsNullPtrErr;
    if (!dcTable || !acTable || !scan || !matrix || !predictor || !dst) return ippStsNullPtrErr;
    if (dcShift < 0 || dcShift > 3) return ippStsBadArgErr;
    bool mpeg1 = mode == dequant::kIntraMpeg1;
    IppStatus status = ReadIntraDc(ppBitStream, pOffset, *dcTable, mpeg1 ? 8 : 1, predictor);
    if (status != ippStsNoErr) return status;
    Ipp16s levels[64] = {};
    Ipp32s last = 0;
    status = ReadCoefficients(ppBitStream, pOffset, *acTable, *acTable, scan, 1,
                              mpeg1 ? Escape::kMpeg1 : Escape::kMpeg2, levels, &last);
    if (status != ippStsNoErr) return status;
    dequant::Dequantise(mode, levels, matrix, quantiser, *predictor * (1 << dcShift), dst);
    if (dstSize) *dstSize = last;
    return ippStsNoErr;
}

IppStatus ReconstructNonIntra(Ipp32u** ppBitStream, int* pOffset,
                              const IppVCHuffmanSpec_32s* firstTable,
                              const IppVCHuffmanSpec_32s* otherTable, const Ipp32u* scan,
                              int quantiser, const uint16_t* matrix, dequant::Mode mode,
                              Ipp16s* dst, Ipp32s* dstSize) {
    if (!ValidPosition(ppBitStream, pOffset)) return ippStsNullPtrErr;
    if (!firstTable || !otherTable || !scan || !matrix || !dst) return ippStsNullPtrErr;
    Ipp16s levels[64] = {};
    Ipp32s last = 0;
    Escape escape = mode == dequant::kNonIntraMpeg1 ? Escape::kMpeg1 : Escape::kMpeg2;
    IppStatus status = ReadCoefficients(ppBitStream, pOffset, *firstTable, *otherTable, scan, 0,
                                        escape, levels, &last);
    if (status != ippStsNoErr) return status;
    dequant::Dequantise(mode, levels, matrix, quantiser, 0, dst);
    if (dstSize) *dstSize = last;
    return ippStsNoErr;
}

}  // namespace

IppStatus ippiReconstructDCTBlockIntra_MPEG1_32s(Ipp32u** ppBitStream, int* pOffset,
                                                 const IppVCHuffmanSpec_32s* pDCSizeTable,
                                                 const IppVCHuffmanSpec_32s* pACTable,
                                                 const Ipp32u* pScanMatrix, int QP,
                                                 const uint16_t* pQPMatrix, Ipp32s* pDCPred,
                                                 Ipp16s* pDstBlock, Ipp32s* pDstSize) {
    return ReconstructIntra(ppBitStream, pOffset, pDCSizeTable, pACTable, pScanMatrix, QP,
                            pQPMatrix, pDCPred, 0, dequant::kIntraMpeg1, pDstBlock, pDstSize);
}

IppStatus ippiReconstructDCTBlockIntra_MPEG2_32s(Ipp32u** ppBitStream, int* pOffset,
                                                 const IppVCHuffmanSpec_32s* pDCSizeTable,
                                                 const IppVCHuffmanSpec_32s* pACTable,
                                                 const Ipp32u* pScanMatrix, int QP,
                                                 const uint16_t* pQPMatrix, Ipp32s* pDCPred,
                                                 Ipp32s shiftDCVal, Ipp16s* pDstBlock,
                                                 Ipp32s* pDstSize) {
    return ReconstructIntra(ppBitStream, pOffset, pDCSizeTable, pACTable, pScanMatrix, QP,
                            pQPMatrix, pDCPred, shiftDCVal, dequant::kIntraMpeg2, pDstBlock,
                            pDstSize);
}

IppStatus ippiReconstructDCTBlock_MPEG1_32s(Ipp32u** ppBitStream, int* pOffset,
                                            const IppVCHuffmanSpec_32s* pDCTable,
                                            const IppVCHuffmanSpec_32s* pACTable,
                                            const Ipp32u* pScanMatrix, int QP,
                                            const uint16_t* pQPMatrix, Ipp16s* pDstBlock,
                                            Ipp32s* pDstSize) {
    return ReconstructNonIntra(ppBitStream, pOffset, pDCTable, pACTable, pScanMatrix, QP, pQPMatrix,
                               dequant::kNonIntraMpeg1, pDstBlock, pDstSize);
}

IppStatus ippiReconstructDCTBlock_MPEG2_32s(Ipp32u** ppBitStream, int* pOffset,
                                            const IppVCHuffmanSpec_32s* pDCTable,
                                            const IppVCHuffmanSpec_32s* pACTable,
                                            const Ipp32u* pScanMatrix, int QP,
                                            const uint16_t* pQPMatrix, Ipp16s* pDstBlock,
                                            Ipp32s* pDstSize) {
    return ReconstructNonIntra(ppBitStream, pOffset, pDCTable, pACTable, pScanMatrix, QP, pQPMatrix,
                               dequant::kNonIntraMpeg2, pDstBlock, pDstSize);
}

}  // namespace d2u
