// The video of an MPEG-2 transport stream (188-byte packets, or 192-byte packets with a time code
// in front): the program association and program map tables name the programs and their
// streams; the first MPEG-1/MPEG-2 video stream of the first program that has one is followed,
// or the one whose PID the caller chose. Its PES packets are joined again and their payload
// pushed out with their time stamps. Lost or damaged packets are survived: the reader finds the
// packet rhythm again after junk, and a continuity-counter gap is counted and logged while the
// rest of the stream goes on. A program map that changes mid-stream is followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "demux/buffered_file.h"
#include "demux/pes_assembler.h"
#include "demux/psi_section_assembler.h"
#include "demux/psi_tables.h"
#include "demux/video_payload_source.h"

namespace d2u {

class CTransportStreamSource : public CVideoPayloadSource {
public:
    static constexpr int32_t kAnyVideo = -1;
    // Open results beside 0.
    static constexpr int32_t kCannotOpen = -1;
    static constexpr int32_t kNoMpegVideo = -2;
    static constexpr int32_t kNotAVideoPid = -3;

    // Opens a file whose packets are `packetSize` bytes long from `firstPacket` on, reads its
    // tables and picks the video stream (kAnyVideo: the first one).
    template <class Char>
    int32_t Open(const Char* path, size_t packetSize, size_t firstPacket, int32_t pid) {
        return file_.Open(path) ? Start(packetSize, firstPacket, pid) : kCannotOpen;
    }
    bool ReadPayload(CPictureChunker& chunker) override;
    void Seek(uint64_t offset) override;
    uint64_t position() const override { return file_.position(); }
    uint64_t size() const override { return file_.size(); }

    int32_t videoPid() const { return videoPid_; }
    int32_t videoStreamType() const { return videoType_; }
    int32_t programNumber() const { return videoProgram_; }
    uint64_t continuityGaps() const { return continuityGaps_; }

private:
    int32_t Start(size_t packetSize, size_t firstPacket, int32_t pid);

    struct Program {
        uint16_t number;
        uint16_t mapPid;
        bool mapSeen;
        int32_t lastCc;
        std::vector<ProgramStream> streams;
        CPsiSectionAssembler sections;
    };

    // The next packet, its first byte at the time code or sync byte; false at the end.
    bool NextPacket(const uint8_t*& packet);
    bool Resync();
    void ReadTablesAhead();
    bool TablesComplete() const;
    void HandlePacket(const uint8_t* packet, CPictureChunker* chunker);
    void HandleVideo(const uint8_t* packet, size_t offset, bool discontinuity,
                     CPictureChunker& chunker);
    void HandleTable(Program* program, const uint8_t* packet, size_t offset, bool discontinuity);
    void TakeAssociation(const std::vector<uint8_t>& section);
    void TakeMap(Program& program, const std::vector<uint8_t>& section);
    void ChooseVideo();
    bool ListedAsMpegVideo(int32_t pid, int32_t& type, int32_t& program) const;
    Program* ProgramWithMap(uint16_t pid);

    CBufferedFile file_;
    size_t packetSize_ = 0;
    size_t prefix_ = 0;  // time code bytes before the sync byte
    uint64_t firstPacket_ = 0;
    bool needsResync_ = false;
    int32_t requestedPid_ = kAnyVideo;
    bool associationSeen_ = false;
    int32_t associationCc_ = -1;
    CPsiSectionAssembler association_;
    std::vector<Program> programs_;
    int32_t videoPid_ = -1, videoType_ = 0, videoProgram_ = 0;
    int32_t videoCc_ = -1;
    CPesAssembler pes_;
    uint64_t continuityGaps_ = 0;
};

}  // namespace d2u
