// The program-specific information of a transport stream: the program association table (which
// programs there are, and the PID of each one's map) and the program map tables (the streams of
// a program, with their types and PIDs). Sections are checked against their CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace d2u {

struct ProgramEntry {
    uint16_t programNumber;
    uint16_t mapPid;
};

struct ProgramStream {
    uint8_t streamType;
    uint16_t pid;
};

struct SectionHeader {
    uint8_t tableId;
    uint16_t tableIdExtension;  // transport_stream_id, program_number
    uint8_t version;
    uint8_t sectionNumber;
    uint8_t lastSectionNumber;
};

constexpr uint8_t kProgramAssociationTableId = 0x00;
constexpr uint8_t kProgramMapTableId = 0x02;
constexpr uint8_t kMpeg1VideoStreamType = 0x01;
constexpr uint8_t kMpeg2VideoStreamType = 0x02;

inline bool IsMpegVideoStreamType(uint8_t type) {
    return type == kMpeg1VideoStreamType || type == kMpeg2VideoStreamType;
}

uint32_t MpegCrc32(const uint8_t* data, size_t length);
// A whole long-form section (from table_id to its CRC) whose CRC holds and which applies now
// (current_next_indicator set).
bool ReadSectionHeader(const uint8_t* section, size_t length, SectionHeader& header);
// The programs of a PAT section; program 0 (the network PID) is left out.
bool ReadProgramAssociation(const uint8_t* section, size_t length,
                            std::vector<ProgramEntry>& programs);
// The elementary streams of a PMT section.
bool ReadProgramMap(const uint8_t* section, size_t length, std::vector<ProgramStream>& streams);

}  // namespace d2u
