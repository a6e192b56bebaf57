// Subtitles: the input, after eight control bytes, is read as a subtitle file and drawn onto
// RGB or YUV host frames, frame after frame, with scale factors and a maximum size from the
// control bytes; the same bytes are then handed over record by record from memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "d2udir.h"
#include "fuzz_input.h"

namespace {

using d2u::fuzz::FuzzInput;
using d2u::fuzz::TemporaryFile;

constexpr int kPuts = 120;
constexpr int kMemoryRecords = 40;
constexpr size_t kHeaderBytes = 76;
constexpr int32_t kMaxDataBytes = 1 << 20;

struct Settings {
    int32_t rgb;
    int32_t bitsPerPixel;
    float frameRate;
    double xFactor, yFactor;
    int32_t maxWidth, maxHeight;
    int32_t frameStep;
    bool bottomUp;
};

Settings ReadSettings(FuzzInput& input) {
    Settings settings;
    uint8_t mode = input.Byte();
    settings.rgb = (mode & 3) != 0;
    settings.bitsPerPixel = (mode & 3) == 1 ? 24 : (mode & 3) == 2 ? 32 : (mode & 3) == 3 ? 16 : 0;
    settings.bottomUp = mode & 4;
    settings.frameRate = 1.0f + input.Byte() / 4.0f;
    settings.xFactor = 0.25 + input.Byte() / 64.0;
    settings.yFactor = 0.25 + input.Byte() / 64.0;
    settings.maxWidth = input.Byte() * 4;
    settings.maxHeight = input.Byte() * 4;
    settings.frameStep = 1 + input.Byte();
    input.Byte();
    return settings;
}

// Host frames of the largest size a record may be drawn on, or the maximum size when larger.
class HostFrames {
public:
    explicit HostFrames(const Settings& settings) {
        width_ = settings.maxWidth > 720 ? settings.maxWidth : 720;
        height_ = settings.maxHeight > 576 ? settings.maxHeight : 576;
        const int32_t bytesPerPixel = settings.bitsPerPixel == 24 ? 3 : 4;
        const int32_t stride = width_ * bytesPerPixel;
        rgb_.assign(static_cast<size_t>(stride) * height_, 0);
        rgbFrame_ = D2uRgbFrame{};
        rgbFrame_.stride = settings.bottomUp ? -stride : stride;
        rgbFrame_.data = settings.bottomUp
                             ? rgb_.data() + static_cast<size_t>(stride) * (height_ - 1)
                             : rgb_.data();
        // YUV planes of an odd size, exactly as large as the record says.
        yuvFrame_ = D2uFrame{};
        Plane(yuvFrame_.Y, luma_, 333, 250, 336);
        Plane(yuvFrame_.U, cb_, 167, 125, 176);
        Plane(yuvFrame_.V, cr_, 167, 125, 176);
        yuvFrame_.width = 333;
        yuvFrame_.height = 250;
    }
    const D2uRgbFrame* Rgb() const { return &rgbFrame_; }
    const D2uFrame* Yuv() const { return &yuvFrame_; }

private:
    static void Plane(D2uPlane& plane, std::vector<uint8_t>& bytes, int32_t width, int32_t height,
                      int32_t pitch) {
        bytes.assign(static_cast<size_t>(pitch) * (height - 1) + width, 16);
        plane = D2uPlane{width, height, pitch, bytes.data()};
    }

    int32_t width_, height_;
    std::vector<uint8_t> rgb_, luma_, cb_, cr_;
    D2uRgbFrame rgbFrame_;
    D2uFrame yuvFrame_;
};

void Put(D2uHandle handle, const Settings& settings, const HostFrames& frames,
         int32_t frameNumber) {
    if (settings.rgb) {
        D2uDirPutSubtitleRGB(handle, frames.Rgb(), frameNumber);
    } else {
        D2uDirPutSubtitleYUV(handle, frames.Yuv(), frameNumber);
    }
}

void Configure(D2uHandle handle, const Settings& settings) {
    D2uDirSubSetMaxSize(handle, settings.maxWidth, settings.maxHeight);
    D2uDirSubSetScaleFactors(handle, settings.xFactor, settings.yFactor);
}

void DrawFromFile(const uint8_t* bytes, size_t size, const Settings& settings,
                  const HostFrames& frames) {
    TemporaryFile file(bytes, size, ".sub");
    if (!file.Ok()) return;
    D2uHandle handle = 0;
    D2uDirLoadSubtitle(file.Path(), &handle, settings.frameRate, settings.rgb,
                       settings.bitsPerPixel);
    Configure(handle, settings);
    for (int i = 0; i < kPuts; ++i) Put(handle, settings, frames, i * settings.frameStep);
    D2uDirCloseSubtitle(&handle);
}

// Records cut from the bytes by their own size fields; each one's data lies in a buffer of
// exactly the size its header gives, as the caller must provide.
void DrawFromMemory(const uint8_t* bytes, size_t size, const Settings& settings,
                    const HostFrames& frames) {
    D2uHandle handle = 0;
    D2uDirLoadSubtitle("", &handle, settings.frameRate, settings.rgb, settings.bitsPerPixel);
    Configure(handle, settings);
    size_t at = 0;
    for (int i = 0; i < kMemoryRecords && at + kHeaderBytes <= size; ++i) {
        int32_t recordSize;
        std::memcpy(&recordSize, bytes + at + 72, sizeof recordSize);
        int64_t dataSize = static_cast<int64_t>(recordSize) - static_cast<int64_t>(kHeaderBytes);
        if (dataSize < 0 || dataSize > kMaxDataBytes) dataSize = 0;
        std::vector<uint8_t> data(static_cast<size_t>(dataSize));
        size_t available = size - at - kHeaderBytes;
        size_t copied = available < data.size() ? available : data.size();
        if (copied > 0) std::memcpy(data.data(), bytes + at + kHeaderBytes, copied);
        std::vector<uint8_t> record(bytes + at, bytes + at + kHeaderBytes);
        const uint8_t* pointer = data.empty() ? nullptr : data.data();
        record.resize(kHeaderBytes + sizeof pointer);
        std::memcpy(record.data() + kHeaderBytes, &pointer, sizeof pointer);
        D2uDirSetSubtitleData(handle, record.data());
        // The record is read by the put and must not be used after its buffers go.
        Put(handle, settings, frames, i * settings.frameStep);
        Put(handle, settings, frames, i * settings.frameStep + 1);
        D2uDirSetSubtitleData(handle, nullptr);
        at += kHeaderBytes + copied;
    }
    D2uDirCloseSubtitle(&handle);
}

}  // namespace

namespace d2u {
namespace fuzz {

D2U_FUZZ_TARGET(Subtitle, 8) {
    FuzzInput input(data, size);
    const Settings settings = ReadSettings(input);
    const HostFrames frames(settings);
    DrawFromFile(input.Rest(), input.RestSize(), settings, frames);
    DrawFromMemory(input.Rest(), input.RestSize(), settings, frames);
    return 0;
}

}  // namespace fuzz
}  // namespace d2u
