#include "soak/api_sequence.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "support/test_env.h"

namespace d2u {
namespace soak {
namespace {

constexpr int32_t kNoHeaderPicture = -2008;
constexpr int32_t kLargestBitmap = 16 << 20;

bool IsFrameResult(int32_t result) {
    return result == 0 || result == -1;
}
bool IsStartResult(int32_t result) {
    return IsFrameResult(result) || result == kNoHeaderPicture;
}

// A 720x576 screen, the size subtitle records are placed on, as RGB and as YUV 4:2:0 frames.
struct SubtitleScreen {
    SubtitleScreen() : pixels(720 * 576 * 4) {
        rgb.stride = 720 * 4;
        rgb.data = pixels.data();
        yuv.Y = {720, 576, 720, pixels.data()};
        yuv.U = {360, 288, 360, pixels.data() + 720 * 576};
        yuv.V = {360, 288, 360, pixels.data() + 720 * 576 + 360 * 288};
        yuv.width = 720;
        yuv.height = 576;
        yuv.chromaFormat = 1;
    }
    Bytes pixels;
    D2uRgbFrame rgb = {};
    D2uFrame yuv = {};
};

// A subtitle record as D2uDirSetSubtitleData takes it: the 76-byte header, then a pointer to
// the data, which must live until a later put reads it.
struct MemoryRecord {
    void Load(const Bytes& bytes, size_t at) {
        std::memcpy(header, bytes.data() + at, 76);
        std::fill(data.begin(), data.end(), 0);
        size_t available = std::min(data.size(), bytes.size() - at - 76);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + 76), available, data.begin());
        uint8_t* pointer = data.data();
        std::memcpy(header + 76, &pointer, sizeof pointer);
    }
    uint8_t header[76 + sizeof(void*)] = {};
    Bytes data = Bytes(65536, 0);
};

// Made once at start so that they do not count as growth; puts go forward in time.
SubtitleScreen screen;
MemoryRecord memoryRecord;
int32_t frameNumber = 0;

}  // namespace

ApiSequence::ApiSequence(const SoakInput& input, Bytes bytes, uint32_t seed, std::string workPrefix)
    : input_(input),
      bytes_(std::move(bytes)),
      random_(seed),
      filePath_(workPrefix + ExtensionOf(input.kind)),
      bitmapPath_(workPrefix + ".bmp") {}

bool ApiSequence::Expect(bool condition, const char* call, int32_t result) {
    ++calls_;
    if (!condition && error_.empty()) error_ = call + (" returned " + std::to_string(result));
    return condition && error_.empty();
}

int32_t ApiSequence::RandomSize() {
    static const int32_t kSizes[] = {0, 1, 2, 15, 16, 17, 64, 176, 333, 720, -1, 16384};
    return kSizes[random_() % (sizeof kSizes / sizeof kSizes[0])];
}

bool ApiSequence::Run() {
    if (!test::WriteFileBytes(filePath_, bytes_)) {
        error_ = "cannot write " + filePath_;
        return false;
    }
    int operations = 4 + static_cast<int>(random_() % 40);
    if (input_.kind == InputKind::kSubtitle) {
        return random_() % 4 ? RunSubtitles(operations) : RunFileHandle(operations);
    }
    uint32_t choice = random_() % 5;
    return choice < 2   ? RunFileHandle(operations)
           : choice < 4 ? RunBufferHandle(operations)
                        : RunPreview(operations);
}

bool ApiSequence::RunFileHandle(int operations) {
    D2uHandle handle = 0;
    std::string path = random_() % 2 ? filePath_ : filePath_ + ".missing";
    int32_t opened = D2uDirLoadFile(path.c_str(), &handle);
    bool good =
        Expect(IsStartResult(opened) && (handle != 0) == (opened == 0), "D2uDirLoadFile", opened);
    if (!handle) return good;
    // Now and then a buffer-driven handle lives beside the file-driven one.
    D2uHandle second = 0;
    size_t feedAt = 0;
    if (random_() % 4 == 0) InitDecoding(&second);
    for (int i = 0; good && i < operations; ++i) {
        good =
            second && random_() % 3 == 0 ? BufferOperation(second, feedAt) : FileOperation(handle);
    }
    Expect(FinishDecoding(&handle) == 0 && handle == 0, "FinishDecoding", 0);
    if (second) FinishDecoding(&second);
    return error_.empty();
}

bool ApiSequence::FileOperation(D2uHandle handle) {
    int32_t result = 0;
    D2uFrame* frame = nullptr;
    switch (random_() % 12) {
        case 0:
        case 1:
        case 2:
            result = GetMpegFrame(&frame, handle);
            return Expect(IsFrameResult(result) && (result != 0 || FrameIsSound(frame, false)),
                          "GetMpegFrame", result);
        case 3:
            result = SkipFrame(handle);
            return Expect(result == 0 || result == 1 || result == -1, "SkipFrame", result);
        case 4:
            result = SkipDuration(handle, random_() % 3000, random_() % 2);
            return Expect(result >= 0 && result <= 3000 + 100, "SkipDuration", result);
        case 5:
            return BitmapCall(handle, nullptr, 0);
        case 6: {
            uint64_t size = 0;
            GetInputSize(handle, &size);
            uint64_t target = size ? random_() % (size + size / 4 + 1) : 0;
            result = D2uDirSetInputPosition(handle, static_cast<uint32_t>(target),
                                            static_cast<uint32_t>(target >> 32));
            return Expect(result == 0 && size == bytes_.size(), "D2uDirSetInputPosition", result);
        }
        case 7:
            result = ResetDecoder(handle);
            return Expect(result == 0, "ResetDecoder", result);
        case 8: {
            // At the end of the data below a limit the reader waits for another thread to raise
            // it, and none does here: the limit is only lifted.
            result = SetFileReadLimit(handle, 0, 0);
            return Expect(result == 0, "SetFileReadLimit", result);
        }
        default:
            return CommonOperation(handle);
    }
}

// The next piece of the input to feed, starting at a start code now and then, as a host
// cutting pictures would; empty at the end of the input.
std::pair<const uint8_t*, int32_t> ApiSequence::FeedPiece(size_t& feedAt) {
    if (feedAt >= bytes_.size()) feedAt = 0;
    size_t size = 1 + random_() % (random_() % 2 ? 4096 : 40000);
    if (random_() % 2) {
        for (size_t at = feedAt; at + 3 < bytes_.size() && at < feedAt + 20000; ++at) {
            if (bytes_[at] == 0 && bytes_[at + 1] == 0 && bytes_[at + 2] == 1) {
                feedAt = at;
                break;
            }
        }
    }
    size = std::min(size, bytes_.size() - feedAt);
    const uint8_t* data = bytes_.empty() ? nullptr : bytes_.data() + feedAt;
    feedAt += size;
    return {data, static_cast<int32_t>(size)};
}

bool ApiSequence::BufferOperation(D2uHandle handle, size_t& feedAt) {
    auto [data, length] = FeedPiece(feedAt);
    int32_t result = 0;
    D2uFrame* frame = nullptr;
    switch (random_() % 10) {
        case 0:
        case 1:
        case 2:
        case 3:
            result = GetMpegFrame2(&frame, data, length, handle);
            return Expect(IsStartResult(result) && (result != 0 || FrameIsSound(frame, false)) &&
                              (length > 0 || result == -1),
                          "GetMpegFrame2", result);
        case 4:
            result = SkipFrame2(data, length, handle);
            return Expect(result == 1 || IsStartResult(result), "SkipFrame2", result);
        case 5:
            return BitmapCall(handle, data, length);
        case 6:
            result = GetMpegFrame(&frame, handle);
            return Expect(result == -1, "GetMpegFrame on a buffer-driven handle", result);
        case 7:
            result = SkipDuration(handle, random_() % 2000, random_() % 2);
            return Expect(result == 0, "SkipDuration on a buffer-driven handle", result);
        default:
            return CommonOperation(handle);
    }
}

bool ApiSequence::CommonOperation(D2uHandle handle) {
    int32_t result = 0;
    switch (random_() % 4) {
        case 0: {
            int32_t width = RandomSize(), height = RandomSize();
            result = D2uDirSetOutputSize(handle, width, height);
            bool valid = width >= 0 && width <= 16383 && height >= 0 && height <= 16383;
            return Expect(result == (valid ? 0 : -1), "D2uDirSetOutputSize", result);
        }
        case 1: {
            int32_t width = -5, height = -5, bits = 0;
            result = GetOutputInfo(&width, &height, &bits, handle);
            return Expect(result == 0 && bits == 32 && width >= 0 && height >= 0, "GetOutputInfo",
                          result);
        }
        case 2: {
            double ratio = -1.0;
            result = D2uDirGetAspectRatio(handle, &ratio);
            return Expect(result == 0 && (ratio == -1.0 || (ratio >= 1.0 && ratio < 1.8)),
                          "D2uDirGetAspectRatio", result);
        }
        default: {
            float fps = -1.0f;
            result = GetFPSInfo(handle, &fps);
            return Expect(result == 0 && (fps == -1.0f || (fps > 23.0f && fps <= 30.0f)),
                          "GetFPSInfo", result);
        }
    }
}

bool ApiSequence::BitmapCall(D2uHandle handle, const uint8_t* data, int32_t length) {
    int32_t width = 0, height = 0, bits = 0;
    GetOutputInfo(&width, &height, &bits, handle);
    int64_t needed = static_cast<int64_t>(width) * height * 4;
    int32_t capacity = static_cast<int32_t>(std::min<int64_t>(needed, kLargestBitmap));
    if (random_() % 4 == 0)
        capacity = std::max(0, capacity - 1 - static_cast<int32_t>(random_() % 64));
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(capacity) + 1]);
    int32_t written = capacity;
    int32_t isReference = -7;
    int32_t result =
        data ? GetBitmapData2(buffer.get(), &written, data, length, handle, &isReference)
             : GetBitmapData(buffer.get(), &written, handle, &isReference);
    const char* call = data ? "GetBitmapData2" : "GetBitmapData";
    if (result == 0) {
        return Expect(written > 0 && written <= capacity && (isReference == 0 || isReference == 1),
                      call, result);
    }
    bool untouched = written == capacity;  // start-up errors leave the outputs as they were
    return Expect((result == -1 && (written == 0 || (data && untouched))) ||
                      (data && result == kNoHeaderPicture && untouched),
                  call, result);
}

bool ApiSequence::RunBufferHandle(int operations) {
    D2uHandle handle = 0;
    bool good = Expect(InitDecoding(&handle) == 0 && handle != 0, "InitDecoding", 0);
    size_t feedAt = random_() % 2 ? 0 : static_cast<size_t>(random_()) % (bytes_.size() + 1);
    for (int i = 0; good && i < operations; ++i) good = BufferOperation(handle, feedAt);
    Expect(FinishDecoding(&handle) == 0 && handle == 0, "FinishDecoding", 0);
    return error_.empty();
}

bool ApiSequence::RunPreview(int operations) {
    int32_t width = 8 + static_cast<int32_t>(random_() % 300);
    int32_t height = 8 + static_cast<int32_t>(random_() % 200);
    const char* bitmap = random_() % 2 ? bitmapPath_.c_str() : "";
    int32_t started = D2uDirStartExtractPreview(filePath_.c_str(), bitmap, width, height);
    bool good = Expect(started == 0 || started == -1, "D2uDirStartExtractPreview", started);
    uint32_t kib = static_cast<uint32_t>(bytes_.size() / 1024) + 2;
    for (int i = 0; good && i < operations / 4 + 1; ++i) {
        int32_t position = random_() % 8 == 0 ? -1 : static_cast<int32_t>(random_() % kib);
        int32_t result = D2uDirExtractPreview(position);
        good = Expect(result <= 0 && result >= -2 - 2008 && (started == 0 || result == -1),
                      "D2uDirExtractPreview", result);
    }
    Expect(D2uDirCloseExtractPreview() == 0, "D2uDirCloseExtractPreview", 0);
    return error_.empty();
}

bool ApiSequence::RunSubtitles(int operations) {
    static const float kRates[] = {25.0f, 29.97f, 1.0f, 1000.0f};
    static const int32_t kDepths[] = {24, 32, 16};
    frameNumber = 0;
    std::string path = random_() % 4 ? filePath_ : filePath_ + ".missing";
    D2uHandle handle = 0;
    int32_t result =
        D2uDirLoadSubtitle(path.c_str(), &handle, kRates[random_() % 4],
                           static_cast<int32_t>(random_() % 2), kDepths[random_() % 3]);
    bool good = Expect(result == 0 && handle != 0, "D2uDirLoadSubtitle", result);
    for (int i = 0; good && i < operations; ++i) good = SubtitleOperation(handle);
    Expect(D2uDirCloseSubtitle(&handle) == 0 && handle == 0, "D2uDirCloseSubtitle", 0);
    return error_.empty();
}

bool ApiSequence::SubtitleOperation(D2uHandle handle) {
    static const double kFactors[] = {1.0, 0.995, 0.5, 1.5, 2.0, 0.01, 10.0};
    frameNumber += static_cast<int32_t>(random_() % 8);
    int32_t result = 0;
    switch (random_() % 6) {
        case 0:
        case 1: {
            D2uRgbFrame frame = screen.rgb;
            if (random_() % 2) {  // bottom-up
                frame.data += (576 - 1) * frame.stride;
                frame.stride = -frame.stride;
            }
            result = D2uDirPutSubtitleRGB(handle, &frame, frameNumber);
            return Expect(result == 0, "D2uDirPutSubtitleRGB", result);
        }
        case 2:
            result = D2uDirPutSubtitleYUV(handle, &screen.yuv, frameNumber);
            return Expect(result == 0, "D2uDirPutSubtitleYUV", result);
        case 3:
            result =
                D2uDirSubSetScaleFactors(handle, kFactors[random_() % 7], kFactors[random_() % 7]);
            return Expect(result == 0, "D2uDirSubSetScaleFactors", result);
        case 4:
            result = D2uDirSubSetMaxSize(handle, static_cast<int32_t>(random_() % 721),
                                         static_cast<int32_t>(random_() % 577));
            return Expect(result == 0, "D2uDirSubSetMaxSize", result);
        default:  // a record of the input handed over in memory
            if (bytes_.size() < 76) return true;
            memoryRecord.Load(bytes_, static_cast<size_t>(random_()) % (bytes_.size() - 75));
            result = D2uDirSetSubtitleData(handle, memoryRecord.header);
            return Expect(result == 0, "D2uDirSetSubtitleData", result);
    }
}

}  // namespace soak
}  // namespace d2u
