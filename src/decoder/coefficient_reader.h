// The coefficients of the coded blocks of one macroblock: the DC difference of intra blocks,
// the run/level codewords with their escapes up to each end of block, the inverse scan and the
// inverse quantisation, read in one pass at a reading position that is left after the last
// block's end-of-block codeword.
//
// Escapes: after the escape codeword come a 6-bit run and the level, as 12 bits two's
// complement in MPEG-2, and in MPEG-1 as 8 bits two's complement, where the values 0 and -128
// announce 8 more bits (levels 128 to 255 and -255 to -128).
//
// A block that has a codeword of no table entry, more than 64 coefficients or no end of block
// after its 64th coefficient returns ippStsVLCErr; the position is then left where reading
// stopped and the blocks before the failing one are in place. The DC predictor is updated as
// soon as the DC difference has been read.
#pragma once

#include <cstdint>

#include "decoder/vlc_huffman.h"
#include "input/bit_reader.h"
#include "primitives/ipp_types.h"

namespace d2u {

// A quantiser matrix in scan order, times the quantiser, with the raster position of each scan
// index: what the coefficient loop reads per codeword, without a multiply or a dependent load.
struct ScaledMatrix {
    alignas(16) uint16_t weight[64];  // (W[scan[i]] & 0xFF) * quantiser
    Ipp8u position[64];               // scan[i] & 63
    Ipp32u largestWeight;             // of the 64
};

// Fills `out` for the matrix `matrix` (raster order), the scan and the quantiser (clamped to
// 0..127). Intra matrices weigh the DC position (which takes the DC difference instead) with
// zero.
void ScaleMatrix(const Ipp32u* scan, const uint16_t* matrix, int quantiser, bool intra,
                 ScaledMatrix* out);

// The DC predictor of an intra block: 0 luma (blocks 0 to 3), 1 Cb (even chroma blocks), 2 Cr
// (odd ones). Without a branch, as the blocks of a macroblock alternate between them.
inline int DcPredictorIndex(int block) {
    const int chroma = block >= 4 ? 1 : 0;
    return chroma * (1 + (block & 1));
}

// Where the inverse transform of one block goes in the macroblock residual.
struct ResidualPlacement {
    int16_t start;     // first element
    int16_t rowBytes;  // row step in bytes
};

// A non-intra macroblock for the one-pass reading below: block b (0 first, of blockCount up to
// 8) is coded when bit blockCount - 1 - b of `pattern` is set; blocks 0 to 3 use `luma`, the
// others `chroma`; block b's inverse transform goes to residual + placements[b].start.
struct NonIntraMacroblockBlocks {
    const IppVCHuffmanSpec_32s* firstTable;  // the first coefficient's codewords
    const IppVCHuffmanSpec_32s* otherTable;  // the others'
    Ipp32u pattern;
    int blockCount;
    const ScaledMatrix* luma;
    const ScaledMatrix* chroma;
    const ResidualPlacement* placements;
    Ipp16s* scratch;  // 64 coefficients
    Ipp16s* residual;
};

// Where the samples of each block of an intra macroblock go in the picture: block b at at[b],
// rows step[b] bytes apart.
struct IntraSamples {
    Ipp8u* at[8];
    int step[8];
};

// An intra macroblock for the one-pass reading below: blocks and matrices as above; block b goes
// to destination + 64 * b, with the DC size table dcLuma (blocks 0 to 3) or dcChroma and the DC
// predictor predictors[DcPredictorIndex(b)]. With `samples`, each block goes into the picture
// instead, transformed (ippiDCT8x8InvIntra_16s8u_C1R) as soon as it is read, so that its
// transform runs while the next block is read; the destination is then working space, and a
// block of its DC value alone does not touch it.
struct IntraMacroblockBlocks {
    const IppVCHuffmanSpec_32s* dcLuma;
    const IppVCHuffmanSpec_32s* dcChroma;
    const IppVCHuffmanSpec_32s* acTable;
    Ipp32u pattern;
    int blockCount;
    const ScaledMatrix* luma;
    const ScaledMatrix* chroma;
    Ipp32s* predictors;
    Ipp32s dcShift;  // MPEG-2: 3 - intra_dc_precision (0 to 3); MPEG-1 ignores it
    Ipp16s* destination;
    const IntraSamples* samples = nullptr;  // null: the coefficients only
};

// The readers are chosen once for a record whose tables, matrices, buffers and block count are
// checked, and which then changes only its pattern, placements (never null), residual or
// destination and DC predictors (never null) between macroblocks: the reader for the record as
// it is now, or null when it cannot be read (a table or matrix missing, a block count outside 1
// to 8, an MPEG-2 dcShift outside 0 to 3). Non-intra blocks are followed by their inverse
// transform into the residual.
using NonIntraMacroblockReader = IppStatus (*)(BitReader& bits,
                                               const NonIntraMacroblockBlocks& macroblock);
using IntraMacroblockReader = IppStatus (*)(BitReader& bits,
                                            const IntraMacroblockBlocks& macroblock);
NonIntraMacroblockReader CheckedNonIntraMacroblockReader(const NonIntraMacroblockBlocks& macroblock,
                                                         bool mpeg1);
IntraMacroblockReader CheckedIntraMacroblockReader(const IntraMacroblockBlocks& macroblock,
                                                   bool mpeg1);

}  // namespace d2u
