// Layout of the decode tables behind IppVCHuffmanSpec_32s, shared by the VLC and block kernels
// so that the coefficient loop can decode codewords inline.
#pragma once

#include <cstdint>
#include <vector>

#include "decoder/vlc_huffman.h"

namespace d2u {

// Codeword pairs of a run/level table for the coefficient loop: indexed by the next
// kVlcPairBits stream bits, one or two coefficients whose codewords lie wholly within them,
// with what the inverse quantisation needs of each, in one lookup. Only multipliers up to
// kVlcPairMultiplierLimit are taken, so that for usual quantisers the loop needs no clamp;
// a slot whose first codeword is anything else (end of block, escape, longer codewords, larger
// levels) is marked slow and the loop decodes it on its own.
constexpr int kVlcPairBits = 11;
constexpr Ipp32u kVlcPairMultiplierLimit = 31;
struct VlcCoefficientPair {
    // kSlow: not a pair (kEscape or kLong too when the slot starts with that codeword or with
    // the zeros of the long section); kEndsBlock: the end of block follows the first
    // coefficient; kEndOfBlock with it: the slot starts with the end of block, and its "first
    // coefficient" is a zero one position on (multiplier 0).
    enum Flags : Ipp8u { kSlow = 1, kEndsBlock = 2, kEndOfBlock = 4, kEscape = 8, kLong = 16 };
    Ipp8u length;  // bits of both codewords (and of the end of block after the first)
    Ipp8u flags;
    Ipp8u advance1;     // run + 1 of the first coefficient
    Ipp8u advance2;     // run + 1 of the second; 0 when there is none
    Ipp8u multiplier1;  // |level| (intra) or 2 |level| + 1 (non-intra) of the first
    Ipp8u multiplier2;  // that of the second; 0 when there is none
    int8_t sign1;       // 0, or -1 for a negative level
    int8_t sign2;
};
static_assert(sizeof(VlcCoefficientPair) == 8, "one 8-byte slot per pair");

constexpr int kVlcMaxLevels = 8;
constexpr int kVlcMaxLevelWidth = 16;

// One slot of a lookup level: a codeword that ends at this level, a link to the next level,
// or a bit pattern that begins no codeword.
struct VlcSlot {
    enum Kind : Ipp8u { kInvalid = 0, kLeaf = 1, kLink = 2 };
    Ipp32s value;  // the value, or the level of a run/level entry
    Ipp16s run;    // run of a run/level entry
    Ipp8u kind;
    Ipp8u bits;   // bits of the codeword that fall into this level
    Ipp32u next;  // first slot of the next level's sub-table (links)
};

}  // namespace d2u

struct d2u::IppVCHuffmanSpec_32s {
    int longest = 0;
    int levelCount = 0;
    int widths[kVlcMaxLevels] = {};
    bool runLevel = false;
    std::vector<VlcSlot> slots;  // the first level's table starts at slot 0
    // Every codeword of up to kVlcPackedBits bits once more, one word per slot (see
    // VlcPackedLength), so that most codewords are found with one load: indexed by the next
    // kVlcPackedBits stream bits, whatever the table's longest codeword. Tables whose longest
    // codeword has at most kVlcPackedLongZeros + kVlcPackedLongBits bits continue with the
    // long section: every codeword that starts with kVlcPackedLongZeros zeros, indexed by the
    // kVlcPackedLongBits bits after them (the coefficient tables' rare large levels).
    std::vector<Ipp32u> packed;
    // The codewords of up to kVlcBriefBits bits once more, in the form of the packed slots,
    // indexed by that many bits: the intra DC sizes, read once per block, in four cache lines
    // instead of lines spread over the whole packed table by the bits that follow the code.
    Ipp32u brief[64] = {};
    // Run/level tables only: the codeword pairs (1 << kVlcPairBits slots) with intra and with
    // non-intra multipliers. The second codeword of a pair comes from this table, or from the
    // one given to VlcPairCodewordsWith.
    std::vector<VlcCoefficientPair> intraPairs;
    std::vector<VlcCoefficientPair> nonIntraPairs;
    // Run/level tables with a long section: its codewords as single-coefficient slots with the
    // multipliers ready (kSlow where it holds no plain codeword), by the same index.
    std::vector<VlcCoefficientPair> longIntraPairs;
    std::vector<VlcCoefficientPair> longNonIntraPairs;
    // The largest multiplier in each (at most kVlcPairMultiplierLimit): the short codewords of a
    // pair carry small levels, so that the coefficient loop can go without the clamp for larger
    // quantisers than the limit allows.
    Ipp32u largestIntraMultiplier = 0;
    Ipp32u largestNonIntraMultiplier = 0;
    // Set by VlcPairCodewordsWith when this table decodes exactly as the following one, but for
    // the codeword '1' and sign (run 0, level 1) in place of the following table's codewords
    // that start with a one: a block's first-coefficient table beside table zero. The first
    // coefficient is then read without a lookup and the rest through the following table's
    // pairs, so that the coefficient loop keeps one pair table in the cache instead of two.
    bool shortOneThenFollowing = false;
};

namespace d2u {

// Codewords (with their sign bit) of up to this many bits have a packed slot: 8 KiB per table,
// and everything but the rarest coefficients.
constexpr int kVlcPackedBits = 11;
constexpr int kVlcPackedLongZeros = 7;
constexpr int kVlcPackedLongBits = 10;
constexpr int kVlcBriefBits = 6;

// A packed slot: the value (the level of a run/level entry) in the high 16 bits, then the run
// (0 in value tables), then the codeword length. Runs of kVlcPackedEndOfBlock and kVlcPackedEscape
// mark those codewords (with their lengths); kVlcPackedLong sends the lookup to the long
// section; kVlcPackedOther marks a slot that needs the full lookup (longer codewords and bit
// patterns of no codeword).
constexpr Ipp32u kVlcPackedLong = 0xFC;
constexpr Ipp32u kVlcPackedEndOfBlock = 0xFD;
constexpr Ipp32u kVlcPackedEscape = 0xFE;
constexpr Ipp32u kVlcPackedOther = 0xFF;

inline Ipp32u VlcPackedLength(Ipp32u entry) {
    return entry & 0xFF;
}
inline Ipp32u VlcPackedRun(Ipp32u entry) {
    return (entry >> 8) & 0xFF;
}
// A run below 64: the two top bits of the run field clear (one test of the whole entry).
inline bool VlcPackedIsPlain(Ipp32u entry) {
    return (entry & 0xC000u) == 0;
}
inline Ipp32s VlcPackedLevel(Ipp32u entry) {
    return static_cast<Ipp32s>(entry) >> 16;
}

// Fills table.packed (1 << kVlcPackedBits slots) and table.brief from the lookup levels.
void VlcPackShortCodewords(IppVCHuffmanSpec_32s& table);

// Fills the codeword pairs of a run/level table, the second codeword of each pair from
// `following` (the table itself, or the one that decodes the codewords after the first of a
// block). Run/level tables get their own pairs when they are made; pairing them again
// allocates nothing.
void VlcPairCodewordsWith(IppVCHuffmanSpec_32s& table, const IppVCHuffmanSpec_32s& following);

// Finds the codeword at the start of `bits` (the next stream bits, the first in bit 31; at
// least the table's longest length of them). Returns the slot of its last level and the total
// codeword length, or null when the bits form no codeword.
inline const VlcSlot* VlcFindCodewordInBits(const IppVCHuffmanSpec_32s& table, Ipp32u bits,
                                            int* length) {
    const VlcSlot* slots = table.slots.data();
    const VlcSlot* slot = &slots[bits >> (32 - table.widths[0])];
    if (slot->kind == VlcSlot::kLeaf) {
        *length = slot->bits;
        return slot;
    }
    int used = 0;
    for (int level = 1; level < table.levelCount; ++level) {
        if (slot->kind != VlcSlot::kLink) return nullptr;
        used += table.widths[level - 1];
        slot = &slots[slot->next + ((bits << used) >> (32 - table.widths[level]))];
        if (slot->kind == VlcSlot::kLeaf) {
            *length = used + slot->bits;
            return slot;
        }
    }
    return nullptr;
}

// Finds the codeword at the bit position; the position is not moved.
inline const VlcSlot* VlcFindCodeword(const IppVCHuffmanSpec_32s& table, const BitReader& bits,
                                      int* length) {
    return VlcFindCodewordInBits(table, bits.Peek(table.longest) << (32 - table.longest), length);
}

}  // namespace d2u
