// Cuts a video elementary stream into chunks of one coded picture each (a field pair counts as
// one picture): the sequence and group headers before a picture belong to its chunk. These are
// the buffers a buffer-driven decoding handle takes, one per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace d2ucli {

class PictureChunker {
public:
    void Push(const uint8_t* data, size_t length);
    // Takes the next complete chunk; false when more data is needed.
    bool Next(std::vector<uint8_t>& chunk);
    // At the end of the input: the last chunk when it holds a picture.
    bool Finish(std::vector<uint8_t>& chunk);
    // A chunk grown beyond this without a boundary is cut there (damaged or foreign data).
    static constexpr size_t kLargestChunk = 4 * 1024 * 1024;

private:
    // Index of the start code that ends the current chunk, or 0 when none is buffered yet.
    size_t FindBoundary();
    void TakeChunk(size_t end, std::vector<uint8_t>& chunk);
    void ResetChunkState();

    std::vector<uint8_t> buffer_;
    size_t scanned_ = 0;        // bytes of buffer_ looked at so far
    bool pictureSeen_ = false;  // the current chunk holds a picture header
    int32_t openFields_ = 0;    // field pictures of the current chunk whose pair is incomplete
    bool pictureIsField_ = false;
};

}  // namespace d2ucli
