#include "demux/pes_assembler.h"

#include "demux/pes_header.h"

namespace d2u {

void CPesAssembler::Feed(const uint8_t* payload, size_t length, bool unitStart,
                         CPictureChunker& chunker) {
    if (unitStart) {
        if (state_ == State::kHeader) ++badHeaders_;
        state_ = State::kHeader;
        headerLength_ = 0;
    }
    if (state_ == State::kWaiting) return;
    size_t used = 0;
    if (state_ == State::kHeader) used = CollectHeader(payload, length, chunker);
    if (state_ == State::kPayload) PushPayload(payload + used, length - used, chunker);
}

size_t CPesAssembler::CollectHeader(const uint8_t* data, size_t length, CPictureChunker& chunker) {
    size_t used = 0;
    size_t wanted = kFixedHeader;
    for (;;) {
        while (headerLength_ < wanted && used < length) header_[headerLength_++] = data[used++];
        if (headerLength_ < wanted) return used;
        if (wanted > kFixedHeader) break;
        bool valid =
            header_[0] == 0 && header_[1] == 0 && header_[2] == 1 && (header_[6] & 0xC0) == 0x80;
        if (!valid) {
            ++badHeaders_;
            state_ = State::kWaiting;
            return length;
        }
        wanted = kFixedHeader + header_[8];
        if (wanted == kFixedHeader) break;
    }
    StartPayload(chunker);
    return used;
}

void CPesAssembler::StartPayload(CPictureChunker& chunker) {
    const size_t packetLength = (size_t{header_[4]} << 8) | header_[5];
    const size_t headerData = header_[8];
    // A length of 0 (allowed for video) leaves the packet open until the next one begins.
    bounded_ = packetLength != 0;
    remaining_ = 0;
    if (bounded_ && packetLength > 3 + headerData) remaining_ = packetLength - 3 - headerData;
    bool hasPts = (header_[7] & 0x80) && headerData >= 5;
    chunker.MarkPacketStart(hasPts, hasPts ? ReadTimeStamp(header_ + kFixedHeader) : 0);
    state_ = State::kPayload;
}

void CPesAssembler::PushPayload(const uint8_t* data, size_t length, CPictureChunker& chunker) {
    if (bounded_) {
        if (length > remaining_) length = static_cast<size_t>(remaining_);
        remaining_ -= length;
    }
    chunker.Push(data, length);
}

}  // namespace d2u
