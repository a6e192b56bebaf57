// What a host needs to lay out its display: picture size, pixel format, aspect ratio, frame
// rate; and the size frames are scaled to.
#include <cstdint>

#include "api/export_guard.h"
#include "api/handle_access.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"
#include "diag/decoder_log.h"

using namespace d2u;

namespace {

constexpr int32_t kBitsPerPixel = 32;
// Scaled frames stay within the sizes an MPEG sequence header can describe.
constexpr int32_t kLargestOutputSide = 16383;

int32_t ReportOutputInfo(int32_t* width, int32_t* height, int32_t* bitsPerPixel, D2uHandle handle) {
    CachedLogger()->Log15("GetOutputInfo start");
    if (!handle) return -1;
    COutputFrameSource* source = SourceOf(handle);
    if (width) *width = source->GetWidth();
    if (height) *height = source->GetHeight();
    if (bitsPerPixel) *bitsPerPixel = kBitsPerPixel;
    CachedLogger()->Log15("GetOutputInfo end");
    return 0;
}

int32_t ChangeOutputSize(D2uHandle handle, int32_t width, int32_t height) {
    CachedLogger()->Log15("D2uDirSetOutputSize start");
    if (!handle) return -1;
    if (width < 0 || height < 0 || width > kLargestOutputSide || height > kLargestOutputSide) {
        return -1;
    }
    int32_t result = SourceOf(handle)->SetOutputSize(width, height);
    CachedLogger()->Log15("D2uDirSetOutputSize end");
    return result;
}

bool AspectRatioOf(uint32_t code, double* ratio) {
    switch (code) {
        case 1:
            *ratio = 1.0;
            return true;
        case 2:
            *ratio = 4.0 / 3.0;
            return true;
        case 3:
            *ratio = 16.0 / 9.0;
            return true;
        default:
            return false;
    }
}

bool FrameRateOf(uint32_t code, float* fps) {
    switch (code) {
        case 1:
            *fps = static_cast<float>(24000.0 / 1001.0);
            return true;
        case 2:
            *fps = 24.0f;
            return true;
        case 3:
            *fps = 25.0f;
            return true;
        case 4:
            *fps = static_cast<float>(30000.0 / 1001.0);
            return true;
        case 5:
            *fps = 30.0f;
            return true;
        default:
            return false;
    }
}

int32_t ReportAspectRatio(D2uHandle handle, double* ratio) {
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder) return -1;
    double value = 0.0;
    if (ratio && AspectRatioOf(decoder->Sequence().aspect_ratio_information, &value)) {
        *ratio = value;
    }
    return 0;
}

int32_t ReportFrameRate(D2uHandle handle, float* fps) {
    CachedLogger()->Log15("GetFPSInfo start");
    CMpegDecoderWraper* decoder = DecoderOf(handle);
    if (!decoder) return -1;
    float value = 0.0f;
    if (fps && FrameRateOf(decoder->Sequence().frame_rate_code, &value)) *fps = value;
    CachedLogger()->Log15("GetFPSInfo start");
    return 0;
}

}  // namespace

extern "C" {

D2U_EXPORT int32_t D2U_API GetOutputInfo(int32_t* width, int32_t* height, int32_t* bitsPerPixel,
                                         D2uHandle handle) {
    return Guarded(-1, [&] { return ReportOutputInfo(width, height, bitsPerPixel, handle); });
}

D2U_EXPORT int32_t D2U_API D2uDirGetOutputInfo(int32_t* width, int32_t* height,
                                               int32_t* bitsPerPixel, D2uHandle handle) {
    return GetOutputInfo(width, height, bitsPerPixel, handle);
}

D2U_EXPORT int32_t D2U_API D2uDirSetOutputSize(D2uHandle handle, int32_t width, int32_t height) {
    return Guarded(-1, [&] { return ChangeOutputSize(handle, width, height); });
}

D2U_EXPORT int32_t D2U_API D2uDirGetAspectRatio(D2uHandle handle, double* ratio) {
    return Guarded(-1, [&] { return ReportAspectRatio(handle, ratio); });
}

D2U_EXPORT int32_t D2U_API GetFPSInfo(D2uHandle handle, float* fps) {
    return Guarded(-1, [&] { return ReportFrameRate(handle, fps); });
}

D2U_EXPORT int32_t D2U_API D2uDirGetFPSInfo(D2uHandle handle, float* fps) {
    return GetFPSInfo(handle, fps);
}

// Kept for hosts that link against them; they do nothing.
D2U_EXPORT int32_t D2U_API GetFirstFrameSize(int32_t, int32_t) {
    return D2U_NOT_SUPPORTED;
}

D2U_EXPORT int32_t D2U_API D2uDirGetFirstFrameSize(int32_t first, int32_t second) {
    return GetFirstFrameSize(first, second);
}

D2U_EXPORT int32_t D2U_API SetPreviewInfo(int32_t, int32_t, int32_t, int32_t, int32_t) {
    return D2U_NOT_SUPPORTED;
}

D2U_EXPORT int32_t D2U_API D2uDirSetPreviewInfo(int32_t first, int32_t second, int32_t third,
                                                int32_t fourth, int32_t fifth) {
    return SetPreviewInfo(first, second, third, fourth, fifth);
}

}  // extern "C"
