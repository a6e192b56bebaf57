#include "demux/transport_stream_source.h"

#include "demux/container_detector.h"
#include "diag/decoder_log.h"

namespace d2u {
namespace {

constexpr uint16_t kAssociationPid = 0x0000;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr size_t kHeaderSize = 4;
constexpr size_t kSyncPacketsToAgree = 5;
// The tables are looked for in this much of the file's start.
constexpr uint64_t kTableSearchBytes = 32ull * 1024 * 1024;
// Packets read per call at most, so that a long stretch without video returns now and then.
constexpr int kPacketsPerRead = 4096;
// Video bytes gathered before a call returns: the chunker then looks for start codes in long
// runs rather than packet by packet.
constexpr size_t kVideoBytesPerRead = 32 * 1024;
// Programs of one association table followed at most.
constexpr size_t kMostPrograms = 256;

uint16_t PacketPid(const uint8_t* p) {
    return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
}

bool ContinuityBroken(int32_t last, int32_t cc) {
    return last >= 0 && cc != ((last + 1) & 0x0F);
}

}  // namespace

int32_t CTransportStreamSource::Start(size_t packetSize, size_t firstPacket, int32_t pid) {
    packetSize_ = packetSize;
    prefix_ = packetSize - kTransportPacket;
    firstPacket_ = firstPacket;
    requestedPid_ = pid;
    ReadTablesAhead();
    // Maps may come in any order: the choice made while they came in is made again, now that
    // every program is known.
    videoPid_ = -1;
    ChooseVideo();
    if (videoPid_ < 0) return pid == kAnyVideo ? kNoMpegVideo : kNotAVideoPid;
    Seek(firstPacket_);
    return 0;
}

void CTransportStreamSource::ReadTablesAhead() {
    file_.Seek(firstPacket_);
    const uint8_t* packet = nullptr;
    while (!TablesComplete() && file_.position() < firstPacket_ + kTableSearchBytes &&
           NextPacket(packet)) {
        HandlePacket(packet, nullptr);
        file_.Consume(packetSize_);
    }
}

bool CTransportStreamSource::TablesComplete() const {
    if (!associationSeen_) return false;
    for (const Program& program : programs_) {
        if (!program.mapSeen) return false;
    }
    return true;
}

bool CTransportStreamSource::ReadPayload(CPictureChunker& chunker) {
    const size_t before = chunker.pending();
    const uint8_t* packet = nullptr;
    for (int count = 0; count < kPacketsPerRead; ++count) {
        if (!NextPacket(packet)) return false;
        HandlePacket(packet, &chunker);
        file_.Consume(packetSize_);
        if (chunker.pending() - before >= kVideoBytesPerRead) break;
    }
    return true;
}

void CTransportStreamSource::Seek(uint64_t offset) {
    file_.Seek(offset);
    needsResync_ = offset != firstPacket_;
    pes_.Reset();
    videoCc_ = -1;
    associationCc_ = -1;
    association_.Drop();
    for (Program& program : programs_) {
        program.lastCc = -1;
        program.sections.Drop();
    }
}

bool CTransportStreamSource::NextPacket(const uint8_t*& packet) {
    if (needsResync_ && !Resync()) return false;
    needsResync_ = false;
    if (!file_.Ensure(packetSize_)) return false;
    if (file_.data()[prefix_] != kTransportSyncByte) {
        LogFormat(1, "transport stream: packet rhythm lost at offset %.0f",
                  static_cast<double>(file_.position()));
        if (!Resync()) return false;
    }
    packet = file_.data();
    return true;
}

bool CTransportStreamSource::Resync() {
    const size_t window = kSyncPacketsToAgree * packetSize_;
    for (;;) {
        bool whole = file_.Ensure(window);
        size_t available = file_.available();
        if (available <= prefix_) return false;
        size_t offset = 0;
        if (FindTransportSync(file_.data() + prefix_, available - prefix_, packetSize_,
                              kSyncPacketsToAgree, offset) &&
            (whole ? offset + window <= available : true)) {
            file_.Consume(offset);
            return file_.Ensure(packetSize_);
        }
        if (!whole) return false;
        file_.Consume(available - window + 1);
    }
}

void CTransportStreamSource::HandlePacket(const uint8_t* unit, CPictureChunker* chunker) {
    const uint8_t* packet = unit + prefix_;
    if (packet[1] & 0x80) return;  // transport_error_indicator: the packet is damaged
    const uint16_t pid = PacketPid(packet);
    const int adaptation = (packet[3] >> 4) & 0x03;
    if (pid == kNullPid || !(adaptation & 0x01)) return;  // no payload
    size_t offset = kHeaderSize;
    bool discontinuity = false;
    if (adaptation & 0x02) {
        offset += 1 + size_t{packet[4]};
        if (offset >= kTransportPacket) return;
        discontinuity = packet[4] > 0 && (packet[5] & 0x80);
    }
    if (pid == kAssociationPid) {
        HandleTable(nullptr, packet, offset, discontinuity);
    } else if (static_cast<int32_t>(pid) == videoPid_) {
        if (chunker) HandleVideo(packet, offset, discontinuity, *chunker);
    } else if (Program* program = ProgramWithMap(pid)) {
        HandleTable(program, packet, offset, discontinuity);
    }
}

void CTransportStreamSource::HandleVideo(const uint8_t* packet, size_t offset, bool discontinuity,
                                         CPictureChunker& chunker) {
    const int32_t cc = packet[3] & 0x0F;
    if (!discontinuity && cc == videoCc_) return;  // a duplicate packet
    if (!discontinuity && ContinuityBroken(videoCc_, cc)) {
        ++continuityGaps_;
        LogFormat(1, "transport stream: packets of PID %d lost before offset %.0f", videoPid_,
                  static_cast<double>(file_.position()));
    }
    videoCc_ = cc;
    if (packet[3] & 0xC0) return;  // scrambled: nothing to read
    pes_.Feed(packet + offset, kTransportPacket - offset, (packet[1] & 0x40) != 0, chunker);
}

void CTransportStreamSource::HandleTable(Program* program, const uint8_t* packet, size_t offset,
                                         bool discontinuity) {
    const int32_t cc = packet[3] & 0x0F;
    int32_t& last = program ? program->lastCc : associationCc_;
    CPsiSectionAssembler& sections = program ? program->sections : association_;
    if (!discontinuity && ContinuityBroken(last, cc)) sections.Drop();
    last = cc;
    CPsiSectionAssembler::Sections completed;
    sections.Feed(packet + offset, kTransportPacket - offset, (packet[1] & 0x40) != 0, completed);
    // Taking an association may replace the programs: the map's is found again each time.
    const uint16_t mapPid = program ? program->mapPid : 0;
    for (const std::vector<uint8_t>& section : completed) {
        if (!program) {
            TakeAssociation(section);
        } else if (Program* current = ProgramWithMap(mapPid)) {
            TakeMap(*current, section);
        }
    }
}

void CTransportStreamSource::TakeAssociation(const std::vector<uint8_t>& section) {
    std::vector<ProgramEntry> entries;
    if (!ReadProgramAssociation(section.data(), section.size(), entries)) return;
    std::vector<Program> programs;
    for (const ProgramEntry& entry : entries) {
        if (programs.size() >= kMostPrograms) break;
        Program* known = ProgramWithMap(entry.mapPid);
        if (known && known->number == entry.programNumber) {
            programs.push_back(std::move(*known));
        } else {
            programs.push_back(Program{entry.programNumber, entry.mapPid, false, -1, {}, {}});
        }
    }
    programs_.swap(programs);
    associationSeen_ = true;
    ChooseVideo();
}

void CTransportStreamSource::TakeMap(Program& program, const std::vector<uint8_t>& section) {
    SectionHeader header;
    std::vector<ProgramStream> streams;
    if (!ReadSectionHeader(section.data(), section.size(), header) ||
        header.tableIdExtension != program.number ||
        !ReadProgramMap(section.data(), section.size(), streams)) {
        return;
    }
    program.streams.swap(streams);
    program.mapSeen = true;
    ChooseVideo();
}

CTransportStreamSource::Program* CTransportStreamSource::ProgramWithMap(uint16_t pid) {
    for (Program& program : programs_) {
        if (program.mapPid == pid) return &program;
    }
    return nullptr;
}

bool CTransportStreamSource::ListedAsMpegVideo(int32_t pid, int32_t& type, int32_t& program) const {
    for (const Program& candidate : programs_) {
        for (const ProgramStream& stream : candidate.streams) {
            if (stream.pid == pid && IsMpegVideoStreamType(stream.streamType)) {
                type = stream.streamType;
                program = candidate.number;
                return true;
            }
        }
    }
    return false;
}

// The stream followed stays as long as a map lists it; otherwise the first MPEG video stream
// of the first program that has one takes its place.
void CTransportStreamSource::ChooseVideo() {
    int32_t chosen = requestedPid_ != kAnyVideo ? requestedPid_ : videoPid_;
    int32_t type = 0, program = 0;
    if (chosen < 0 || !ListedAsMpegVideo(chosen, type, program)) {
        chosen = -1;
        for (const Program& candidate : programs_) {
            for (const ProgramStream& stream : candidate.streams) {
                if (chosen < 0 && requestedPid_ == kAnyVideo &&
                    IsMpegVideoStreamType(stream.streamType)) {
                    chosen = stream.pid;
                    type = stream.streamType;
                    program = candidate.number;
                }
            }
        }
    }
    // Until the maps are read again after a seek, the stream followed stays.
    if (chosen < 0 && !TablesComplete()) return;
    if (chosen != videoPid_) {
        pes_.Reset();
        videoCc_ = -1;
    }
    videoPid_ = chosen;
    videoType_ = type;
    videoProgram_ = program;
}

}  // namespace d2u
