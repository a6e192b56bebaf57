// The program-stream side: the input, after four control bytes, is written to a file and read
// block by block through the pack reader, then cut into video chunks (with a seek on the way)
// that a buffer-driven handle decodes.
#include "demux/pack_reader.h"
#include "demux/video_mpeg_data.h"
#include "fuzz_input.h"

D2U_FUZZ_TARGET(pack_reader, 4) {
    FuzzInput input{data, size};
    const bool decode = input.Byte() & 1;
    const int32_t blockCapacity = input.Byte() * 64;
    const int32_t chunkCapacity = 1 + input.Byte() * 1024;
    const uint32_t seekTo = input.Byte() * 1024u;
    TemporaryFile file(input.data, input.size, ".mpg");
    if (!file.Ok()) return 0;
    std::vector<uint8_t> buffer(CPackReader::kBufferSize);
    if (CPackReader reader; reader.Open(file.Path()) == 0) {
        for (int i = 0, resyncs = 0; i < 2000; ++i) {
            int32_t room = blockCapacity;
            if (reader.GetNextBlockInfo()) {
                reader.GetBlockData(buffer.data(), &room);
            } else if (++resyncs > 20 || reader.Resync() != 0) {
                break;
            }
        }
        reader.Close();
    }

    CVideoMpegData mpegData;
    if (mpegData.LoadFile(file.Path()) != 0) return 0;
    mpegData.SetChunkCapacity(chunkCapacity);
    buffer.resize(static_cast<size_t>(mpegData.chunkCapacity()) + 1);
    D2uHandle handle = 0;
    InitDecoding(&handle);
    for (int i = 0, failures = 0; i < 200 && failures < 3; ++i) {
        if (i == 100) mpegData.Seek(seekTo, 0);
        int32_t length = 0, timeStamp = 0;
        const int32_t result = mpegData.GetVideoChunk(buffer.data(), &length, &timeStamp);
        failures += result == -1;
        D2uFrame* frame = nullptr;
        if (decode && result == 0) GetMpegFrame2(&frame, buffer.data(), length, handle);
    }
    FinishDecoding(&handle);
    mpegData.Close();
    return 0;
}
