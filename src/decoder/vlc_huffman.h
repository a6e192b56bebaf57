// Variable-length code tables, and the decoding of one codeword at a reading position.
#pragma once

#include "input/bit_reader.h"
#include "primitives/ipp_types.h"

namespace d2u {

// Opaque decode table; made by the InitAlloc functions, released by ippiVCHuffmanFree_32s.
struct IppVCHuffmanSpec_32s;

// Marker values of run/level tables.
constexpr Ipp32s kVlcEndOfBlock = 254;  // run 254, level 254
constexpr Ipp32s kVlcEscape = 255;      // run 255, level 255

// Longest codeword the tables accept.
constexpr Ipp32s kVlcMaxCodeLength = 32;

// Builds a table from an input table of the form
//   longest length, sub-table count, sub-table widths...,
//   for each length 1..longest: count, then count entries (code, value),
//   -1.
// The widths must add up to the longest length. Returns ippStsNoErr, ippStsBadArgErr for an
// input that is not a consistent prefix code of that layout, ippStsMemAllocErr, or
// ippStsNullPtrErr; *ppSpec is null on failure.
IppStatus ippiVCHuffmanInitAlloc_32s(const Ipp32s* pInputTable, IppVCHuffmanSpec_32s** ppSpec);
// The same with entries (code, run, level).
IppStatus ippiVCHuffmanInitAllocRL_32s(const Ipp32s* pInputTable, IppVCHuffmanSpec_32s** ppSpec);
// Frees the table behind *ppSpec and sets *ppSpec to null.
IppStatus ippiVCHuffmanFree_32s(IppVCHuffmanSpec_32s** ppSpec);

// Decodes one codeword at the reading position and moves past it. For a value table *pDst
// receives the value; for a run/level table it receives run * 65536 + (level & 0xFFFF). A bit
// pattern that is no codeword of the table returns ippStsVLCErr and leaves the position.
IppStatus ippiVCHuffmanDecodeOne_1u32s(BitReader& bits, Ipp32s* pDst,
                                       const IppVCHuffmanSpec_32s* pSpec);

inline Ipp32u VlcLowMask(int n) {
    return n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u);
}

}  // namespace d2u
