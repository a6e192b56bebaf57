// A video file decoded through the library's public interface: an elementary stream through a
// file-driven handle, a program or transport stream through a buffer-driven handle fed one chunk
// of the library's video reader per call.
// Pictures come out in the library's order, which is the decoding order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "d2udir.h"
#include "pictures.h"
#include "stream_headers.h"
#include "video_chunks.h"

namespace d2ucli {

class VideoInput {
public:
    // Opens the file and reads its first sequence header; RuntimeError when that fails.
    // pid: a transport stream's video PID, or D2U_ANY_VIDEO.
    explicit VideoInput(const std::string& path, int32_t pid = D2U_ANY_VIDEO);
    ~VideoInput();
    VideoInput(const VideoInput&) = delete;
    VideoInput& operator=(const VideoInput&) = delete;

    // Fed chunk by chunk (program and transport streams).
    bool isChunked() const { return chunks_ != nullptr; }
    int32_t container() const { return container_; }
    const SequenceFacts& sequence() const {
        ProbeOnce();
        return sequence_;
    }
    bool firstPictureTopFieldFirst() const {
        ProbeOnce();
        return firstTopFieldFirst_;
    }

    // Threads that decode each picture (0: one per processor).
    void SetThreads(int32_t count);
    void SetOutputSize(int32_t width, int32_t height);
    // The size of the pictures handed out.
    void OutputSize(int32_t& width, int32_t& height) const;
    // Leaves out pictures worth `milliseconds` from the start.
    void Skip(uint32_t milliseconds);

    // The next picture; false at the end.
    bool ReadFrame(YuvPicture& picture);
    bool ReadBitmap(BitmapPicture& picture);
    // The next picture decoded (or decoded and converted to pixels) and dropped.
    bool DecodeOnly();
    bool DecodeBitmapOnly();

    double Progress() const;

private:
    // Reads the first sequence header and picture; RuntimeError when there is no sequence header.
    void Probe(VideoChunks& source) const;
    // The probe of a file decoded straight from the file (an elementary stream), made when its
    // facts are first asked for: the decoder reads the sequence header itself, and a decode
    // that writes no stream header does without the probe's reading.
    void ProbeOnce() const;
    void ReadFramesOnly();
    // The next frame record of the library; false at the end.
    bool NextLibraryFrame(D2uFrame*& frame);
    bool NextLibraryBitmap(BitmapPicture& picture);
    bool NextChunk();

    std::string path_;
    int32_t pid_;
    D2uHandle handle_ = 0;
    int32_t container_ = 0;
    std::unique_ptr<VideoChunks> chunks_;
    const uint8_t* chunk_ = nullptr;
    int32_t chunkLength_ = 0;
    mutable bool probed_ = false;
    mutable SequenceFacts sequence_;
    mutable bool firstTopFieldFirst_ = true;
    // A file-driven handle hands the last picture out once more after the end: a picture
    // counts only once the call after it has produced one too (pending until then).
    bool primed_ = false;
    YuvPicture pendingFrame_;
    BitmapPicture pendingBitmap_;
    BitmapPicture scratchBitmap_;
};

}  // namespace d2ucli
