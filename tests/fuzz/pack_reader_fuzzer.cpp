// The program-stream side: the input, after four control bytes, is written to a file and read
// block by block through the pack reader, then cut into video chunks (with a seek on the way)
// that a buffer-driven handle decodes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "d2udir.h"
#include "demux/pack_reader.h"
#include "demux/video_mpeg_data.h"
#include "fuzz_input.h"

namespace {

using d2u::fuzz::FuzzInput;
using d2u::fuzz::TemporaryFile;

constexpr int kMaxBlocks = 2000;
constexpr int kMaxChunks = 200;
constexpr int kMaxResyncs = 20;

void WalkBlocks(const char* path, int32_t capacity) {
    d2u::CPackReader reader;
    if (reader.Open(path) != 0) return;
    std::vector<uint8_t> payload(d2u::CPackReader::kBufferSize);
    int resyncs = 0;
    for (int i = 0; i < kMaxBlocks; ++i) {
        if (!reader.GetNextBlockInfo()) {
            if (++resyncs > kMaxResyncs || reader.Resync() != 0) break;
            continue;
        }
        int32_t room = capacity;
        reader.GetBlockData(payload.data(), &room);
    }
    reader.Close();
}

void CutChunks(const char* path, int32_t chunkCapacity, uint32_t seekTo, bool decode) {
    d2u::CVideoMpegData mpegData;
    if (mpegData.LoadFile(path) != 0) return;
    mpegData.SetChunkCapacity(chunkCapacity);
    std::vector<uint8_t> chunk(static_cast<size_t>(mpegData.chunkCapacity()) + 1);
    D2uHandle handle = 0;
    InitDecoding(&handle);
    int failures = 0;
    for (int i = 0; i < kMaxChunks && failures < 3; ++i) {
        if (i == kMaxChunks / 2) mpegData.Seek(seekTo, 0);
        int32_t length = 0, timeStamp = 0;
        int32_t result = mpegData.GetVideoChunk(chunk.data(), &length, &timeStamp);
        if (result == -1) {
            ++failures;
            continue;
        }
        D2uFrame* frame = nullptr;
        if (decode && result == 0) GetMpegFrame2(&frame, chunk.data(), length, handle);
    }
    FinishDecoding(&handle);
    mpegData.Close();
}

}  // namespace

namespace d2u {
namespace fuzz {

D2U_FUZZ_TARGET(PackReader, 4) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const int32_t blockCapacity = input.Byte() * 64;
    const int32_t chunkCapacity = 1 + input.Byte() * 1024;
    const uint32_t seekTo = input.Byte() * 1024u;
    TemporaryFile file(input.Rest(), input.RestSize(), ".mpg");
    if (!file.Ok()) return 0;
    WalkBlocks(file.Path(), blockCapacity);
    CutChunks(file.Path(), chunkCapacity, seekTo, flags & 1);
    return 0;
}

}  // namespace fuzz
}  // namespace d2u
