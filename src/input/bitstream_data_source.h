// The video elementary stream as one buffer of 32-bit words in reading order (bit 31 of a word
// is the first stream bit), refilled from a file or loaded from a caller's memory block, with
// the reading position (a BitReader) from which the header reader and the picture decoder read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "input/bit_reader.h"
#include "input/start_codes.h"
#include "platform/platform.h"
#include "platform/worker_pool.h"

namespace d2u {

class CBitstreamDataSource {
public:
    // Filler after the end of the data: the bytes 00 00 01 B7, a sequence_end_code.
    static constexpr uint32_t kFillerWord = 0x00000100u | kSequenceEndCode;
    // File mode keeps a whole coded picture of up to 4 MiB ahead of the reader after a refill:
    // the refill runs once more than kRefillThresholdBytes are consumed.
    static constexpr int32_t kMaxPictureBytes = 4 * 1024 * 1024;
    static constexpr int32_t kRefillThresholdBytes = 640000;
    static constexpr int32_t kSkipRefillThresholdBytes = 600000;
    static constexpr int32_t kFileBufferWords = (kMaxPictureBytes + 800000) / 4;
    // A file is read into a window of this size first, which holds the pictures of common
    // streams (up to about 1.4 MB) in less than half the memory; a refill that leaves a picture
    // reaching past its end grows it to kFileBufferWords before the picture is read.
    static constexpr int32_t kStartWindowWords = 2 * 1024 * 1024 / 4;
    // File mode: room behind the buffer into which a refill moves it forward, so that the
    // unread words are copied to the front of the block only once every few refills.
    static constexpr int32_t kFileSlideWords = kFileBufferWords / 2;
    static constexpr int32_t kStartSlideWords = kStartWindowWords / 2;
    // Buffered mode: the smallest buffer, and the words swapped (and filled) behind the data.
    static constexpr int32_t kMinimumBufferWords = 200000;
    static constexpr int32_t kMarginWords = 1000;
    // Words behind the sentinel that a reader may touch when it looks ahead near the end.
    static constexpr int32_t kGuardWords = 16;
    static constexpr unsigned kReadLimitWaitMilliseconds = 10;
    static constexpr size_t kReadPieceBytes = 256 * 1024;
    // Refills of at least this many bytes are split between the threads that share the reads.
    static constexpr size_t kSharedReadBytes = 128 * 1024;

    CBitstreamDataSource() = default;
    virtual ~CBitstreamDataSource();
    CBitstreamDataSource(const CBitstreamDataSource&) = delete;
    CBitstreamDataSource& operator=(const CBitstreamDataSource&) = delete;

    int32_t Open(const char* path);
    int32_t OpenW(const wchar_t* path);
    int32_t FillBuffer();
    int32_t InitBits();
    static int32_t SwapBuffer(uint32_t* words, int32_t count);
    int32_t SetDataBuffer(const uint8_t* data, int32_t length);
    int32_t NeedsFill() const;
    int32_t IsBufferedMode() const;
    int32_t Rewind();
    int32_t SetInputPosition(uint32_t low, uint32_t high);
    int32_t SetFileReadLimit(uint32_t low, uint32_t high);
    // For a reader that has met the end of the data read so far, its position set back to the
    // word where it starts again: reads what the file has gained since. 1 with more data (the
    // reader starts at the first bit of that word), 0 at the end of the file. While a read limit
    // is set the bytes below it are promised: it waits in 10 ms steps until some come, or until
    // the limit is lifted.
    int32_t ReadMore();
    // Stream offset one past the last byte of data, or UINT64_MAX while the buffer is full
    // (file mode). In buffered mode only differences of two positions mean something.
    uint64_t DataEnd() const;
    // Whether the buffer ends with the data read so far while the file may go on: once a read
    // limit has been set, the file may have grown since any short read.
    bool WithinGrowingData() const;
    int32_t Close();
    // Threads that share the reads of a refill, the caller's among them (null: the caller's
    // thread alone). The pool must outlive the source's refills.
    void ShareReadsWith(CWorkerPool* pool) { readers = pool; }

    // File offset of the next unread byte. In buffered mode only differences of two positions
    // in the same buffer mean something.
    uint64_t GetBytePosition() const;
    // The file offset of the buffer's first byte, as GetBytePosition counts it: while the
    // buffer stays, the position is this plus 4 bytes a word and a byte per 8 bits read of
    // the current word.
    int64_t BufferStartPosition() const {
        return static_cast<int64_t>(fileOffset) - static_cast<int64_t>(capacityWords) * 4 +
               shortfall;
    }
    // Bytes of the buffer before the current word.
    int64_t ConsumedBytes() const { return buffer ? (bits.Word() - buffer) * 4 : 0; }
    // True once the reader has moved past the sentinel word; the words behind it are guards.
    bool IsPastEnd() const { return !buffer || bits.Word() > buffer + capacityWords; }
    // The sentinel word behind the data.
    const uint32_t* End() const { return buffer + capacityWords; }
    int32_t CapacityWords() const { return capacityWords; }

    // The reading position: the header reader and the picture decoder read on from it. Every
    // refill and repositioning sets it again.
    BitReader& Bits() { return bits; }
    const BitReader& Bits() const { return bits; }
    // Puts the reading position at a word of the buffer (read before, at or behind the position).
    void SetPosition(const uint32_t* word, int32_t offset) { bits.Seek(word, offset); }

    uint64_t fileSize = 0;
    uint32_t* buffer = nullptr;
    uint64_t fileOffset = 0;
    int32_t shortfall = 0;
    int32_t endOfFile = 0;
    std::atomic<int64_t> readLimit{0};
    platform::FileHandle fileHandle = 0;
    int32_t wordCount = 0;
    // Buffered mode: bytes of caller data.
    int32_t dataLength = 0;

private:
    bool MayReadMore() const;
    // fillData false leaves the data words unset (the first FillBuffer of a file writes them
    // all); the sentinel and guard words are filled either way. slideWords of room behind
    // them let FillBuffer move the buffer forward.
    bool AllocateBuffer(int32_t words, bool fillData = true, int32_t slideWords = 0);
    // The words of a block for a buffer of `words` with `slideWords` of room behind it.
    static size_t BlockWords(int32_t words, int32_t slideWords);
    // The buffer start of a refill that keeps `kept` words after `consumed` words: moved
    // forward over the consumed words when the block has room, else (the kept words copied)
    // the block's start.
    uint32_t* RefillStart(int64_t consumed, size_t kept);
    void MoveWordsDown(uint32_t* to, size_t distance, size_t count);
    void FillGuardWords();
    // Reads up to `wanted` bytes (a multiple of 4) from file offset `from` (where the file is) to
    // `fresh` in pieces, each swapped right after it is read, while it is still in the cache; a
    // partial last word is left as read. Returns the bytes read.
    size_t ReadSwapped(uint32_t* fresh, uint64_t from, size_t wanted);
    // The same on the threads of `readers`, each reading its pieces at their offsets; the file
    // is left at the end of what was read.
    size_t ReadSwappedShared(uint32_t* fresh, uint64_t from, size_t wanted);
    // Whether the buffer holds the file's first capacityWords words, all read from the file.
    bool HoldsWholeFileStart() const;
    // Whether every picture the reader can start before the next refill ends inside the
    // buffer: a picture, group or sequence start code follows the refill point in it.
    bool PicturesEndBeforeWindowEnd() const;
    // Moves the data to a block with the full window behind it and fills that; false (nothing
    // changed) without the memory.
    bool GrowWindow();
    void FreeBuffer();
    // Open and OpenW with the file they opened (kInvalidFile when they could not, reported
    // with `name`).
    int32_t StartWith(platform::FileHandle file, const char* name);
    int32_t FinishOpen();
    // Drops the buffer and fills it from a file offset.
    int32_t ReadFrom(uint64_t offset);
    // How many of `wanted` bytes from a file offset lie below the read limit.
    size_t BytesBelowReadLimit(uint64_t from, size_t wanted) const;

    int32_t capacityWords = 0;
    BitReader bits;
    std::atomic<bool> followsGrowingFile{false};
    CWorkerPool* readers = nullptr;
    // The allocated block, which holds the buffer, its sentinel and guard words.
    uint32_t* block = nullptr;
    size_t blockWords = 0;
};

}  // namespace d2u
