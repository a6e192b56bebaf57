// The video of an MPEG program stream (DVD VOBs, MPEG-1 system streams), read packet by packet
// whatever the pack size: pack headers, system headers and the packets of other streams are
// passed over; the payload of the first video stream's packets comes out in order, each packet
// marked with its presentation time stamp.
#pragma once

#include <cstdint>

#include "demux/buffered_file.h"
#include "demux/video_payload_source.h"

namespace d2u {

class CProgramStreamSource : public CVideoPayloadSource {
public:
    template <class Char>
    bool Open(const Char* path) {
        return file_.Open(path);
    }
    bool ReadPayload(CPictureChunker& chunker) override;
    void Seek(uint64_t offset) override { file_.Seek(offset); }
    uint64_t position() const override { return file_.position(); }
    uint64_t size() const override { return file_.size(); }
    // The stream id of the video followed, -1 before its first packet.
    int32_t videoStreamId() const { return videoStream_; }

private:
    // Stands on the next 00 00 01 prefix; false at the end of the file.
    bool FindStartCode();
    bool SkipPackHeader();
    // True when a video payload was pushed.
    bool ReadPacket(CPictureChunker& chunker);

    CBufferedFile file_;
    int32_t videoStream_ = -1;
};

}  // namespace d2u
