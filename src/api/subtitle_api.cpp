// The subtitle exports. A subtitle handle is the address of its CSubtitle; the exports report
// nothing of what happens inside (missing files, rejected records, frames without a record
// all return 0), except a handle that could not be made at all.
#include <new>

#include "api/export_guard.h"
#include "d2udir.h"
#include "picture/yuv_frame.h"
#include "platform/platform.h"
#include "subtitle/subtitle.h"

using namespace d2u;

namespace {

CSubtitle* SubtitleOf(D2uHandle handle) {
    return reinterpret_cast<CSubtitle*>(handle);
}

int32_t LoadSubtitle(platform::FileHandle file, D2uHandle* handle, float frameRate,
                     int32_t rgbOutput, int32_t bitsPerPixel) {
    auto* subtitle = new (std::nothrow) CSubtitle();
    if (!subtitle) {
        platform::Close(file);
        if (handle) *handle = 0;
        return -1;
    }
    subtitle->Load(file, frameRate, rgbOutput, bitsPerPixel);
    if (handle) {
        *handle = reinterpret_cast<D2uHandle>(subtitle);
    } else {
        delete subtitle;
    }
    return 0;
}

// The planes of a frame record as the library keeps them.
YUVFrameFields FieldsOf(const D2uFrame& frame) {
    YUVFrameFields fields{};
    fields.Y = YUVPlane{frame.Y.width, frame.Y.height, frame.Y.pitch, frame.Y.data};
    fields.U = YUVPlane{frame.U.width, frame.U.height, frame.U.pitch, frame.U.data};
    fields.V = YUVPlane{frame.V.width, frame.V.height, frame.V.pitch, frame.V.data};
    fields.width = frame.width;
    fields.height = frame.height;
    fields.chromaFormat = frame.chromaFormat;
    return fields;
}

}  // namespace

extern "C" {

D2U_EXPORT int32_t D2U_API D2uDirLoadSubtitle(const char* fileName, D2uHandle* handle,
                                              float frameRate, int32_t rgbOutput,
                                              int32_t bitsPerPixel) {
    return Guarded(-1, [&]() -> int32_t {
        platform::FileHandle file =
            fileName ? platform::OpenForReading(fileName) : platform::kInvalidFile;
        return LoadSubtitle(file, handle, frameRate, rgbOutput, bitsPerPixel);
    });
}

D2U_EXPORT int32_t D2U_API D2uDirLoadSubtitleW(const wchar_t* fileName, D2uHandle* handle,
                                               float frameRate, int32_t rgbOutput,
                                               int32_t bitsPerPixel) {
    return Guarded(-1, [&]() -> int32_t {
        platform::FileHandle file =
            fileName ? platform::OpenForReadingW(fileName) : platform::kInvalidFile;
        return LoadSubtitle(file, handle, frameRate, rgbOutput, bitsPerPixel);
    });
}

D2U_EXPORT int32_t D2U_API D2uDirCloseSubtitle(D2uHandle* handle) {
    return Guarded(0, [&]() -> int32_t {
        if (!handle || *handle == 0) return 0;
        delete SubtitleOf(*handle);
        *handle = 0;
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirPutSubtitleRGB(D2uHandle handle, const D2uRgbFrame* frame,
                                                int32_t frameNumber) {
    return Guarded(0, [&]() -> int32_t {
        if (!handle || !frame) return 0;
        SubtitleOf(handle)->PutRGB(frame->data, frame->stride, frameNumber);
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirPutSubtitleYUV(D2uHandle handle, const D2uFrame* frame,
                                                int32_t frameNumber) {
    return Guarded(0, [&]() -> int32_t {
        if (!handle || !frame) return 0;
        SubtitleOf(handle)->PutYUV(FieldsOf(*frame), frameNumber);
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirSubSetScaleFactors(D2uHandle handle, double xFactor,
                                                    double yFactor) {
    return Guarded(0, [&]() -> int32_t {
        if (handle) SubtitleOf(handle)->SetScaleFactors(xFactor, yFactor);
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirSubSetMaxSize(D2uHandle handle, int32_t maxWidth,
                                               int32_t maxHeight) {
    return Guarded(0, [&]() -> int32_t {
        if (handle) SubtitleOf(handle)->SetMaxSize(maxWidth, maxHeight);
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirSetSubtitleData(D2uHandle handle, const void* record) {
    return Guarded(0, [&]() -> int32_t {
        if (handle) SubtitleOf(handle)->SetPendingRecord(record);
        return 0;
    });
}

}  // extern "C"
