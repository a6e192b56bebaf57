// A video payload source that reads one file: opening, seeking and the position are the file's.
#pragma once

#include <cstdint>

#include "demux/buffered_file.h"
#include "demux/video_payload_source.h"

namespace d2u {

class CFileVideoSource : public CVideoPayloadSource {
public:
    template <class Char>
    bool Open(const Char* path) {
        return file_.Open(path);
    }
    void Seek(uint64_t offset) override { file_.Seek(offset); }
    uint64_t position() const override { return file_.position(); }
    uint64_t size() const override { return file_.size(); }

protected:
    CBufferedFile file_;
};

}  // namespace d2u
