#include "decoder/vlc_huffman.h"

#include <algorithm>
#include <memory>
#include <new>

#include "decoder/vlc_huffman_table.h"

namespace d2u {
namespace {

constexpr Ipp32s kMaxEntriesPerLength = 1 << 16;

struct TableEntry {
    Ipp32u code;
    int length;
    Ipp32s value;
    Ipp32s run;
};

class TableBuilder {
public:
    TableBuilder(IppVCHuffmanSpec_32s& table) : table_(table) {}

    IppStatus ReadLayout(const Ipp32s*& p) {
        table_.longest = *p++;
        table_.levelCount = *p++;
        if (table_.longest < 1 || table_.longest > kVlcMaxCodeLength) return ippStsBadArgErr;
        if (table_.levelCount < 1 || table_.levelCount > kVlcMaxLevels) return ippStsBadArgErr;
        int total = 0;
        for (int i = 0; i < table_.levelCount; ++i) {
            table_.widths[i] = *p++;
            if (table_.widths[i] < 1 || table_.widths[i] > kVlcMaxLevelWidth)
                return ippStsBadArgErr;
            total += table_.widths[i];
        }
        if (total != table_.longest) return ippStsBadArgErr;
        table_.slots.assign(static_cast<size_t>(1) << table_.widths[0], VlcSlot{});
        return ippStsNoErr;
    }

    IppStatus Insert(const TableEntry& entry) {
        if (entry.length < 32 && (entry.code >> entry.length) != 0) return ippStsBadArgErr;
        Ipp32u base = 0;
        int consumed = 0;
        for (int level = 0; level < table_.levelCount; ++level) {
            int width = table_.widths[level];
            int remaining = entry.length - consumed;
            if (remaining <= width) return PlaceLeaf(entry, base, width, remaining);
            Ipp32u index = (entry.code >> (remaining - width)) & VlcLowMask(width);
            IppStatus status = FollowLink(base + index, level + 1, &base);
            if (status != ippStsNoErr) return status;
            consumed += width;
        }
        return ippStsBadArgErr;
    }

private:
    IppStatus PlaceLeaf(const TableEntry& entry, Ipp32u base, int width, int remaining) {
        Ipp32u first = (entry.code & VlcLowMask(remaining)) << (width - remaining);
        Ipp32u count = 1u << (width - remaining);
        for (Ipp32u i = 0; i < count; ++i) {
            VlcSlot& slot = table_.slots[base + first + i];
            if (slot.kind != VlcSlot::kInvalid) return ippStsBadArgErr;  // not a prefix code
            slot.kind = VlcSlot::kLeaf;
            slot.bits = static_cast<Ipp8u>(remaining);
            slot.value = entry.value;
            slot.run = static_cast<Ipp16s>(entry.run);
        }
        return ippStsNoErr;
    }

    IppStatus FollowLink(Ipp32u slotIndex, int nextLevel, Ipp32u* nextBase) {
        if (table_.slots[slotIndex].kind == VlcSlot::kLeaf) return ippStsBadArgErr;
        if (table_.slots[slotIndex].kind == VlcSlot::kInvalid) {
            if (nextLevel >= table_.levelCount) return ippStsBadArgErr;
            Ipp32u start = static_cast<Ipp32u>(table_.slots.size());
            table_.slots.resize(table_.slots.size() +
                                (static_cast<size_t>(1) << table_.widths[nextLevel]));
            VlcSlot& link = table_.slots[slotIndex];
            link.kind = VlcSlot::kLink;
            link.bits = static_cast<Ipp8u>(table_.widths[nextLevel - 1]);
            link.next = start;
        }
        *nextBase = table_.slots[slotIndex].next;
        return ippStsNoErr;
    }

    IppVCHuffmanSpec_32s& table_;
};

IppStatus BuildTable(const Ipp32s* input, bool runLevel, IppVCHuffmanSpec_32s& table) {
    table.runLevel = runLevel;
    TableBuilder builder(table);
    const Ipp32s* p = input;
    IppStatus status = builder.ReadLayout(p);
    if (status != ippStsNoErr) return status;
    for (int length = 1; length <= table.longest; ++length) {
        Ipp32s count = *p++;
        if (count < 0 || count > kMaxEntriesPerLength) return ippStsBadArgErr;
        for (Ipp32s i = 0; i < count; ++i) {
            TableEntry entry{static_cast<Ipp32u>(p[0]), length, 0, 0};
            if (runLevel) {
                entry.run = p[1];
                entry.value = p[2];
                p += 3;
                if (entry.run < 0 || entry.run > kVlcEscape) return ippStsBadArgErr;
            } else {
                entry.value = p[1];
                p += 2;
            }
            status = builder.Insert(entry);
            if (status != ippStsNoErr) return status;
        }
    }
    return *p == -1 ? ippStsNoErr : ippStsBadArgErr;
}

IppStatus InitAlloc(const Ipp32s* input, bool runLevel, IppVCHuffmanSpec_32s** ppSpec) {
    if (!ppSpec) return ippStsNullPtrErr;
    *ppSpec = nullptr;
    if (!input) return ippStsNullPtrErr;
    try {
        std::unique_ptr<IppVCHuffmanSpec_32s> table(new IppVCHuffmanSpec_32s);
        IppStatus status = BuildTable(input, runLevel, *table);
        if (status != ippStsNoErr) return status;
        table->slots.shrink_to_fit();
        VlcPackShortCodewords(*table);
        if (runLevel) VlcPairCodewordsWith(*table, *table);
        *ppSpec = table.release();
        return ippStsNoErr;
    } catch (const std::bad_alloc&) {
        return ippStsMemAllocErr;
    }
}

Ipp32u PackSlot(const VlcSlot* slot, int length, int longest) {
    constexpr Ipp32u kOther = kVlcPackedOther << 8;
    if (!slot || length > longest || slot->value < -32768 || slot->value > 32767) return kOther;
    Ipp32u run;
    if (slot->run == kVlcEndOfBlock) {
        run = kVlcPackedEndOfBlock;
    } else if (slot->run == kVlcEscape) {
        run = kVlcPackedEscape;
    } else if (slot->run >= 0 && slot->run < 64) {
        run = static_cast<Ipp32u>(slot->run);
    } else {
        return kOther;
    }
    return (static_cast<Ipp32u>(slot->value) << 16) | (run << 8) | static_cast<Ipp32u>(length);
}

}  // namespace

void VlcPackShortCodewords(IppVCHuffmanSpec_32s& table) {
    const Ipp32u count = 1u << kVlcPackedBits;
    const bool longSection =
        table.longest > kVlcPackedBits && table.longest <= kVlcPackedLongZeros + kVlcPackedLongBits;
    table.packed.resize(count + (longSection ? (1u << kVlcPackedLongBits) : 0));
    for (Ipp32u i = 0; i < count; ++i) {
        // The bits after the packed ones are zeros here: only codewords that end within the
        // packed bits are kept.
        int length = 0;
        const VlcSlot* slot = VlcFindCodewordInBits(table, i << (32 - kVlcPackedBits), &length);
        table.packed[i] = PackSlot(slot, length, kVlcPackedBits);
        const bool leadingZeros = (i >> (kVlcPackedBits - kVlcPackedLongZeros)) == 0;
        if (longSection && leadingZeros && VlcPackedRun(table.packed[i]) == kVlcPackedOther) {
            table.packed[i] = kVlcPackedLong << 8;
        }
    }
    static_assert(sizeof(table.brief) / sizeof(table.brief[0]) == 1u << kVlcBriefBits,
                  "one brief slot per index");
    for (Ipp32u i = 0; i < (1u << kVlcBriefBits); ++i) {
        int length = 0;
        const VlcSlot* slot = VlcFindCodewordInBits(table, i << (32 - kVlcBriefBits), &length);
        table.brief[i] = PackSlot(slot, length, kVlcBriefBits);
    }
    if (!longSection) return;
    for (Ipp32u i = 0; i < (1u << kVlcPackedLongBits); ++i) {
        int length = 0;
        const int shift = 32 - kVlcPackedLongZeros - kVlcPackedLongBits;
        const VlcSlot* slot = VlcFindCodewordInBits(table, i << shift, &length);
        table.packed[count + i] = PackSlot(slot, length, table.longest);
    }
}

namespace {

// A coefficient of a pair slot: a plain codeword of the packed form `entry` with a multiplier
// within the limit. Returns false otherwise.
bool PairCoefficient(Ipp32u entry, bool intra, Ipp8u* advance, Ipp8u* multiplier, int8_t* sign) {
    if (!VlcPackedIsPlain(entry)) return false;
    const Ipp32s level = VlcPackedLevel(entry);
    const Ipp32u magnitude = static_cast<Ipp32u>(level < 0 ? -level : level);
    const Ipp32u weight = intra ? magnitude : 2 * magnitude + 1;
    if (magnitude == 0 || weight > kVlcPairMultiplierLimit) return false;
    *advance = static_cast<Ipp8u>(VlcPackedRun(entry) + 1);
    *multiplier = static_cast<Ipp8u>(weight);
    *sign = static_cast<int8_t>(level < 0 ? -1 : 0);
    return true;
}

// The packed form of the codeword at the start of `bits` (left-aligned) if it ends within the
// first `available` of them.
Ipp32u CodewordWithin(const IppVCHuffmanSpec_32s& table, Ipp32u bits, int available) {
    int length = 0;
    const VlcSlot* slot = VlcFindCodewordInBits(table, bits, &length);
    return PackSlot(slot, length, available);
}

static_assert(kVlcPairBits <= kVlcPackedBits, "a pair slot lies within one packed slot");

VlcCoefficientPair PairSlot(const IppVCHuffmanSpec_32s& table,
                            const IppVCHuffmanSpec_32s& following, Ipp32u index, bool intra) {
    VlcCoefficientPair pair = {};
    // The slot's bits, zeros after them: only codewords that end within the slot are taken.
    const Ipp32u bits = index << (32 - kVlcPairBits);
    const Ipp32u first = CodewordWithin(table, bits, kVlcPairBits);
    const int length = static_cast<int>(VlcPackedLength(first));
    pair.length = static_cast<Ipp8u>(length);
    if (VlcPackedRun(first) == kVlcPackedEndOfBlock) {
        // A lone end of block ends the block as a pair does, storing a zero after the last
        // coefficient (where a zero is already): the loop leaves every block at one branch.
        pair.flags = VlcCoefficientPair::kEndsBlock | VlcCoefficientPair::kEndOfBlock;
        pair.advance1 = 1;
        return pair;
    }
    if (!PairCoefficient(first, intra, &pair.advance1, &pair.multiplier1, &pair.sign1)) {
        pair.flags = VlcCoefficientPair::kSlow;
        if (VlcPackedRun(first) == kVlcPackedEscape) pair.flags |= VlcCoefficientPair::kEscape;
        const Ipp32u packedSlot = index << (kVlcPackedBits - kVlcPairBits);
        if (VlcPackedRun(table.packed[packedSlot]) == kVlcPackedLong)
            pair.flags |= VlcCoefficientPair::kLong;
        return pair;
    }
    const Ipp32u second = CodewordWithin(following, bits << length, kVlcPairBits - length);
    const int secondLength = static_cast<int>(VlcPackedLength(second));
    if (VlcPackedRun(second) == kVlcPackedEndOfBlock) {
        pair.flags = VlcCoefficientPair::kEndsBlock;
        pair.length = static_cast<Ipp8u>(length + secondLength);
    } else if (PairCoefficient(second, intra, &pair.advance2, &pair.multiplier2, &pair.sign2)) {
        pair.length = static_cast<Ipp8u>(length + secondLength);
    }
    return pair;
}

// Fills the pairs and returns their largest multiplier.
Ipp32u FillPairs(const IppVCHuffmanSpec_32s& table, const IppVCHuffmanSpec_32s& following,
                 bool intra, std::vector<VlcCoefficientPair>& pairs) {
    pairs.resize(1u << kVlcPairBits);
    Ipp32u largest = 0;
    for (Ipp32u i = 0; i < pairs.size(); ++i) {
        pairs[i] = PairSlot(table, following, i, intra);
        if (pairs[i].flags & VlcCoefficientPair::kSlow) continue;
        largest = std::max<Ipp32u>(largest, std::max(pairs[i].multiplier1, pairs[i].multiplier2));
    }
    return largest;
}

// The long section's slots as single coefficients; none without a long section.
void FillLongPairs(const IppVCHuffmanSpec_32s& table, bool intra,
                   std::vector<VlcCoefficientPair>& pairs) {
    constexpr Ipp32u kStart = 1u << kVlcPackedBits;
    pairs.clear();
    if (table.packed.size() <= kStart) return;
    pairs.resize(table.packed.size() - kStart);
    for (Ipp32u i = 0; i < pairs.size(); ++i) {
        const Ipp32u entry = table.packed[kStart + i];
        VlcCoefficientPair& pair = pairs[i];
        pair = {};
        pair.length = static_cast<Ipp8u>(VlcPackedLength(entry));
        if (!PairCoefficient(entry, intra, &pair.advance1, &pair.multiplier1, &pair.sign1))
            pair.flags = VlcCoefficientPair::kSlow;
    }
}

// Whether `table` decodes every stream as `following` does, except that '1' and a sign bit is
// run 0, level +1 or -1 (see shortOneThenFollowing).
bool ShortOneThenFollowing(const IppVCHuffmanSpec_32s& table,
                           const IppVCHuffmanSpec_32s& following) {
    // Only tables whose every codeword has a packed slot or one in the long section, so that
    // comparing the slots compares the tables.
    constexpr Ipp32u kHalf = 1u << (kVlcPackedBits - 1);
    constexpr Ipp32u kPacked = 2 * kHalf;
    if (&table == &following || table.longest != following.longest ||
        table.packed.size() != kPacked + (1u << kVlcPackedLongBits) ||
        following.packed.size() != table.packed.size())
        return false;
    for (Ipp32u i = 0; i < table.packed.size(); ++i) {
        const Ipp32u entry = table.packed[i];
        if (i >= kHalf && i < kPacked) {
            const Ipp32s level = (i & (kHalf >> 1)) ? -1 : 1;
            if (!VlcPackedIsPlain(entry) || VlcPackedLength(entry) != 2 ||
                VlcPackedRun(entry) != 0 || VlcPackedLevel(entry) != level)
                return false;
        } else if (entry != following.packed[i] ||
                   (i < kPacked && VlcPackedRun(entry) == kVlcPackedOther)) {
            // A long-section slot of no codeword (kVlcPackedOther) finds none in either table.
            return false;
        }
    }
    return true;
}

}  // namespace

void VlcPairCodewordsWith(IppVCHuffmanSpec_32s& table, const IppVCHuffmanSpec_32s& following) {
    table.largestIntraMultiplier = FillPairs(table, following, true, table.intraPairs);
    table.largestNonIntraMultiplier = FillPairs(table, following, false, table.nonIntraPairs);
    table.shortOneThenFollowing = ShortOneThenFollowing(table, following);
    FillLongPairs(table, true, table.longIntraPairs);
    FillLongPairs(table, false, table.longNonIntraPairs);
}

IppStatus ippiVCHuffmanInitAlloc_32s(const Ipp32s* pInputTable, IppVCHuffmanSpec_32s** ppSpec) {
    return InitAlloc(pInputTable, false, ppSpec);
}

IppStatus ippiVCHuffmanInitAllocRL_32s(const Ipp32s* pInputTable, IppVCHuffmanSpec_32s** ppSpec) {
    return InitAlloc(pInputTable, true, ppSpec);
}

IppStatus ippiVCHuffmanFree_32s(IppVCHuffmanSpec_32s** ppSpec) {
    if (!ppSpec) return ippStsNullPtrErr;
    delete *ppSpec;
    *ppSpec = nullptr;
    return ippStsNoErr;
}

IppStatus ippiVCHuffmanDecodeOne_1u32s(BitReader& bits, Ipp32s* pDst,
                                       const IppVCHuffmanSpec_32s* pSpec) {
    if (!pDst || !pSpec || !bits.Valid()) return ippStsNullPtrErr;
    Ipp32s run = 0;
    Ipp32s level = 0;
    const Ipp32u entry = pSpec->packed[bits.Peek(kVlcPackedBits)];
    if (VlcPackedIsPlain(entry)) {
        bits.Skip(static_cast<int>(VlcPackedLength(entry)));
        run = static_cast<Ipp32s>(VlcPackedRun(entry));
        level = VlcPackedLevel(entry);
    } else {
        int length = 0;
        const VlcSlot* slot = VlcFindCodeword(*pSpec, bits, &length);
        if (!slot) return ippStsVLCErr;
        bits.Skip(length);
        run = slot->run;
        level = slot->value;
    }
    *pDst = pSpec->runLevel ? static_cast<Ipp32s>(static_cast<Ipp32u>(run) << 16 |
                                                  (static_cast<Ipp32u>(level) & 0xFFFFu))
                            : level;
    return ippStsNoErr;
}

}  // namespace d2u
