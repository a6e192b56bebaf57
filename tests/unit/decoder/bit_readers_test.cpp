// The bit-level readers on hand-coded bits: the codes they must refuse without reading or
// writing beyond their data. What they read from valid streams is the generated streams' test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoder/coefficient_reader.h"
#include "decoder/motion_vector_reader.h"
#include "decoder/mpeg_tables.h"
#include "decoder/mpeg_vlc_tables.h"
#include "decoder/vlc_huffman.h"
#include "input/bit_reader.h"
#include "input/bitstream_data_source.h"

namespace d2u {
namespace {

// The words of codeword digits (spaces ignored) in reading order, zero padded, followed by two
// sentinel words.
std::vector<Ipp32u> WordsOf(const std::string& digits) {
    std::vector<Ipp32u> words;
    size_t bit = 0;
    for (char c : digits) {
        if (c != '0' && c != '1') continue;
        if (bit % 32 == 0) words.push_back(0);
        words.back() |= Ipp32u(c == '1') << (31 - bit++ % 32);
    }
    words.resize(words.size() + 2, CBitstreamDataSource::kFillerWord);
    return words;
}

// A reader over the words of the digits.
struct WordCursor {
    explicit WordCursor(const std::string& digits) : words(WordsOf(digits)), at(words.data(), 31) {}
    size_t BitsRead() const {
        return size_t(at.Word() - words.data()) * 32 + size_t(31 - at.Offset());
    }
    std::vector<Ipp32u> words;
    BitReader at;
};

// A small prefix code split over two levels: 1, 01, 001, 00010, 00011 (00000 is unused).
const Ipp32s kSmallTable[] = {5, 2,       2,  3,  // longest 5 bits, levels of 2 and 3 bits
                              1, 0b1,     10,     // length 1
                              1, 0b01,    20,     // length 2
                              1, 0b001,   30,     // length 3
                              0,                  // length 4
                              2, 0b00010, 40, 0b00011, 50, -1};

// The decoder may look at the word after the current one, never further: a buffer that ends
// with its sentinel word is read up to that word only (AddressSanitizer watches the heap). A
// pattern of no codeword fails and leaves position and value alone.
TEST(VlcHuffman, LooksAheadAtMostIntoTheSentinelWordAndFailsInPlace) {
    IppVCHuffmanSpec_32s* table = nullptr;
    ASSERT_EQ(ippiVCHuffmanInitAlloc_32s(kSmallTable, &table), ippStsNoErr);
    const struct {
        Ipp32u code;
        int length;
        Ipp32s value;
    } cases[] = {{0b1, 1, 10}, {0b01, 2, 20}, {0b001, 3, 30}, {0b00010, 5, 40}, {0b00011, 5, 50}};
    for (const auto& c : cases) {
        std::unique_ptr<Ipp32u[]> words(new Ipp32u[2]);
        words[0] = 0xFFFFFFFFu << c.length | c.code;
        words[1] = CBitstreamDataSource::kFillerWord;
        BitReader bits(words.get(), c.length - 1);
        Ipp32s value = 0;
        ASSERT_EQ(ippiVCHuffmanDecodeOne_1u32s(bits, &value, table), ippStsNoErr);
        EXPECT_EQ(value, c.value);
        EXPECT_TRUE(bits.Word() == words.get() + 1 && bits.Offset() == 31);
        EXPECT_EQ(ippiVCHuffmanDecodeOne_1u32s(bits, &value, table), ippStsVLCErr);
        EXPECT_TRUE(bits.Word() == words.get() + 1 && bits.Offset() == 31 && value == c.value);
    }
    EXPECT_EQ(ippiVCHuffmanFree_32s(&table), ippStsNoErr);
    EXPECT_EQ(table, nullptr);
}

constexpr Ipp16s kGuard = 0x5555;

CMpegVlcTables& Tables() {
    static CMpegVlcTables tables;
    static const bool built = tables.Build() == 0;
    EXPECT_TRUE(built);
    return tables;
}

// One MPEG-2 intra block (block 0 of a 4:2:0 macroblock, zigzag scan, quantiser 2) read into
// coefficients, between guards.
struct IntraBlock {
    IppStatus Read(BitReader& bits) {
        const std::vector<uint16_t> matrix(64, 16);
        ScaleMatrix(kZigzagScan, matrix.data(), 2, true, &scaled);
        const CMpegVlcTables& t = Tables();
        const IntraMacroblockBlocks blocks{t.Table(CMpegVlcTables::kDctDcSizeLuminance),
                                           t.Table(CMpegVlcTables::kDctDcSizeChrominance),
                                           t.Table(CMpegVlcTables::kDctCoefficientsZero),
                                           0x20,
                                           6,
                                           &scaled,
                                           &scaled,
                                           predictors,
                                           3,
                                           storage.data() + 64};
        return CheckedIntraMacroblockReader(blocks, false)(bits, blocks);
    }
    bool GuardsIntact() const {
        auto guard = [](Ipp16s value) { return value == kGuard; };
        return std::all_of(storage.begin(), storage.begin() + 64, guard) &&
               std::all_of(storage.begin() + 128, storage.end(), guard);
    }

    ScaledMatrix scaled;
    Ipp32s predictors[3] = {};
    std::vector<Ipp16s> storage = std::vector<Ipp16s>(7 * 64, kGuard);
};

// A block with a codeword of no entry, too many coefficients, a run past the end or no end of
// block fails without writing outside its 64 values.
TEST(CoefficientReader, CorruptBlocksFailWithinTheBlock) {
    auto intraWith = [](int coefficients, const char* tail) {
        std::string digits = "100";  // DC size 0
        for (int i = 0; i < coefficients; ++i) digits += "110";
        return digits + tail;
    };
    const struct {
        const char* what;
        std::string digits;
    } cases[] = {
        {"64 coefficients after the DC", intraWith(64, "10")},
        {"no end of block after the 63rd", intraWith(63, "110")},
        {"run past the end", intraWith(10, "0000 01 111111 000000000001 10")},
        {"codeword of no entry", intraWith(3, "0000 0000 0000 0000 0")},
        {"data ends without end of block", intraWith(5, "")},
        {"DC size 12 and more", "1111 1111 1111"},
    };
    for (const auto& c : cases) {
        WordCursor at(c.digits);
        IntraBlock block;
        EXPECT_NE(block.Read(at.at), ippStsNoErr) << c.what;
        EXPECT_TRUE(block.GuardsIntact()) << c.what;
    }
    WordCursor full(intraWith(63, "10"));
    IntraBlock block;
    EXPECT_EQ(block.Read(full.at), ippStsNoErr);
    EXPECT_TRUE(block.GuardsIntact());
}

// A forbidden f_code fails without reading, on both paths; a vertical code of no codeword fails
// after the horizontal component has been updated.
TEST(MotionVectors, BadFCodesAndCodesFail) {
    CMotionVectorReader reader;
    reader.Init(&Tables());
    for (bool frame : {false, true}) {
        WordCursor bits("010 0000 0000 000");  // +1, then no codeword
        auto read = [&](int32_t* vector, int32_t h, int32_t v) {
            return frame ? reader.ReadFrameVector(bits.at, vector, h, v)
                         : reader.ReadMotionVector(bits.at, vector, h, v, 0, 0);
        };
        int32_t vector[2] = {2, 7};
        for (int32_t bad : {-1, 15}) {
            EXPECT_NE(read(vector, bad, 0), 0);
            EXPECT_NE(read(vector, 0, bad), 0);
            EXPECT_NE(CMotionVectorReader::DecodeMotionVectorComponent(&vector[0], bad, 1, 0, 0),
                      0);
        }
        EXPECT_EQ(bits.BitsRead(), 0u);
        EXPECT_NE(read(vector, 0, 0), 0);
        EXPECT_EQ(vector[0], 3);
        EXPECT_EQ(vector[1], 7);
    }
}

}  // namespace
}  // namespace d2u
