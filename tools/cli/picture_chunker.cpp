#include "picture_chunker.h"

#include <algorithm>

namespace d2ucli {
namespace {

const uint8_t kPictureStart = 0x00;
const uint8_t kSequenceHeader = 0xB3;
const uint8_t kExtensionStart = 0xB5;
const uint8_t kSequenceEnd = 0xB7;
const uint8_t kGroupStart = 0xB8;

}  // namespace

void PictureChunker::Push(const uint8_t* data, size_t length) {
    buffer_.insert(buffer_.end(), data, data + length);
}

bool PictureChunker::Next(std::vector<uint8_t>& chunk) {
    size_t boundary = FindBoundary();
    if (boundary == 0) {
        if (buffer_.size() < kLargestChunk) return false;
        boundary = buffer_.size();
    }
    TakeChunk(boundary, chunk);
    return true;
}

bool PictureChunker::Finish(std::vector<uint8_t>& chunk) {
    if (Next(chunk)) return true;
    bool hasPicture = pictureSeen_;
    TakeChunk(buffer_.size(), chunk);
    return hasPicture && !chunk.empty();
}

size_t PictureChunker::FindBoundary() {
    // Start codes are looked at once their first bytes after the code have arrived too.
    const size_t lookAhead = 9;
    size_t at = scanned_;
    for (; at + lookAhead <= buffer_.size(); ++at) {
        if (buffer_[at] != 0 || buffer_[at + 1] != 0 || buffer_[at + 2] != 1) continue;
        uint8_t code = buffer_[at + 3];
        if (code == kPictureStart) {
            bool secondField = pictureIsField_ && openFields_ % 2 == 1;
            if (pictureSeen_ && !secondField && at > 0) {
                scanned_ = at;
                return at;
            }
            pictureSeen_ = true;
            pictureIsField_ = false;
        } else if (code == kSequenceHeader || code == kGroupStart || code == kSequenceEnd) {
            if (pictureSeen_ && at > 0) {
                scanned_ = at;
                return at;
            }
        } else if (code == kExtensionStart && pictureSeen_ && (buffer_[at + 4] >> 4) == 8) {
            int32_t structure = buffer_[at + 6] & 3;
            pictureIsField_ = structure != 3;
            openFields_ = pictureIsField_ ? openFields_ + 1 : 0;
        }
        at += 3;
    }
    scanned_ = at;
    return 0;
}

void PictureChunker::TakeChunk(size_t end, std::vector<uint8_t>& chunk) {
    chunk.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(end));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(end));
    scanned_ = 0;
    ResetChunkState();
}

void PictureChunker::ResetChunkState() {
    pictureSeen_ = false;
    openFields_ = 0;
    pictureIsField_ = false;
}

}  // namespace d2ucli
