#include "demux/program_stream_source.h"

#include <cstring>

#include "demux/pes_header.h"

namespace d2u {
namespace {

constexpr uint8_t kPackHeader = 0xBA;
constexpr uint8_t kProgramEnd = 0xB9;
constexpr uint8_t kFirstStreamId = 0xBB;
constexpr size_t kPacketPrefix = 6;  // start code, stream id, length
constexpr size_t kMpeg2PackHeader = 14;
constexpr size_t kMpeg1PackHeader = 12;
constexpr size_t kLargestPacket = kPacketPrefix + 0xFFFF;
// Bytes kept ahead while looking for a start code: refills move at most this much.
constexpr size_t kSearchWindow = 64 * 1024;

bool IsVideoStream(uint8_t streamId) {
    return streamId >= 0xE0 && streamId <= 0xEF;
}

}  // namespace

bool CProgramStreamSource::ReadPayload(CPictureChunker& chunker) {
    while (FindStartCode()) {
        uint8_t code = file_.data()[3];
        if (code == kPackHeader) {
            if (!SkipPackHeader()) return false;
        } else if (code >= kFirstStreamId) {
            if (ReadPacket(chunker)) return true;
        } else {
            // Program end codes, and stray data: the search goes on behind them.
            file_.Consume(code == kProgramEnd ? 4 : 3);
        }
    }
    return false;
}

bool CProgramStreamSource::FindStartCode() {
    for (;;) {
        bool whole = file_.Ensure(kSearchWindow);
        const uint8_t* data = file_.data();
        size_t available = file_.available();
        for (size_t at = 0; at + 4 <= available; ++at) {
            const void* one = std::memchr(data + at + 2, 1, available - at - 3);
            if (!one) break;
            at = static_cast<size_t>(static_cast<const uint8_t*>(one) - data) - 2;
            if (data[at] == 0 && data[at + 1] == 0) {
                file_.Consume(at);
                return true;
            }
        }
        if (!whole && available < 4) return false;
        // The last three bytes may begin a prefix.
        file_.Consume(available > 3 ? available - 3 : available);
        if (!whole) return false;
    }
}

bool CProgramStreamSource::SkipPackHeader() {
    if (!file_.Ensure(kMpeg2PackHeader)) return false;
    const uint8_t* data = file_.data();
    if ((data[4] & 0xC0) == 0x40) {
        file_.Skip(kMpeg2PackHeader + (data[13] & 0x07));
    } else {
        file_.Skip(kMpeg1PackHeader);
    }
    return true;
}

bool CProgramStreamSource::ReadPacket(CPictureChunker& chunker) {
    if (!file_.Ensure(kPacketPrefix)) {
        file_.Consume(file_.available());
        return false;
    }
    const uint8_t* data = file_.data();
    const uint8_t streamId = data[3];
    const size_t total = kPacketPrefix + ((size_t{data[4]} << 8) | data[5]);
    bool wanted = IsVideoStream(streamId) && (videoStream_ < 0 || videoStream_ == streamId);
    if (!wanted) {
        file_.Skip(total);
        return false;
    }
    // A packet cut by the end of the file gives what it holds.
    file_.Ensure(total < kLargestPacket ? total : kLargestPacket);
    size_t length = file_.available() < total ? file_.available() : total;
    videoStream_ = streamId;
    const uint8_t* body = file_.data() + kPacketPrefix;
    PacketHeader header = ReadPacketHeader(body, length - kPacketPrefix);
    chunker.MarkPacketStart(header.hasPts, header.pts);
    chunker.Push(body + header.payloadOffset, length - kPacketPrefix - header.payloadOffset);
    file_.Consume(length);
    return true;
}

}  // namespace d2u
