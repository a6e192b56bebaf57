#include "primitives/reconstruct_dct_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "decoder/mpeg_tables.h"
#include "decoder/mpeg_vlc_tables.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;

constexpr Ipp16s kGuard = 0x5555;

struct Reader {
    explicit Reader(const TestBits& bits) : words(bits.Words()), word(words.data()) {}
    size_t BitsRead() const {
        return static_cast<size_t>(word - words.data()) * 32 + static_cast<size_t>(31 - offset);
    }
    std::vector<Ipp32u> words;
    Ipp32u* word;
    int offset = 31;
};

// A destination with guard elements on both sides.
struct GuardedBlock {
    std::vector<Ipp16s> storage = std::vector<Ipp16s>(192, kGuard);
    Ipp16s* block() { return storage.data() + 64; }
    Ipp16s operator[](int i) const { return storage[64 + i]; }
    bool Untouched() const {
        return std::all_of(storage.begin(), storage.end(), [](Ipp16s v) { return v == kGuard; });
    }
    bool GuardsIntact() const {
        return std::all_of(storage.begin(), storage.begin() + 64,
                           [](Ipp16s v) { return v == kGuard; }) &&
               std::all_of(storage.begin() + 128, storage.end(),
                           [](Ipp16s v) { return v == kGuard; });
    }
    // Every coefficient other than those listed is zero.
    bool ZeroExcept(std::initializer_list<int> positions) const {
        for (int i = 0; i < 64; ++i) {
            bool listed = std::find(positions.begin(), positions.end(), i) != positions.end();
            if (!listed && (*this)[i] != 0) return false;
        }
        return true;
    }
};

class BlockKernels : public ::testing::Test {
protected:
    void SetUp() override { tables.Build(); }
    const IppVCHuffmanSpec_32s* Table(int index) { return tables.Table(index); }

    IppStatus IntraMpeg2(Reader& reader, int quantiser, const std::vector<uint16_t>& matrix,
                         Ipp32s* predictor, int shift, GuardedBlock& out, bool chroma = false,
                         int acTable = CMpegVlcTables::kDctCoefficientsZero,
                         const uint32_t* scan = kZigzagScan) {
        return ippiReconstructDCTBlockIntra_MPEG2_32s(
            &reader.word, &reader.offset,
            Table(chroma ? CMpegVlcTables::kDctDcSizeChrominance
                         : CMpegVlcTables::kDctDcSizeLuminance),
            Table(acTable), scan, quantiser, matrix.data(), predictor, shift, out.block(), &last);
    }
    IppStatus IntraMpeg1(Reader& reader, int quantiser, const std::vector<uint16_t>& matrix,
                         Ipp32s* predictor, GuardedBlock& out) {
        return ippiReconstructDCTBlockIntra_MPEG1_32s(
            &reader.word, &reader.offset, Table(CMpegVlcTables::kDctDcSizeLuminance),
            Table(CMpegVlcTables::kDctCoefficientsZero), kZigzagScan, quantiser, matrix.data(),
            predictor, out.block(), &last);
    }
    IppStatus NonIntra(bool mpeg2, Reader& reader, int quantiser,
                       const std::vector<uint16_t>& matrix, GuardedBlock& out,
                       const uint32_t* scan = kZigzagScan) {
        auto function =
            mpeg2 ? ippiReconstructDCTBlock_MPEG2_32s : ippiReconstructDCTBlock_MPEG1_32s;
        return function(&reader.word, &reader.offset, Table(CMpegVlcTables::kDctCoefficientsFirst),
                        Table(CMpegVlcTables::kDctCoefficientsZero), scan, quantiser, matrix.data(),
                        out.block(), &last);
    }

    CMpegVlcTables tables;
    Ipp32s last = -1;
    const std::vector<uint16_t> flat = std::vector<uint16_t>(64, 16);
};

// intra_dc_precision 0 to 3 (8 to 11 bits): the predictor counts in units of the precision,
// and the coefficient is the predictor times intra_dc_mult (8, 4, 2, 1).
TEST_F(BlockKernels, Mpeg2IntraDcAtEveryPrecision) {
    const int intraDcMult[4] = {8, 4, 2, 1};
    for (int precision = 0; precision < 4; ++precision) {
        TestBits bits;
        bits.Put("101 101").Put("10");                      // luma size 3, +5, end of block
        bits.Put("110 010").Put("10");                      // chroma size 3, -5, end of block
        bits.Put("1111 1111 1").PutValue(0, 11).Put("10");  // luma size 11, -2047
        Reader reader(bits);
        Ipp32s luma = 128 << precision;
        Ipp32s chroma = 128 << precision;
        GuardedBlock out;
        ASSERT_EQ(IntraMpeg2(reader, 2, flat, &luma, 3 - precision, out), ippStsNoErr);
        EXPECT_EQ(luma, (128 << precision) + 5);
        EXPECT_EQ(out[0], ((128 << precision) + 5) * intraDcMult[precision]);
        EXPECT_EQ(last, 0);
        GuardedBlock second;
        ASSERT_EQ(IntraMpeg2(reader, 2, flat, &chroma, 3 - precision, second, true), ippStsNoErr);
        EXPECT_EQ(chroma, (128 << precision) - 5);
        EXPECT_EQ(second[0], ((128 << precision) - 5) * intraDcMult[precision]);
        GuardedBlock third;
        ASSERT_EQ(IntraMpeg2(reader, 2, flat, &luma, 3 - precision, third), ippStsNoErr);
        EXPECT_EQ(luma, (128 << precision) + 5 - 2047);
        EXPECT_EQ(third[0], std::max(-2048, luma * intraDcMult[precision]));
        EXPECT_EQ(reader.BitsRead(), bits.Size());
        EXPECT_TRUE(out.GuardsIntact() && second.GuardsIntact() && third.GuardsIntact());
    }
}

TEST_F(BlockKernels, Mpeg1IntraDcPredictorCountsInReconstructedUnits) {
    TestBits bits;
    bits.Put("01 11").Put("10");  // luma size 2, +3
    bits.Put("100").Put("10");    // size 0
    Reader reader(bits);
    Ipp32s predictor = 1024;
    GuardedBlock out;
    ASSERT_EQ(IntraMpeg1(reader, 8, flat, &predictor, out), ippStsNoErr);
    EXPECT_EQ(predictor, 1048);
    EXPECT_EQ(out[0], 1048);
    GuardedBlock same;
    ASSERT_EQ(IntraMpeg1(reader, 8, flat, &predictor, same), ippStsNoErr);
    EXPECT_EQ(same[0], 1048);
    // MPEG-1 has no mismatch control: an even sum leaves the last coefficient alone.
    EXPECT_TRUE(same.ZeroExcept({0}));
}

// MPEG-1 escape levels: 8 bits, or 16 bits for 128 to 255 in magnitude.
TEST_F(BlockKernels, Mpeg1EscapesCarryEightAndSixteenBitLevels) {
    TestBits bits;
    bits.Put("0000 01").PutValue(2, 6).Put("1000 0001");            // run 2, -127
    bits.Put("0000 01").PutValue(2, 6).Put("0000 0000 1100 1000");  // run 2, +200
    bits.Put("0000 01").PutValue(2, 6).Put("1000 0000 0011 1000");  // run 2, -200
    bits.Put("0000 01").PutValue(0, 6).Put("0111 1111");            // run 0, +127
    bits.Put("10");
    Reader reader(bits);
    GuardedBlock out;
    ASSERT_EQ(NonIntra(false, reader, 1, flat, out), ippStsNoErr);
    // Flat weights and quantiser 1: (2 * level + sign) * 16 * 1 / 16, already odd.
    EXPECT_EQ(out[kZigzagScan[2]], -255);
    EXPECT_EQ(out[kZigzagScan[5]], 401);
    EXPECT_EQ(out[kZigzagScan[8]], -401);
    EXPECT_EQ(out[kZigzagScan[9]], 255);
    EXPECT_TRUE(
        out.ZeroExcept({static_cast<int>(kZigzagScan[2]), static_cast<int>(kZigzagScan[5]),
                        static_cast<int>(kZigzagScan[8]), static_cast<int>(kZigzagScan[9])}));
    EXPECT_EQ(last, 9);
    EXPECT_EQ(reader.BitsRead(), bits.Size());
}

// MPEG-2 escape levels: 12 bits two's complement; results saturate to [-2048, 2047].
TEST_F(BlockKernels, Mpeg2EscapesCarryTwelveBitLevelsAndSaturate) {
    TestBits bits;
    bits.Put("100");                                         // DC size 0
    bits.Put("0000 01").PutValue(0, 6).PutValue(2047, 12);   // index 1
    bits.Put("0000 01").PutValue(0, 6).PutValue(0x800, 12);  // index 2: -2048
    bits.Put("0000 01").PutValue(4, 6).PutValue(0xFFD, 12);  // index 7: -3
    bits.Put("10");
    Reader reader(bits);
    Ipp32s predictor = 128;
    GuardedBlock out;
    ASSERT_EQ(IntraMpeg2(reader, 2, flat, &predictor, 3, out), ippStsNoErr);
    EXPECT_EQ(out[kZigzagScan[1]], 2047);
    EXPECT_EQ(out[kZigzagScan[2]], -2048);
    EXPECT_EQ(out[kZigzagScan[7]], -6);  // 2 * -3 * 16 * 2 / 32
    EXPECT_EQ(last, 7);
    EXPECT_EQ(reader.BitsRead(), bits.Size());
}

// MPEG-2 mismatch control: when the sum of all coefficients is even, the last one changes
// by one (odd values down, even values up).
TEST_F(BlockKernels, Mpeg2MismatchControlMakesTheSumOdd) {
    struct Case {
        const char* coded;
        int quantiser;
        int position;
        int expected;
        int expectedLast;
    } cases[] = {
        {"10 10", 4, 0, 6, 1},   // (2 + 1) * 16 * 4 / 32 = 6: even, so F[63] becomes 1
        {"10 10", 2, 0, 3, 0},   // 3: odd, F[63] stays 0
        {"11 10", 4, 0, -6, 1},  // -6: even
    };
    for (const Case& c : cases) {
        TestBits bits;
        bits.Put(c.coded);
        Reader reader(bits);
        GuardedBlock out;
        ASSERT_EQ(NonIntra(true, reader, c.quantiser, flat, out), ippStsNoErr);
        EXPECT_EQ(out[c.position], c.expected) << c.coded;
        EXPECT_EQ(out[63], c.expectedLast) << c.coded;
    }
    // The coefficient at 63 itself: 6 becomes 7, and -6 becomes -5.
    for (int sign : {1, -1}) {
        TestBits bits;
        bits.Put("0000 01")
            .PutValue(63, 6)
            .PutValue(static_cast<uint32_t>(sign) & 0xFFF, 12)
            .Put("10");
        Reader reader(bits);
        GuardedBlock out;
        ASSERT_EQ(NonIntra(true, reader, 4, flat, out), ippStsNoErr);
        EXPECT_EQ(out[63], sign > 0 ? 7 : -5);
        EXPECT_TRUE(out.ZeroExcept({63}));
    }
    // Intra blocks count their DC: 1024 alone is even.
    TestBits bits;
    bits.Put("100 10");
    Reader reader(bits);
    Ipp32s predictor = 128;
    GuardedBlock out;
    ASSERT_EQ(IntraMpeg2(reader, 2, flat, &predictor, 3, out), ippStsNoErr);
    EXPECT_EQ(out[0], 1024);
    EXPECT_EQ(out[63], 1);
}

// MPEG-1 makes every even reconstruction odd by moving it towards zero, and divides
// truncating towards zero.
TEST_F(BlockKernels, Mpeg1OddificationAndTruncation) {
    std::vector<uint16_t> matrix(64, 16);
    matrix[kZigzagScan[1]] = 19;
    TestBits bits;
    bits.Put("100");     // DC size 0
    bits.Put("110");     // index 1: +1, weight 19: 2 * 2 * 19 / 16 = 4.75 -> 4 -> 3
    bits.Put("111");     // index 2: -1 -> -2 * 16 * 2 / 16 = -4 -> -3
    bits.Put("0100 0");  // index 3: +2 -> 8 -> 7
    bits.Put("10");
    Reader reader(bits);
    Ipp32s predictor = 1024;
    GuardedBlock out;
    ASSERT_EQ(IntraMpeg1(reader, 2, matrix, &predictor, out), ippStsNoErr);
    EXPECT_EQ(out[kZigzagScan[1]], 3);
    EXPECT_EQ(out[kZigzagScan[2]], -3);
    EXPECT_EQ(out[kZigzagScan[3]], 7);

    TestBits nonIntra;
    nonIntra.Put("10 111 10");  // first +1, then -1 (run 0), end
    Reader second(nonIntra);
    GuardedBlock residual;
    ASSERT_EQ(NonIntra(false, second, 2, flat, residual), ippStsNoErr);
    EXPECT_EQ(residual[0], 5);  // 3 * 16 * 2 / 16 = 6 -> 5
    EXPECT_EQ(residual[1], -5);
}

TEST_F(BlockKernels, Mpeg2DividesTruncatingTowardsZero) {
    std::vector<uint16_t> matrix(64, 19);
    TestBits bits;
    bits.Put("100 111 10");  // DC size 0, index 1: -1, end
    Reader reader(bits);
    Ipp32s predictor = 128;
    GuardedBlock out;
    ASSERT_EQ(IntraMpeg2(reader, 1, matrix, &predictor, 3, out), ippStsNoErr);
    EXPECT_EQ(out[kZigzagScan[1]], -1);  // -38 / 32 = -1.19 -> -1
}

TEST_F(BlockKernels, Mpeg1SaturatesToTheCoefficientRange) {
    std::vector<uint16_t> heavy(64, 255);
    TestBits bits;
    bits.Put("0000 01").PutValue(0, 6).Put("0000 0000 1111 1111");  // +255
    bits.Put("0000 01").PutValue(0, 6).Put("1000 0000 0000 0001");  // -255
    bits.Put("10");
    Reader reader(bits);
    GuardedBlock out;
    ASSERT_EQ(NonIntra(false, reader, 31, heavy, out), ippStsNoErr);
    EXPECT_EQ(out[0], 2047);
    EXPECT_EQ(out[1], -2048);
}

TEST_F(BlockKernels, TheScanPlacesCoefficients) {
    TestBits bits;
    bits.Put("0101 0 10");  // first coefficient: run 2, level +1
    for (const uint32_t* scan : {kZigzagScan, kAlternateScan}) {
        Reader reader(bits);
        GuardedBlock out;
        ASSERT_EQ(NonIntra(true, reader, 2, flat, out, scan), ippStsNoErr);
        EXPECT_EQ(out[static_cast<int>(scan[2])], 3);
        EXPECT_TRUE(out.ZeroExcept({static_cast<int>(scan[2]), 63}));
    }
}

TEST_F(BlockKernels, IntraVlcTableOneDecodesItsOwnCodewords) {
    TestBits bits;
    bits.Put("100").Put("1110 00").Put("0110");  // DC size 0, (0, +4) in table one, end
    Reader reader(bits);
    Ipp32s predictor = 128;
    GuardedBlock out;
    ASSERT_EQ(
        IntraMpeg2(reader, 2, flat, &predictor, 3, out, false, CMpegVlcTables::kDctCoefficientsOne),
        ippStsNoErr);
    EXPECT_EQ(out[kZigzagScan[1]], 8);
    EXPECT_EQ(reader.BitsRead(), bits.Size());
}

// Corrupt blocks fail without touching the destination.
TEST_F(BlockKernels, CorruptBlocksFailAndWriteNothing) {
    auto intraWith = [](int coefficients, const char* tail) {
        TestBits bits;
        bits.Put("100");
        for (int i = 0; i < coefficients; ++i) bits.Put("110");
        bits.Put(tail);
        return bits;
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
    };
    for (const auto& c : cases) {
        Reader reader(c.bits);
        Ipp32s predictor = 128;
        GuardedBlock out;
        EXPECT_NE(IntraMpeg2(reader, 2, flat, &predictor, 3, out), ippStsNoErr) << c.what;
        EXPECT_TRUE(out.Untouched()) << c.what;
    }
    TestBits exactly63 = intraWith(63, "10");
    Reader reader(exactly63);
    Ipp32s predictor = 128;
    GuardedBlock out;
    EXPECT_EQ(IntraMpeg2(reader, 2, flat, &predictor, 3, out), ippStsNoErr);
    EXPECT_EQ(last, 63);
    EXPECT_TRUE(out.GuardsIntact());

    TestBits badDc;
    badDc.Put("1111 1111 1111");  // no chroma DC size has twelve ones
    Reader dcReader(badDc);
    GuardedBlock dcOut;
    EXPECT_NE(IntraMpeg2(dcReader, 2, flat, &predictor, 3, dcOut, true), ippStsNoErr);
    EXPECT_TRUE(dcOut.Untouched());
}

TEST_F(BlockKernels, ArgumentsOutOfRangeAreRefused) {
    TestBits bits;
    bits.Put("100 10");
    Reader reader(bits);
    Ipp32s predictor = 128;
    GuardedBlock out;
    EXPECT_NE(IntraMpeg2(reader, 2, flat, &predictor, 4, out), ippStsNoErr);
    EXPECT_NE(IntraMpeg2(reader, 2, flat, &predictor, -1, out), ippStsNoErr);
    EXPECT_NE(ippiReconstructDCTBlock_MPEG2_32s(&reader.word, &reader.offset, nullptr,
                                                Table(CMpegVlcTables::kDctCoefficientsZero),
                                                kZigzagScan, 2, flat.data(), out.block(), &last),
              ippStsNoErr);
    reader.offset = 32;
    EXPECT_NE(NonIntra(true, reader, 2, flat, out), ippStsNoErr);
    EXPECT_TRUE(out.Untouched());
}

}  // namespace
}  // namespace d2u
