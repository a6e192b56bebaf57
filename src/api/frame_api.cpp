// Pulling decoded frames out of a handle: file-driven (GetMpegFrame) and buffer-driven
// (GetMpegFrame2).
#include "api/export_guard.h"
#include "api/frame_calls.h"
#include "api/handle_access.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"
#include "diag/decoder_log.h"
#include "picture/yuv_frame.h"
#include "preview/preview_objects.h"

using namespace d2u;

namespace {

// The handle's next frame goes to the host, which may write into it: a reference picture goes
// out as a copy. The host word is the host's own; every frame goes out with it cleared. 0, or -1
// without a frame.
int32_t HandOutNext(D2uFrame** frame, D2uHandle handle, CMpegDecoderWraper& decoder, FrameUse use) {
    CYUVFrame* next = SourceOf(handle)->GetNextFrame(1);
    if (use == FrameUse::kHostWrites) next = decoder.ForHost(next);
    if (next) next->hostWord = 0;
    if (frame) *frame = reinterpret_cast<D2uFrame*>(next);
    return next ? 0 : -1;
}

}  // namespace

int32_t d2u::NextFileFrame(D2uFrame** frame, D2uHandle handle, FrameUse use) {
    LogFormat(10, "GetMpegFrame start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    // Only a handle that reads a file of its own has frames to give here.
    if (!decoder || !decoder->ReadsFile()) return -1;
    const int32_t result = HandOutNext(frame, handle, *decoder, use);
    LogFormat(10, "GetMpegFrame end retCode = %d", result);
    return result;
}

int32_t d2u::NextBufferFrame(D2uFrame** frame, const uint8_t* data, int32_t length,
                             D2uHandle handle, FrameUse use) {
    LogFormat(5, "GetMpegFrame2 start, decHandler=%d, buffLen=%d", static_cast<int>(handle),
              static_cast<int>(length));
    if (!handle) {
        PublishFormat("ERROR - GetMpegFrame2 frameSource=NULL");
        return -1;
    }
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder) {
        PublishFormat("ERROR - GetMpegFrame2 decoder=NULL");
        return -1;
    }
    const int32_t fed = decoder->FeedBuffer(data, length);
    if (fed != 0) return fed;
    const int32_t result = HandOutNext(frame, handle, *decoder, use);
    LogFormat(5, "GetMpegFrame2 end retCode = %d", result);
    return result;
}

extern "C" {

D2U_EXPORT int32_t D2U_API GetMpegFrame(D2uFrame** frame, D2uHandle handle) {
    return Guarded(-1, [&] { return NextFileFrame(frame, handle, FrameUse::kHostWrites); });
}

D2U_EXPORT int32_t D2U_API D2uDirGetMpegFrame(D2uFrame** frame, D2uHandle handle) {
    return GetMpegFrame(frame, handle);
}

D2U_EXPORT int32_t D2U_API GetMpegFrame2(D2uFrame** frame, const uint8_t* data, int32_t length,
                                         D2uHandle handle) {
    return Guarded(
        -1, [&] { return NextBufferFrame(frame, data, length, handle, FrameUse::kHostWrites); });
}

D2U_EXPORT int32_t D2U_API D2uDirGetMpegFrame2(D2uFrame** frame, const uint8_t* data,
                                               int32_t length, D2uHandle handle) {
    return GetMpegFrame2(frame, data, length, handle);
}

D2U_EXPORT int32_t D2U_API D2uDirSetFramesWritable(D2uHandle handle, int32_t writable) {
    return Guarded(-1, [&] {
        CMpegDecoderWraper* decoder = DecoderOf(handle);
        if (!decoder) return -1;
        decoder->SetFramesWritable(writable != 0);
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirSetThreads(D2uHandle handle, int32_t count) {
    return Guarded(-1, [&] {
        if (count < 0) return -1;
        if (handle) return DecoderOf(handle)->SetThreads(count);
        PreviewObjects* preview = Preview();
        if (!preview) return -1;
        const int32_t threads = CWorkerPool::ThreadsFor(count);
        preview->previewThreads = threads;
        if (preview->previewHandle) DecoderOf(preview->previewHandle)->SetThreads(threads);
        return threads;
    });
}

}  // extern "C"
