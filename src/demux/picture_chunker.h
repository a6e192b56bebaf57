// Cuts a video elementary stream into chunks of one coded frame each, the buffers a
// buffer-driven decoding handle takes one per call: the sequence and group headers before a
// picture travel with it, the two field pictures of a frame travel together, and a
// sequence_end_code goes with the picture it ends. Each chunk carries the presentation time
// stamp of the packet in which it begins, when that packet had one and no earlier chunk began in
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace d2u {

struct PictureChunk {
    const uint8_t* data = nullptr;  // valid until the next call on the chunker
    size_t length = 0;
    int64_t pts = -1;  // 90 kHz units; -1 when the picture has none
};

class CPictureChunker {
public:
    // A chunk grown beyond this without a boundary is cut there (damaged or foreign data).
    static constexpr size_t kLargestChunk = 8 * 1024 * 1024;
    static constexpr size_t kInitialCapacity = 1024 * 1024;

    void Push(const uint8_t* data, size_t length);
    // A packet of the container starts with the next byte pushed.
    void MarkPacketStart(bool hasPts, uint64_t pts);
    // The next complete chunk; false when more data is needed.
    bool Next(PictureChunk& chunk);
    // At the end of the input: the last chunk, when it holds a picture.
    bool Finish(PictureChunk& chunk);
    // Forgets everything; with waitForSequenceHeader the bytes before the next sequence header
    // are dropped, so that the first chunk can start a decoder.
    void Reset(bool waitForSequenceHeader);
    // Bytes pushed and not yet handed out.
    size_t pending() const { return buffer_.size() - handedOut_; }

private:
    struct PacketMark {
        uint64_t offset;  // in the elementary stream, counted from the last reset
        bool hasPts;
        uint64_t pts;
        bool used;
    };

    void DropHandedOut();
    // Index of the first byte after the current chunk, or 0 when it is not complete yet.
    size_t FindBoundary();
    // What a start code at `at` means for the current chunk; true when the chunk ends before it
    // (or, for a sequence_end_code, after it: `end` is set either way).
    bool EndsChunk(size_t at, size_t& end);
    bool SkipToSequenceHeader();
    void Hand(size_t end, PictureChunk& chunk);
    int64_t TakePts(uint64_t chunkStart);
    // Forgets the packets begun before the one that holds `offset`.
    void DropMarksBefore(uint64_t offset);
    void ForgetPictureState();

    std::vector<uint8_t> buffer_;
    uint64_t bufferOffset_ = 0;  // stream offset of buffer_[0]
    size_t handedOut_ = 0;       // bytes at the front handed out by the last call
    size_t scanned_ = 0;         // bytes of the current chunk looked at so far
    // Packets begun in the bytes held, oldest first (a vector: making one allocates nothing).
    std::vector<PacketMark> marks_;
    bool waitForSequenceHeader_ = false;
    bool pictureSeen_ = false;     // the current chunk holds a picture header
    bool secondFieldDue_ = false;  // its last picture is the first field of a frame
    bool inSecondField_ = false;   // its last picture is a second field
};

}  // namespace d2u
