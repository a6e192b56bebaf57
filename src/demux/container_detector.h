// Tells by content what a file holds: a video elementary stream, a program stream, or a
// transport stream of 188-byte packets or of 192-byte packets (a 4-byte time code before each).
#pragma once

#include <cstddef>
#include <cstdint>

namespace d2u {

enum class ContainerKind : int32_t {
    kUnknown = 0,
    kElementary = 1,
    kProgram = 2,
    kTransport = 3,
    kTransport192 = 4,
    kIsoMedia = 5,  // MP4, QuickTime and their relatives: recognised so as to be refused
};

struct ContainerGuess {
    ContainerKind kind = ContainerKind::kUnknown;
    size_t firstPacket = 0;  // transport streams: offset of the first whole packet
};

constexpr size_t kTransportPacket = 188;
constexpr uint8_t kTransportSyncByte = 0x47;
// Bytes of the file start looked at.
constexpr size_t kDetectionBytes = 64 * 1024;

ContainerGuess DetectContainer(const uint8_t* head, size_t length);

// The first offset from `from` on at which a sync byte begins `count` packets of `period` bytes
// in a row (fewer when the data ends sooner, but at least one); false when there is none.
bool FindTransportSync(const uint8_t* data, size_t length, size_t period, size_t count,
                       size_t& offset);

}  // namespace d2u
