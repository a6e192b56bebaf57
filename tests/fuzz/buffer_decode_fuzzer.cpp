// Buffer-driven decoding: the input, after six control bytes, is cut into the buffers a host
// hands to GetMpegFrame2, GetBitmapData2 and SkipFrame2 one after another.
#include "fuzz_input.h"

namespace {

// Chunks (start, length) cut where a host would: with a chunk size of zero before the headers
// that follow a picture, otherwise every that many bytes.
std::vector<std::pair<size_t, size_t>> Chunks(const uint8_t* data, size_t size, size_t chunkSize) {
    std::vector<std::pair<size_t, size_t>> chunks;
    size_t start = 0;
    bool pictureSeen = false;
    for (size_t at = 0; chunkSize == 0 && at + 3 < size; ++at) {
        if (data[at] != 0 || data[at + 1] != 0 || data[at + 2] != 1) continue;
        const uint8_t code = data[at + 3];
        if ((code == 0x00 || code == 0xB3 || code == 0xB8) && pictureSeen && at > start) {
            chunks.emplace_back(start, at - start);
            start = at;
            pictureSeen = false;
        }
        pictureSeen |= code == 0x00;
        at += 3;
    }
    const size_t step = chunkSize ? chunkSize : size;
    for (; start < size; start += step) chunks.emplace_back(start, std::min(step, size - start));
    return chunks;
}

}  // namespace

D2U_FUZZ_TARGET(buffer_decode, 6) {
    FuzzInput input{data, size};
    const uint8_t flags = input.Byte();
    const size_t chunkSize = input.Byte() * 61u;
    uint32_t operations = 0;
    for (int i = 0; i < 4; ++i) operations = operations << 8 | input.Byte();
    D2uHandle handle = 0;
    InitDecoding(&handle);
    bool touched = false;
    size_t index = 0;
    for (const auto& [start, bytes] : Chunks(input.data, input.size, chunkSize)) {
        if (index == 400) break;
        const uint8_t* chunk = input.data + start;
        const int32_t length = static_cast<int32_t>(bytes);
        D2uFrame* frame = nullptr;
        switch ((operations >> (2 * (index++ % 16))) & 3u) {
            case 2:  // now and then into a buffer one pixel short
                GetBitmap(handle, (flags & 2) ? 4 : 0, chunk, length);
                break;
            case 3:
                SkipFrame2(chunk, length, handle);
                break;
            default:
                if (D2uDirGetMpegFrame2(&frame, chunk, length, handle) == 0 && frame && !touched) {
                    touched = true;
                    FrameIsSound(frame, true);
                    if (flags & 1)
                        D2uDirSetOutputSize(handle, 1 + (flags >> 2) * 3, 1 + (flags >> 4) * 5);
                }
        }
    }
    FinishDecoding(&handle);
    return 0;
}
