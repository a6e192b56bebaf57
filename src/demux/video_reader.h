// The video of a file, whatever holds it: a video elementary stream, a program stream or a
// transport stream, told apart by content. It hands out one coded frame per call (see
// CPictureChunker), ready for a buffer-driven decoding handle.
#pragma once

#include <cstdint>
#include <memory>

#include "demux/container_detector.h"
#include "demux/picture_chunker.h"
#include "demux/video_payload_source.h"

namespace d2u {

class CTransportStreamSource;

class CVideoReader {
public:
    // Open results beside 0.
    static constexpr int32_t kCannotOpen = -1;
    static constexpr int32_t kUnknownContent = -3001;
    static constexpr int32_t kNoMpegVideo = -3002;
    static constexpr int32_t kNotAVideoPid = -3003;
    static constexpr int32_t kPidWithoutTransport = -3004;
    static constexpr int32_t kAnyVideo = -1;

    // pid: the transport stream's video PID to follow, or kAnyVideo.
    int32_t Open(const char* path, int32_t pid);
    int32_t Open(const wchar_t* path, int32_t pid);
    void Close();
    bool IsOpen() const { return source_ != nullptr; }

    // The next chunk; false at the end of the file. The chunk stays valid until the next call.
    bool NextChunk(PictureChunk& chunk);
    // Chunks go on from the first sequence header at or after the byte offset.
    void Seek(uint64_t offset);

    ContainerKind container() const { return container_; }
    int32_t videoPid() const;
    int32_t programNumber() const;
    int32_t videoStreamType() const;
    uint64_t continuityGaps() const;
    uint64_t position() const { return source_ ? source_->position() : 0; }
    uint64_t size() const { return source_ ? source_->size() : 0; }

private:
    template <class Char>
    int32_t OpenPath(const Char* path, int32_t pid);
    template <class Char>
    int32_t OpenSource(const Char* path, const ContainerGuess& guess, int32_t pid);

    std::unique_ptr<CVideoPayloadSource> source_;
    CTransportStreamSource* transport_ = nullptr;  // source_, for a transport stream
    ContainerKind container_ = ContainerKind::kUnknown;
    CPictureChunker chunker_;
    bool ended_ = false;
};

}  // namespace d2u
