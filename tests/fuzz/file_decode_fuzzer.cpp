// File-driven decoding: the input, after eight operation bytes, is written to a file and
// decoded; the operation bytes pick the calls a host makes in between (frames, bitmaps, skips,
// seeks, output sizes, rewinds, stream information and previews of the file).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "d2udir.h"
#include "fuzz_input.h"

namespace {

using d2u::fuzz::FuzzInput;
using d2u::fuzz::TemporaryFile;

constexpr int kOperations = 8;
constexpr int kFramesAfterOperations = 60;

void GetFrames(D2uHandle handle, int count) {
    D2uFrame* frame = nullptr;
    for (int i = 0; i < count && GetMpegFrame(&frame, handle) == 0; ++i) {
    }
}

void GetBitmap(D2uHandle handle, bool shortBuffer) {
    int32_t width = 0, height = 0, bits = 0;
    GetOutputInfo(&width, &height, &bits, handle);
    int64_t capacity = static_cast<int64_t>(width) * height * 4 - (shortBuffer ? 1 : 0);
    if (capacity < 0 || capacity > (16 << 20)) capacity = 0;
    std::vector<uint8_t> bitmap(static_cast<size_t>(capacity));
    int32_t length = static_cast<int32_t>(capacity);
    int32_t isReference = -1;
    GetBitmapData(bitmap.data(), &length, handle, &isReference);
}

void Inspect(D2uHandle handle) {
    float fps = 0;
    double ratio = 0;
    uint64_t position = 0, size = 0;
    GetFPSInfo(handle, &fps);
    D2uDirGetAspectRatio(handle, &ratio);
    GetInputPosition(handle, &position);
    GetInputSize(handle, &size);
}

// A preview of the same file, of a size and at a place the parameter gives; the preview keeps
// its own decoding beside the handle's.
void Preview(const char* path, uint32_t parameter, uint64_t fileSize) {
    const int32_t width = 8 + static_cast<int32_t>(parameter & 3) * 100;
    const int32_t height = 8 + static_cast<int32_t>(parameter >> 2) * 30;
    if (D2uDirStartExtractPreview(path, "", width, height) != 0) return;
    D2uDirExtractPreview(static_cast<int32_t>(fileSize / 1024 * parameter / 32));
    D2uDirExtractPreview(-1);
    D2uDirCloseExtractPreview();
}

void Run(D2uHandle handle, uint8_t operation, const char* path, uint64_t fileSize) {
    const uint32_t parameter = operation >> 3;
    switch (operation & 7u) {
        case 0:
            GetFrames(handle, static_cast<int>(parameter) + 1);
            break;
        case 1:
            GetBitmap(handle, parameter & 1);
            break;
        case 2:
            SkipFrame(handle);
            break;
        case 3:
            SkipDuration(handle, (parameter >> 1) * 250, parameter & 1);
            break;
        case 4: {
            uint64_t offset = fileSize * parameter / 32;
            D2uDirSetInputPosition(handle, static_cast<uint32_t>(offset),
                                   static_cast<uint32_t>(offset >> 32));
            break;
        }
        case 5:
            D2uDirSetOutputSize(handle, (parameter & 3) * 37, (parameter >> 2) * 29);
            break;
        case 6:
            ResetDecoder(handle);
            break;
        default:
            Inspect(handle);
            Preview(path, parameter, fileSize);
            break;
    }
}

}  // namespace

namespace d2u {
namespace fuzz {

D2U_FUZZ_TARGET(FileDecode, 8) {
    FuzzInput input(data, size);
    std::array<uint8_t, kOperations> operations{};
    for (size_t i = 0; i < operations.size(); ++i) operations[i] = input.Byte();
    TemporaryFile file(input.Rest(), input.RestSize(), ".m2v");
    if (!file.Ok()) return 0;

    D2uHandle handle = 0;
    if (D2uDirLoadFile(file.Path(), &handle) == 0 && handle) {
        for (uint8_t operation : operations) Run(handle, operation, file.Path(), input.RestSize());
        GetFrames(handle, kFramesAfterOperations);
    }
    FinishDecoding(&handle);
    return 0;
}

}  // namespace fuzz
}  // namespace d2u
