// A video elementary-stream file: the whole file is the video stream.
#pragma once

#include "demux/buffered_file.h"
#include "demux/video_payload_source.h"

namespace d2u {

class CElementaryStreamSource : public CVideoPayloadSource {
public:
    template <class Char>
    bool Open(const Char* path) {
        return file_.Open(path);
    }
    bool ReadPayload(CPictureChunker& chunker) override;
    void Seek(uint64_t offset) override { file_.Seek(offset); }
    uint64_t position() const override { return file_.position(); }
    uint64_t size() const override { return file_.size(); }

private:
    CBufferedFile file_;
};

}  // namespace d2u
