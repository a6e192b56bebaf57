#include "decoder/coefficient_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "decoder/mpeg_tables.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;
using test::WordCursor;

constexpr Ipp16s kGuard = 0x5555;

const CMpegVlcTables& Tables() {
    static CMpegVlcTables tables;
    static const bool built = tables.Build() == 0;
    EXPECT_TRUE(built);
    return tables;
}

const IppVCHuffmanSpec_32s* Table(int index) {
    return Tables().Table(index);
}

// One intra block (block 0 of a 4:2:0 macroblock) read into coefficients, between guards.
struct IntraBlock {
    IppStatus Read(BitReader& bits, bool mpeg1, const Ipp32u* scan, int quantiser, int dcShift = 3,
                   Ipp32s predictor = 0, Ipp32u pattern = 0x20) {
        ScaleMatrix(scan, matrix.data(), quantiser, true, &scaled);
        predictors[0] = predictor;
        const IntraMacroblockBlocks blocks{Table(CMpegVlcTables::kDctDcSizeLuminance),
                                           Table(CMpegVlcTables::kDctDcSizeChrominance),
                                           Table(CMpegVlcTables::kDctCoefficientsZero),
                                           pattern,
                                           6,
                                           &scaled,
                                           &scaled,
                                           predictors,
                                           dcShift,
                                           storage.data() + 64};
        return CheckedIntraMacroblockReader(blocks, mpeg1)(bits, blocks);
    }
    const Ipp16s* Block() const { return storage.data() + 64; }
    bool GuardsIntact() const {
        auto guard = [](Ipp16s value) { return value == kGuard; };
        return std::all_of(storage.begin(), storage.begin() + 64, guard) &&
               std::all_of(storage.begin() + 128, storage.end(), guard);
    }

    std::vector<uint16_t> matrix = std::vector<uint16_t>(64, 16);
    ScaledMatrix scaled;
    Ipp32s predictors[3] = {};
    std::vector<Ipp16s> storage = std::vector<Ipp16s>(7 * 64, kGuard);
};

// After the escape codeword 0000 01: a 6-bit run, then the level, in MPEG-1 as 8 bits or as 16
// bits for 128 to 255 in magnitude, in MPEG-2 as 12 bits. With flat weights of 16 an intra
// coefficient is 2 * level (MPEG-1 at quantiser 1 made odd towards zero, MPEG-2 at 2), saturated.
TEST(CoefficientReader, EscapesOfBothStandards) {
    const struct {
        bool mpeg2;
        const char* runAndLevel;
        int index;
        int value;
    } cases[] = {{false, "000010 1000 0001", 3, -253},
                 {false, "000010 0000 0000 1100 1000", 3, 399},
                 {false, "000010 1000 0000 0011 1000", 3, -399},
                 {false, "111110 0111 1111", 63, 253},
                 {true, "000011 0011 1111 1111", 4, 2046},
                 {true, "000011 0111 1111 1111", 4, 2047},
                 {true, "000000 1000 0000 0000", 1, -2048},
                 {true, "000100 1111 1111 1101", 5, -6}};
    for (const auto& c : cases) {
        for (const Ipp32u* scan : {kZigzagScan, kAlternateScan}) {
            TestBits bits;
            bits.Put("100").Put("0000 01").Put(c.runAndLevel).Put("10");  // DC size 0 ... EOB
            WordCursor at(bits);
            IntraBlock block;
            ASSERT_EQ(block.Read(at.at, !c.mpeg2, scan, c.mpeg2 ? 2 : 1), ippStsNoErr);
            const int position = static_cast<int>(scan[c.index]);
            for (int i = 0; i < 64; ++i) {
                const bool toggled = c.mpeg2 && i == 63 && c.value % 2 == 0;
                const int expected = i == position ? c.value ^ toggled : toggled;
                EXPECT_EQ(block.Block()[i], expected) << c.runAndLevel << " position " << i;
            }
            EXPECT_EQ(at.BitsRead(), bits.Size()) << c.runAndLevel;
            EXPECT_TRUE(block.GuardsIntact());
        }
    }
}

// A block with a codeword of no entry, too many coefficients, a run past the end or no end of
// block fails without writing outside its 64 values.
TEST(CoefficientReader, CorruptBlocksFailWithinTheBlock) {
    auto intraWith = [](int coefficients, const char* tail) {
        TestBits bits;
        bits.Put("100");  // DC size 0
        for (int i = 0; i < coefficients; ++i) bits.Put("110");
        return bits.Put(tail);
    };
    const struct {
        const char* what;
        TestBits bits;
    } cases[] = {
        {"64 coefficients after the DC", intraWith(64, "10")},
        {"no end of block after the 63rd", intraWith(63, "110")},
        {"run past the end", intraWith(10, "0000 01 111111 000000000001 10")},
        {"codeword of no entry", intraWith(3, "0000 0000 0000 0000 0")},
        {"data ends without end of block", intraWith(5, "")},
        {"DC size 12 and more", TestBits().Put("1111 1111 1111")},
    };
    for (const auto& c : cases) {
        WordCursor at(c.bits);
        IntraBlock block;
        EXPECT_NE(block.Read(at.at, false, kZigzagScan, 2), ippStsNoErr) << c.what;
        EXPECT_TRUE(block.GuardsIntact()) << c.what;
    }
    WordCursor full(intraWith(63, "10"));
    IntraBlock block;
    EXPECT_EQ(block.Read(full.at, false, kZigzagScan, 2), ippStsNoErr);
    EXPECT_TRUE(block.GuardsIntact());
}

// Records that cannot be read get no reader.
TEST(CoefficientReader, RecordsThatCannotBeReadGetNoReader) {
    ScaledMatrix matrix{};
    Ipp16s scratch[64];
    const IppVCHuffmanSpec_32s* first = Table(CMpegVlcTables::kDctCoefficientsFirst);
    const IppVCHuffmanSpec_32s* zero = Table(CMpegVlcTables::kDctCoefficientsZero);
    const IppVCHuffmanSpec_32s* dc = Table(CMpegVlcTables::kDctDcSizeLuminance);
    auto nonIntra = [&](int blockCount, const IppVCHuffmanSpec_32s* table) {
        const NonIntraMacroblockBlocks m{table,   zero,    0x3F,    blockCount, &matrix,
                                         &matrix, nullptr, scratch, nullptr};
        return CheckedNonIntraMacroblockReader(m, false) != nullptr;
    };
    EXPECT_TRUE(nonIntra(6, first));
    EXPECT_FALSE(nonIntra(9, first));
    EXPECT_FALSE(nonIntra(0, first));
    EXPECT_FALSE(nonIntra(6, nullptr));
    EXPECT_FALSE(nonIntra(6, dc));  // not a run/level table
    auto intra = [&](int dcShift, bool mpeg1) {
        const IntraMacroblockBlocks m{dc,      dc,      zero,    0x3F,    6,
                                      &matrix, &matrix, nullptr, dcShift, nullptr};
        return CheckedIntraMacroblockReader(m, mpeg1) != nullptr;
    };
    EXPECT_TRUE(intra(0, false));
    EXPECT_FALSE(intra(4, false));
    EXPECT_TRUE(intra(4, true));  // MPEG-1 has no dc precision
}

}  // namespace
}  // namespace d2u
