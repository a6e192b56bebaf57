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

const CMpegVlcTables& Tables() {
    static CMpegVlcTables tables;
    static const bool built = tables.Build() == 0;
    EXPECT_TRUE(built);
    return tables;
}

const IppVCHuffmanSpec_32s* Table(int index) {
    return Tables().Table(index);
}

// A block decoded the plain way, one codeword at a time through the general decode, with the
// inverse quantisation written out: what the readers must give.
class ReferenceBlock {
public:
    ReferenceBlock(bool intra, bool mpeg1, const Ipp32u* scan, const uint16_t* matrix,
                   int quantiser)
        : intra(intra),
          mpeg1(mpeg1),
          scan(scan),
          matrix(matrix),
          quantiser(std::min(std::max(quantiser, 0), 127)) {}

    IppStatus Read(BitReader& bits, const IppVCHuffmanSpec_32s* dcTable, Ipp32s* predictor,
                   int dcShift, Ipp16s out[64]) {
        std::fill(out, out + 64, 0);
        parity = 0;
        if (intra && !ReadDc(bits, dcTable, predictor)) return ippStsVLCErr;
        const IppVCHuffmanSpec_32s* table =
            intra ? Table(intraTable) : Table(CMpegVlcTables::kDctCoefficientsFirst);
        for (int index = intra ? 0 : -1;;) {
            Ipp32s packed = 0;
            if (ippiVCHuffmanDecodeOne_1u32s(bits, &packed, table) != ippStsNoErr)
                return ippStsVLCErr;
            table = intra ? Table(intraTable) : Table(CMpegVlcTables::kDctCoefficientsZero);
            int run = packed >> 16;
            int level = static_cast<int16_t>(packed & 0xFFFF);
            if (run == kVlcEndOfBlock) break;
            if (run == kVlcEscape) {
                run = static_cast<int>(bits.Get(6));
                level = mpeg1 ? EscapedLevelMpeg1(bits) : SignExtend(bits.Get(12), 12);
            }
            index += run + 1;
            if (index > 63) return ippStsVLCErr;
            Store(out, static_cast<int>(scan[index] & 63), level);
        }
        if (intra) {
            const int dc = *predictor * (1 << dcShift);
            out[0] = static_cast<Ipp16s>(std::min(std::max(dc, -2048), 2047));
            parity ^= out[0];
        }
        if (!mpeg1) out[63] = static_cast<Ipp16s>(out[63] ^ (~parity & 1));
        return ippStsNoErr;
    }

    int intraTable = CMpegVlcTables::kDctCoefficientsZero;

private:
    static int SignExtend(uint32_t value, int bits) {
        return static_cast<int>(value << (32 - bits)) >> (32 - bits);
    }
    static int EscapedLevelMpeg1(BitReader& bits) {
        const int level = SignExtend(bits.Get(8), 8);
        if (level == 0) return static_cast<int>(bits.Get(8));
        if (level == -128) return static_cast<int>(bits.Get(8)) - 256;
        return level;
    }
    bool ReadDc(BitReader& bits, const IppVCHuffmanSpec_32s* dcTable, Ipp32s* predictor) {
        Ipp32s size = 0;
        if (ippiVCHuffmanDecodeOne_1u32s(bits, &size, dcTable) != ippStsNoErr || size > 11)
            return false;
        int difference = 0;
        if (size > 0) {
            difference = static_cast<int>(bits.Get(size));
            if (difference < (1 << (size - 1))) difference -= (1 << size) - 1;
        }
        *predictor = std::min(std::max(*predictor + difference * (mpeg1 ? 8 : 1), -65536), 65536);
        return true;
    }
    void Store(Ipp16s out[64], int position, int level) {
        if (intra && position == 0) return;
        const int magnitude = level < 0 ? -level : level;
        const int weight = (matrix[position] & 0xFF) * quantiser;
        int value = intra ? (magnitude * weight) >> (mpeg1 ? 3 : 4)
                          : ((2 * magnitude + (level != 0)) * weight) >> (mpeg1 ? 4 : 5);
        if (mpeg1 && value != 0 && value % 2 == 0) --value;
        value = level < 0 ? -std::min(value, 2048) : std::min(value, 2047);
        out[position] = static_cast<Ipp16s>(value);
        parity ^= value;
    }

    bool intra;
    bool mpeg1;
    const Ipp32u* scan;
    const uint16_t* matrix;
    int quantiser;
    int parity = 0;
};

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

// A macroblock's blocks read in one pass give what the plain reading gives one block at a time,
// in both standards: the same status, the same bits read and the same coefficients, residual
// and DC predictors. Random bits make every kind of codeword, escapes with a zero level, runs past
// the end and codewords of no entry; matrices, quantisers, scans and placements vary too.
TEST(CoefficientReader, OnePassEqualsThePlainReading) {
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
        at.at = BitReader(at.words.data() + word, 31 - skip);
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
        const int dcShift = mpeg1 ? 0 : static_cast<int>(random() % 4);
        const int skip = static_cast<int>(random() % 32);
        const int acIndex = random() % 2 && !mpeg1 ? CMpegVlcTables::kDctCoefficientsOne
                                                   : CMpegVlcTables::kDctCoefficientsZero;

        // One block at a time.
        WordCursor expectedAt = startAt(start, skip);
        std::vector<Ipp16s> expected(8 * 64, 7), block(64);
        Ipp32s expectedPredictors[3] = {100, -3, 2000};
        IppStatus expectedStatus = ippStsNoErr;
        for (int b = 0; b < blockCount && expectedStatus == ippStsNoErr; ++b) {
            if (!((pattern >> (blockCount - 1 - b)) & 1)) continue;
            ReferenceBlock reference(intra, mpeg1, scan, (b < 4 ? lumaMatrix : chromaMatrix).data(),
                                     quantiser);
            reference.intraTable = acIndex;
            Ipp16s* out = intra ? expected.data() + 64 * b : block.data();
            expectedStatus = reference.Read(expectedAt.at,
                                            Table(b < 4 ? CMpegVlcTables::kDctDcSizeLuminance
                                                        : CMpegVlcTables::kDctDcSizeChrominance),
                                            &expectedPredictors[DcPredictorIndex(b)], dcShift, out);
            if (!intra && expectedStatus == ippStsNoErr)
                idct::InverseInRange(block.data(), expected.data() + placements[b].start,
                                     placements[b].rowBytes);
        }

        // The whole macroblock; intra blocks also into a picture of eight blocks side by side
        // in every other trial.
        WordCursor at = startAt(start, skip);
        std::vector<Ipp16s> actual(8 * 64, 7), scratch(8 * 64);
        Ipp32s predictors[3] = {100, -3, 2000};
        constexpr int kPictureStep = 8 * 8;
        std::vector<Ipp8u> picture(8 * kPictureStep, 5), expectedPicture(picture);
        const bool intoPicture = intra && trial % 3 != 2;
        IppStatus status;
        if (intra) {
            IntraMacroblockBlocks macroblock{Table(CMpegVlcTables::kDctDcSizeLuminance),
                                             Table(CMpegVlcTables::kDctDcSizeChrominance),
                                             Table(acIndex),
                                             pattern,
                                             blockCount,
                                             &luma,
                                             &chroma,
                                             predictors,
                                             dcShift,
                                             actual.data()};
            IntraSamples samples = {};
            for (int b = 0; b < 8; ++b) {
                samples.at[b] = picture.data() + 8 * b;
                samples.step[b] = kPictureStep;
            }
            if (intoPicture) macroblock.samples = &samples;
            status = CheckedIntraMacroblockReader(macroblock, mpeg1)(at.at, macroblock);
        } else {
            const NonIntraMacroblockBlocks macroblock{Table(CMpegVlcTables::kDctCoefficientsFirst),
                                                      Table(CMpegVlcTables::kDctCoefficientsZero),
                                                      pattern,
                                                      blockCount,
                                                      &luma,
                                                      &chroma,
                                                      placements,
                                                      scratch.data(),
                                                      actual.data()};
            status = CheckedNonIntraMacroblockReader(macroblock, mpeg1)(at.at, macroblock);
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
                    idct::InverseIntraInRange(expected.data() + 64 * b,
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

}  // namespace
}  // namespace d2u
