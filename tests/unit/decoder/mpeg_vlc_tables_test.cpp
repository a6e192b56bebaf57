#include "decoder/mpeg_vlc_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decoder/coefficient_reader.h"
#include "decoder/mpeg_tables.h"
#include "decoder/vlc_huffman_table.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;
using test::WordCursor;

bool IsRunLevel(int index) {
    return index >= CMpegVlcTables::kDctCoefficientsFirst;
}

// One run/level codeword; false when there is none.
bool ReadRunLevel(BitReader& bits, const IppVCHuffmanSpec_32s* table, Ipp32s* run, Ipp32s* level) {
    Ipp32s packed = 0;
    if (ippiVCHuffmanDecodeOne_1u32s(bits, &packed, table) != ippStsNoErr) return false;
    *run = packed >> 16;
    *level = static_cast<int16_t>(packed & 0xFFFF);
    return true;
}

// The macroblock-level decodes (their own look-up tables) and the general decode agree on
// every pattern of the longest codeword's length: value, status and bits read, codes of no
// codeword included. The address escape is left to the escape test below.
TEST(MpegVlcTables, MacroblockLevelDecodesAgreeWithTheGeneralDecode) {
    using Decoder = int32_t (*)(CMpegVlcTables&, BitReader&, int32_t*);
    const struct {
        int table;
        Decoder decode;
    } decoders[] = {
        {CMpegVlcTables::kMacroblockAddressIncrement,
         [](CMpegVlcTables& t, BitReader& b, int32_t* v) {
             return t.DecodeMacroblockAddressIncrement(b, v);
         }},
        {CMpegVlcTables::kMacroblockTypeI,
         [](CMpegVlcTables& t, BitReader& b, int32_t* v) {
             return t.DecodeMacroblockType(b, v, 1);
         }},
        {CMpegVlcTables::kMacroblockTypeP,
         [](CMpegVlcTables& t, BitReader& b, int32_t* v) {
             return t.DecodeMacroblockType(b, v, 2);
         }},
        {CMpegVlcTables::kMacroblockTypeB,
         [](CMpegVlcTables& t, BitReader& b, int32_t* v) {
             return t.DecodeMacroblockType(b, v, 3);
         }},
        {CMpegVlcTables::kCodedBlockPattern,
         [](CMpegVlcTables& t, BitReader& b, int32_t* v) {
             return t.DecodeCodedBlockPattern(b, v);
         }},
        {CMpegVlcTables::kMotionCode,
         [](CMpegVlcTables& t, BitReader& b, int32_t* v) { return t.DecodeMotionCode(b, v); }},
    };
    CMpegVlcTables tables;
    tables.Build();
    auto skipTo = [](WordCursor& reader, size_t position) {
        for (size_t skip = position - reader.BitsRead(); skip > 0;
             skip = position - reader.BitsRead()) {
            reader.at.Skip(skip > 16 ? 16 : static_cast<int>(skip));
        }
    };
    for (const auto& d : decoders) {
        const int longest = CMpegVlcTables::InputTable(d.table)[0];
        // Every pattern once, each behind junk of a varying length so that the patterns meet
        // word boundaries at every offset.
        TestBits bits;
        std::vector<size_t> starts;
        for (uint32_t pattern = 0; pattern < (1u << longest); ++pattern) {
            bits.PutValue(pattern * 7u, static_cast<int>(pattern % 29));
            starts.push_back(bits.Size());
            bits.PutValue(pattern, longest);
        }
        WordCursor fast(bits);
        WordCursor general(bits);
        for (uint32_t pattern = 0; pattern < (1u << longest); ++pattern) {
            if (d.table == CMpegVlcTables::kMacroblockAddressIncrement && pattern == 0x008)
                continue;
            skipTo(fast, starts[pattern]);
            skipTo(general, starts[pattern]);
            int32_t fastValue = -99;
            int32_t generalValue = -99;
            const int32_t fastStatus = d.decode(tables, fast.at, &fastValue);
            const int32_t generalStatus = tables.Decode(general.at, &generalValue, d.table);
            ASSERT_EQ(fastStatus, generalStatus) << "table " << d.table << " bits " << pattern;
            ASSERT_EQ(fast.BitsRead(), general.BitsRead()) << "table " << d.table;
            if (generalStatus == 0) {
                ASSERT_EQ(fastValue, generalValue) << "table " << d.table;
            }
        }
    }
}

// The look-ups the macroblock loop indexes itself with the next bits: an entry with a length
// holds what the general decode reads from those bits, and every other entry is bits the
// general decode refuses, or the address escape, which the loop leaves to the general decode.
TEST(MpegVlcTables, MacroblockLoopLookupsMatchTheGeneralDecode) {
    CMpegVlcTables tables;
    tables.Build();
    struct Lookup {
        int table;
        const CMpegVlcTables::DirectCode* codes;
        int32_t longest;
    };
    std::vector<Lookup> lookups;
    Lookup increment{CMpegVlcTables::kMacroblockAddressIncrement, nullptr, 0};
    increment.codes = tables.AddressIncrementLookup(&increment.longest);
    lookups.push_back(increment);
    for (int32_t type = 1; type <= 3; ++type) {
        Lookup modes{type, nullptr, 0};
        modes.codes = tables.MacroblockTypeLookup(type, &modes.longest);
        lookups.push_back(modes);
    }
    for (int32_t outside : {0, 4}) {
        int32_t longest = -1;
        EXPECT_EQ(tables.MacroblockTypeLookup(outside, &longest), nullptr);
        EXPECT_EQ(longest, 0);
    }
    for (const Lookup& lookup : lookups) {
        ASSERT_NE(lookup.codes, nullptr);
        ASSERT_EQ(lookup.longest, CMpegVlcTables::InputTable(lookup.table)[0]);
        for (uint32_t pattern = 0; pattern < (1u << lookup.longest); ++pattern) {
            TestBits bits;
            bits.PutValue(pattern, lookup.longest);
            WordCursor general(bits);
            int32_t value = -99;
            const int32_t status = tables.Decode(general.at, &value, lookup.table);
            const CMpegVlcTables::DirectCode code = lookup.codes[pattern];
            if (code.length == 0) {
                EXPECT_TRUE(status != 0 || value == CMpegVlcTables::kAddressEscapeValue)
                    << "table " << lookup.table << " bits " << pattern;
                continue;
            }
            ASSERT_EQ(status, 0) << "table " << lookup.table << " bits " << pattern;
            EXPECT_EQ(code.value, value) << "table " << lookup.table << " bits " << pattern;
            EXPECT_EQ(size_t(code.length), general.BitsRead()) << "table " << lookup.table;
        }
    }
}

// Every codeword pair slot of the coefficient tables holds what decoding its bits one codeword
// at a time gives, whatever bits follow the slot: the first codeword from its table, the second
// (or the end of block) from table zero after the first-coefficient table, lengths, runs,
// multipliers and signs; a slot that starts with the end of block, a zero coefficient one
// position on. Slots marked slow start with no such pair.
TEST(MpegVlcTables, CoefficientPairsMatchDecodingOneCodewordAtATime) {
    CMpegVlcTables tables;
    tables.Build();
    std::mt19937 random(5);
    const int firsts[] = {CMpegVlcTables::kDctCoefficientsFirst,
                          CMpegVlcTables::kDctCoefficientsZero,
                          CMpegVlcTables::kDctCoefficientsOne};
    int pairs = 0;
    int endings = 0;
    for (int index : firsts) {
        const IppVCHuffmanSpec_32s* first = tables.Table(index);
        const IppVCHuffmanSpec_32s* following = tables.Table(
            index == CMpegVlcTables::kDctCoefficientsFirst ? CMpegVlcTables::kDctCoefficientsZero
                                                           : index);
        for (bool intra : {true, false}) {
            const std::vector<VlcCoefficientPair>& slots =
                intra ? first->intraPairs : first->nonIntraPairs;
            ASSERT_EQ(slots.size(), 1u << kVlcPairBits);
            for (uint32_t slot = 0; slot < slots.size(); ++slot) {
                const VlcCoefficientPair& pair = slots[slot];
                if (pair.flags & VlcCoefficientPair::kSlow) continue;
                TestBits bits;
                bits.PutValue(slot, kVlcPairBits).PutValue(random(), 32).PutValue(random(), 32);
                WordCursor at(bits);
                Ipp32s run = 0, level = 0;
                ASSERT_TRUE(ReadRunLevel(at.at, first, &run, &level));
                if (run == kVlcEndOfBlock) {
                    EXPECT_EQ(pair.flags,
                              VlcCoefficientPair::kEndsBlock | VlcCoefficientPair::kEndOfBlock)
                        << slot;
                    EXPECT_EQ(pair.advance1, 1) << slot;
                    EXPECT_EQ(pair.multiplier1 | pair.multiplier2 | pair.advance2, 0) << slot;
                    EXPECT_EQ(at.BitsRead(), pair.length) << slot;
                    ++endings;
                    continue;
                }
                const int magnitude = level < 0 ? -level : level;
                EXPECT_EQ(pair.advance1, run + 1) << slot;
                EXPECT_EQ(pair.multiplier1, intra ? magnitude : 2 * magnitude + 1) << slot;
                EXPECT_EQ(pair.sign1, level < 0 ? -1 : 0) << slot;
                if (pair.advance2 || (pair.flags & VlcCoefficientPair::kEndsBlock)) {
                    ASSERT_TRUE(ReadRunLevel(at.at, following, &run, &level));
                    const bool end = run == kVlcEndOfBlock;
                    EXPECT_EQ(end, (pair.flags & VlcCoefficientPair::kEndsBlock) != 0) << slot;
                    if (!end) {
                        const int second = level < 0 ? -level : level;
                        EXPECT_EQ(pair.advance2, run + 1) << slot;
                        EXPECT_EQ(pair.multiplier2, intra ? second : 2 * second + 1) << slot;
                        EXPECT_EQ(pair.sign2, level < 0 ? -1 : 0) << slot;
                        ++pairs;
                    }
                } else {
                    EXPECT_EQ(pair.multiplier2, 0) << slot;
                }
                EXPECT_EQ(at.BitsRead(), pair.length) << slot;
                EXPECT_LE(pair.length, kVlcPairBits) << slot;
            }
        }
    }
    EXPECT_GT(pairs, 1000);
    EXPECT_GT(endings, 0);
}

// The short look-ups that stand in for the full ones: the brief slots of every table give the
// codeword the general decode finds in their bits, whatever follows; and only the block's
// first-coefficient table reads as table zero with its leading one doubled (the loop relies on
// it for speed, the results on the one-pass test).
TEST(MpegVlcTables, ShortLookupsAgreeWithTheGeneralDecode) {
    CMpegVlcTables tables;
    tables.Build();
    std::mt19937 random(3);
    int brief = 0;
    for (int index = 0; index < CMpegVlcTables::kTableCount; ++index) {
        const IppVCHuffmanSpec_32s* table = tables.Table(index);
        for (uint32_t slot = 0; slot < (1u << kVlcBriefBits); ++slot) {
            const Ipp32u entry = table->brief[slot];
            const uint32_t bits = (slot << (32 - kVlcBriefBits)) | (random() >> kVlcBriefBits);
            int length = 0;
            const VlcSlot* found = VlcFindCodewordInBits(*table, bits, &length);
            if (!VlcPackedIsPlain(entry)) {
                EXPECT_TRUE(!found || length > kVlcBriefBits || found->run >= 64 || found->run < 0)
                    << index << " " << slot;
                continue;
            }
            ASSERT_NE(found, nullptr) << index << " " << slot;
            EXPECT_EQ(static_cast<int>(VlcPackedLength(entry)), length) << index << " " << slot;
            EXPECT_EQ(VlcPackedLevel(entry), found->value) << index << " " << slot;
            EXPECT_EQ(static_cast<int32_t>(VlcPackedRun(entry)),
                      IsRunLevel(index) ? found->run : 0);
            ++brief;
        }
        EXPECT_EQ(table->shortOneThenFollowing, index == CMpegVlcTables::kDctCoefficientsFirst)
            << index;
    }
    EXPECT_GT(brief, 300);
}

// Each macroblock_escape adds 33; stuffing and patterns of no codeword are errors, and so are
// endless escapes and unknown tables.
TEST(MpegVlcTables, AddressIncrementEscapesAndDecodeErrors) {
    const struct {
        const char* bits;
        int32_t expected;  // 0: an error
    } cases[] = {{"1", 1},
                 {"0000 0001 000 1", 34},
                 {"0000 0001 000 0000 0001 000 011", 68},
                 {"0000 0001 000 0000 0011 000", 66},
                 {"0000 0001 111", 0},
                 {"0000 0000 0000", 0},
                 {"0000 0001 000 0000 0001 111", 0}};
    CMpegVlcTables tables;
    tables.Build();
    for (const auto& c : cases) {
        TestBits bits;
        WordCursor reader(bits.Put(c.bits));
        int32_t value = 0;
        EXPECT_EQ(tables.DecodeMacroblockAddressIncrement(reader.at, &value) == 0, c.expected != 0);
        if (c.expected == 0) continue;
        EXPECT_EQ(value, c.expected) << c.bits;
        EXPECT_EQ(reader.BitsRead(), bits.Size()) << c.bits;
    }
    TestBits escapes;
    for (int i = 0; i < 8000; ++i) escapes.Put("0000 0001 000");
    WordCursor reader(escapes);
    int32_t value = 0;
    EXPECT_NE(tables.DecodeMacroblockAddressIncrement(reader.at, &value), 0);
    EXPECT_LT(reader.BitsRead(), escapes.Size());  // stopped after more than a picture has

    WordCursor ones(TestBits().Put("1111 1111"));
    EXPECT_NE(tables.Decode(ones.at, &value, -1), 0);
    EXPECT_NE(tables.Decode(ones.at, &value, CMpegVlcTables::kTableCount), 0);
    EXPECT_EQ(ones.BitsRead(), 0u);
    tables.Free();
    EXPECT_EQ(tables.Table(0), nullptr);
}

}  // namespace
}  // namespace d2u
