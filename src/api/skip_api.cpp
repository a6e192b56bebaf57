// Skipping pictures: the next B picture, or a duration's worth of pictures.
#include <cmath>
#include <cstdint>

#include "api/export_guard.h"
#include "api/handle_access.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"
#include "diag/decoder_log.h"

using namespace d2u;

namespace {

constexpr int32_t kBadHandle = -1;

int32_t SkipNextB(D2uHandle handle) {
    CachedLogger()->Log15("SkipFrame start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    int32_t result = decoder ? decoder->SkipFrame() : kBadHandle;
    CachedLogger()->Log15("SkipFrame end");
    return result;
}

int32_t SkipNextBInBuffer(const uint8_t* data, int32_t length, D2uHandle handle) {
    CachedLogger()->Log15("SkipFrame2 start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder || !decoder->LoadBuffer(data, length)) return kBadHandle;
    int32_t result = decoder->SkipFrame();
    CachedLogger()->Log15("SkipFrame2 end");
    return result;
}

int32_t ClampToInt32(double value) {
    if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(value);
}

// Skips whole pictures; a stream without a known frame rate skips nothing.
int32_t SkipMilliseconds(D2uHandle handle, uint32_t milliseconds, uint32_t fromStart) {
    CachedLogger()->Log15("SkipDuration start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    // Durations are skipped in files only.
    if (!decoder || !decoder->ReadsFile()) return 0;
    if (fromStart) decoder->Reset();
    float fps = 0.0f;
    GetFPSInfo(handle, &fps);
    if (!(fps > 0.0f)) return 0;
    int32_t count = ClampToInt32(std::trunc(milliseconds * static_cast<double>(fps) * 0.001));
    int32_t skipped = decoder->SkipFrames(count);
    CachedLogger()->Log15("SkipDuration end");
    return ClampToInt32(std::trunc(skipped * 1000.0 / fps));
}

}  // namespace

extern "C" {

D2U_EXPORT int32_t D2U_API SkipFrame(D2uHandle handle) {
    return Guarded(kBadHandle, [&] { return SkipNextB(handle); });
}

D2U_EXPORT int32_t D2U_API D2uDirSkipFrame(D2uHandle handle) {
    return SkipFrame(handle);
}

D2U_EXPORT int32_t D2U_API SkipFrame2(const uint8_t* data, int32_t length, D2uHandle handle) {
    return Guarded(kBadHandle, [&] { return SkipNextBInBuffer(data, length, handle); });
}

D2U_EXPORT int32_t D2U_API D2uDirSkipFrame2(const uint8_t* data, int32_t length, D2uHandle handle) {
    return SkipFrame2(data, length, handle);
}

D2U_EXPORT int32_t D2U_API SkipDuration(D2uHandle handle, uint32_t milliseconds,
                                        uint32_t fromStart) {
    return Guarded(0, [&] { return SkipMilliseconds(handle, milliseconds, fromStart); });
}

D2U_EXPORT int32_t D2U_API D2uDirSkipDuration(D2uHandle handle, uint32_t milliseconds,
                                              uint32_t fromStart) {
    return SkipDuration(handle, milliseconds, fromStart);
}

}  // extern "C"
