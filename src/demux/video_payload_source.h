// Where the video elementary stream of a file comes from: the file itself, or the video packets
// of a program or transport stream. A source pushes the stream into a picture chunker, marking
// where the container's packets begin so that chunks get their time stamps.
#pragma once

#include <cstdint>

#include "demux/picture_chunker.h"

namespace d2u {

class CVideoPayloadSource {
public:
    virtual ~CVideoPayloadSource() = default;
    // Pushes the next piece of the video stream (possibly none); false at the end of the file.
    virtual bool ReadPayload(CPictureChunker& chunker) = 0;
    // Moves to a byte offset of the file; reading resumes at the next packet found there.
    virtual void Seek(uint64_t offset) = 0;
    virtual uint64_t position() const = 0;
    virtual uint64_t size() const = 0;
};

}  // namespace d2u
