// Decoded pictures delivered as 32-bit pixels into a buffer that the host owns.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "api/export_guard.h"
#include "api/frame_calls.h"
#include "api/handle_access.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"
#include "diag/decoder_log.h"
#include "picture/bmp_utils.h"
#include "picture/yuv_frame.h"

using namespace d2u;

namespace {

constexpr int32_t kEscaped = std::numeric_limits<int32_t>::min();

// Describes the host's buffer as a 32-bit bitmap for the time of one conversion; the buffer
// stays the host's.
class HostBitmap {
public:
    HostBitmap(uint8_t* pixels, int32_t width, int32_t height) {
        bitmap_.bmWidth = width;
        bitmap_.bmHeight = height;
        bitmap_.bmWidthBytes = width * 4;
        bitmap_.bmPlanes = 1;
        bitmap_.bmBitsPixel = 32;
        bitmap_.bmBits = pixels;
    }
    ~HostBitmap() { bitmap_.bmBits = nullptr; }
    HostBitmap(const HostBitmap&) = delete;
    HostBitmap& operator=(const HostBitmap&) = delete;

    // On one thread as one piece; on more, in bands of rows that the threads take in turn.
    void FromYUV(const CYUVFrame& frame, CWorkerPool* workers) {
        if (!workers || workers->Threads() < 2) {
            bitmap_.FromYUV(frame);
            return;
        }
        frame_ = &frame;
        workers->RunParts((frame.height + kBandRows - 1) / kBandRows, ConvertBand, this);
    }

private:
    // Even, so that a band of a 4:2:0 picture starts on a row pair sharing one chroma row.
    static constexpr int32_t kBandRows = 16;

    static void ConvertBand(void* context, int32_t band) {
        auto& self = *static_cast<HostBitmap*>(context);
        const int32_t first = kBandRows * band;
        self.bitmap_.FromYUVRows(*self.frame_, first,
                                 std::min(kBandRows, self.frame_->height - first));
    }

    CBmpUtils bitmap_;
    const CYUVFrame* frame_ = nullptr;
};

// Converts a frame handed out by the frame exports into the host's buffer; without one, or
// when it does not fit, -1 with length 0.
int32_t ConvertFrame(const D2uFrame* handedOut, D2uHandle handle, uint8_t* destination,
                     int32_t* length, int32_t* isReference) {
    if (!handedOut) {
        PublishFormat("GetBitmapData2 end err from GetMpegFrame");
        *length = 0;
        return -1;
    }
    const auto& frame = *reinterpret_cast<const CYUVFrame*>(static_cast<const void*>(handedOut));
    if (isReference) *isReference = frame.pictureType != 3 ? 1 : 0;
    int64_t size = static_cast<int64_t>(frame.height) * frame.width * 4;
    if (frame.width <= 0 || frame.height <= 0 || size > *length) {
        int32_t shown =
            size > std::numeric_limits<int32_t>::max() ? -1 : static_cast<int32_t>(size);
        PublishFormat("GetBitmapData2 end err frame too big. Ret frame len=%d, dest len= %d", shown,
                      *length);
        *length = 0;
        return -1;
    }
    *length = static_cast<int32_t>(size);
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    HostBitmap(destination, frame.width, frame.height)
        .FromYUV(frame, decoder ? &decoder->Workers() : nullptr);
    return 0;
}

// The checks of the two exports before anything is decoded: -1 with length 0 when there is
// nothing to decode into, 0 to go on.
int32_t CheckOutputs(uint8_t* destination, int32_t* length) {
    if (!length) return -1;
    if (destination) return 0;
    *length = 0;
    return -1;
}

// The pictures come through the steps of the frame exports, so that the bitmap calls log,
// publish and refuse exactly as those do.
int32_t DecodeFileIntoBitmap(uint8_t* destination, int32_t* length, D2uHandle handle,
                             int32_t* isReference) {
    if (CheckOutputs(destination, length) != 0) return -1;
    D2uFrame* frame = nullptr;
    NextFileFrame(&frame, handle, FrameUse::kConverted);
    return ConvertFrame(frame, handle, destination, length, isReference);
}

int32_t DecodeBufferIntoBitmap(uint8_t* destination, int32_t* length, const uint8_t* data,
                               int32_t dataLength, D2uHandle handle, int32_t* isReference) {
    if (CheckOutputs(destination, length) != 0) return -1;
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    const bool canStart = decoder && decoder->TakesBuffer(data, dataLength);
    D2uFrame* frame = nullptr;
    const int32_t result = NextBufferFrame(&frame, data, dataLength, handle, FrameUse::kConverted);
    // A decoder that could not start on the buffer leaves the outputs as they were.
    if (result != 0 && canStart && !decoder->Started()) return result;
    return ConvertFrame(frame, handle, destination, length, isReference);
}

// Runs a bitmap export; whatever escapes the decoder ends as a failure with nothing delivered.
template <class Body>
int32_t RunBitmapExport(int32_t* length, Body&& body) {
    int32_t result = Guarded(kEscaped, std::forward<Body>(body));
    if (result != kEscaped) return result;
    if (length) *length = 0;
    return -1;
}

}  // namespace

extern "C" {

D2U_EXPORT int32_t D2U_API GetBitmapData(uint8_t* destination, int32_t* length, D2uHandle handle,
                                         int32_t* isReference) {
    return RunBitmapExport(length, [&]() -> int32_t {
        CachedLogger()->Log15("GetBitmapData2 start (GetBitmapData)");
        int32_t result = DecodeFileIntoBitmap(destination, length, handle, isReference);
        CachedLogger()->Log15("GetBitmapData2 end (GetBitmapData)");
        return result;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirGetBitmapData(uint8_t* destination, int32_t* length,
                                               D2uHandle handle, int32_t* isReference) {
    return GetBitmapData(destination, length, handle, isReference);
}

D2U_EXPORT int32_t D2U_API GetBitmapData2(uint8_t* destination, int32_t* length,
                                          const uint8_t* data, int32_t dataLength, D2uHandle handle,
                                          int32_t* isReference) {
    return RunBitmapExport(length, [&]() -> int32_t {
        CachedLogger()->Log15("GetBitmapData2 start");
        int32_t result =
            DecodeBufferIntoBitmap(destination, length, data, dataLength, handle, isReference);
        CachedLogger()->Log15("GetBitmapData2 end");
        return result;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirGetBitmapData2(uint8_t* destination, int32_t* length,
                                                const uint8_t* data, int32_t dataLength,
                                                D2uHandle handle, int32_t* isReference) {
    return GetBitmapData2(destination, length, data, dataLength, handle, isReference);
}

}  // extern "C"
