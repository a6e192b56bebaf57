// The library-wide objects of preview extraction: made when the library loads, destroyed when it
// unloads. There is one preview source at a time.
#pragma once

#include <cstdint>

#include "d2udir.h"
#include "demux/video_mpeg_data.h"
#include "demux/video_reader.h"
#include "picture/bmp_utils.h"
#include "picture/yuv_frame_resizer.h"

namespace d2u {

enum PreviewSourceKind : int32_t {
    kNoPreviewSource = -1,
    kElementaryStreamSource = 1,
    kProgramStreamSource = 2,
    kTransportStreamSource = 3,
};

struct PreviewObjects {
    static constexpr int32_t kChunkBytes = 1048576;
    static constexpr int32_t kPathBytes = 256;

    CVideoMpegData mpegData;
    CVideoReader transportStream;
    CYUVFrameResizer resizeYUVFS;
    CBmpUtils previewBitmap;
    D2uHandle previewHandle = 0;
    int32_t previewThreads = 1;  // given to each preview source's decoding handle
    int32_t previewSourceKind = kNoPreviewSource;
    char previewBitmapPath[kPathBytes] = {};
    uint8_t previewChunk[kChunkBytes];
    int32_t previewChunkLength = 0;
};

void CreatePreviewObjects();
void DestroyPreviewObjects();
// Null when the library-wide objects could not be made.
PreviewObjects* Preview();

}  // namespace d2u
