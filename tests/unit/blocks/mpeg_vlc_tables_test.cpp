#include "decoder/mpeg_vlc_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "test_bits.h"

namespace d2u {
namespace {

using test::SourceOverBits;
using test::TestBits;

struct Entry {
    uint32_t code;
    int length;
    int32_t run;
    int32_t value;
};

bool IsRunLevel(int index) {
    return index >= CMpegVlcTables::kDctCoefficientsFirst;
}

int32_t Packed(int index, int32_t run, int32_t value) {
    return IsRunLevel(index) ? run * 65536 + (value & 0xFFFF) : value;
}

// Reads an input table in the layout of the table kernels (longest length, widths, entries
// per length, -1), independently of them. Checks the layout on the way.
std::vector<Entry> Parse(int index) {
    const Ipp32s* p = CMpegVlcTables::InputTable(index);
    const int longest = *p++;
    int widthSum = 0;
    for (int levels = *p++; levels > 0; --levels) widthSum += *p++;
    EXPECT_EQ(widthSum, longest) << "table " << index;
    std::vector<Entry> entries;
    for (int length = 1; length <= longest; ++length) {
        for (int count = *p++; count > 0; --count) {
            bool runLevel = IsRunLevel(index);
            entries.push_back({uint32_t(p[0]), length, runLevel ? p[1] : 0, p[runLevel ? 2 : 1]});
            p += runLevel ? 3 : 2;
        }
    }
    EXPECT_EQ(*p, -1) << "table " << index;
    return entries;
}

// Size, longest codeword and the part of the code space that ISO/IEC 13818-2 leaves unused,
// as a fraction of 2^17, of Tables B.1 to B.4, B.9, B.10, B.12 to B.15:
//   B.1: stuffing, six more 11-bit patterns 0000 0001 001..111, everything under 0000 000;
//   B.2: 00; B.3 and B.4: 000000; B.9: 0000 0000 0; B.10: 0000 0010 and 0000 000; B.12 and
//   B.13 are complete; B.14: 0000 0000 0000; B.15 in addition the six 12-bit and four 13-bit
//   codewords of table zero that it moves elsewhere.
struct TableFacts {
    int entries;
    int longest;
    uint64_t unusedOf2To17;
};
const TableFacts kFacts[CMpegVlcTables::kTableCount] = {
    {34, 11, 23u << 6}, {2, 2, 1u << 15},   {7, 6, 1u << 11},  {11, 6, 1u << 11},
    {64, 9, 1u << 8},   {33, 11, 3u << 9},  {12, 9, 0},        {12, 10, 0},
    {223, 17, 1u << 5}, {224, 17, 1u << 5}, {224, 17, 9u << 5}};

// The last bit of a signed codeword (coefficients, motion codes) is its sign.
TEST(MpegVlcTables, EveryTableIsAPrefixCodeOfTheExpectedSizeCoverageAndSigns) {
    for (int index = 0; index < CMpegVlcTables::kTableCount; ++index) {
        std::vector<Entry> entries = Parse(index);
        ASSERT_EQ(int(entries.size()), kFacts[index].entries) << "table " << index;
        EXPECT_EQ(CMpegVlcTables::InputTable(index)[0], kFacts[index].longest) << "table " << index;
        uint64_t covered = 0;
        for (const Entry& a : entries) {
            covered += uint64_t{1} << (17 - a.length);
            bool hasSign = IsRunLevel(index) ? a.run < kVlcEndOfBlock
                                             : index == CMpegVlcTables::kMotionCode && a.value;
            if (hasSign) {
                EXPECT_EQ(a.code & 1u, a.value < 0 ? 1u : 0u) << "table " << index;
            }
            for (const Entry& b : entries) {
                bool prefix =
                    &a != &b && a.length <= b.length && (b.code >> (b.length - a.length)) == a.code;
                ASSERT_FALSE(prefix) << "table " << index << " code " << a.code;
            }
        }
        EXPECT_EQ(covered + kFacts[index].unusedOf2To17, uint64_t{1} << 17) << "table " << index;
    }
}

TEST(MpegVlcTables, EveryEntryDecodesAtAnyBitPosition) {
    std::mt19937 random(7);
    for (int index = 0; index < CMpegVlcTables::kTableCount; ++index) {
        std::vector<Entry> entries = Parse(index);
        TestBits bits;
        std::vector<size_t> starts;
        for (const Entry& entry : entries) {
            bits.PutValue(random(), static_cast<int>(random() % 32));  // junk, skipped below
            starts.push_back(bits.Size());
            bits.PutValue(entry.code, entry.length);
        }
        SourceOverBits reader(bits);
        for (size_t i = 0; i < entries.size(); ++i) {
            for (size_t skip = starts[i] - reader.BitsRead(); skip > 0;
                 skip = starts[i] - reader.BitsRead()) {
                reader.source.SkipBits(skip > 16 ? 16 : static_cast<int>(skip));
            }
            int32_t value = 0;
            ASSERT_EQ(reader.tables.Decode(&value, index), 0)
                << "table " << index << " entry " << i;
            EXPECT_EQ(value, Packed(index, entries[i].run, entries[i].value)) << "table " << index;
            EXPECT_EQ(reader.BitsRead(), starts[i] + entries[i].length);
        }
    }
}

// The macroblock-level decodes (their own look-up tables) and the general decode agree on
// every pattern of the longest codeword's length: value, status and bits read, codes of no
// codeword included. The address escape is left to the escape test below.
TEST(MpegVlcTables, MacroblockLevelDecodesAgreeWithTheGeneralDecode) {
    using Decoder = int32_t (*)(CMpegVlcTables&, int32_t*);
    const struct {
        int table;
        Decoder decode;
    } decoders[] = {
        {CMpegVlcTables::kMacroblockAddressIncrement,
         [](CMpegVlcTables& t, int32_t* v) { return t.DecodeMacroblockAddressIncrement(v); }},
        {CMpegVlcTables::kMacroblockTypeI,
         [](CMpegVlcTables& t, int32_t* v) { return t.DecodeMacroblockType(v, 1); }},
        {CMpegVlcTables::kMacroblockTypeP,
         [](CMpegVlcTables& t, int32_t* v) { return t.DecodeMacroblockType(v, 2); }},
        {CMpegVlcTables::kMacroblockTypeB,
         [](CMpegVlcTables& t, int32_t* v) { return t.DecodeMacroblockType(v, 3); }},
        {CMpegVlcTables::kCodedBlockPattern,
         [](CMpegVlcTables& t, int32_t* v) { return t.DecodeCodedBlockPattern(v); }},
        {CMpegVlcTables::kMotionCode,
         [](CMpegVlcTables& t, int32_t* v) { return t.DecodeMotionCode(v); }},
    };
    auto skipTo = [](SourceOverBits& reader, size_t position) {
        for (size_t skip = position - reader.BitsRead(); skip > 0;
             skip = position - reader.BitsRead()) {
            reader.source.SkipBits(skip > 16 ? 16 : static_cast<int>(skip));
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
        SourceOverBits fast(bits);
        SourceOverBits general(bits);
        for (uint32_t pattern = 0; pattern < (1u << longest); ++pattern) {
            if (d.table == CMpegVlcTables::kMacroblockAddressIncrement && pattern == 0x008)
                continue;
            skipTo(fast, starts[pattern]);
            skipTo(general, starts[pattern]);
            int32_t fastValue = -99;
            int32_t generalValue = -99;
            const int32_t fastStatus = d.decode(fast.tables, &fastValue);
            const int32_t generalStatus = general.tables.Decode(&generalValue, d.table);
            ASSERT_EQ(fastStatus, generalStatus) << "table " << d.table << " bits " << pattern;
            ASSERT_EQ(fast.BitsRead(), general.BitsRead()) << "table " << d.table;
            if (generalStatus == 0) {
                ASSERT_EQ(fastValue, generalValue) << "table " << d.table;
            }
        }
    }
}

// Entries read off ISO/IEC 13818-2 Annex B: of the tables that intra pictures do not use (the
// comparison with ffmpeg checks the others), and long codewords.
TEST(MpegVlcTables, EntriesMatchTheStandard) {
    const struct {
        int table;
        const char* bits;
        int32_t run;
        int32_t value;
    } checks[] = {{2, "000001", 0, 17},
                  {2, "00010", 0, 26},
                  {3, "00010", 0, 30},
                  {3, "0000 10", 0, 22},
                  {4, "0000 0000 1", 0, 0},
                  {4, "0001 1010", 0, 49},
                  {5, "011", 0, -1},
                  {5, "0000 0011 001", 0, -16},
                  {7, "1111 1111 11", 0, 11},
                  {8, "11", 0, -1},
                  {9, "0000 0000 0001 0011 0", 1, 15},
                  {10, "0000 0011 010", 16, 1},
                  {10, "0000 0000 0010 0011", 0, -39}};
    for (const auto& check : checks) {
        TestBits bits;
        SourceOverBits reader(bits.Put(check.bits));
        int32_t value = 0;
        ASSERT_EQ(reader.tables.Decode(&value, check.table), 0) << check.bits;
        EXPECT_EQ(value, Packed(check.table, check.run, check.value)) << check.bits;
        EXPECT_EQ(reader.BitsRead(), bits.Size()) << check.bits;
    }
}

// Each macroblock_escape adds 33; stuffing and patterns of no codeword are errors, and so are
// endless escapes, unknown tables and a missing data source.
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
    for (const auto& c : cases) {
        TestBits bits;
        SourceOverBits reader(bits.Put(c.bits));
        int32_t value = 0;
        EXPECT_EQ(reader.tables.DecodeMacroblockAddressIncrement(&value) == 0, c.expected != 0);
        if (c.expected == 0) continue;
        EXPECT_EQ(value, c.expected) << c.bits;
        EXPECT_EQ(reader.BitsRead(), bits.Size()) << c.bits;
    }
    TestBits escapes;
    for (int i = 0; i < 8000; ++i) escapes.Put("0000 0001 000");
    SourceOverBits reader(escapes);
    int32_t value = 0;
    EXPECT_NE(reader.tables.DecodeMacroblockAddressIncrement(&value), 0);
    EXPECT_LT(reader.BitsRead(), escapes.Size());  // stopped after more than a picture has

    SourceOverBits ones(TestBits().Put("1111 1111"));
    EXPECT_NE(ones.tables.Decode(&value, -1), 0);
    EXPECT_NE(ones.tables.Decode(&value, CMpegVlcTables::kTableCount), 0);
    EXPECT_EQ(ones.BitsRead(), 0u);
    CMpegVlcTables unattached;
    unattached.Build();
    EXPECT_NE(unattached.Decode(&value, 1), 0);
    unattached.Free();
    EXPECT_EQ(unattached.Table(0), nullptr);
}

}  // namespace
}  // namespace d2u
