#include "picture_chunker.h"

#include <algorithm>
#include <cstring>

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
    const uint8_t* data = buffer_.data();
    const size_t size = buffer_.size();
    size_t at = scanned_;
    while (at + lookAhead <= size) {
        // The first 01 byte that can end a 00 00 01 prefix starting at `at` or later.
        const size_t last = size - lookAhead;
        const void* one = std::memchr(data + at + 2, 1, last - at + 1);
        if (!one) {
            at = last + 1;
            break;
        }
        const size_t prefix = static_cast<size_t>(static_cast<const uint8_t*>(one) - data) - 2;
        if (data[prefix] != 0 || data[prefix + 1] != 0) {
            at = prefix + 1;
            continue;
        }
        at = prefix;
        const uint8_t code = data[at + 3];
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
        } else if (code == kExtensionStart && pictureSeen_ && (data[at + 4] >> 4) == 8) {
            int32_t structure = data[at + 6] & 3;
            pictureIsField_ = structure != 3;
            openFields_ = pictureIsField_ ? openFields_ + 1 : 0;
        }
        at += 4;
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
