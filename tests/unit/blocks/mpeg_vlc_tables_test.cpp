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
// per length, -1), independently of them.
std::vector<Entry> Parse(int index) {
    const Ipp32s* p = CMpegVlcTables::InputTable(index);
    const int longest = *p++;
    p += *p + 1;  // the level widths
    std::vector<Entry> entries;
    for (int length = 1; length <= longest; ++length) {
        for (int count = *p++; count > 0; --count) {
            bool runLevel = IsRunLevel(index);
            entries.push_back({uint32_t(p[0]), length, runLevel ? p[1] : 0, p[runLevel ? 2 : 1]});
            p += runLevel ? 3 : 2;
        }
    }
    return entries;
}

// Every codeword of every table, after junk of any length, so that each is read at many bit
// positions and through every level of the lookup.
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
