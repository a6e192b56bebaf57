// The video reader's side: the input, after three control bytes, is written to a file that the
// reader opens by content (transport streams above all, also program and elementary streams),
// is read chunk by chunk with a seek on the way, and the chunks are decoded by a buffer-driven
// handle.
#include <cstddef>
#include <cstdint>

#include "d2udir.h"
#include "fuzz_input.h"

namespace {

using d2u::fuzz::FuzzInput;
using d2u::fuzz::TemporaryFile;

constexpr int kMaxChunks = 150;

// Up to `count` chunks, each decoded when asked.
void ReadChunks(D2uHandle reader, D2uHandle decoder, int count, bool decode) {
    const uint8_t* data = nullptr;
    int32_t length = 0;
    int64_t pts = 0;
    for (int i = 0; i < count && D2uDirReadVideoChunk(reader, &data, &length, &pts) == 0; ++i) {
        D2uFrame* frame = nullptr;
        if (decode) GetMpegFrame2(&frame, data, length, decoder);
    }
}

void ReadFile(const char* path, int32_t pid, uint32_t seekTo, bool decode) {
    D2uHandle reader = 0, decoder = 0;
    if (D2uDirOpenVideoReader(path, pid, &reader) != 0) return;
    InitDecoding(&decoder);
    ReadChunks(reader, decoder, kMaxChunks, decode);
    D2uDirSeekVideoReader(reader, seekTo, 0);
    ReadChunks(reader, decoder, kMaxChunks, decode);
    D2uVideoReaderInfo info;
    D2uDirGetVideoReaderInfo(reader, &info);
    FinishDecoding(&decoder);
    D2uDirCloseVideoReader(&reader);
}

}  // namespace

namespace d2u {
namespace fuzz {

D2U_FUZZ_TARGET(TransportStream, 3) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    // Mostly the first video stream; otherwise one of the PIDs ffmpeg and broadcasters use.
    const uint8_t pidChoice = input.Byte();
    const int32_t pid = (flags & 0x06) == 0 ? D2U_ANY_VIDEO : 0x100 + pidChoice % 0x20;
    const uint32_t seekTo = input.Byte() * 2048u;
    TemporaryFile file(input.Rest(), input.RestSize(), ".ts");
    if (!file.Ok()) return 0;
    ReadFile(file.Path(), pid, seekTo, flags & 1);
    return 0;
}

}  // namespace fuzz
}  // namespace d2u
