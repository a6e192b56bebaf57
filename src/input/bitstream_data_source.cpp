#include "input/bitstream_data_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "diag/decoder_log.h"
#include "primitives/byte_order.h"

namespace d2u {

CBitstreamDataSource::~CBitstreamDataSource() {
    Close();
}

size_t CBitstreamDataSource::BlockWords(int32_t words, int32_t slideWords) {
    // The data words, the sentinel, guard words for readers that look ahead, and the slide room.
    return static_cast<size_t>(words) + 1 + kGuardWords + static_cast<size_t>(slideWords);
}

bool CBitstreamDataSource::AllocateBuffer(int32_t words, bool fillData, int32_t slideWords) {
    FreeBuffer();
    blockWords = BlockWords(words, slideWords);
    block = static_cast<uint32_t*>(platform::AllocateLargeBlock(blockWords * sizeof(uint32_t)));
    buffer = block;
    if (!buffer) return false;
    capacityWords = words;
    const size_t total = BlockWords(words, 0);
    for (size_t i = fillData ? 0 : static_cast<size_t>(words); i < total; ++i)
        buffer[i] = kFillerWord;
    bits.Seek(buffer + capacityWords, 31);
    return true;
}

void CBitstreamDataSource::FreeBuffer() {
    platform::FreeLargeBlock(block);
    block = nullptr;
    blockWords = 0;
    buffer = nullptr;
    bits = BitReader();
    capacityWords = 0;
}

namespace {

void AppendUtf8(std::string& text, uint32_t c) {
    if (c < 0x80) {
        text += static_cast<char>(c);
        return;
    }
    const int tail = c < 0x800 ? 1 : (c < 0x10000 ? 2 : 3);
    static const uint8_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
    text += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
        text += static_cast<char>(0x80 | ((c >> shift) & 0x3F));
    }
}

// A wide path as UTF-8, whatever the locale (printf's %ls gives nothing for characters outside
// it). Surrogate pairs are joined where wchar_t is 16 bits; what is no character shows as '?'.
std::string PathForMessage(const wchar_t* path) {
    std::string text;
    for (const wchar_t* p = path; *p; ++p) {
        uint32_t c = static_cast<uint32_t>(*p);
        const uint32_t next = static_cast<uint32_t>(p[1]);
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++p;
        } else if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) {
            c = '?';
        }
        AppendUtf8(text, c);
    }
    return text;
}

void ReportOpenFailure(const char* message) {
    if (CDecoderLog* log = CachedLogger()) {
        log->Write(message, 1);
        log->Publish(message);
    }
}

}  // namespace

int32_t CBitstreamDataSource::Open(const char* path) {
    Close();
    return StartWith(platform::OpenForReading(path), path ? path : "(null)");
}

int32_t CBitstreamDataSource::OpenW(const wchar_t* path) {
    Close();
    return StartWith(platform::OpenForReadingW(path),
                     path ? PathForMessage(path).c_str() : "(null)");
}

int32_t CBitstreamDataSource::StartWith(platform::FileHandle file, const char* name) {
    fileHandle = file;
    const bool opened = fileHandle != platform::kInvalidFile;
    // The first read of a file writes every data word; without a file they hold the filler.
    if (!AllocateBuffer(kStartWindowWords, !opened, kStartSlideWords)) {
        Close();
        return -1;
    }
    if (opened) return FinishOpen();
    char message[320];
    std::snprintf(message, sizeof message,
                  "CBitstreamDataSource::Open - ERROR unable to open file %s", name);
    ReportOpenFailure(message);
    return -1;
}

int32_t CBitstreamDataSource::FinishOpen() {
    fileOffset = 0;
    shortfall = 0;
    if (buffer) bits.Seek(buffer + capacityWords, 31);
    fileSize = platform::Size(fileHandle);
    endOfFile = 0;
    wordCount = 0;
    dataLength = 0;
    FillBuffer();
    return 0;
}

int32_t CBitstreamDataSource::FillBuffer() {
    if (IsBufferedMode()) {
        CDecoderLog* log = CachedLogger();
        if (log) {
            log->Write("CBitstreamDataSource::FillBuffer tryed in buffered mode. ERROR", 1);
            log->Publish(
                "WARNING - CBitstreamDataSource::FillBuffer tryed in buffered mode. WARNING");
        }
        return -1;
    }
    if (!buffer) return -1;
    // The whole words of file data from the reading position are kept; the file is read again
    // from behind them (a partial last word from its start), so that data behind a short read
    // follows the data before it.
    const int64_t dataWords = (static_cast<int64_t>(capacityWords) * 4 - shortfall) / 4;
    int64_t consumed = bits.Word() - buffer;
    if (consumed < 0) consumed = 0;
    if (consumed > dataWords) consumed = dataWords;
    const uint64_t readFrom = static_cast<uint64_t>(BufferStartPosition() + dataWords * 4);
    if (readFrom != fileOffset) platform::Seek(fileHandle, readFrom);

    const size_t kept = static_cast<size_t>(dataWords - consumed);
    buffer = RefillStart(consumed, kept);
    uint32_t* fresh = buffer + kept;
    const size_t room = (static_cast<size_t>(capacityWords) - kept) * 4;
    const size_t got = ReadSwapped(fresh, readFrom, BytesBelowReadLimit(readFrom, room));
    if (got != room) {
        // Zero the unread bytes of the partial word, fill the rest.
        const size_t partialBytes = got % 4;
        if (partialBytes != 0) {
            std::memset(reinterpret_cast<uint8_t*>(fresh) + got, 0, 4 - partialBytes);
        }
        const size_t firstFiller = got / 4 + (partialBytes != 0 ? 1 : 0);
        for (size_t i = firstFiller; i < room / 4; ++i) fresh[i] = kFillerWord;
    }
    endOfFile = got != room ? 1 : 0;
    FillGuardWords();
    if (got % 4 != 0) SwapBuffer(fresh + got / 4, 1);
    InitBits();
    fileOffset = readFrom + got;
    shortfall = static_cast<int32_t>(room - got);
    if (!endOfFile && capacityWords < kFileBufferWords && !PicturesEndBeforeWindowEnd() &&
        GrowWindow()) {
        return FillBuffer();
    }
    return 0;
}

bool CBitstreamDataSource::PicturesEndBeforeWindowEnd() const {
    // A picture whose start code ends within a word of the refill point is read from this
    // buffer; the start codes from there on end it or come after it.
    const int64_t windowBytes = static_cast<int64_t>(capacityWords) * 4;
    for (int64_t from = kRefillThresholdBytes + 4;;) {
        const int64_t prefix = NextStartCodePrefix(buffer, from, End());
        if (prefix + 3 >= windowBytes) return false;
        const uint32_t code = StreamByte(buffer, prefix + 3);
        if (code == kPictureStartCode || code == kSequenceHeaderCode || code == kSequenceEndCode ||
            code == kGroupStartCode) {
            return true;
        }
        from = prefix + 3;
    }
}

bool CBitstreamDataSource::GrowWindow() {
    const size_t words = BlockWords(kFileBufferWords, kFileSlideWords);
    auto* grown = static_cast<uint32_t*>(platform::AllocateLargeBlock(words * sizeof(uint32_t)));
    if (!grown) return false;
    // The data stays where the file has it: the room behind it is yet to be read.
    std::memcpy(grown, buffer, static_cast<size_t>(capacityWords) * sizeof(uint32_t));
    shortfall += (kFileBufferWords - capacityWords) * 4;
    platform::FreeLargeBlock(block);
    block = buffer = grown;
    blockWords = words;
    capacityWords = kFileBufferWords;
    InitBits();
    FillGuardWords();
    return true;
}

size_t CBitstreamDataSource::BytesBelowReadLimit(uint64_t from, size_t wanted) const {
    const int64_t limit = readLimit.load();
    if (limit <= 0) return wanted;
    if (static_cast<uint64_t>(limit) <= from) return 0;
    const uint64_t below = static_cast<uint64_t>(limit) - from;
    return below < wanted ? static_cast<size_t>(below) : wanted;
}

int32_t CBitstreamDataSource::ReadMore() {
    if (IsBufferedMode() || !buffer) return 0;
    for (;;) {
        const uint64_t dataEnd = fileOffset;
        const int64_t limit = readLimit.load();
        if (limit <= 0 || static_cast<uint64_t>(limit) > dataEnd) {
            FillBuffer();
            if (fileOffset > dataEnd) return 1;
            if (limit <= 0) return 0;
        }
        platform::SleepMilliseconds(kReadLimitWaitMilliseconds);
    }
}

uint64_t CBitstreamDataSource::DataEnd() const {
    if (!buffer) return UINT64_MAX;
    if (!IsBufferedMode()) return endOfFile ? fileOffset : UINT64_MAX;
    const int64_t currentByte = (bits.Word() - buffer) * 4 + (31 - bits.Offset()) / 8;
    return GetBytePosition() - static_cast<uint64_t>(currentByte - dataLength);
}

bool CBitstreamDataSource::WithinGrowingData() const {
    return !IsBufferedMode() && endOfFile && followsGrowingFile.load();
}

size_t CBitstreamDataSource::ReadSwapped(uint32_t* fresh, uint64_t from, size_t wanted) {
    if (readers && readers->Threads() > 1 && wanted >= kSharedReadBytes)
        return ReadSwappedShared(fresh, from, wanted);
    size_t got = 0;
    while (got < wanted) {
        const size_t piece = wanted - got < kReadPieceBytes ? wanted - got : kReadPieceBytes;
        const size_t read =
            platform::Read(fileHandle, reinterpret_cast<uint8_t*>(fresh) + got, piece);
        // Every earlier piece was whole, so that the piece starts on a word.
        SwapBuffer(fresh + got / 4, static_cast<int32_t>(read / 4));
        got += read;
        if (read < piece) break;
    }
    return got;
}

namespace {

// A refill's read in pieces, each read and swapped by one thread, which records what it read.
struct SharedRead {
    static constexpr int32_t kMostPieces = 2 * CWorkerPool::kMostThreads;
    platform::FileHandle file;
    uint32_t* fresh;
    uint64_t from;
    size_t wanted;
    size_t pieceBytes;
    size_t got[kMostPieces];

    size_t PieceBytes(int32_t piece) const {
        const size_t start = static_cast<size_t>(piece) * pieceBytes;
        return wanted - start < pieceBytes ? wanted - start : pieceBytes;
    }
    static void ReadPiece(void* context, int32_t piece) {
        SharedRead& read = *static_cast<SharedRead*>(context);
        const size_t start = static_cast<size_t>(piece) * read.pieceBytes;
        uint32_t* words = read.fresh + start / 4;
        const size_t got =
            platform::ReadAt(read.file, read.from + start, words, read.PieceBytes(piece));
        SwapWordBytes(words, static_cast<int32_t>(got / 4));
        read.got[piece] = got;
    }
};

// A copy between words that do not overlap, in parts.
struct SharedCopy {
    uint32_t* to;
    const uint32_t* from;
    size_t words;
    size_t partWords;

    static void CopyPart(void* context, int32_t part) {
        SharedCopy& copy = *static_cast<SharedCopy*>(context);
        const size_t start = static_cast<size_t>(part) * copy.partWords;
        const size_t words = std::min(copy.partWords, copy.words - start);
        std::memcpy(copy.to + start, copy.from + start, words * sizeof(uint32_t));
    }
};

// Parts of whole pages, two a thread, so that a thread done early takes another.
size_t PartBytes(size_t bytes, int32_t threads) {
    constexpr size_t kPage = 4096;
    const size_t parts = 2 * static_cast<size_t>(threads);
    return ((bytes + parts - 1) / parts + kPage - 1) / kPage * kPage;
}

int32_t PartCount(size_t bytes, size_t partBytes) {
    return static_cast<int32_t>((bytes + partBytes - 1) / partBytes);
}

}  // namespace

size_t CBitstreamDataSource::ReadSwappedShared(uint32_t* fresh, uint64_t from, size_t wanted) {
    SharedRead read;
    read.file = fileHandle;
    read.fresh = fresh;
    read.from = from;
    read.wanted = wanted;
    read.pieceBytes = PartBytes(wanted, readers->Threads());
    const int32_t pieces = PartCount(wanted, read.pieceBytes);
    readers->RunParts(pieces, SharedRead::ReadPiece, &read);
    // What follows a short piece is left out: the file may have grown while it was read.
    size_t got = 0;
    for (int32_t piece = 0; piece < pieces; ++piece) {
        got += read.got[piece];
        if (read.got[piece] != read.PieceBytes(piece)) break;
    }
    platform::Seek(fileHandle, from + got);
    return got;
}

// To lower addresses, `count` words from `distance` words on: in turns of at most `distance`
// words, none of which overlaps the words it copies, each shared among the readers' threads.
void CBitstreamDataSource::MoveWordsDown(uint32_t* to, size_t distance, size_t count) {
    if (distance == 0) return;
    if (!readers || readers->Threads() < 2 || count * sizeof(uint32_t) < kSharedReadBytes) {
        std::memmove(to, to + distance, count * sizeof(uint32_t));
        return;
    }
    for (size_t done = 0; done < count;) {
        SharedCopy copy{to + done, to + done + distance, std::min(distance, count - done), 0};
        const size_t bytes = copy.words * sizeof(uint32_t);
        copy.partWords = PartBytes(bytes, readers->Threads()) / sizeof(uint32_t);
        readers->RunParts(PartCount(bytes, copy.partWords * sizeof(uint32_t)), SharedCopy::CopyPart,
                          &copy);
        done += copy.words;
    }
}

uint32_t* CBitstreamDataSource::RefillStart(int64_t consumed, size_t kept) {
    uint32_t* moved = buffer + consumed;
    const size_t used =
        static_cast<size_t>(moved - block) + static_cast<size_t>(capacityWords) + 1 + kGuardWords;
    if (kept != 0 && used <= blockWords) return moved;
    if (kept != 0) MoveWordsDown(block, static_cast<size_t>(moved - block), kept);
    return block;
}

void CBitstreamDataSource::FillGuardWords() {
    for (int32_t i = 1; i <= kGuardWords; ++i) buffer[capacityWords + i] = kFillerWord;
}

int32_t CBitstreamDataSource::InitBits() {
    if (!buffer) return 0;
    buffer[capacityWords] = kFillerWord;
    bits.Seek(buffer, 31);
    return 0;
}

int32_t CBitstreamDataSource::SwapBuffer(uint32_t* words, int32_t count) {
    SwapWordBytes(words, count);
    return 0;
}

int32_t CBitstreamDataSource::SetDataBuffer(const uint8_t* data, int32_t length) {
    if (length < 0 || (length > 0 && !data)) length = 0;
    int32_t needed = length / 4 + 1 + kMarginWords;
    if (!buffer || capacityWords < needed) {
        int32_t words = needed > kMinimumBufferWords ? needed : kMinimumBufferWords;
        if (!AllocateBuffer(words)) return -1;
    }
    if (length > 0) std::memcpy(buffer, data, static_cast<size_t>(length));
    // Behind the data: zeros to the end of the partial word, then sequence_end_code words, so
    // that nothing left from an earlier buffer is read as stream.
    int32_t partialBytes = length % 4;
    if (partialBytes != 0) {
        std::memset(reinterpret_cast<uint8_t*>(buffer) + length, 0,
                    static_cast<size_t>(4 - partialBytes));
    }
    int32_t dataWords = length / 4 + (partialBytes != 0 ? 1 : 0);
    SwapBuffer(buffer, dataWords);
    for (int32_t i = dataWords; i < length / 4 + 1 + kMarginWords; ++i) buffer[i] = kFillerWord;
    InitBits();
    wordCount = length / 4;
    dataLength = length;
    CachedLogger()->Write("CBitstreamDataSource::SetDataBuffer after SwapBuffer", 100);
    return 0;
}

int32_t CBitstreamDataSource::NeedsFill() const {
    if (!buffer) return 1;
    int64_t index = bits.Word() - buffer;
    if (IsBufferedMode()) return index > static_cast<int64_t>(wordCount) - 2 ? 1 : 0;
    return index * 4 > kRefillThresholdBytes && MayReadMore() ? 1 : 0;
}

// Everything up to the end of a file that has not grown since it was read is in the buffer: a
// refill would only move the data and write filler behind it, megabytes of it near the end.
bool CBitstreamDataSource::MayReadMore() const {
    return !endOfFile || platform::Size(fileHandle) != fileOffset;
}

int32_t CBitstreamDataSource::IsBufferedMode() const {
    return fileHandle == 0 || fileHandle == platform::kInvalidFile ? 1 : 0;
}

int32_t CBitstreamDataSource::Rewind() {
    if (fileHandle == platform::kInvalidFile) return -1;
    wordCount = 0;
    dataLength = 0;
    if (HoldsWholeFileStart()) {
        // What a fresh fill would read is in the buffer already (the set-up rewinds right after
        // the first fill of a file): the reader starts again at its first word.
        InitBits();
        return 0;
    }
    return ReadFrom(0);
}

int32_t CBitstreamDataSource::ReadFrom(uint64_t offset) {
    if (!IsBufferedMode()) platform::Seek(fileHandle, offset);
    // An empty buffer that ends at the offset: the fill reads from there.
    fileOffset = offset;
    shortfall = capacityWords * 4;
    if (buffer) bits.Seek(buffer + capacityWords, 31);
    FillBuffer();
    return 0;
}

bool CBitstreamDataSource::HoldsWholeFileStart() const {
    // The buffer ends at file byte fileOffset, less the filler of a short read.
    return !IsBufferedMode() && buffer && shortfall == 0 &&
           fileOffset == static_cast<uint64_t>(capacityWords) * 4;
}

int32_t CBitstreamDataSource::SetInputPosition(uint32_t low, uint32_t high) {
    return ReadFrom((static_cast<uint64_t>(high) << 32) | low);
}

int32_t CBitstreamDataSource::SetFileReadLimit(uint32_t low, uint32_t high) {
    const int64_t limit = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
    if (limit > 0) followsGrowingFile.store(true);
    readLimit.store(limit);
    return 0;
}

int32_t CBitstreamDataSource::Close() {
    FreeBuffer();
    if (fileHandle != 0 && fileHandle != platform::kInvalidFile) {
        platform::Close(fileHandle);
        fileHandle = 0;
    }
    return 0;
}

uint64_t CBitstreamDataSource::GetBytePosition() const {
    if (!buffer) return fileOffset;
    const int64_t index = bits.Word() - buffer;
    return static_cast<uint64_t>(BufferStartPosition() + index * 4 + (31 - bits.Offset()) / 8);
}

}  // namespace d2u
