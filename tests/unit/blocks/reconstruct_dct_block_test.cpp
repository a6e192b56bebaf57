#include "decoder/coefficient_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "decoder/mpeg_tables.h"
#include "primitives/inverse_dct.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;
using test::WordCursor;

constexpr Ipp16s kGuard = 0x5555;

// Runs the block kernels into a destination with 64 guard values on each side.
class BlockKernels : public ::testing::Test {
protected:
    void SetUp() override { tables.Build(); }

    IppStatus Intra(bool mpeg2, WordCursor& at, Ipp32s* predictor, int dcShift = 3,
                    bool chroma = false) {
        Reset();
        auto dc = tables.Table(chroma ? CMpegVlcTables::kDctDcSizeChrominance
                                      : CMpegVlcTables::kDctDcSizeLuminance);
        auto ac = tables.Table(CMpegVlcTables::kDctCoefficientsZero);
        return mpeg2 ? ippiReconstructDCTBlockIntra_MPEG2_32s(&at.word, &at.offset, dc, ac,
                                                              kZigzagScan, quantiser, matrix.data(),
                                                              predictor, dcShift, Block(), &last)
                     : ippiReconstructDCTBlockIntra_MPEG1_32s(&at.word, &at.offset, dc, ac,
                                                              kZigzagScan, quantiser, matrix.data(),
                                                              predictor, Block(), &last);
    }
    IppStatus NonIntra(bool mpeg2, WordCursor& at, const Ipp32u* scan = kZigzagScan) {
        Reset();
        auto kernel = mpeg2 ? ippiReconstructDCTBlock_MPEG2_32s : ippiReconstructDCTBlock_MPEG1_32s;
        return kernel(&at.word, &at.offset, tables.Table(CMpegVlcTables::kDctCoefficientsFirst),
                      tables.Table(CMpegVlcTables::kDctCoefficientsZero), scan, quantiser,
                      matrix.data(), Block(), &last);
    }

    void Reset() { storage.assign(192, kGuard); }
    Ipp16s* Block() { return storage.data() + 64; }
    bool GuardsIntact() const {
        auto guard = [](Ipp16s value) { return value == kGuard; };
        return std::all_of(storage.begin(), storage.begin() + 64, guard) &&
               std::all_of(storage.begin() + 128, storage.end(), guard);
    }
    bool Untouched() const {
        return std::all_of(storage.begin(), storage.end(), [](Ipp16s v) { return v == kGuard; });
    }

    CMpegVlcTables tables;
    std::vector<Ipp16s> storage;
    Ipp32s last = -1;
    int quantiser = 2;
    std::vector<uint16_t> matrix = std::vector<uint16_t>(64, 16);
};

// After the escape codeword 0000 01: a 6-bit run, then the level, in MPEG-1 as 8 bits or as 16
// bits for 128 to 255 in magnitude, in MPEG-2 as 12 bits. With flat weights of 16 the
// coefficient is 2 * level + sign (MPEG-1 at quantiser 1, MPEG-2 at 2), saturated.
TEST_F(BlockKernels, EscapesOfBothStandards) {
    const struct {
        bool mpeg2;
        const char* runAndLevel;
        int index;
        int value;
    } cases[] = {{false, "000010 1000 0001", 2, -255},
                 {false, "000010 0000 0000 1100 1000", 2, 401},
                 {false, "000010 1000 0000 0011 1000", 2, -401},
                 {false, "111111 0111 1111", 63, 255},
                 {true, "000011 0111 1111 1111", 3, 2047},
                 {true, "000000 1000 0000 0000", 0, -2048},
                 {true, "000100 1111 1111 1101", 4, -7}};
    for (const auto& c : cases) {
        for (const Ipp32u* scan : {kZigzagScan, kAlternateScan}) {
            TestBits bits;
            bits.Put("0000 01").Put(c.runAndLevel).Put("10");
            WordCursor at(bits);
            quantiser = c.mpeg2 ? 2 : 1;
            ASSERT_EQ(NonIntra(c.mpeg2, at, scan), ippStsNoErr) << c.runAndLevel;
            const int position = static_cast<int>(scan[c.index]);
            for (int i = 0; i < 64; ++i) {
                int expected = i == position ? c.value : (i == 63 && c.value % 2 == 0 ? 1 : 0);
                EXPECT_EQ(Block()[i], expected) << c.runAndLevel << " position " << i;
            }
            EXPECT_EQ(last, c.index);
            EXPECT_EQ(at.BitsRead(), bits.Size()) << c.runAndLevel;
        }
    }
}

// A block with a codeword of no entry, too many coefficients, a run past the end or no end of
// block fails without writing outside its 64 values; arguments out of range fail and write
// nothing.
TEST_F(BlockKernels, CorruptBlocksAndBadArgumentsFailWithinTheBlock) {
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
    };
    Ipp32s predictor = 128;
    for (const auto& c : cases) {
        WordCursor at(c.bits);
        EXPECT_NE(Intra(true, at, &predictor), ippStsNoErr) << c.what;
        EXPECT_TRUE(GuardsIntact()) << c.what;
    }
    WordCursor full(intraWith(63, "10"));
    EXPECT_EQ(Intra(true, full, &predictor), ippStsNoErr);
    EXPECT_EQ(last, 63);
    EXPECT_TRUE(GuardsIntact());

    // Chroma DC size 11, its difference, then zeros that begin no coefficient codeword.
    WordCursor badAc(TestBits().Put("1111 1111 1111"));
    EXPECT_NE(Intra(true, badAc, &predictor, 3, true), ippStsNoErr);
    EXPECT_TRUE(GuardsIntact());

    WordCursor at(intraWith(0, "10"));
    EXPECT_NE(Intra(true, at, &predictor, 4), ippStsNoErr);
    EXPECT_NE(Intra(true, at, &predictor, -1), ippStsNoErr);
    EXPECT_NE(ippiReconstructDCTBlock_MPEG2_32s(&at.word, &at.offset, nullptr,
                                                tables.Table(CMpegVlcTables::kDctCoefficientsZero),
                                                kZigzagScan, 2, matrix.data(), Block(), &last),
              ippStsNoErr);
    at.offset = 32;
    EXPECT_NE(NonIntra(true, at), ippStsNoErr);
    EXPECT_TRUE(Untouched());
}

// A macroblock's blocks read in one pass give what the block functions give one block at a
// time, in both standards: the same status, the same bits read and the same coefficients, residual
// and DC predictors. Random bits make every kind of codeword, escapes with a zero level, runs past
// the end and codewords of no entry; matrices, quantisers, scans and placements vary too.
TEST(MacroblockBlocks, OnePassEqualsTheBlockFunctions) {
    CMpegVlcTables tables;
    tables.Build();
    std::mt19937 random(11);
    const ResidualPlacement placements[8] = {{0, 32},   {8, 32},   {128, 32}, {136, 32},
                                             {256, 16}, {384, 16}, {320, 16}, {448, 16}};
    // Each trial starts somewhere in the first 3,600 words, with enough after it for 8 blocks
    // of 64 escapes, the most a macroblock can read.
    TestBits bits;
    for (int i = 0; i < 4000; ++i) bits.PutValue(random(), 32);
    const WordCursor stream(bits);
    auto startAt = [&stream](int word, int skip) {
        WordCursor at = stream;
        at.word = at.words.data() + word;
        at.offset = 31 - skip;
        return at;
    };
    int failures = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int start = static_cast<int>(random() % 3600);
        const bool intra = trial % 2 == 1;
        const bool mpeg1 = trial % 4 >= 2;
        const int blockCount = trial % 3 == 0 && !mpeg1 ? 8 : 6;
        const Ipp32u pattern = random() & ((1u << blockCount) - 1u);
        const Ipp32u* scan = random() % 2 ? kZigzagScan : kAlternateScan;
        const int quantiser = static_cast<int>(random() % 140);
        std::vector<uint16_t> lumaMatrix(64), chromaMatrix(64);
        for (auto& w : lumaMatrix) w = static_cast<uint16_t>(random() % 512);
        for (auto& w : chromaMatrix) w = static_cast<uint16_t>(random() % 512);
        ScaledMatrix luma, chroma;
        ScaleMatrix(scan, lumaMatrix.data(), quantiser, intra, &luma);
        ScaleMatrix(scan, chromaMatrix.data(), quantiser, intra, &chroma);
        const int dcShift = static_cast<int>(random() % 4);
        const int skip = static_cast<int>(random() % 32);
        const IppVCHuffmanSpec_32s* dcLuma = tables.Table(CMpegVlcTables::kDctDcSizeLuminance);
        const IppVCHuffmanSpec_32s* dcChroma = tables.Table(CMpegVlcTables::kDctDcSizeChrominance);
        const IppVCHuffmanSpec_32s* first = tables.Table(CMpegVlcTables::kDctCoefficientsFirst);
        const IppVCHuffmanSpec_32s* ac =
            tables.Table(random() % 2 && !mpeg1 ? CMpegVlcTables::kDctCoefficientsOne
                                                : CMpegVlcTables::kDctCoefficientsZero);
        const IppVCHuffmanSpec_32s* zero = tables.Table(CMpegVlcTables::kDctCoefficientsZero);

        // One block at a time.
        WordCursor expectedAt = startAt(start, skip);
        std::vector<Ipp16s> expected(8 * 64, 7), scratch(64);
        Ipp32s expectedPredictors[3] = {100, -3, 2000};
        IppStatus expectedStatus = ippStsNoErr;
        for (int b = 0; b < blockCount && expectedStatus == ippStsNoErr; ++b) {
            if (!((pattern >> (blockCount - 1 - b)) & 1)) continue;
            const std::vector<uint16_t>& m = b < 4 ? lumaMatrix : chromaMatrix;
            Ipp32s last = 0;
            Ipp32s* predictor = &expectedPredictors[DcPredictorIndex(b)];
            if (intra && mpeg1) {
                expectedStatus = ippiReconstructDCTBlockIntra_MPEG1_32s(
                    &expectedAt.word, &expectedAt.offset, b < 4 ? dcLuma : dcChroma, ac, scan,
                    quantiser, m.data(), predictor, expected.data() + 64 * b, &last);
            } else if (intra) {
                expectedStatus = ippiReconstructDCTBlockIntra_MPEG2_32s(
                    &expectedAt.word, &expectedAt.offset, b < 4 ? dcLuma : dcChroma, ac, scan,
                    quantiser, m.data(), predictor, dcShift, expected.data() + 64 * b, &last);
            } else {
                auto block =
                    mpeg1 ? ippiReconstructDCTBlock_MPEG1_32s : ippiReconstructDCTBlock_MPEG2_32s;
                expectedStatus = block(&expectedAt.word, &expectedAt.offset, first, zero, scan,
                                       quantiser, m.data(), scratch.data(), &last);
                if (expectedStatus == ippStsNoErr)
                    ippiDCT8x8Inv_16s_C1R(scratch.data(), expected.data() + placements[b].start,
                                          placements[b].rowBytes);
            }
        }

        // The whole macroblock; intra blocks also into a picture of eight blocks side by side
        // in every other trial.
        WordCursor at = startAt(start, skip);
        std::vector<Ipp16s> actual(8 * 64, 7), blocks(8 * 64);
        Ipp32s predictors[3] = {100, -3, 2000};
        constexpr int kPictureStep = 8 * 8;
        std::vector<Ipp8u> picture(8 * kPictureStep, 5), expectedPicture(picture);
        const bool intoPicture = intra && trial % 3 != 2;
        IppStatus status;
        if (intra) {
            IntraMacroblockBlocks macroblock{dcLuma, dcChroma, ac,         pattern, blockCount,
                                             &luma,  &chroma,  predictors, dcShift, actual.data()};
            IntraSamples samples = {};
            for (int b = 0; b < 8; ++b) {
                samples.at[b] = picture.data() + 8 * b;
                samples.step[b] = kPictureStep;
            }
            if (intoPicture) macroblock.samples = &samples;
            auto read = mpeg1 ? ReconstructIntraMacroblock_MPEG1 : ReconstructIntraMacroblock_MPEG2;
            status = read(&at.word, &at.offset, macroblock);
        } else {
            const NonIntraMacroblockBlocks macroblock{first,      zero,          pattern,
                                                      blockCount, &luma,         &chroma,
                                                      placements, blocks.data(), actual.data()};
            auto read =
                mpeg1 ? ReconstructNonIntraMacroblock_MPEG1 : ReconstructNonIntraMacroblock_MPEG2;
            status = read(&at.word, &at.offset, macroblock);
        }
        ASSERT_EQ(status, expectedStatus) << "trial " << trial;
        failures += status != ippStsNoErr;
        EXPECT_EQ(at.BitsRead(), expectedAt.BitsRead()) << "trial " << trial;
        if (status != ippStsNoErr) continue;
        // Into a picture the coefficients are working space.
        if (!intoPicture) {
            ASSERT_EQ(actual, expected) << "trial " << trial;
        } else {
            for (int b = 0; b < blockCount; ++b) {
                if ((pattern >> (blockCount - 1 - b)) & 1)
                    ippiDCT8x8InvIntra_16s8u_C1R(expected.data() + 64 * b,
                                                 expectedPicture.data() + 8 * b, kPictureStep);
            }
            ASSERT_EQ(picture, expectedPicture) << "trial " << trial;
        }
        EXPECT_TRUE(std::equal(predictors, predictors + 3, expectedPredictors)) << trial;
    }
    // Both outcomes were exercised.
    EXPECT_GT(failures, 100);
    EXPECT_LT(failures, 2900);
}

TEST(MacroblockBlocks, BadArgumentsReadNothing) {
    CMpegVlcTables tables;
    tables.Build();
    TestBits bits;
    bits.Put("1010 1010 1010 1010 1010 1010");  // per block: run 0 level 1, end of block
    WordCursor at(bits);
    ScaledMatrix matrix;
    const std::vector<uint16_t> weights(64, 16);
    ScaleMatrix(kZigzagScan, weights.data(), 2, false, &matrix);
    const ResidualPlacement placements[8] = {};
    std::vector<Ipp16s> residual(512), scratch(512);
    const IppVCHuffmanSpec_32s* first = tables.Table(CMpegVlcTables::kDctCoefficientsFirst);
    const IppVCHuffmanSpec_32s* zero = tables.Table(CMpegVlcTables::kDctCoefficientsZero);
    auto run = [&](int blockCount, const IppVCHuffmanSpec_32s* table) {
        const NonIntraMacroblockBlocks macroblock{table,      zero,           0x3F,
                                                  blockCount, &matrix,        &matrix,
                                                  placements, scratch.data(), residual.data()};
        return ReconstructNonIntraMacroblock_MPEG2(&at.word, &at.offset, macroblock);
    };
    EXPECT_EQ(run(9, first), ippStsBadArgErr);
    EXPECT_EQ(run(0, first), ippStsBadArgErr);
    EXPECT_EQ(run(6, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(run(6, tables.Table(CMpegVlcTables::kDctDcSizeLuminance)), ippStsBadArgErr);
    Ipp32s predictors[3] = {};
    const IntraMacroblockBlocks badShift{first,   first,   zero,       0x3F, 6,
                                         &matrix, &matrix, predictors, 4,    residual.data()};
    EXPECT_EQ(ReconstructIntraMacroblock_MPEG2(&at.word, &at.offset, badShift), ippStsBadArgErr);
    // A coded block without its place in the picture.
    std::vector<Ipp8u> picture(64);
    IntraSamples samples = {};
    for (int b = 0; b < 6; ++b) samples.at[b] = picture.data();
    samples.at[3] = nullptr;
    IntraMacroblockBlocks unplaced{first,   first,   zero,       0x3F, 6,
                                   &matrix, &matrix, predictors, 0,    residual.data()};
    unplaced.samples = &samples;
    EXPECT_EQ(ReconstructIntraMacroblock_MPEG2(&at.word, &at.offset, unplaced), ippStsNullPtrErr);
    EXPECT_EQ(at.BitsRead(), 0u);
    EXPECT_EQ(run(6, first), ippStsNoErr);
    EXPECT_EQ(at.BitsRead(), 24u);
}

}  // namespace
}  // namespace d2u
