// Preview extraction: one picture at a file position of an elementary or program stream, scaled
// and written as a 32-bit bitmap file.
#include <cstdio>
#include <cstring>

#include "api/export_guard.h"
#include "d2udir.h"
#include "diag/decoder_log.h"
#include "preview/preview_objects.h"

using namespace d2u;

namespace {

constexpr int32_t kNoHandleResult = -1;
constexpr int32_t kExceptionResult = -2;
constexpr int32_t kUnknownSourceResult = -1;
// The largest preview side: the largest output size of a decoding handle.
constexpr int32_t kLargestPreviewSide = 16383;

bool EndsWithM2v(const char* name) {
    size_t length = std::strlen(name);
    if (length < 3) return false;
    const char* tail = name + length - 3;
    return (tail[0] == 'm' || tail[0] == 'M') && tail[1] == '2' &&
           (tail[2] == 'v' || tail[2] == 'V');
}

void WriteLog(const char* text) {
    if (CDecoderLog* log = CachedLogger()) log->Write(text, 1);
}

void Publish(const char* text) {
    if (CDecoderLog* log = CachedLogger()) log->Publish(text);
}

void Log15(const char* text) {
    if (CDecoderLog* log = CachedLogger()) log->Log15(text);
}

// A size the library cannot make, or a name the path buffer cannot hold, is refused before
// anything is opened, so that no preview is written at another size or under a cut name.
bool CheckPreviewRequest(const char* bitmapFile, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || width > kLargestPreviewSide || height > kLargestPreviewSide) {
        PublishFormat(
            "ERROR - D2uDirStartExtractPreview - preview size %dx%d is not 1 to %d on "
            "each side",
            width, height, kLargestPreviewSide);
        return false;
    }
    if (bitmapFile && std::strlen(bitmapFile) >= sizeof PreviewObjects::previewBitmapPath) {
        PublishFormat(
            "ERROR - D2uDirStartExtractPreview - bitmap file name longer than %d "
            "characters",
            static_cast<int>(sizeof PreviewObjects::previewBitmapPath - 1));
        return false;
    }
    return true;
}

// A transport stream, told by its content; false (with the reader closed) for anything else.
bool OpenTransportStream(PreviewObjects& preview, const char* source, bool& refused) {
    int32_t result = preview.transportStream.Open(source, CVideoReader::kAnyVideo);
    refused = result == CVideoReader::kNoMpegVideo;
    ContainerKind kind = preview.transportStream.container();
    if (result == 0 &&
        (kind == ContainerKind::kTransport || kind == ContainerKind::kTransport192)) {
        return true;
    }
    preview.transportStream.Close();
    return false;
}

// Opens the source: a file-driven handle for an elementary stream, else a buffer-driven handle
// fed from the transport-stream or the program-stream reader.
bool OpenPreviewSource(PreviewObjects& preview, const char* source) {
    if (EndsWithM2v(source)) {
        D2uDirLoadFile(source, &preview.previewHandle);
        if (preview.previewHandle == 0) return false;
        D2uDirSetThreads(preview.previewHandle, preview.previewThreads);
        preview.previewSourceKind = kElementaryStreamSource;
        return true;
    }
    D2uDirInitDecoding(&preview.previewHandle);
    D2uDirSetThreads(preview.previewHandle, preview.previewThreads);
    bool refused = false;
    if (OpenTransportStream(preview, source, refused)) {
        preview.previewSourceKind = kTransportStreamSource;
        return true;
    }
    if (refused) return false;
    if (preview.mpegData.LoadFile(source) != 0) return false;
    preview.previewSourceKind = kProgramStreamSource;
    return true;
}

int32_t DecodeProgramStreamPicture(PreviewObjects& preview, int64_t position, D2uFrame** frame) {
    preview.mpegData.Seek(static_cast<uint32_t>(position), static_cast<uint32_t>(position >> 32));
    WriteLog("D2uDirExtractPreview - mpegData Seek");
    preview.previewChunkLength = PreviewObjects::kChunkBytes;
    // A chunk larger than the chunk buffer comes back with length 0 and fails to decode.
    preview.mpegData.SetChunkCapacity(PreviewObjects::kChunkBytes);
    int32_t timeStamp = 0;
    preview.mpegData.GetVideoChunk(preview.previewChunk, &preview.previewChunkLength, &timeStamp);
    char message[256];
    std::snprintf(message, sizeof message,
                  "D2uDirExtractPreview - after mpegData GetVideoChunk, chunk len = %d",
                  preview.previewChunkLength);
    WriteLog(message);
    int32_t code = D2uDirGetMpegFrame2(frame, preview.previewChunk, preview.previewChunkLength,
                                       preview.previewHandle);
    std::snprintf(message, sizeof message,
                  "D2uDirExtractPreview - after D2uDirGetMpegFrame2, retCode = %d, decFrame %d",
                  code, static_cast<int32_t>(reinterpret_cast<uintptr_t>(*frame)));
    WriteLog(message);
    return code;
}

// The first frame that begins with a sequence header at or after the position.
int32_t DecodeTransportStreamPicture(PreviewObjects& preview, int64_t position, D2uFrame** frame) {
    preview.transportStream.Seek(static_cast<uint64_t>(position));
    PictureChunk chunk;
    if (!preview.transportStream.NextChunk(chunk)) return -1;
    return D2uDirGetMpegFrame2(frame, chunk.data, static_cast<int32_t>(chunk.length),
                               preview.previewHandle);
}

int32_t DecodePreviewPicture(PreviewObjects& preview, int64_t position, D2uFrame** frame) {
    switch (preview.previewSourceKind) {
        case kElementaryStreamSource:
            D2uDirSetInputPosition(preview.previewHandle, static_cast<uint32_t>(position),
                                   static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32));
            return D2uDirGetMpegFrame(frame, preview.previewHandle);
        case kProgramStreamSource:
            return DecodeProgramStreamPicture(preview, position, frame);
        case kTransportStreamSource:
            return DecodeTransportStreamPicture(preview, position, frame);
        default:
            // A handle left by a failed start on a program stream: nothing to read from.
            return kUnknownSourceResult;
    }
}

int32_t ExtractPreviewAt(PreviewObjects& preview, int32_t filePosition) {
    if (preview.previewHandle == 0) {
        WriteLog("D2uDirExtractPreview - no decodeHandler. retcode - 1");
        Publish("ERROR - D2uDirExtractPreview - no decodeHandler. retcode - 1");
        return kNoHandleResult;
    }
    int64_t position = static_cast<int64_t>(filePosition) * 1024;
    D2uFrame* frame = nullptr;
    int32_t code = DecodePreviewPicture(preview, position, &frame);
    if (code == 0 && !frame) code = -1;
    if (code != 0) {
        WriteLog("D2uDirExtractPreview - unable to extract preview image");
        Publish("ERROR - D2uDirExtractPreview - unable to extract preview image");
        return code;
    }
    CYUVFrame* resized =
        preview.resizeYUVFS.ResizeFrame(reinterpret_cast<CYUVFrame*>(static_cast<void*>(frame)));
    char message[256];
    std::snprintf(message, sizeof message,
                  "D2uDirExtractPreview - after resizeYUVFS.ResizeFrame, resized = %d",
                  static_cast<int32_t>(reinterpret_cast<uintptr_t>(resized)));
    WriteLog(message);
    preview.previewBitmap.FromYUV(*resized);
    preview.previewBitmap.FlipVertical();
    WriteLog("D2uDirExtractPreview - before saveBitmap");
    if (preview.previewBitmapPath[0] != '\0') {
        preview.previewBitmap.SaveBitmap(preview.previewBitmapPath);
    }
    WriteLog("D2uDirExtractPreview - end");
    return 0;
}

}  // namespace

extern "C" {

D2U_EXPORT int32_t D2U_API D2uDirStartExtractPreview(const char* sourceFile, const char* bitmapFile,
                                                     int32_t width, int32_t height) {
    return Guarded(-1, [&]() -> int32_t {
        Log15("D2uDirStartExtractPreview - start");
        if (!CheckPreviewRequest(bitmapFile, width, height)) return -1;
        PreviewObjects* preview = Preview();
        if (!preview || !sourceFile || !OpenPreviewSource(*preview, sourceFile)) {
            Log15("D2uDirStartExtractPreview - ERROR unable to open source file");
            Publish("ERROR - D2uDirStartExtractPreview - ERROR unable to open source file");
            return -1;
        }
        if (preview->resizeYUVFS.Init(width, height) != 0 ||
            preview->previewBitmap.Create(width, height, 32) != 0) {
            PublishFormat("ERROR - D2uDirStartExtractPreview - no memory for a preview of %dx%d",
                          width, height);
            D2uDirCloseExtractPreview();
            return -1;
        }
        std::snprintf(preview->previewBitmapPath, sizeof preview->previewBitmapPath, "%s",
                      bitmapFile ? bitmapFile : "");
        Log15("D2uDirStartExtractPreview - end");
        return 0;
    });
}

D2U_EXPORT int32_t D2U_API D2uDirStartExtractPreviewW(const wchar_t*, const wchar_t*, int32_t,
                                                      int32_t) {
    return 0;
}

D2U_EXPORT int32_t D2U_API D2uDirExtractPreview(int32_t filePosition) {
    char message[96];
    std::snprintf(message, sizeof message, "D2uDirExtractPreview - start, filePos = %d",
                  filePosition);
    WriteLog(message);
    try {
        PreviewObjects* preview = Preview();
        if (!preview) return kNoHandleResult;
        return ExtractPreviewAt(*preview, filePosition);
    } catch (...) {
        WriteLog("D2uDirExtractPreview - ERROR inside function. retcode - 2");
        Publish("ERROR - D2uDirExtractPreview - ERROR inside function. retcode - 2");
        return kExceptionResult;
    }
}

D2U_EXPORT int32_t D2U_API D2uDirCloseExtractPreview() {
    return Guarded(0, [&]() -> int32_t {
        Log15("D2uDirCloseExtractPreview - start");
        if (PreviewObjects* preview = Preview()) {
            if (preview->previewHandle != 0) {
                D2uDirFinishDecoding(&preview->previewHandle);
                preview->previewHandle = 0;
            }
            preview->mpegData.Close();
            preview->transportStream.Close();
        }
        Log15("D2uDirCloseExtractPreview - end");
        return 0;
    });
}

}  // extern "C"
