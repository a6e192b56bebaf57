// Subtitles: the input, after eight control bytes, is read as a subtitle file and drawn onto
// RGB or YUV host frames, frame after frame, with scale factors and a maximum size from the
// control bytes; the same bytes are then handed over record by record from memory.
#include "fuzz_input.h"

D2U_FUZZ_TARGET(subtitle, 8) {
    FuzzInput input{data, size};
    const uint8_t mode = input.Byte() & 7;
    const int32_t bitsPerPixel[] = {0, 24, 32, 16}, bits = bitsPerPixel[mode & 3];
    const bool rgb = (mode & 3) != 0, bottomUp = mode & 4;
    const float frameRate = 1.0f + input.Byte() / 4.0f;
    const double xFactor = 0.25 + input.Byte() / 64.0, yFactor = 0.25 + input.Byte() / 64.0;
    const int32_t maxWidth = input.Byte() * 4, maxHeight = input.Byte() * 4;
    const int32_t frameStep = 1 + input.Byte();
    input.Byte();

    // An RGB frame as large as a record may be drawn on, or the maximum size when larger;
    // YUV planes of an odd size, exactly as large as the record says.
    const int32_t width = std::max(maxWidth, 720), height = std::max(maxHeight, 576);
    const int32_t stride = width * (bits == 24 ? 3 : 4);
    std::vector<uint8_t> rgbBytes(static_cast<size_t>(stride) * height);
    D2uRgbFrame rgbFrame{};
    rgbFrame.stride = bottomUp ? -stride : stride;
    rgbFrame.data = rgbBytes.data() + (bottomUp ? rgbBytes.size() - stride : 0);
    std::vector<uint8_t> luma(336 * 249 + 333, 16), cb(176 * 124 + 167, 16), cr(cb);
    D2uFrame yuvFrame{};
    yuvFrame.Y = D2uPlane{333, 250, 336, luma.data()};
    yuvFrame.U = D2uPlane{167, 125, 176, cb.data()};
    yuvFrame.V = D2uPlane{167, 125, 176, cr.data()};
    yuvFrame.width = 333;
    yuvFrame.height = 250;
    D2uHandle handle = 0;
    auto open = [&](const char* path) {
        D2uDirLoadSubtitle(path, &handle, frameRate, rgb, bits);
        D2uDirSubSetMaxSize(handle, maxWidth, maxHeight);
        D2uDirSubSetScaleFactors(handle, xFactor, yFactor);
    };
    auto put = [&](int32_t frame) {
        if (rgb) {
            D2uDirPutSubtitleRGB(handle, &rgbFrame, frame);
        } else {
            D2uDirPutSubtitleYUV(handle, &yuvFrame, frame);
        }
    };

    if (TemporaryFile file(input.data, input.size, ".sub"); file.Ok()) {
        open(file.Path());
        for (int32_t i = 0; i < 120; ++i) put(i * frameStep);
        D2uDirCloseSubtitle(&handle);
    }

    // Records cut from the bytes by their own size fields; each one's data lies in a buffer of
    // exactly the size its header gives, as the caller must provide.
    open("");
    constexpr size_t kHeader = 76;
    size_t at = 0;
    for (int32_t i = 0; i < 40 && at + kHeader <= input.size; ++i) {
        int32_t recordSize;
        std::memcpy(&recordSize, input.data + at + 72, sizeof recordSize);
        const int64_t dataSize = static_cast<int64_t>(recordSize) - static_cast<int64_t>(kHeader);
        std::vector<uint8_t> payload(dataSize < 0 || dataSize > (1 << 20) ? 0 : dataSize);
        const size_t copied = std::min(input.size - at - kHeader, payload.size());
        if (copied > 0) std::memcpy(payload.data(), input.data + at + kHeader, copied);
        std::vector<uint8_t> record(input.data + at, input.data + at + kHeader);
        const uint8_t* pointer = payload.empty() ? nullptr : payload.data();
        record.resize(kHeader + sizeof pointer);
        std::memcpy(record.data() + kHeader, &pointer, sizeof pointer);
        D2uDirSetSubtitleData(handle, record.data());
        // The put reads the record, which must not be used once its buffers go.
        put(i * frameStep);
        put(i * frameStep + 1);
        D2uDirSetSubtitleData(handle, nullptr);
        at += kHeader + copied;
    }
    D2uDirCloseSubtitle(&handle);
    return 0;
}
