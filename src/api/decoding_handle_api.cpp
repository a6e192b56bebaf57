// Opening and closing decoding handles.
#include <memory>

#include "api/export_guard.h"
#include "api/handle_access.h"
#include "api/output_frame_source.h"
#include "d2udir.h"
#include "decoder/mpeg_decoder_wraper.h"
#include "demux/container_detector.h"
#include "diag/decoder_log.h"
#include "platform/platform.h"

using namespace d2u;

namespace {

platform::FileHandle OpenToRead(const char* path) {
    return platform::OpenForReading(path);
}

platform::FileHandle OpenToRead(const wchar_t* path) {
    return platform::OpenForReadingW(path);
}

// A transport stream or an MP4 file holds sequence headers too, among its packets: decoding it
// as an elementary stream would give noise, so it is refused before that starts.
template <class Path>
bool HoldsAContainer(const Path* path) {
    platform::FileHandle file = OpenToRead(path);
    if (file == platform::kInvalidFile) return false;
    std::unique_ptr<uint8_t[]> head(new uint8_t[kDetectionBytes]);
    size_t got = platform::Read(file, head.get(), kDetectionBytes);
    platform::Close(file);
    ContainerKind kind = DetectContainer(head.get(), got).kind;
    if (kind != ContainerKind::kTransport && kind != ContainerKind::kTransport192 &&
        kind != ContainerKind::kIsoMedia) {
        return false;
    }
    PublishFormat("ERROR - D2uDirLoadFile - %s, not a video elementary stream",
                  kind == ContainerKind::kIsoMedia ? "an MP4 file" : "a transport stream");
    return true;
}

// Opens a file-driven handle with the wrapper's file load (LoadFile or LoadFileW). No handle
// is made when the load fails.
template <class Path, class Load>
int32_t OpenFileHandle(const Path* path, D2uHandle* handle, Load load) {
    RefreshCachedLogger();
    if (handle) *handle = 0;
    if (!path || !handle || HoldsAContainer(path)) return -1;
    auto wrapper = std::make_unique<CMpegDecoderWraper>();
    int32_t result = load(*wrapper, path);
    if (result != 0) {
        wrapper->CloseDecoder();
        return result;
    }
    auto source = std::make_unique<COutputFrameSource>();
    source->SetDecoder(wrapper.release());
    *handle = HandleOf(source.release());
    return 0;
}

}  // namespace

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

D2U_EXPORT int32_t D2U_API D2uDirInitDecoding(D2uHandle* handle) {
    return InitDecoding(handle);
}

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

D2U_EXPORT int32_t D2U_API D2uDirLoadFile(const char* path, D2uHandle* handle) {
    return Guarded(-1, [&]() -> int32_t {
        CachedLogger()->Log15("D2uDirLoadFile start");
        int32_t result = OpenFileHandle(
            path, handle,
            [](CMpegDecoderWraper& wrapper, const char* name) { return wrapper.LoadFile(name); });
        CachedLogger()->Log15("D2uDirLoadFile end");
        return result;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirLoadFileW(const wchar_t* path, D2uHandle* handle) {
    return Guarded(-1, [&]() -> int32_t {
        CachedLogger()->Log15("D2uDirLoadFileW start");
        int32_t result =
            OpenFileHandle(path, handle, [](CMpegDecoderWraper& wrapper, const wchar_t* name) {
                return wrapper.LoadFileW(name);
            });
        PublishFormat("D2uDirLoadFileW end retCode = %d", static_cast<int>(result));
        return result;
    });
}

D2U_EXPORT int32_t D2U_API ResetDecoder(D2uHandle handle) {
    return Guarded(-1, [&]() -> int32_t {
        CachedLogger()->Log15("ResetDecoder start");
        CMpegDecoderWraper* wrapper = DecoderOf(handle);
        if (!wrapper) return -1;
        wrapper->Reset();
        CachedLogger()->Log15("ResetDecoder end");
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirResetDecoder(D2uHandle handle) {
    return ResetDecoder(handle);
}

}  // extern "C"
