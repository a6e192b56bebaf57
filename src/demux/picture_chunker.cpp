#include "demux/picture_chunker.h"

#include <cstring>

#include "demux/zero_pair_scan.h"
#include "input/start_codes.h"

namespace d2u {
namespace {

constexpr uint8_t kPictureCodingExtensionId = 8;
constexpr int kFramePicture = 3;
// A start code is judged once the bytes up to the picture_structure of an extension are in.
constexpr size_t kLookAhead = 7;

}  // namespace

void CPictureChunker::Push(const uint8_t* data, size_t length) {
    if (length == 0) return;
    // Room for a large coded frame at once, rather than copies as the buffer grows into it.
    if (buffer_.capacity() == 0) buffer_.reserve(kInitialCapacity);
    buffer_.insert(buffer_.end(), data, data + length);
}

void CPictureChunker::MarkPacketStart(bool hasPts, uint64_t pts) {
    uint64_t offset = bufferOffset_ + buffer_.size();
    if (!marks_.empty() && marks_.back().offset == offset) marks_.pop_back();
    marks_.push_back(PacketMark{offset, hasPts, pts, false});
}

void CPictureChunker::Reset(bool waitForSequenceHeader) {
    buffer_.clear();
    marks_.clear();
    bufferOffset_ = 0;
    handedOut_ = 0;
    scanned_ = 0;
    waitForSequenceHeader_ = waitForSequenceHeader;
    ForgetPictureState();
}

void CPictureChunker::ForgetPictureState() {
    pictureSeen_ = false;
    secondFieldDue_ = false;
    inSecondField_ = false;
}

void CPictureChunker::DropHandedOut() {
    if (handedOut_ == 0) return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(handedOut_));
    bufferOffset_ += handedOut_;
    handedOut_ = 0;
    DropMarksBefore(bufferOffset_);
}

bool CPictureChunker::Next(PictureChunk& chunk) {
    DropHandedOut();
    if (waitForSequenceHeader_ && !SkipToSequenceHeader()) return false;
    size_t end = FindBoundary();
    if (end == 0) {
        if (buffer_.size() < kLargestChunk) return false;
        end = buffer_.size();
    }
    Hand(end, chunk);
    return true;
}

bool CPictureChunker::Finish(PictureChunk& chunk) {
    if (Next(chunk)) return true;
    if (waitForSequenceHeader_ || !pictureSeen_ || buffer_.empty()) {
        buffer_.clear();
        return false;
    }
    Hand(buffer_.size(), chunk);
    return true;
}

bool CPictureChunker::SkipToSequenceHeader() {
    const uint8_t code[4] = {0x00, 0x00, 0x01, kSequenceHeaderCode};
    size_t at = 0;
    for (; at + 4 <= buffer_.size(); ++at) {
        if (std::memcmp(buffer_.data() + at, code, 4) == 0) break;
    }
    // The last three bytes may begin the code.
    size_t drop = at + 4 <= buffer_.size() ? at : (buffer_.size() > 3 ? buffer_.size() - 3 : 0);
    handedOut_ = drop;
    DropHandedOut();
    if (at + 4 > buffer_.size()) return false;
    waitForSequenceHeader_ = false;
    scanned_ = 0;
    ForgetPictureState();
    return true;
}

size_t CPictureChunker::FindBoundary() {
    const uint8_t* data = buffer_.data();
    const size_t size = buffer_.size();
    if (size < kLookAhead) return 0;
    // Prefixes are judged once the bytes up to kLookAhead after them are in.
    const size_t last = size - kLookAhead;
    size_t at = scanned_;
    while (at <= last) {
        const size_t pair = FindZeroPair(data, at, last + 2);
        if (pair > last) {
            at = last + 1;
            break;
        }
        if (data[pair + 2] != 1) {
            at = pair + 1;
            continue;
        }
        size_t end = 0;
        if (EndsChunk(pair, end) && end > 0) {
            scanned_ = end;
            return end;
        }
        at = pair + 4;
    }
    scanned_ = at;
    return 0;
}

bool CPictureChunker::EndsChunk(size_t at, size_t& end) {
    const uint8_t* code = buffer_.data() + at;
    switch (code[3]) {
        case kPictureStartCode:
            if (pictureSeen_ && !secondFieldDue_) {
                end = at;
                return true;
            }
            inSecondField_ = secondFieldDue_;
            secondFieldDue_ = false;
            pictureSeen_ = true;
            return false;
        case kSequenceHeaderCode:
        case kGroupStartCode:
            end = at;
            return pictureSeen_;
        case kSequenceEndCode:
            end = at + 4;
            return pictureSeen_;
        case kExtensionStartCode:
            if (pictureSeen_ && (code[4] >> 4) == kPictureCodingExtensionId) {
                bool field = (code[6] & 3) != kFramePicture;
                secondFieldDue_ = field && !inSecondField_;
            }
            return false;
        default:
            return false;
    }
}

void CPictureChunker::Hand(size_t end, PictureChunk& chunk) {
    chunk.data = buffer_.data();
    chunk.length = end;
    chunk.pts = TakePts(bufferOffset_);
    handedOut_ = end;
    scanned_ = 0;
    ForgetPictureState();
}

// The packet in which the chunk begins lends it its time stamp, once.
int64_t CPictureChunker::TakePts(uint64_t chunkStart) {
    DropMarksBefore(chunkStart);
    if (marks_.empty() || marks_.front().offset > chunkStart || marks_.front().used) return -1;
    marks_.front().used = true;
    return marks_.front().hasPts ? static_cast<int64_t>(marks_.front().pts) : -1;
}

void CPictureChunker::DropMarksBefore(uint64_t offset) {
    size_t stale = 0;
    while (stale + 1 < marks_.size() && marks_[stale + 1].offset <= offset) ++stale;
    marks_.erase(marks_.begin(), marks_.begin() + static_cast<std::ptrdiff_t>(stale));
}

}  // namespace d2u
