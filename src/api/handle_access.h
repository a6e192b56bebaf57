// Handles are the addresses of the handle objects; these convert between the two.
#pragma once

#include "api/output_frame_source.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"

namespace d2u {

inline D2uHandle HandleOf(COutputFrameSource* source) {
    return reinterpret_cast<D2uHandle>(source);
}

inline COutputFrameSource* SourceOf(D2uHandle handle) {
    return reinterpret_cast<COutputFrameSource*>(handle);
}

// The wrapper behind a handle, or null for a null handle.
inline CMpegDecoderWraper* DecoderOf(D2uHandle handle) {
    return handle ? SourceOf(handle)->GetDecoder() : nullptr;
}

}  // namespace d2u
