// Decoding of one coded 8x8 block of MPEG-1 or MPEG-2 video: the DC difference of intra
// blocks, the run/level codewords with their escapes up to the end of block, the inverse scan
// and the inverse quantisation. Each function reads at the shared bit position and leaves it
// after the block's end-of-block codeword.
//
// Escapes: after the escape codeword come a 6-bit run and the level, as 12 bits two's
// complement in MPEG-2, and in MPEG-1 as 8 bits two's complement, where the values 0 and -128
// announce 8 more bits (levels 128 to 255 and -255 to -128).
//
// A block that has a codeword of no table entry, more than 64 coefficients or no end of block
// after its 64th coefficient returns ippStsVLCErr; its 64 destination values then hold no
// usable block (nothing outside them is written; bad arguments write nothing). The DC
// predictor is updated as soon as the DC difference has been read.
#pragma once

#include <cstdint>

#include "primitives/ipp_types.h"
#include "primitives/vlc_huffman.h"

namespace d2u {

// Intra block of MPEG-1: the DC predictor is in units of the reconstructed DC coefficient
// (eight times the DC level; 1024 after a reset). pDstSize receives the scan index of the
// last coefficient.
IppStatus ippiReconstructDCTBlockIntra_MPEG1_32s(Ipp32u** ppBitStream, int* pOffset,
                                                 const IppVCHuffmanSpec_32s* pDCSizeTable,
                                                 const IppVCHuffmanSpec_32s* pACTable,
                                                 const Ipp32u* pScanMatrix, int QP,
                                                 const uint16_t* pQPMatrix, Ipp32s* pDCPred,
                                                 Ipp16s* pDstBlock, Ipp32s* pDstSize);

// Intra block of MPEG-2: the DC predictor is in units of intra_dc_precision (128 << precision
// after a reset) and shiftDCVal (3 - intra_dc_precision) scales it to the coefficient. QP is
// the mapped quantiser_scale.
IppStatus ippiReconstructDCTBlockIntra_MPEG2_32s(Ipp32u** ppBitStream, int* pOffset,
                                                 const IppVCHuffmanSpec_32s* pDCSizeTable,
                                                 const IppVCHuffmanSpec_32s* pACTable,
                                                 const Ipp32u* pScanMatrix, int QP,
                                                 const uint16_t* pQPMatrix, Ipp32s* pDCPred,
                                                 Ipp32s shiftDCVal, Ipp16s* pDstBlock,
                                                 Ipp32s* pDstSize);

// Non-intra blocks: pDCTable decodes the first coefficient, pACTable the others.
IppStatus ippiReconstructDCTBlock_MPEG1_32s(Ipp32u** ppBitStream, int* pOffset,
                                            const IppVCHuffmanSpec_32s* pDCTable,
                                            const IppVCHuffmanSpec_32s* pACTable,
                                            const Ipp32u* pScanMatrix, int QP,
                                            const uint16_t* pQPMatrix, Ipp16s* pDstBlock,
                                            Ipp32s* pDstSize);
IppStatus ippiReconstructDCTBlock_MPEG2_32s(Ipp32u** ppBitStream, int* pOffset,
                                            const IppVCHuffmanSpec_32s* pDCTable,
                                            const IppVCHuffmanSpec_32s* pACTable,
                                            const Ipp32u* pScanMatrix, int QP,
                                            const uint16_t* pQPMatrix, Ipp16s* pDstBlock,
                                            Ipp32s* pDstSize);

}  // namespace d2u
