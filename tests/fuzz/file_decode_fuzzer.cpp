// File-driven decoding: the input, after eight operation bytes, is written to a file and
// decoded; the operation bytes pick the calls a host makes in between (frames, bitmaps, skips,
// seeks, output sizes, rewinds, stream information and previews of the file).
#include "fuzz_input.h"

namespace {

void GetFrames(D2uHandle handle, uint32_t count) {
    D2uFrame* frame = nullptr;
    for (uint32_t i = 0; i < count && GetMpegFrame(&frame, handle) == 0; ++i)
        d2u::fuzz::FrameIsSound(frame, false);
}

void Run(D2uHandle handle, uint8_t operation, const char* path, uint64_t fileSize) {
    const uint32_t parameter = operation >> 3;
    const uint64_t offset = fileSize * parameter / 32;
    switch (operation & 7u) {
        case 0:
            return GetFrames(handle, parameter + 1);
        case 1:
            return d2u::fuzz::GetBitmap(handle, parameter & 1);
        case 2:
            SkipFrame(handle);
            return;
        case 3:
            SkipDuration(handle, (parameter >> 1) * 250, parameter & 1);
            return;
        case 4:
            D2uDirSetInputPosition(handle, static_cast<uint32_t>(offset),
                                   static_cast<uint32_t>(offset >> 32));
            return;
        case 5:
            D2uDirSetOutputSize(handle, (parameter & 3) * 37, (parameter >> 2) * 29);
            return;
        case 6:
            ResetDecoder(handle);
            return;
    }
    float fps = 0;
    double ratio = 0;
    uint64_t position = 0, size = 0;
    GetFPSInfo(handle, &fps);
    D2uDirGetAspectRatio(handle, &ratio);
    GetInputPosition(handle, &position);
    GetInputSize(handle, &size);
    // A preview of the same file, which keeps its own decoding beside the handle's.
    const int32_t width = 8 + static_cast<int32_t>(parameter & 3) * 100;
    if (D2uDirStartExtractPreview(path, "", width, 8 + static_cast<int32_t>(parameter >> 2) * 30))
        return;
    D2uDirExtractPreview(static_cast<int32_t>(fileSize / 1024 * parameter / 32));
    D2uDirExtractPreview(-1);
    D2uDirCloseExtractPreview();
}

}  // namespace

D2U_FUZZ_TARGET(file_decode, 8) {
    FuzzInput input{data, size};
    uint8_t operations[8];
    for (uint8_t& operation : operations) operation = input.Byte();
    TemporaryFile file(input.data, input.size, ".m2v");
    D2uHandle handle = 0;
    if (file.Ok() && D2uDirLoadFile(file.Path(), &handle) == 0 && handle) {
        for (uint8_t operation : operations) Run(handle, operation, file.Path(), input.size);
        GetFrames(handle, 60);
    }
    FinishDecoding(&handle);
    return 0;
}
