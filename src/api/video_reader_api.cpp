// The video reader exports: the video of an elementary, program or transport stream file, one
// coded frame per call.
#include <memory>

#include "api/export_guard.h"
#include "d2udir.h"
#include "demux/video_reader.h"

using namespace d2u;

namespace {

CVideoReader* ReaderOf(D2uHandle handle) {
    return reinterpret_cast<CVideoReader*>(handle);
}

static_assert(D2U_UNKNOWN_CONTENT == CVideoReader::kUnknownContent, "open results");
static_assert(D2U_NO_MPEG_VIDEO == CVideoReader::kNoMpegVideo, "open results");
static_assert(D2U_NOT_A_VIDEO_PID == CVideoReader::kNotAVideoPid, "open results");
static_assert(D2U_PID_WITHOUT_TRANSPORT == CVideoReader::kPidWithoutTransport, "open results");
static_assert(D2U_ANY_VIDEO == CVideoReader::kAnyVideo, "open arguments");
static_assert(D2U_CONTAINER_TRANSPORT_192 == static_cast<int32_t>(ContainerKind::kTransport192),
              "container kinds");

template <class Char>
int32_t OpenReader(const Char* path, int32_t pid, D2uHandle* reader) {
    if (!reader) return CVideoReader::kCannotOpen;
    *reader = 0;
    std::unique_ptr<CVideoReader> opened(new CVideoReader);
    int32_t result = opened->Open(path, pid);
    if (result == 0) *reader = reinterpret_cast<D2uHandle>(opened.release());
    return result;
}

}  // namespace

extern "C" {

D2U_EXPORT int32_t D2U_API D2uDirOpenVideoReader(const char* path, int32_t pid, D2uHandle* reader) {
    return Guarded(CVideoReader::kCannotOpen, [&]() { return OpenReader(path, pid, reader); });
}

D2U_EXPORT int32_t D2U_API D2uDirOpenVideoReaderW(const wchar_t* path, int32_t pid,
                                                  D2uHandle* reader) {
    return Guarded(CVideoReader::kCannotOpen, [&]() { return OpenReader(path, pid, reader); });
}

D2U_EXPORT int32_t D2U_API D2uDirReadVideoChunk(D2uHandle reader, const uint8_t** data,
                                                int32_t* length, int64_t* pts) {
    return Guarded(-1, [&]() -> int32_t {
        if (!data || !length || !pts) return -1;
        *data = nullptr;
        *length = 0;
        *pts = -1;
        PictureChunk chunk;
        if (!reader || !ReaderOf(reader)->NextChunk(chunk)) return -1;
        *data = chunk.data;
        *length = static_cast<int32_t>(chunk.length);
        *pts = chunk.pts;
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirSeekVideoReader(D2uHandle reader, uint32_t offsetLow,
                                                 uint32_t offsetHigh) {
    return Guarded(-1, [&]() -> int32_t {
        if (!reader) return -1;
        ReaderOf(reader)->Seek((static_cast<uint64_t>(offsetHigh) << 32) | offsetLow);
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirGetVideoReaderInfo(D2uHandle reader, D2uVideoReaderInfo* info) {
    return Guarded(-1, [&]() -> int32_t {
        if (!reader || !info) return -1;
        const CVideoReader& opened = *ReaderOf(reader);
        info->container = static_cast<int32_t>(opened.container());
        info->pid = opened.videoPid();
        info->programNumber = opened.programNumber();
        info->streamType = opened.videoStreamType();
        info->fileSize = opened.size();
        info->position = opened.position();
        info->continuityGaps = opened.continuityGaps();
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirCloseVideoReader(D2uHandle* reader) {
    return Guarded(0, [&]() -> int32_t {
        if (!reader) return 0;
        delete ReaderOf(*reader);
        *reader = 0;
        return 0;
    });
}

}  // extern "C"
