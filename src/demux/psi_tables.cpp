#include "demux/psi_tables.h"

namespace d2u {
namespace {

constexpr size_t kShortHeader = 3;  // table_id, flags and section_length
constexpr size_t kLongHeader = 8;   // up to last_section_number
constexpr size_t kCrcSize = 4;

struct CrcTable {
    uint32_t entries[256];
    CrcTable() {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            uint32_t crc = byte << 24;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            }
            entries[byte] = crc;
        }
    }
};

uint16_t Pid(const uint8_t* bytes) {
    return static_cast<uint16_t>(((bytes[0] & 0x1F) << 8) | bytes[1]);
}

}  // namespace

uint32_t MpegCrc32(const uint8_t* data, size_t length) {
    static const CrcTable table;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ table.entries[(crc >> 24) ^ data[i]];
    return crc;
}

bool ReadSectionHeader(const uint8_t* section, size_t length, SectionHeader& header) {
    if (length < kLongHeader + kCrcSize) return false;
    size_t sectionLength = ((section[1] & 0x0F) << 8) | section[2];
    if (!(section[1] & 0x80) || kShortHeader + sectionLength != length) return false;
    if (MpegCrc32(section, length) != 0) return false;
    if (!(section[5] & 0x01)) return false;  // a table that applies later
    header.tableId = section[0];
    header.tableIdExtension = static_cast<uint16_t>((section[3] << 8) | section[4]);
    header.version = (section[5] >> 1) & 0x1F;
    header.sectionNumber = section[6];
    header.lastSectionNumber = section[7];
    return true;
}

bool ReadProgramAssociation(const uint8_t* section, size_t length,
                            std::vector<ProgramEntry>& programs) {
    SectionHeader header;
    if (!ReadSectionHeader(section, length, header)) return false;
    if (header.tableId != kProgramAssociationTableId) return false;
    for (size_t at = kLongHeader; at + 4 <= length - kCrcSize; at += 4) {
        uint16_t number = static_cast<uint16_t>((section[at] << 8) | section[at + 1]);
        if (number != 0) programs.push_back(ProgramEntry{number, Pid(section + at + 2)});
    }
    return true;
}

bool ReadProgramMap(const uint8_t* section, size_t length, std::vector<ProgramStream>& streams) {
    SectionHeader header;
    if (!ReadSectionHeader(section, length, header)) return false;
    if (header.tableId != kProgramMapTableId || length < kLongHeader + 4 + kCrcSize) return false;
    const size_t end = length - kCrcSize;
    size_t at =
        kLongHeader + 4 + (((section[kLongHeader + 2] & 0x0F) << 8) | section[kLongHeader + 3]);
    while (at + 5 <= end) {
        size_t infoLength = ((section[at + 3] & 0x0F) << 8) | section[at + 4];
        streams.push_back(ProgramStream{section[at], Pid(section + at + 1)});
        at += 5 + infoLength;
    }
    return true;
}

}  // namespace d2u
