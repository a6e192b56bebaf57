#include "demux/buffered_file.h"

#include <cstring>

namespace d2u {

CBufferedFile::~CBufferedFile() {
    Close();
}

bool CBufferedFile::Open(const char* path) {
    Close();
    return path && Adopt(platform::OpenForReading(path));
}

bool CBufferedFile::Open(const wchar_t* path) {
    Close();
    return path && Adopt(platform::OpenForReadingW(path));
}

bool CBufferedFile::Adopt(platform::FileHandle file) {
    file_ = file;
    if (file_ == platform::kInvalidFile) return false;
    size_ = platform::Size(file_);
    if (!buffer_) buffer_.reset(new uint8_t[kBufferSize]);
    start_ = end_ = 0;
    bufferPosition_ = 0;
    return true;
}

void CBufferedFile::Close() {
    if (file_ != platform::kInvalidFile) platform::Close(file_);
    file_ = platform::kInvalidFile;
    start_ = end_ = 0;
    bufferPosition_ = 0;
}

bool CBufferedFile::Ensure(size_t count) {
    if (count > kBufferSize) count = kBufferSize;
    if (end_ - start_ >= count) return true;
    if (!IsOpen()) return false;
    // What is left moves to the front, so that a whole buffer can follow it.
    if (start_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
        bufferPosition_ += start_;
        end_ -= start_;
        start_ = 0;
    }
    while (end_ < count) {
        size_t got = platform::Read(file_, buffer_.get() + end_, kBufferSize - end_);
        if (got == 0) return false;
        end_ += got;
    }
    return true;
}

void CBufferedFile::Consume(size_t count) {
    start_ += count < end_ - start_ ? count : end_ - start_;
}

void CBufferedFile::Skip(uint64_t offset) {
    if (offset <= end_ - start_) {
        start_ += static_cast<size_t>(offset);
        return;
    }
    Seek(position() + offset);
}

void CBufferedFile::Seek(uint64_t offset) {
    start_ = end_ = 0;
    if (!IsOpen()) return;
    if (!platform::Seek(file_, offset)) {
        platform::SeekToEnd(file_);
        offset = platform::Size(file_);
    }
    bufferPosition_ = offset;
}

}  // namespace d2u
