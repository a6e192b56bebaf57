// Buffer-driven decoding: the input, after four control bytes, is cut into the buffers a host
// hands to GetMpegFrame2, GetBitmapData2 and SkipFrame2 one after another.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "d2udir.h"
#include "fuzz_input.h"

namespace {

using d2u::fuzz::FuzzInput;

bool IsStartCode(const uint8_t* data, size_t size, size_t at) {
    return at + 3 < size && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1;
}

// Cuts where a host would: before the headers that follow a picture. A chunk size of zero cuts
// at the pictures; any other size gives chunks of that many bytes.
std::vector<std::pair<size_t, size_t>> CutIntoChunks(const uint8_t* data, size_t size,
                                                     size_t chunkSize) {
    std::vector<std::pair<size_t, size_t>> chunks;
    size_t start = 0;
    if (chunkSize > 0) {
        for (; start < size; start += chunkSize)
            chunks.emplace_back(start, std::min(chunkSize, size - start));
        return chunks;
    }
    bool pictureSeen = false;
    for (size_t at = 0; at < size; ++at) {
        if (!IsStartCode(data, size, at)) continue;
        uint8_t code = data[at + 3];
        bool boundary = code == 0x00 || code == 0xB3 || code == 0xB8;
        if (boundary && pictureSeen && at > start) {
            chunks.emplace_back(start, at - start);
            start = at;
            pictureSeen = false;
        }
        if (code == 0x00) pictureSeen = true;
        at += 3;
    }
    if (start < size) chunks.emplace_back(start, size - start);
    return chunks;
}

// Reads every sample the frame record describes, so that a record pointing past its planes
// shows up under the address sanitizer.
uint32_t TouchFrame(const D2uFrame* frame) {
    uint32_t sum = 0;
    for (const D2uPlane* plane : {&frame->Y, &frame->U, &frame->V}) {
        if (!plane->data) continue;
        for (int32_t row = 0; row < plane->height; ++row) {
            const uint8_t* line = plane->data + static_cast<ptrdiff_t>(row) * plane->pitch;
            for (int32_t x = 0; x < plane->width; ++x) sum += line[x];
        }
    }
    return sum;
}

constexpr size_t kMaxChunks = 400;

}  // namespace

namespace d2u {
namespace fuzz {

D2U_FUZZ_TARGET(BufferDecode, 6) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const size_t chunkSize = input.Byte() * 61u;
    const uint32_t operations = input.Word();
    const uint8_t* stream = input.Rest();
    const size_t streamSize = input.RestSize();

    D2uHandle handle = 0;
    InitDecoding(&handle);
    std::vector<uint8_t> bitmap;
    bool touched = false;
    size_t index = 0;
    for (const auto& chunk : CutIntoChunks(stream, streamSize, chunkSize)) {
        if (index == kMaxChunks) break;
        const uint8_t* bytes = stream + chunk.first;
        const int32_t length = static_cast<int32_t>(chunk.second);
        switch ((operations >> (2 * (index++ % 16))) & 3u) {
            case 2: {
                int32_t width = 0, height = 0, bits = 0;
                GetOutputInfo(&width, &height, &bits, handle);
                // Now and then a buffer one pixel short.
                int64_t capacity = static_cast<int64_t>(width) * height * 4 - ((flags & 2) ? 4 : 0);
                if (capacity < 0 || capacity > (16 << 20)) capacity = 0;
                bitmap.assign(static_cast<size_t>(capacity), 0);
                int32_t capacityWord = static_cast<int32_t>(capacity);
                int32_t isReference = -1;
                GetBitmapData2(bitmap.data(), &capacityWord, bytes, length, handle, &isReference);
                break;
            }
            case 3:
                SkipFrame2(bytes, length, handle);
                break;
            default: {
                D2uFrame* frame = nullptr;
                if (D2uDirGetMpegFrame2(&frame, bytes, length, handle) == 0 && frame && !touched) {
                    TouchFrame(frame);
                    touched = true;
                    if (flags & 1)
                        D2uDirSetOutputSize(handle, 1 + (flags >> 2) * 3, 1 + (flags >> 4) * 5);
                }
                break;
            }
        }
    }
    FinishDecoding(&handle);
    return 0;
}

}  // namespace fuzz
}  // namespace d2u
