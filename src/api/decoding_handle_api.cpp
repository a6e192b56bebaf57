// Opening and closing decoding handles.
#include "api/export_guard.h"
#include "api/handle_access.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"
#include "diag/decoder_log.h"
#include "input/output_frame_source.h"

using namespace d2u;

extern "C" {

D2U_EXPORT int32_t D2U_API InitDecoding(D2uHandle* handle) {
    return Guarded(0, [&]() -> int32_t {
        RefreshCachedLogger();
        CachedLogger()->Log15("InitDecoding start");
        auto* wrapper = new CMpegDecoderWraper();
        auto* source = new COutputFrameSource();
        source->SetDecoder(wrapper);
        if (handle) *handle = HandleOf(source);
        CachedLogger()->Log15("InitDecoding end");
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirInitDecoding(D2uHandle* handle) { return InitDecoding(handle); }

D2U_EXPORT int32_t D2U_API FinishDecoding(D2uHandle* handle) {
    return Guarded(0, [&]() -> int32_t {
        CachedLogger()->Log15("FinishDecoding start");
        if (!handle || *handle == 0) return 0;
        COutputFrameSource* source = SourceOf(*handle);
        CMpegDecoderWraper* wrapper = source->GetDecoder();
        CachedLogger()->Write("FinishDecoding before CloseDecoder", 25);
        if (wrapper) wrapper->CloseDecoder();
        CachedLogger()->Write("FinishDecoding before delete", 25);
        delete wrapper;
        delete source;
        *handle = 0;
        CachedLogger()->Log15("FinishDecoding end");
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirFinishDecoding(D2uHandle* handle) {
    return FinishDecoding(handle);
}

}  // extern "C"
