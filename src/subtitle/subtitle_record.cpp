#include "subtitle/subtitle_record.h"

#include <cstring>

namespace d2u {
namespace {

uint32_t LittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

int32_t Signed32(const uint8_t* bytes) {
    return static_cast<int32_t>(LittleEndian32(bytes));
}

float Float32(const uint8_t* bytes) {
    uint32_t bits = LittleEndian32(bytes);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

SubtitleRecord ParseSubtitleRecord(const uint8_t* bytes) {
    SubtitleRecord record{};
    record.x1 = Signed32(bytes + 0);
    record.y1 = Signed32(bytes + 4);
    record.x2 = Signed32(bytes + 8);
    record.y2 = Signed32(bytes + 12);
    record.width = Signed32(bytes + 16);
    record.height = Signed32(bytes + 20);
    for (int i = 0; i < 4; ++i) {
        record.visibility[i] = Signed32(bytes + 24 + 4 * i);
        record.colour[i] = LittleEndian32(bytes + 40 + 4 * i);
    }
    record.startTime = Float32(bytes + 56);
    record.endTime = Float32(bytes + 60);
    record.headerSize = Signed32(bytes + 64);
    record.bottomFieldOffset = Signed32(bytes + 68);
    record.recordSize = Signed32(bytes + 72);
    return record;
}

}  // namespace d2u
