// A video elementary-stream file: the whole file is the video stream.
#pragma once

#include "demux/file_video_source.h"

namespace d2u {

class CElementaryStreamSource : public CFileVideoSource {
public:
    bool ReadPayload(CPictureChunker& chunker) override;
};

}  // namespace d2u
