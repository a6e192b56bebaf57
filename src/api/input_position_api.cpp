// Size of and position in the input file, repositioning, and the read limit that lets a host
// decode a file it is still writing.
#include <cstdint>

#include "api/export_guard.h"
#include "api/handle_access.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"
#include "diag/decoder_log.h"

using namespace d2u;

namespace {

int32_t ReportInputSize(D2uHandle handle, uint64_t* size) {
    CachedLogger()->Log15("GetInputSize start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder) return -1;
    if (size) *size = decoder->InputSize();
    CachedLogger()->Log15("GetInputSize end");
    return 0;
}

int32_t ReportInputPosition(D2uHandle handle, uint64_t* position) {
    CachedLogger()->Log15("GetInputPosition start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder) return -1;
    if (position) *position = decoder->InputPosition();
    CachedLogger()->Log15("GetInputPosition end");
    return 0;
}

// Decoding goes on from the next sequence header at or after the offset.
int32_t MoveInputPosition(D2uHandle handle, uint32_t low, uint32_t high) {
    CachedLogger()->Log15("D2uDirSetInputPosition start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder || decoder->Reposition(low, high) != 0) return -1;
    CachedLogger()->Log15("D2uDirSetInputPosition end");
    return 0;
}

// Called from another thread while the decoding thread may wait for data; the data source
// reads the limit afresh after every wait step.
int32_t ChangeReadLimit(D2uHandle handle, uint32_t low, uint32_t high) {
    CachedLogger()->Log15("SetFileReadLimit start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder) return -1;
    decoder->SetReadLimit(low, high);
    CachedLogger()->Log15("SetFileReadLimit end");
    return 0;
}

}  // namespace

extern "C" {

D2U_EXPORT int32_t D2U_API GetInputSize(D2uHandle handle, uint64_t* size) {
    return Guarded(-1, [&] { return ReportInputSize(handle, size); });
}

D2U_EXPORT int32_t D2U_API D2uDirGetInputSize(D2uHandle handle, uint64_t* size) {
    return GetInputSize(handle, size);
}

D2U_EXPORT int32_t D2U_API GetInputPosition(D2uHandle handle, uint64_t* position) {
    return Guarded(-1, [&] { return ReportInputPosition(handle, position); });
}

D2U_EXPORT int32_t D2U_API D2uDirGetInputPosition(D2uHandle handle, uint64_t* position) {
    return GetInputPosition(handle, position);
}

D2U_EXPORT int32_t D2U_API D2uDirSetInputPosition(D2uHandle handle, uint32_t offsetLow,
                                                  uint32_t offsetHigh) {
    return Guarded(-1, [&] { return MoveInputPosition(handle, offsetLow, offsetHigh); });
}

D2U_EXPORT int32_t D2U_API SetFileReadLimit(D2uHandle handle, uint32_t limitLow,
                                            uint32_t limitHigh) {
    return Guarded(-1, [&] { return ChangeReadLimit(handle, limitLow, limitHigh); });
}

D2U_EXPORT int32_t D2U_API D2uDirSetFileReadLimit(D2uHandle handle, uint32_t limitLow,
                                                  uint32_t limitHigh) {
    return SetFileReadLimit(handle, limitLow, limitHigh);
}

}  // extern "C"
