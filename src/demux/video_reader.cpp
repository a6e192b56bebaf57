#include "demux/video_reader.h"

#include <vector>

#include "demux/elementary_stream_source.h"
#include "demux/program_stream_source.h"
#include "demux/transport_stream_source.h"
#include "platform/platform.h"

namespace d2u {
namespace {

platform::FileHandle OpenToRead(const char* path) {
    return platform::OpenForReading(path);
}

platform::FileHandle OpenToRead(const wchar_t* path) {
    return platform::OpenForReadingW(path);
}

// The first bytes of the file, for telling its content.
template <class Char>
bool ReadHead(const Char* path, std::vector<uint8_t>& head) {
    platform::FileHandle file = OpenToRead(path);
    if (file == platform::kInvalidFile) return false;
    head.resize(kDetectionBytes);
    size_t got = 0;
    for (size_t part; got < head.size() &&
                      (part = platform::Read(file, head.data() + got, head.size() - got)) > 0;) {
        got += part;
    }
    head.resize(got);
    platform::Close(file);
    return true;
}

int32_t TransportResult(int32_t result) {
    switch (result) {
        case CTransportStreamSource::kNoMpegVideo:
            return CVideoReader::kNoMpegVideo;
        case CTransportStreamSource::kNotAVideoPid:
            return CVideoReader::kNotAVideoPid;
        default:
            return CVideoReader::kCannotOpen;
    }
}

}  // namespace

int32_t CVideoReader::Open(const char* path, int32_t pid) {
    return OpenPath(path, pid);
}

int32_t CVideoReader::Open(const wchar_t* path, int32_t pid) {
    return OpenPath(path, pid);
}

template <class Char>
int32_t CVideoReader::OpenPath(const Char* path, int32_t pid) {
    Close();
    std::vector<uint8_t> head;
    if (!path || !ReadHead(path, head)) return kCannotOpen;
    ContainerGuess guess = DetectContainer(head.data(), head.size());
    bool transport =
        guess.kind == ContainerKind::kTransport || guess.kind == ContainerKind::kTransport192;
    if (guess.kind == ContainerKind::kUnknown || guess.kind == ContainerKind::kIsoMedia) {
        return kUnknownContent;
    }
    if (pid != kAnyVideo && !transport) return kPidWithoutTransport;
    int32_t result = OpenSource(path, guess, pid);
    if (result != 0) {
        Close();
        return result;
    }
    container_ = guess.kind;
    chunker_.Reset(false);
    ended_ = false;
    return 0;
}

template <class Char>
int32_t CVideoReader::OpenSource(const Char* path, const ContainerGuess& guess, int32_t pid) {
    if (guess.kind == ContainerKind::kElementary) {
        std::unique_ptr<CElementaryStreamSource> source(new CElementaryStreamSource);
        if (!source->Open(path)) return kCannotOpen;
        source_ = std::move(source);
        return 0;
    }
    if (guess.kind == ContainerKind::kProgram) {
        std::unique_ptr<CProgramStreamSource> source(new CProgramStreamSource);
        if (!source->Open(path)) return kCannotOpen;
        source_ = std::move(source);
        return 0;
    }
    std::unique_ptr<CTransportStreamSource> source(new CTransportStreamSource);
    size_t packetSize =
        guess.kind == ContainerKind::kTransport ? kTransportPacket : kTransportPacket + 4;
    int32_t result = source->Open(path, packetSize, guess.firstPacket, pid);
    if (result != 0) return TransportResult(result);
    transport_ = source.get();
    source_ = std::move(source);
    return 0;
}

void CVideoReader::Close() {
    source_.reset();
    transport_ = nullptr;
    container_ = ContainerKind::kUnknown;
    chunker_.Reset(false);
}

bool CVideoReader::NextChunk(PictureChunk& chunk) {
    if (!source_) return false;
    while (!chunker_.Next(chunk)) {
        if (ended_ || !source_->ReadPayload(chunker_)) {
            ended_ = true;
            return chunker_.Finish(chunk);
        }
    }
    return true;
}

void CVideoReader::Seek(uint64_t offset) {
    if (!source_) return;
    source_->Seek(offset);
    chunker_.Reset(true);
    ended_ = false;
}

int32_t CVideoReader::videoPid() const {
    return transport_ ? transport_->videoPid() : -1;
}

int32_t CVideoReader::programNumber() const {
    return transport_ ? transport_->programNumber() : 0;
}

int32_t CVideoReader::videoStreamType() const {
    return transport_ ? transport_->videoStreamType() : 0;
}

uint64_t CVideoReader::continuityGaps() const {
    return transport_ ? transport_->continuityGaps() : 0;
}

}  // namespace d2u
