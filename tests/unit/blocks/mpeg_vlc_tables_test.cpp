#include "decoder/mpeg_vlc_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "input/bitstream_data_source.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;

struct InputEntry {
    uint32_t code;
    int length;
    int32_t run;
    int32_t value;
};

struct InputTable {
    int longest = 0;
    std::vector<int> widths;
    std::vector<InputEntry> entries;
};

bool IsRunLevel(int index) {
    return index >= CMpegVlcTables::kDctCoefficientsFirst;
}

// Reads an input table in the layout of the table kernels, independently of them.
InputTable Parse(int index) {
    const Ipp32s* p = CMpegVlcTables::InputTable(index);
    InputTable table;
    table.longest = *p++;
    int levels = *p++;
    for (int i = 0; i < levels; ++i) table.widths.push_back(*p++);
    for (int length = 1; length <= table.longest; ++length) {
        int count = *p++;
        for (int i = 0; i < count; ++i) {
            InputEntry entry{static_cast<uint32_t>(p[0]), length, 0, 0};
            if (IsRunLevel(index)) {
                entry.run = p[1];
                entry.value = p[2];
                p += 3;
            } else {
                entry.value = p[1];
                p += 2;
            }
            table.entries.push_back(entry);
        }
    }
    EXPECT_EQ(*p, -1) << "table " << index;
    return table;
}

bool IsPrefixOf(const InputEntry& a, const InputEntry& b) {
    return a.length <= b.length && (b.code >> (b.length - a.length)) == a.code;
}

// Expected size of each table and the part of the code space that the standard leaves unused,
// as a fraction of 2^17:
//   B.1: stuffing and six more 11-bit patterns 0000 0001 001..111, and everything under
//        0000 000; B.2: 00; B.3 and B.4: 000000; B.9: 0000 0000 0; B.10: 0000 0010 and
//        0000 000; B.12 and B.13 are complete; B.14: 0000 0000 0000; B.15 in addition the six
//        12-bit and four 13-bit codewords of table zero that it moves elsewhere.
struct TableFacts {
    int entries;
    uint64_t unusedOf2To17;
};
const TableFacts kFacts[CMpegVlcTables::kTableCount] = {
    {34, 23u << 6}, {2, 1u << 15}, {7, 1u << 11},  {11, 1u << 11}, {64, 1u << 8},  {33, 3u << 9},
    {12, 0},        {12, 0},       {223, 1u << 5}, {224, 1u << 5}, {224, 9u << 5},
};

TEST(MpegVlcTables, EveryTableIsAPrefixCodeOfTheExpectedSizeAndCoverage) {
    const int longest[] = {11, 2, 6, 6, 9, 11, 9, 10, 17, 17, 17};
    for (int index = 0; index < CMpegVlcTables::kTableCount; ++index) {
        InputTable table = Parse(index);
        EXPECT_EQ(table.longest, longest[index]) << "table " << index;
        int widthSum = 0;
        for (int width : table.widths) widthSum += width;
        EXPECT_EQ(widthSum, table.longest) << "table " << index;
        ASSERT_EQ(static_cast<int>(table.entries.size()), kFacts[index].entries)
            << "table " << index;
        uint64_t covered = 0;
        for (size_t i = 0; i < table.entries.size(); ++i) {
            covered += uint64_t{1} << (17 - table.entries[i].length);
            for (size_t k = 0; k < table.entries.size(); ++k) {
                if (i != k) {
                    ASSERT_FALSE(IsPrefixOf(table.entries[i], table.entries[k]))
                        << "table " << index << " entries " << i << " and " << k;
                }
            }
        }
        EXPECT_EQ(covered + kFacts[index].unusedOf2To17, uint64_t{1} << 17) << "table " << index;
    }
}

TEST(MpegVlcTables, CoefficientTablesCarryEveryRunLevelPairWithBothSigns) {
    for (int index = CMpegVlcTables::kDctCoefficientsFirst;
         index <= CMpegVlcTables::kDctCoefficientsOne; ++index) {
        InputTable table = Parse(index);
        int endOfBlock = 0;
        int escape = 0;
        int positive = 0;
        int negative = 0;
        for (const InputEntry& entry : table.entries) {
            if (entry.run == kVlcEndOfBlock) {
                ++endOfBlock;
            } else if (entry.run == kVlcEscape) {
                ++escape;
                EXPECT_EQ(entry.length, 6);
                EXPECT_EQ(entry.code, 1u);  // 0000 01
            } else {
                EXPECT_GE(entry.run, 0);
                EXPECT_LE(entry.run, 31);
                EXPECT_LE(std::abs(entry.value), 40);
                EXPECT_NE(entry.value, 0);
                // The sign is the last bit of the codeword.
                EXPECT_EQ((entry.code & 1u) != 0, entry.value < 0);
                (entry.value > 0 ? positive : negative)++;
            }
        }
        EXPECT_EQ(escape, 1);
        EXPECT_EQ(endOfBlock, index == CMpegVlcTables::kDctCoefficientsFirst ? 0 : 1);
        EXPECT_EQ(positive, 111);
        EXPECT_EQ(negative, 111);
    }
}

// A data source over the given bits, followed by filler.
class TablesOverBits {
public:
    explicit TablesOverBits(const TestBits& bits) {
        std::vector<uint8_t> bytes = bits.Bytes();
        bytes.resize(bytes.size() + 8, 0);
        source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        tables.Build();
        tables.SetDataSource(&source);
    }
    size_t BitsRead() const {
        return static_cast<size_t>(source.wordPtr - source.buffer) * 32 +
               static_cast<size_t>(31 - source.bitOffset);
    }
    CBitstreamDataSource source;
    CMpegVlcTables tables;
};

TEST(MpegVlcTables, EveryEntryDecodesAtAnyBitPosition) {
    std::mt19937 random(7);
    for (int index = 0; index < CMpegVlcTables::kTableCount; ++index) {
        InputTable table = Parse(index);
        TestBits bits;
        std::vector<size_t> starts;
        for (const InputEntry& entry : table.entries) {
            bits.PutValue(random(), static_cast<int>(random() % 32));  // junk, skipped below
            starts.push_back(bits.Size());
            bits.PutValue(entry.code, entry.length);
        }
        TablesOverBits reader(bits);
        for (size_t i = 0; i < table.entries.size(); ++i) {
            size_t skip = starts[i] - reader.BitsRead();
            while (skip > 0) {
                int n = skip > 16 ? 16 : static_cast<int>(skip);
                reader.source.SkipBits(n);
                skip -= static_cast<size_t>(n);
            }
            int32_t value = 0;
            ASSERT_EQ(reader.tables.Decode(&value, index), 0)
                << "table " << index << " entry " << i;
            const InputEntry& entry = table.entries[i];
            int32_t expected =
                IsRunLevel(index) ? entry.run * 65536 + (entry.value & 0xFFFF) : entry.value;
            EXPECT_EQ(value, expected) << "table " << index << " entry " << i;
            EXPECT_EQ(reader.BitsRead(), starts[i] + static_cast<size_t>(entry.length));
        }
    }
}

struct SpotCheck {
    int table;
    const char* bits;
    int32_t run;
    int32_t value;
};

// Entries read off ISO/IEC 13818-2 Annex B.
TEST(MpegVlcTables, EntriesMatchTheStandard) {
    const SpotCheck checks[] = {
        {0, "1", 0, 1},
        {0, "0000 0101 11", 0, 16},
        {0, "0000 0011 000", 0, 33},
        {1, "01", 0, 17},
        {2, "000001", 0, 17},
        {2, "1", 0, 10},
        {2, "00010", 0, 26},
        {3, "00010", 0, 30},
        {3, "0000 10", 0, 22},
        {4, "0000 0000 1", 0, 0},
        {4, "111", 0, 60},
        {4, "0001 1010", 0, 49},
        {4, "0011 00", 0, 63},
        {5, "1", 0, 0},
        {5, "010", 0, 1},
        {5, "011", 0, -1},
        {5, "0000 0011 001", 0, -16},
        {5, "0000 0100 10", 0, 10},
        {6, "100", 0, 0},
        {6, "1111 1111 1", 0, 11},
        {7, "00", 0, 0},
        {7, "1111 1111 11", 0, 11},
        {8, "10", 0, 1},
        {8, "11", 0, -1},
        {9, "10", kVlcEndOfBlock, kVlcEndOfBlock},
        {9, "110", 0, 1},
        {9, "0000 01", kVlcEscape, kVlcEscape},
        {9, "0010 0110 1", 0, -5},
        {9, "0000 0000 0001 0011 0", 1, 15},
        {9, "0000 0000 0001 1011 1", 31, -1},
        {9, "0000 0000 1101 00", 0, 12},
        {9, "0000 0001 0100 0", 2, 4},
        {10, "0110", kVlcEndOfBlock, kVlcEndOfBlock},
        {10, "100", 0, 1},
        {10, "0010 0110 0", 3, 2},
        {10, "1111 1111 1", 0, -15},
        {10, "1110 00", 0, 4},
        {10, "0000 0011 010", 16, 1},
        {10, "0000 0000 0010 0011", 0, -39},
    };
    for (const SpotCheck& check : checks) {
        TestBits bits;
        bits.Put(check.bits);
        TablesOverBits reader(bits);
        int32_t value = 0;
        ASSERT_EQ(reader.tables.Decode(&value, check.table), 0) << check.bits;
        int32_t expected =
            IsRunLevel(check.table) ? check.run * 65536 + (check.value & 0xFFFF) : check.value;
        EXPECT_EQ(value, expected) << "table " << check.table << " " << check.bits;
        EXPECT_EQ(reader.BitsRead(), bits.Size()) << check.bits;
    }
}

TEST(MpegVlcTables, AddressIncrementAddsThirtyThreeForEachEscape) {
    const struct {
        const char* bits;
        int32_t expected;
        size_t length;
    } cases[] = {
        {"1", 1, 1},
        {"0000 0001 000 1", 34, 12},
        {"0000 0001 000 0000 0001 000 011", 68, 25},
        {"0000 0001 000 0000 0011 000", 66, 22},
    };
    for (const auto& c : cases) {
        TestBits bits;
        bits.Put(c.bits).Put("1111");
        TablesOverBits reader(bits);
        int32_t value = 0;
        EXPECT_EQ(reader.tables.DecodeMacroblockAddressIncrement(&value), 0) << c.bits;
        EXPECT_EQ(value, c.expected) << c.bits;
        EXPECT_EQ(reader.BitsRead(), c.length) << c.bits;
    }
}

TEST(MpegVlcTables, StuffingAndGarbageAreNoAddressIncrement) {
    for (const char* garbage : {"0000 0001 111", "0000 0000 0000", "0000 0001 000 0000 0001 111"}) {
        TestBits bits;
        bits.Put(garbage);
        TablesOverBits reader(bits);
        int32_t value = 0;
        EXPECT_NE(reader.tables.DecodeMacroblockAddressIncrement(&value), 0) << garbage;
    }
}

TEST(MpegVlcTables, EndlessEscapesStopAfterMoreMacroblocksThanAnyPictureHas) {
    TestBits bits;
    for (int i = 0; i < 8000; ++i) bits.Put("0000 0001 000");
    TablesOverBits reader(bits);
    int32_t value = 0;
    EXPECT_NE(reader.tables.DecodeMacroblockAddressIncrement(&value), 0);
    EXPECT_LT(reader.BitsRead(), bits.Size());
}

TEST(MpegVlcTables, DecodeRefusesUnknownTablesAndMissingSource) {
    TestBits bits;
    bits.Put("1111 1111");
    TablesOverBits reader(bits);
    int32_t value = 0;
    EXPECT_NE(reader.tables.Decode(&value, -1), 0);
    EXPECT_NE(reader.tables.Decode(&value, CMpegVlcTables::kTableCount), 0);
    EXPECT_EQ(reader.BitsRead(), 0u);
    CMpegVlcTables unattached;
    unattached.Build();
    EXPECT_NE(unattached.Decode(&value, 1), 0);
    unattached.Free();
    EXPECT_EQ(unattached.Table(0), nullptr);
}

}  // namespace
}  // namespace d2u
