// Variable-length code tables and single-codeword decoding on a word-buffered bit position.
//
// The bit position is a pair shared with the rest of the decoder: a pointer to the current
// 32-bit word (words hold the stream in reading order, bit 31 first) and the index of the next
// bit in that word (31 down to 0). Decoding looks at most one word beyond the current one; the
// buffers this runs on always end with a sentinel word.
#pragma once

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

// Decodes one codeword at the bit position and moves the position past it. For a value table
// *pDst receives the value; for a run/level table it receives run * 65536 + (level & 0xFFFF).
// A bit pattern that is no codeword of the table returns ippStsVLCErr and leaves the position
// unchanged.
IppStatus ippiVCHuffmanDecodeOne_1u32s(Ipp32u** ppBitStream, int* pOffset, Ipp32s* pDst,
                                       const IppVCHuffmanSpec_32s* pSpec);

// Run/level form of the decode for the block kernels.
IppStatus VCHuffmanDecodeRunLevel(Ipp32u** ppBitStream, int* pOffset, Ipp32s* pRun, Ipp32s* pLevel,
                                  const IppVCHuffmanSpec_32s* pSpec);

inline Ipp32u VlcLowMask(int n) {
    return n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u);
}

// The next n bits (1..32) at the bit position as an unsigned number. The word after the
// current one is read only when the n bits reach into it.
inline Ipp32u VlcPeekBits(const Ipp32u* word, int offset, int n) {
    int available = offset + 1;
    if (n <= available) return (word[0] >> (available - n)) & VlcLowMask(n);
    int fromNext = n - available;
    return ((word[0] << fromNext) | (word[1] >> (32 - fromNext))) & VlcLowMask(n);
}

// Moves the bit position n bits (0..32) on.
inline void VlcSkipBits(Ipp32u** ppBitStream, int* pOffset, int n) {
    int offset = *pOffset - n;
    if (offset < 0) {
        offset += 32;
        *ppBitStream += 1;
    }
    *pOffset = offset;
}

// Reads n bits (1..32) as an unsigned number and moves past them.
inline Ipp32u VlcReadBits(Ipp32u** ppBitStream, int* pOffset, int n) {
    Ipp32u value = VlcPeekBits(*ppBitStream, *pOffset, n);
    VlcSkipBits(ppBitStream, pOffset, n);
    return value;
}

}  // namespace d2u
