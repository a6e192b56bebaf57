#include "demux/pes_header.h"

namespace d2u {
namespace {

PacketHeader ReadMpeg1PacketHeader(const uint8_t* body, size_t length) {
    PacketHeader header;
    size_t at = 0;
    while (at < length && at < 16 && body[at] == 0xFF) ++at;  // stuffing
    if (at < length && (body[at] & 0xC0) == 0x40) at += 2;    // buffer size
    if (at >= length) {
        header.payloadOffset = length;
        return header;
    }
    size_t stamps = (body[at] & 0xF0) == 0x20 ? 5 : (body[at] & 0xF0) == 0x30 ? 10 : 1;
    if (stamps > 1 && at + 5 <= length) {
        header.hasPts = true;
        header.pts = ReadTimeStamp(body + at);
    }
    header.payloadOffset = at + stamps < length ? at + stamps : length;
    return header;
}

}  // namespace

uint64_t ReadTimeStamp(const uint8_t* b) {
    return (static_cast<uint64_t>((b[0] >> 1) & 0x07) << 30) | (static_cast<uint64_t>(b[1]) << 22) |
           (static_cast<uint64_t>(b[2] >> 1) << 15) | (static_cast<uint64_t>(b[3]) << 7) |
           static_cast<uint64_t>(b[4] >> 1);
}

PacketHeader ReadPacketHeader(const uint8_t* body, size_t length) {
    if (length < 3 || (body[0] & 0xC0) != 0x80) return ReadMpeg1PacketHeader(body, length);
    PacketHeader header;
    size_t end = 3 + size_t{body[2]};
    header.payloadOffset = end < length ? end : length;
    if ((body[1] & 0x80) && body[2] >= 5 && length >= 8) {
        header.hasPts = true;
        header.pts = ReadTimeStamp(body + 3);
    }
    return header;
}

}  // namespace d2u
