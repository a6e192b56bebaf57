#include "decoder/vlc_huffman.h"

#include <gtest/gtest.h>

#include <memory>

#include "test_bits.h"

namespace d2u {
namespace {

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

TEST(VlcHuffman, InconsistentInputTablesAndMissingArgumentsAreRefused) {
    const Ipp32s widthsTooShort[] = {3, 1, 2, 1, 1, 5, 0, 0, -1};
    const Ipp32s codeTooLong[] = {2, 1, 2, 1, 0b100, 5, 0, -1};
    const Ipp32s prefixClash[] = {2, 1, 2, 1, 0b1, 5, 1, 0b10, 6, -1};
    const Ipp32s duplicate[] = {2, 1, 2, 0, 2, 0b01, 5, 0b01, 6, -1};
    const Ipp32s missingEnd[] = {2, 1, 2, 1, 0b1, 5, 1, 0b01, 6, 7};
    const Ipp32s tooLong[] = {33, 1, 16, 0, -1};
    for (const Ipp32s* input :
         {widthsTooShort, codeTooLong, prefixClash, duplicate, missingEnd, tooLong}) {
        IppVCHuffmanSpec_32s* table = reinterpret_cast<IppVCHuffmanSpec_32s*>(&table);
        EXPECT_NE(ippiVCHuffmanInitAlloc_32s(input, &table), ippStsNoErr);
        EXPECT_EQ(table, nullptr);
    }
    IppVCHuffmanSpec_32s* table = nullptr;
    EXPECT_EQ(ippiVCHuffmanFree_32s(&table), ippStsNoErr);
    EXPECT_EQ(ippiVCHuffmanInitAlloc_32s(nullptr, &table), ippStsNullPtrErr);
    EXPECT_EQ(ippiVCHuffmanInitAlloc_32s(kSmallTable, nullptr), ippStsNullPtrErr);
    Ipp32u words[2] = {0xFFFFFFFFu, 0};
    BitReader bits(words, 31);
    Ipp32s value = 0;
    EXPECT_NE(ippiVCHuffmanDecodeOne_1u32s(bits, &value, nullptr), ippStsNoErr);
}

}  // namespace
}  // namespace d2u
