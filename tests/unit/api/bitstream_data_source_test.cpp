#include "input/bitstream_data_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <random>
#include <thread>
#include <vector>

#include "support/test_env.h"

namespace d2u {
namespace {

using test::WorkPath;
using test::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t count, uint32_t seed) {
    Bytes bytes(count);
    std::mt19937 random(seed);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// Expects the whole words of `bytes` from the reader's (word-aligned) position up to byte `end`
// or the end of `bytes`, refilled as a decoder refills between pictures (here every 4 KiB).
void ExpectWordsUpTo(CBitstreamDataSource& source, const Bytes& bytes, size_t end) {
    end = std::min(end, bytes.size());
    for (size_t position = source.GetBytePosition(); position + 4 <= end; position += 4) {
        if (position % 4096 == 0 && source.NeedsFill()) source.FillBuffer();
        const uint8_t* word = &bytes[position];
        ASSERT_EQ(source.Bits().Get(32),
                  uint32_t(word[0]) << 24 | word[1] << 16 | word[2] << 8 | word[3])
            << position;
    }
}

// A partial last word reads zeros after its bytes; then come filler words, never the stale data
// of an earlier, longer buffer; the end is reported a word early so that a refill is asked for.
TEST(BufferedMode, ShortBuffersEndInFillerWordsAndNeverShowStaleData) {
    CBitstreamDataSource source;
    Bytes stale(4000, 0xFF);
    source.SetDataBuffer(stale.data(), static_cast<int32_t>(stale.size()));
    Bytes bytes = {0, 0, 1, 0xB3, 1, 2, 3, 4, 5};
    ASSERT_EQ(source.SetDataBuffer(bytes.data(), 9), 0);
    EXPECT_EQ(source.wordCount, 2);
    EXPECT_EQ(source.IsBufferedMode(), 1);
    EXPECT_EQ(source.NeedsFill(), 0);
    EXPECT_EQ(source.Bits().Get(32), 0x000001B3u);
    EXPECT_EQ(source.NeedsFill(), 1);
    EXPECT_EQ(source.FillBuffer(), -1);
    EXPECT_EQ(source.Bits().Get(32), 0x01020304u);
    EXPECT_EQ(source.Bits().Get(32), 0x05000000u);
    for (int i = 0; i < CBitstreamDataSource::kMarginWords; ++i) {
        ASSERT_EQ(source.Bits().Get(32), CBitstreamDataSource::kFillerWord) << i;
    }
    // Empty or null buffers hold no words; without a file nothing can be rewound.
    EXPECT_EQ(source.SetDataBuffer(nullptr, 100), 0);
    EXPECT_EQ(source.wordCount, 0);
    EXPECT_EQ(source.NeedsFill(), 1);
    EXPECT_EQ(source.Bits().Get(32), CBitstreamDataSource::kFillerWord);
    EXPECT_EQ(source.Rewind(), 0);
    EXPECT_EQ(source.SetDataBuffer(bytes.data(), 0), 0);
    EXPECT_EQ(source.wordCount, 0);
}

TEST(FileMode, ShortFileEndsInFillerWords) {
    std::string path = WorkPath("ten_bytes.bin");
    ASSERT_TRUE(WriteFileBytes(path, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    CBitstreamDataSource source;
    ASSERT_EQ(source.Open(path.c_str()), 0);
    EXPECT_EQ(source.Bits().Get(32), 0x01020304u);
    EXPECT_EQ(source.Bits().Get(32), 0x05060708u);
    EXPECT_EQ(source.Bits().Get(16), 0x090Au);
    EXPECT_EQ(source.GetBytePosition(), 10u);
    EXPECT_EQ(source.Bits().Get(16), 0u);
    for (int i = 3; i <= source.CapacityWords(); ++i) {
        ASSERT_EQ(source.buffer[i], CBitstreamDataSource::kFillerWord) << i;
    }
    EXPECT_EQ(source.endOfFile, 1);
    EXPECT_EQ(source.fileSize, 10u);
    EXPECT_EQ(source.shortfall, source.CapacityWords() * 4 - 10);
}

// Below a read limit the data comes at once, however short; at its end the reader waits until
// another thread raises or lifts (0) the limit, and the bytes behind it follow on. The same when
// two threads share the reads of each refill.
TEST(FileMode, ReadLimitHoldsTheReaderAtItsEndUntilAnotherThreadRaisesIt) {
    const Bytes bytes = RandomBytes(size_t(CBitstreamDataSource::kFileBufferWords) * 8 + 1234, 11);
    const std::string path = WorkPath("large_random.bin");
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CWorkerPool readers;
    ASSERT_EQ(readers.SetThreads(2), 2);
    CBitstreamDataSource source;
    ASSERT_EQ(source.Open(path.c_str()), 0);
    for (uint32_t release : {0u, 2000000u, 0u}) {
        SCOPED_TRACE(release);
        if (release == 2000000u) source.ShareReadsWith(&readers);
        source.SetFileReadLimit(1002, 0);
        ASSERT_EQ(source.SetInputPosition(0, 0), 0);
        EXPECT_EQ(source.DataEnd(), 1002u);
        EXPECT_TRUE(source.WithinGrowingData());
        ExpectWordsUpTo(source, bytes, 1000);
        std::atomic<bool> done{false};
        std::thread reader([&] {
            EXPECT_EQ(source.ReadMore(), 1);
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(done.load()) << "the reader must wait while the limit holds it";
        source.SetFileReadLimit(release, 0);
        reader.join();
        EXPECT_EQ(source.GetBytePosition(), 1000u);
        ExpectWordsUpTo(source, bytes, release ? release : bytes.size());
        if (release) {
            EXPECT_EQ(source.DataEnd(), uint64_t{release});
            // A little more, too little to share: read on where the shared reads ended.
            source.SetFileReadLimit(release + 40000, 0);
            ASSERT_EQ(source.ReadMore(), 1);
            ExpectWordsUpTo(source, bytes, release + 40000);
        }
        source.SetFileReadLimit(0, 0);
    }
}

// A file is read into the start window while the pictures the reader can reach end inside it,
// and into the full window from the refill that leaves one reaching past its end.
TEST(FileMode, TheWindowGrowsBeforeAPictureLongerThanItAndOnlyThen) {
    Bytes bytes = RandomBytes(6000000, 14);
    const auto pictureAt = [&bytes](size_t at) {
        std::copy_n(Bytes{0, 0, 1, 0}.begin(), 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    };
    for (size_t at = 0; at <= 2900000; at += 100000) pictureAt(at);
    pictureAt(5500000);
    const std::string path = WorkPath("long_picture.bin");
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CBitstreamDataSource source;
    ASSERT_EQ(source.Open(path.c_str()), 0);
    ExpectWordsUpTo(source, bytes, 2000000);
    EXPECT_EQ(source.CapacityWords(), CBitstreamDataSource::kStartWindowWords);
    while (source.CapacityWords() == CBitstreamDataSource::kStartWindowWords) {
        ASSERT_LT(source.GetBytePosition(), 2900000u) << "grown before the long picture";
        ExpectWordsUpTo(source, bytes, source.GetBytePosition() + 4096);
    }
    EXPECT_EQ(source.CapacityWords(), CBitstreamDataSource::kFileBufferWords);
    // The refill that grew it holds the long picture whole, without another refill.
    BitReader ahead = source.Bits();
    for (size_t position = source.GetBytePosition(); position < 5500004; position += 4) {
        const uint8_t* word = &bytes[position];
        ASSERT_EQ(ahead.Get(32), uint32_t(word[0]) << 24 | word[1] << 16 | word[2] << 8 | word[3])
            << position;
    }
    ExpectWordsUpTo(source, bytes, bytes.size());
}

// Reads a file to its end, then what another program appends to it.
void ReadAppendedBytes(CWorkerPool& readers) {
    Bytes bytes = RandomBytes(size_t(CBitstreamDataSource::kRefillThresholdBytes) * 2, 12);
    const std::string path = WorkPath("appended_random.bin");
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CBitstreamDataSource source;
    source.ShareReadsWith(&readers);
    ASSERT_EQ(source.Open(path.c_str()), 0);
    ASSERT_EQ(source.endOfFile, 1);
    const size_t firstEnd = bytes.size() - 1000;
    ExpectWordsUpTo(source, bytes, firstEnd);
    EXPECT_EQ(source.NeedsFill(), 0) << "nothing new to read";
    const Bytes more = RandomBytes(5000, 13);
    bytes.insert(bytes.end(), more.begin(), more.end());
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    ASSERT_EQ(source.NeedsFill(), 1);
    source.FillBuffer();
    ExpectWordsUpTo(source, bytes, bytes.size());
}

// The end of a file, once read, is not read again while the file keeps its size; bytes written
// behind it later come with the next refill, as from a file another program is still writing.
// The same when two threads share the reads.
TEST(FileMode, BytesAppendedAfterTheEndWasReadComeWithTheNextRefill) {
    for (int32_t threads : {1, 2}) {
        SCOPED_TRACE(threads);
        CWorkerPool readers;
        ASSERT_EQ(readers.SetThreads(threads), threads);
        ReadAppendedBytes(readers);
    }
}

}  // namespace
}  // namespace d2u
