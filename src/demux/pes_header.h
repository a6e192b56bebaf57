// The header at the front of a PES packet's body (after its start code, stream id and length),
// in the MPEG-2 layout of program and transport streams or the MPEG-1 layout of system streams.
#pragma once

#include <cstddef>
#include <cstdint>

namespace d2u {

// Where the payload of a PES packet body starts (MPEG-1 or MPEG-2 packet header),
// and its time stamp; the body's size when the header runs past it.
struct PacketHeader {
    size_t payloadOffset = 0;
    bool hasPts = false;
    uint64_t pts = 0;
};
PacketHeader ReadPacketHeader(const uint8_t* body, size_t length);
// The 33-bit time stamp in the five bytes of a PTS or DTS field.
uint64_t ReadTimeStamp(const uint8_t* bytes);

}  // namespace d2u
