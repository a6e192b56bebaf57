// The video reader's side: the input, after three control bytes, is written to a file that the
// reader opens by content (transport streams above all, also program and elementary streams),
// is read chunk by chunk with a seek on the way, and the chunks are decoded by a buffer-driven
// handle.
#include "fuzz_input.h"

D2U_FUZZ_TARGET(transport_stream, 3) {
    FuzzInput input{data, size};
    const uint8_t flags = input.Byte(), pidChoice = input.Byte();
    // Mostly the first video stream; otherwise one of the PIDs ffmpeg and broadcasters use.
    const int32_t pid = (flags & 0x06) == 0 ? D2U_ANY_VIDEO : 0x100 + pidChoice % 0x20;
    const uint32_t seekTo = input.Byte() * 2048u;
    TemporaryFile file(input.data, input.size, ".ts");
    D2uHandle reader = 0, decoder = 0;
    if (!file.Ok() || D2uDirOpenVideoReader(file.Path(), pid, &reader) != 0) return 0;
    InitDecoding(&decoder);
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) D2uDirSeekVideoReader(reader, seekTo, 0);
        const uint8_t* chunk = nullptr;
        int32_t length = 0;
        int64_t pts = 0;
        D2uFrame* frame = nullptr;
        for (int i = 0; i < 150 && D2uDirReadVideoChunk(reader, &chunk, &length, &pts) == 0; ++i) {
            if (flags & 1) GetMpegFrame2(&frame, chunk, length, decoder);
        }
    }
    D2uVideoReaderInfo info;
    D2uDirGetVideoReaderInfo(reader, &info);
    FinishDecoding(&decoder);
    D2uDirCloseVideoReader(&reader);
    return 0;
}
