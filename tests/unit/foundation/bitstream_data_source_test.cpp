#include "input/bitstream_data_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "support/test_env.h"

namespace d2u {
namespace {

using test::WorkPath;
using test::WriteFileBytes;

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// Reads bit `index` of a byte string, most significant bit first.
uint32_t BitAt(const std::vector<uint8_t>& bytes, size_t index) {
    return (bytes[index / 8] >> (7 - index % 8)) & 1u;
}

uint32_t ReferenceBits(const std::vector<uint8_t>& bytes, size_t start, int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = (value << 1) | BitAt(bytes, start + static_cast<size_t>(i));
    return value;
}

TEST(BitReader, GetBitsOfEveryWidthMatchesTheByteStringAcrossWords) {
    std::vector<uint8_t> bytes = RandomBytes(4096, 1);
    CBitstreamDataSource source;
    ASSERT_EQ(source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size())), 0);
    std::mt19937 random(2);
    size_t position = 0;
    while (position + 64 < bytes.size() * 8) {
        int n = 1 + static_cast<int>(random() % 32);
        ASSERT_EQ(source.ShowBits(n), ReferenceBits(bytes, position, n)) << "at bit " << position;
        ASSERT_EQ(source.GetBits(n), ReferenceBits(bytes, position, n)) << "at bit " << position;
        position += static_cast<size_t>(n);
        int skip = static_cast<int>(random() % 9);
        if (skip > 0) {
            source.SkipBits(skip);
            position += static_cast<size_t>(skip);
        }
    }
}

TEST(BitReader, WholeWordAndAlignment) {
    std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0, 0, 0, 0};
    CBitstreamDataSource source;
    source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    uint32_t* start = source.wordPtr;
    EXPECT_EQ(source.GetBits(32), 0x12345678u);
    EXPECT_EQ(source.wordPtr, start + 1);
    EXPECT_EQ(source.bitOffset, 31);
    for (int offset : {31, 23, 15, 7}) {
        source.bitOffset = offset;
        source.AlignToByte();
        EXPECT_EQ(source.bitOffset, offset);
        EXPECT_EQ(source.wordPtr, start + 1);
    }
    source.bitOffset = 2;
    source.AlignToByte();
    EXPECT_EQ(source.bitOffset, 31);
    EXPECT_EQ(source.wordPtr, start + 2);
    source.wordPtr = start + 1;
    source.bitOffset = 20;
    source.AlignToByte();
    EXPECT_EQ(source.bitOffset, 15);
    EXPECT_EQ(source.GetBits(8), 0xDEu);
}

TEST(BufferedMode, NineBytesGiveTwoWordsAndTheEndComesEarly) {
    std::vector<uint8_t> bytes = {0, 0, 1, 0xB3, 1, 2, 3, 4, 5};
    CBitstreamDataSource source;
    ASSERT_EQ(source.SetDataBuffer(bytes.data(), 9), 0);
    EXPECT_EQ(source.wordCount, 2);
    EXPECT_EQ(source.IsBufferedMode(), 1);
    EXPECT_EQ(source.NeedsFill(), 0);
    EXPECT_EQ(source.GetBits(32), 0x000001B3u);
    EXPECT_EQ(source.NeedsFill(), 1);
    EXPECT_EQ(source.FillBuffer(), -1);
    // The partial word keeps its byte and reads zeros after it; then filler words follow.
    source.GetBits(32);
    EXPECT_EQ(source.GetBits(32), 0x05000000u);
    EXPECT_EQ(source.GetBits(32), CBitstreamDataSource::kFillerWord);
}

TEST(BufferedMode, StaleDataOfAnEarlierBufferIsNeverRead) {
    CBitstreamDataSource source;
    std::vector<uint8_t> first(4000, 0xFF);
    source.SetDataBuffer(first.data(), static_cast<int32_t>(first.size()));
    std::vector<uint8_t> second = {0xAA, 0xBB};
    source.SetDataBuffer(second.data(), 2);
    EXPECT_EQ(source.GetBits(32), 0xAABB0000u);
    for (int i = 0; i < CBitstreamDataSource::kMarginWords; ++i) {
        ASSERT_EQ(source.GetBits(32), CBitstreamDataSource::kFillerWord);
    }
}

TEST(BufferedMode, BuffersOfAnyLengthAreAccepted) {
    std::vector<uint8_t> bytes = RandomBytes(3 * 1000 * 1000 + 3, 7);
    CBitstreamDataSource source;
    ASSERT_EQ(source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size())), 0);
    EXPECT_EQ(source.wordCount, 750000);
    source.wordPtr = source.buffer + 749999;
    size_t bit = 749999u * 32u;
    EXPECT_EQ(source.GetBits(32), ReferenceBits(bytes, bit, 32));
    EXPECT_EQ(source.GetBits(24), ReferenceBits(bytes, bit + 32, 24));
}

TEST(BufferedMode, EmptyAndNullBuffers) {
    CBitstreamDataSource source;
    EXPECT_EQ(source.SetDataBuffer(nullptr, 0), 0);
    EXPECT_EQ(source.wordCount, 0);
    EXPECT_EQ(source.NeedsFill(), 1);
    EXPECT_EQ(source.SetDataBuffer(nullptr, 100), 0);  // no data behind a null pointer
    EXPECT_EQ(source.wordCount, 0);
    EXPECT_EQ(source.GetBits(32), CBitstreamDataSource::kFillerWord);
    EXPECT_EQ(source.Rewind(), 0);  // no file: the refill refuses, nothing moves
}

TEST(FileMode, TenByteFile) {
    std::string path = WorkPath("ten_bytes.bin");
    std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CBitstreamDataSource source;
    ASSERT_EQ(source.Open(path.c_str()), 0);
    EXPECT_EQ(source.buffer[0], 0x01020304u);
    EXPECT_EQ(source.buffer[1], 0x05060708u);
    EXPECT_EQ(source.buffer[2], 0x090A0000u);
    for (int i = 3; i <= source.CapacityWords(); ++i) {
        ASSERT_EQ(source.buffer[i], CBitstreamDataSource::kFillerWord) << i;
    }
    EXPECT_EQ(source.endOfFile, 1);
    EXPECT_EQ(source.fileOffset, 10u);
    EXPECT_EQ(source.shortfall, source.CapacityWords() * 4 - 10);
    EXPECT_EQ(source.fileSize, 10u);
    EXPECT_EQ(source.GetBytePosition(), 0u);
    source.GetBits(16);
    EXPECT_EQ(source.GetBytePosition(), 2u);
}

TEST(FileMode, MissingFileFailsAndStaysOutOfFileMode) {
    CBitstreamDataSource source;
    EXPECT_EQ(source.Open(WorkPath("no/such/file.m2v").c_str()), -1);
    EXPECT_EQ(source.fileHandle, platform::kInvalidFile);
    EXPECT_EQ(source.IsBufferedMode(), 1);
    EXPECT_EQ(source.Rewind(), -1);
    EXPECT_EQ(source.OpenW(L"/no/such/w\u00e9de.m2v"), -1);
}

class LargeFile : public ::testing::Test {
protected:
    void SetUp() override {
        bytes = RandomBytes(
            static_cast<size_t>(CBitstreamDataSource::kFileBufferWords) * 4 * 2 + 1234, 11);
        path = WorkPath("large_random.bin");
        ASSERT_TRUE(WriteFileBytes(path, bytes));
    }
    std::vector<uint8_t> bytes;
    std::string path;
};

TEST_F(LargeFile, RefillsDeliverEveryByteAndPositionsFollow) {
    CBitstreamDataSource source;
    ASSERT_EQ(source.Open(path.c_str()), 0);
    EXPECT_EQ(source.GetBytePosition(), 0u);
    source.GetBits(12);
    EXPECT_EQ(source.GetBytePosition(), 1u);
    source.GetBits(4);
    size_t position = 2;
    int refills = 0;
    while (position + 4 <= bytes.size()) {
        if (source.NeedsFill()) {
            ASSERT_EQ(source.bitOffset, 31);  // we read whole words: a refill loses nothing
            source.FillBuffer();
            ++refills;
        }
        if (position % 4 == 2) {
            ASSERT_EQ(source.GetBits(16), ReferenceBits(bytes, position * 8, 16));
            position += 2;
            continue;
        }
        ASSERT_EQ(source.GetBytePosition(), position);
        ASSERT_EQ(source.GetBits(32), ReferenceBits(bytes, position * 8, 32)) << position;
        position += 4;
    }
    EXPECT_GE(refills, 3);
    EXPECT_EQ(source.fileOffset, bytes.size());
}

TEST_F(LargeFile, SetInputPositionReadsFromTheOffset) {
    CBitstreamDataSource source;
    ASSERT_EQ(source.Open(path.c_str()), 0);
    source.SetInputPosition(1000001, 0);
    EXPECT_EQ(source.GetBytePosition(), 1000001u);
    EXPECT_EQ(source.GetBits(32), ReferenceBits(bytes, 1000001u * 8, 32));
    EXPECT_EQ(source.Rewind(), 0);
    EXPECT_EQ(source.GetBytePosition(), 0u);
    EXPECT_EQ(source.GetBits(32), ReferenceBits(bytes, 0, 32));
}

TEST_F(LargeFile, ReadLimitHoldsTheRefillUntilAnotherThreadRaisesIt) {
    for (uint32_t release : {0u, 0x7FFFFFFFu}) {
        CBitstreamDataSource source;
        ASSERT_EQ(source.Open(path.c_str()), 0);
        source.SetFileReadLimit(1000, 0);
        source.wordPtr = source.buffer + 200000;  // the refill would read past byte 1000
        std::atomic<bool> done{false};
        std::thread reader([&] {
            source.FillBuffer();
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(done.load()) << "the refill must wait while the limit holds it";
        source.SetFileReadLimit(release, 0);
        reader.join();
        EXPECT_TRUE(done.load());
        EXPECT_EQ(source.GetBits(32), ReferenceBits(bytes, 800000u * 8, 32));
    }
}

}  // namespace
}  // namespace d2u
