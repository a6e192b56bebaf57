// The video of an MPEG program stream (DVD VOBs, MPEG-1 system streams), read packet by packet
// whatever the pack size: pack headers, system headers and the packets of other streams are
// passed over; the payload of the first video stream's packets comes out in order, each packet
// marked with its presentation time stamp.
#pragma once

#include <cstdint>

#include "demux/file_video_source.h"

namespace d2u {

class CProgramStreamSource : public CFileVideoSource {
public:
    bool ReadPayload(CPictureChunker& chunker) override;
    // The stream id of the video followed, -1 before its first packet.
    int32_t videoStreamId() const { return videoStream_; }

private:
    // Stands on the next 00 00 01 prefix; false at the end of the file.
    bool FindStartCode();
    bool SkipPackHeader();
    // True when a video payload was pushed.
    bool ReadPacket(CPictureChunker& chunker);

    int32_t videoStream_ = -1;
};

}  // namespace d2u
