// A file read forward through a buffer, with the look-ahead the stream parsers need: they ask
// for a number of bytes, look at them in place and then consume what they used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace d2u {

class CBufferedFile {
public:
    CBufferedFile() = default;
    ~CBufferedFile();
    CBufferedFile(const CBufferedFile&) = delete;
    CBufferedFile& operator=(const CBufferedFile&) = delete;

    bool Open(const char* path);
    bool Open(const wchar_t* path);
    void Close();
    bool IsOpen() const { return file_ != platform::kInvalidFile; }

    // Makes `count` bytes (at most kBufferSize) available at data(); false when the file ends
    // first, with what is left available.
    bool Ensure(size_t count);
    const uint8_t* data() const { return buffer_.get() + start_; }
    size_t available() const { return end_ - start_; }
    void Consume(size_t count);
    // Goes on `offset` bytes further, reading past what is buffered.
    void Skip(uint64_t offset);
    // Moves to an absolute offset; beyond the end the file simply ends.
    void Seek(uint64_t offset);

    uint64_t position() const { return bufferPosition_ + start_; }
    uint64_t size() const { return size_; }

    static constexpr size_t kBufferSize = 256 * 1024;

private:
    bool Adopt(platform::FileHandle file);

    platform::FileHandle file_ = platform::kInvalidFile;
    // Left uninitialised: every byte is read into before it is looked at.
    std::unique_ptr<uint8_t[]> buffer_;
    size_t start_ = 0, end_ = 0;
    uint64_t bufferPosition_ = 0;  // file offset of buffer_[0]
    uint64_t size_ = 0;
};

}  // namespace d2u
