#include "demux/elementary_stream_source.h"

namespace d2u {

bool CElementaryStreamSource::ReadPayload(CPictureChunker& chunker) {
    file_.Ensure(CBufferedFile::kBufferSize);
    size_t count = file_.available();
    if (count == 0) return false;
    chunker.Push(file_.data(), count);
    file_.Consume(count);
    return true;
}

}  // namespace d2u
