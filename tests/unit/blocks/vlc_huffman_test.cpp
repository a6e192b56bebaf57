#include "primitives/vlc_huffman.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;

// A small prefix code split over two levels: 1, 01, 001, 00010, 00011 (00000 is unused).
const Ipp32s kSmallTable[] = {5, 2,       2,  3,  // longest 5 bits, levels of 2 and 3 bits
                              1, 0b1,     10,     // length 1
                              1, 0b01,    20,     // length 2
                              1, 0b001,   30,     // length 3
                              0,                  // length 4
                              2, 0b00010, 40, 0b00011, 50, -1};

struct Handle {
    IppVCHuffmanSpec_32s* spec = nullptr;
    ~Handle() { ippiVCHuffmanFree_32s(&spec); }
};

struct Position {
    std::vector<Ipp32u> words;
    Ipp32u* word;
    int offset = 31;
    explicit Position(std::vector<Ipp32u> w) : words(std::move(w)), word(words.data()) {}
    size_t BitsRead() const {
        return static_cast<size_t>(word - words.data()) * 32 + static_cast<size_t>(31 - offset);
    }
};

TEST(VlcHuffman, DecodesEveryCodewordAtEveryBitOffsetAcrossWordBoundaries) {
    Handle table;
    ASSERT_EQ(ippiVCHuffmanInitAlloc_32s(kSmallTable, &table.spec), ippStsNoErr);
    const char* codes[] = {"1", "01", "001", "00010", "00011"};
    const Ipp32s values[] = {10, 20, 30, 40, 50};
    for (int lead = 0; lead < 64; ++lead) {
        TestBits bits;
        for (int i = 0; i < lead; ++i) bits.Put(i % 3 ? "1" : "0");
        for (int round = 0; round < 3; ++round) {
            for (const char* code : codes) bits.Put(code);
        }
        Position at(bits.Words());
        at.word += lead / 32;
        at.offset = 31 - lead % 32;
        for (int round = 0; round < 3; ++round) {
            for (int k = 0; k < 5; ++k) {
                Ipp32s value = -1;
                ASSERT_EQ(ippiVCHuffmanDecodeOne_1u32s(&at.word, &at.offset, &value, table.spec),
                          ippStsNoErr)
                    << "lead " << lead << " code " << codes[k];
                EXPECT_EQ(value, values[k]) << "lead " << lead;
            }
        }
        EXPECT_EQ(at.BitsRead(), static_cast<size_t>(lead) + 3 * (1 + 2 + 3 + 5 + 5));
    }
}

TEST(VlcHuffman, UnknownCodewordFailsAndLeavesThePositionAlone) {
    Handle table;
    ASSERT_EQ(ippiVCHuffmanInitAlloc_32s(kSmallTable, &table.spec), ippStsNoErr);
    TestBits bits;
    bits.Put("1 0000 0");
    Position at(bits.Words());
    Ipp32s value = 0;
    ASSERT_EQ(ippiVCHuffmanDecodeOne_1u32s(&at.word, &at.offset, &value, table.spec), ippStsNoErr);
    Ipp32u* wordBefore = at.word;
    int offsetBefore = at.offset;
    value = 1234;
    EXPECT_NE(ippiVCHuffmanDecodeOne_1u32s(&at.word, &at.offset, &value, table.spec), ippStsNoErr);
    EXPECT_EQ(at.word, wordBefore);
    EXPECT_EQ(at.offset, offsetBefore);
    EXPECT_EQ(value, 1234);
}

// The decoder may look at the word after the current one, never further: a buffer that ends
// with its sentinel word is read up to that word only (AddressSanitizer watches the heap).
TEST(VlcHuffman, LooksAheadAtMostIntoTheSentinelWord) {
    Handle table;
    ASSERT_EQ(ippiVCHuffmanInitAlloc_32s(kSmallTable, &table.spec), ippStsNoErr);
    const struct {
        Ipp32u lastBits;
        int length;
        Ipp32s value;
    } cases[] = {{0b1, 1, 10}, {0b01, 2, 20}, {0b001, 3, 30}, {0b00011, 5, 50}};
    for (const auto& c : cases) {
        // One data word ending in the codeword, then the sentinel, and nothing behind it.
        std::unique_ptr<Ipp32u[]> words(new Ipp32u[2]);
        words[0] = 0xFFFFFFFFu << c.length | c.lastBits;
        words[1] = 0x000001B7u;
        Ipp32u* word = words.get();
        int offset = c.length - 1;
        Ipp32s value = 0;
        ASSERT_EQ(ippiVCHuffmanDecodeOne_1u32s(&word, &offset, &value, table.spec), ippStsNoErr);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(word, words.get() + 1);
        EXPECT_EQ(offset, 31);
        // At the sentinel's first bit the window lies inside it: 00000 is no codeword.
        EXPECT_EQ(ippiVCHuffmanDecodeOne_1u32s(&word, &offset, &value, table.spec), ippStsVLCErr);
        EXPECT_EQ(word, words.get() + 1);
    }
}

TEST(VlcHuffman, RunLevelTablesGiveRunAndSignedLevel) {
    const Ipp32s input[] = {3,
                            1,
                            3,
                            0,  // length 1
                            1,
                            0b10,
                            kVlcEndOfBlock,
                            kVlcEndOfBlock,  // length 2
                            2,
                            0b110,
                            0,
                            1,
                            0b111,
                            0,
                            -1,  // length 3: 11s
                            -1};
    Handle table;
    ASSERT_EQ(ippiVCHuffmanInitAllocRL_32s(input, &table.spec), ippStsNoErr);
    TestBits bits;
    bits.Put("111 110 10");
    Position at(bits.Words());
    Ipp32s run = 0;
    Ipp32s level = 0;
    ASSERT_EQ(VCHuffmanDecodeRunLevel(&at.word, &at.offset, &run, &level, table.spec), ippStsNoErr);
    EXPECT_EQ(run, 0);
    EXPECT_EQ(level, -1);
    Ipp32s packed = 0;
    ASSERT_EQ(ippiVCHuffmanDecodeOne_1u32s(&at.word, &at.offset, &packed, table.spec), ippStsNoErr);
    EXPECT_EQ(packed, 1);
    ASSERT_EQ(ippiVCHuffmanDecodeOne_1u32s(&at.word, &at.offset, &packed, table.spec), ippStsNoErr);
    EXPECT_EQ(packed, kVlcEndOfBlock * 65536 + kVlcEndOfBlock);
}

TEST(VlcHuffman, InconsistentInputTablesAreRefused) {
    const Ipp32s widthsTooShort[] = {3, 1, 2, 1, 1, 5, 0, 0, -1};
    const Ipp32s codeTooLong[] = {2, 1, 2, 1, 0b100, 5, 0, -1};
    const Ipp32s prefixClash[] = {2, 1, 2, 1, 0b1, 5, 1, 0b10, 6, -1};
    const Ipp32s duplicate[] = {2, 1, 2, 0, 2, 0b01, 5, 0b01, 6, -1};
    const Ipp32s missingEnd[] = {2, 1, 2, 1, 0b1, 5, 1, 0b01, 6, 7};
    const Ipp32s tooLong[] = {33, 1, 16, 0, -1};
    for (const Ipp32s* input :
         {widthsTooShort, codeTooLong, prefixClash, duplicate, missingEnd, tooLong}) {
        IppVCHuffmanSpec_32s* spec = reinterpret_cast<IppVCHuffmanSpec_32s*>(&spec);
        EXPECT_NE(ippiVCHuffmanInitAlloc_32s(input, &spec), ippStsNoErr);
        EXPECT_EQ(spec, nullptr);
    }
    IppVCHuffmanSpec_32s* spec = nullptr;
    EXPECT_EQ(ippiVCHuffmanInitAlloc_32s(nullptr, &spec), ippStsNullPtrErr);
    EXPECT_EQ(ippiVCHuffmanInitAlloc_32s(kSmallTable, nullptr), ippStsNullPtrErr);
}

TEST(VlcHuffman, FreeClearsTheHandleAndAcceptsANullOne) {
    IppVCHuffmanSpec_32s* spec = nullptr;
    ASSERT_EQ(ippiVCHuffmanInitAlloc_32s(kSmallTable, &spec), ippStsNoErr);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(ippiVCHuffmanFree_32s(&spec), ippStsNoErr);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(ippiVCHuffmanFree_32s(&spec), ippStsNoErr);
    Ipp32u word[2] = {0xFFFFFFFFu, 0};
    Ipp32u* at = word;
    int offset = 31;
    Ipp32s value = 0;
    EXPECT_NE(ippiVCHuffmanDecodeOne_1u32s(&at, &offset, &value, nullptr), ippStsNoErr);
}

}  // namespace
}  // namespace d2u
