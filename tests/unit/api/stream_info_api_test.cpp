// Picture size, output scaling, aspect ratio, frame rate, input size and position, read limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "api_streams.h"
#include "d2udir.h"
#include "support/api_test_host.h"

namespace d2u {
namespace test {
namespace {

struct OpenFile {
    explicit OpenFile(const std::string& path) { result = D2uDirLoadFile(path.c_str(), &handle); }
    ~OpenFile() { FinishDecoding(&handle); }
    D2uFrame* Next() {
        D2uFrame* frame = nullptr;
        return GetMpegFrame(&frame, handle) == 0 ? frame : nullptr;
    }
    D2uHandle handle = 0;
    int32_t result = -1;
};

uint64_t BitsOf(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint32_t BitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(OutputInfo, ReportsTheStreamSizeUntilAnOutputSizeIsSet) {
    OpenFile file(PalStream().path);
    ASSERT_EQ(file.result, 0);
    int32_t width = 0, height = 0, bits = 0;
    EXPECT_EQ(GetOutputInfo(&width, &height, &bits, file.handle), 0);
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 576);
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(D2uDirSetOutputSize(file.handle, 360, 288), 0);
    EXPECT_EQ(D2uDirGetOutputInfo(&width, &height, &bits, file.handle), 0);
    EXPECT_EQ(width, 360);
    EXPECT_EQ(height, 288);
    EXPECT_EQ(bits, 32);
}

TEST(OutputInfo, ScaledFramesHaveTheOutputSizeAndTheSourcesDescription) {
    const ApiStream& stream = PalStream();
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 352, 288), 0);
    for (size_t k = 0; k < 3; ++k) {
        D2uFrame* frame = file.Next();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->Y.width, 352);
        EXPECT_EQ(frame->Y.height, 288);
        EXPECT_EQ(frame->U.width, 176);
        EXPECT_EQ(frame->V.height, 144);
        EXPECT_EQ(frame->temporalReference, stream.layout.pictures[k].temporalReference);
        EXPECT_EQ(frame->pictureType, stream.layout.pictures[k].pictureType);
    }
    // Switched off again: the decoder's own frames.
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 0, 0), 0);
    D2uFrame* frame = file.Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 720);
    EXPECT_EQ(frame->height, 576);
    EXPECT_GE(frame->Y.width, 720);
}

TEST(OutputInfo, ImpossibleOutputSizesAreRefused) {
    OpenFile file(PalStream().path);
    ASSERT_EQ(file.result, 0);
    EXPECT_EQ(D2uDirSetOutputSize(file.handle, -2, 100), -1);
    EXPECT_EQ(D2uDirSetOutputSize(file.handle, 100, 1 << 20), -1);
    int32_t width = 0, height = 0, bits = 0;
    GetOutputInfo(&width, &height, &bits, file.handle);
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 576);
}

TEST(AspectRatio, CodesOneToThreeHaveValuesOthersLeaveTheCallersValue) {
    const uint64_t expected[4] = {0, BitsOf(1.0), 0x3FF5555555555555ull, 0x3FFC71C71C71C71Cull};
    for (int code = 1; code <= 5; ++code) {
        std::string path = WriteWorkFile("api_aspect_" + std::to_string(code) + ".m2v",
                                         WithSequenceCodes(IpbStream().bytes, code, 3));
        OpenFile file(path);
        ASSERT_EQ(file.result, 0);
        double ratio = -7.5;
        EXPECT_EQ(D2uDirGetAspectRatio(file.handle, &ratio), 0);
        if (code <= 3) {
            EXPECT_EQ(BitsOf(ratio), expected[code]) << code;
        } else {
            EXPECT_EQ(ratio, -7.5) << code;
        }
    }
}

TEST(FrameRate, CodesOneToFiveHaveValuesOthersLeaveTheCallersValue) {
    const uint32_t expected[6] = {0,           0x41BFCEE6u,  BitsOf(24.0f), BitsOf(25.0f),
                                  0x41EFC29Fu, BitsOf(30.0f)};
    for (int code = 1; code <= 8; ++code) {
        std::string path = WriteWorkFile("api_rate_" + std::to_string(code) + ".m2v",
                                         WithSequenceCodes(IpbStream().bytes, 2, code));
        OpenFile file(path);
        ASSERT_EQ(file.result, 0);
        float fps = -3.0f;
        EXPECT_EQ(code % 2 ? GetFPSInfo(file.handle, &fps) : D2uDirGetFPSInfo(file.handle, &fps),
                  0);
        if (code <= 5) {
            EXPECT_EQ(BitsOf(fps), expected[code]) << code;
        } else {
            EXPECT_EQ(fps, -3.0f) << code;
        }
    }
    float untouched = -3.0f;
    EXPECT_EQ(GetFPSInfo(0, &untouched), -1);
    EXPECT_EQ(untouched, -3.0f);
}

TEST(Unsupported, FirstFrameSizeAndPreviewInfoSayNotSupported) {
    EXPECT_EQ(GetFirstFrameSize(1, 2), D2U_NOT_SUPPORTED);
    EXPECT_EQ(D2uDirGetFirstFrameSize(0, 0), -1);
    EXPECT_EQ(SetPreviewInfo(1, 2, 3, 4, 5), -1);
    EXPECT_EQ(D2uDirSetPreviewInfo(0, 0, 0, 0, 0), -1);
}

TEST(InputPosition, SizeIsTheFileSizeAndZeroForBuffers) {
    const ApiStream& stream = IpbStream();
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    uint64_t size = 0;
    EXPECT_EQ(GetInputSize(file.handle, &size), 0);
    EXPECT_EQ(size, stream.bytes.size());
    D2uHandle buffered = 0;
    InitDecoding(&buffered);
    size = 99;
    EXPECT_EQ(D2uDirGetInputSize(buffered, &size), 0);
    EXPECT_EQ(size, 0u);
    FinishDecoding(&buffered);
}

TEST(InputPosition, StartsAtZeroAndFollowsThePictures) {
    const auto& pictures = IpbStream().layout.pictures;
    OpenFile file(IpbStream().path);
    ASSERT_EQ(file.result, 0);
    uint64_t position = 99;
    EXPECT_EQ(GetInputPosition(file.handle, &position), 0);
    EXPECT_EQ(position, 0u);
    ASSERT_NE(file.Next(), nullptr);
    EXPECT_EQ(D2uDirGetInputPosition(file.handle, &position), 0);
    // Past the first picture's slices, not yet into the headers of the second.
    EXPECT_GE(position + 8, pictures[0].end);
    EXPECT_LE(position, pictures[1].chunkStart + 4);
    ASSERT_NE(file.Next(), nullptr);
    uint64_t later = 0;
    GetInputPosition(file.handle, &later);
    EXPECT_GE(later + 8, pictures[1].end);
    EXPECT_LE(later, pictures[2].chunkStart + 4);
}

TEST(InputPosition, RepositioningResumesAtTheNextSequenceHeader) {
    const ApiStream& stream = IpbStream();
    const auto& pictures = stream.layout.pictures;
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    for (int k = 0; k < 5; ++k) ASSERT_NE(file.Next(), nullptr);
    uint64_t offset = stream.bytes.size() / 2;
    size_t target = 0;
    while (target < pictures.size() &&
           (!pictures[target].startsSequence || pictures[target].chunkStart < offset)) {
        ++target;
    }
    ASSERT_LT(target + 2, pictures.size());
    EXPECT_EQ(D2uDirSetInputPosition(file.handle, static_cast<uint32_t>(offset), 0), 0);
    D2uFrame* frame = file.Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->temporalReference, pictures[target].temporalReference);
    EXPECT_EQ(frame->pictureType, 1);
    // An intra picture: it must match the reference decoder exactly where it was found.
    std::vector<YuvImage> reference = ReferenceFrames(stream);
    ASSERT_EQ(reference.size(), pictures.size());
    HostFrame copy = CopyFrame(*frame);
    EXPECT_GE(PlanePsnr(copy.image.planes[0], reference[pictures[target].displayIndex].planes[0]),
              50.0);
    // Repositioning keeps handing out the B pictures that follow the I picture.
    for (size_t k = target + 1; k < target + 3; ++k) {
        frame = file.Next();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->temporalReference, pictures[k].temporalReference) << k;
        EXPECT_EQ(frame->pictureType, pictures[k].pictureType) << k;
    }
}

TEST(InputPosition, PastTheLastSequenceHeaderTheStreamEnds) {
    const ApiStream& stream = IpbStream();
    const auto& pictures = stream.layout.pictures;
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    uint64_t offset = pictures.back().pictureStart;
    ASSERT_EQ(D2uDirSetInputPosition(file.handle, static_cast<uint32_t>(offset), 0), 0);
    EXPECT_EQ(file.Next(), nullptr);
    EXPECT_EQ(file.Next(), nullptr);
    // Only a reset starts again.
    ASSERT_EQ(ResetDecoder(file.handle), 0);
    D2uFrame* frame = file.Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->pictureType, 1);
    EXPECT_EQ(frame->temporalReference, 0);
}

TEST(InputPosition, BufferDrivenHandlesCannotBeRepositioned) {
    D2uHandle handle = 0;
    InitDecoding(&handle);
    EXPECT_EQ(D2uDirSetInputPosition(handle, 100, 0), -1);
    EXPECT_EQ(D2uDirSetInputPosition(0, 100, 0), -1);
    uint64_t position = 5;
    EXPECT_EQ(GetInputPosition(handle, &position), 0);
    EXPECT_EQ(position, 0u);
    FinishDecoding(&handle);
}

TEST(ReadLimit, HoldsAFileDrivenDecodeUntilAnotherThreadRaisesIt) {
    const ApiStream& stream = LargeStream();
    const auto& pictures = stream.layout.pictures;
    ASSERT_GT(stream.bytes.size(), 1000000u);
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    EXPECT_EQ(SetFileReadLimit(file.handle, 1000, 0), 0);
    // The refill after the first 600,000 bytes would read past the limit.
    size_t before = 0;
    while (before < pictures.size() && pictures[before].end < 600000) ++before;
    std::atomic<size_t> frames{0};
    std::atomic<bool> done{false};
    std::thread decoder([&] {
        while (file.Next()) ++frames;
        done = true;
    });
    while (frames < before && !done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done);
    size_t held = frames;
    EXPECT_LT(held, pictures.size());
    // Raising the limit past the end of the file lets the decode finish.
    EXPECT_EQ(
        D2uDirSetFileReadLimit(file.handle, static_cast<uint32_t>(stream.bytes.size() * 4), 0), 0);
    decoder.join();
    EXPECT_EQ(frames, pictures.size() + 1);
}

TEST(ReadLimit, ZeroLiftsItAndNullHandlesAreRefused) {
    const ApiStream& stream = LargeStream();
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    SetFileReadLimit(file.handle, 1000, 0);
    std::atomic<bool> done{false};
    size_t frames = 0;
    std::thread decoder([&] {
        while (file.Next()) ++frames;
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(SetFileReadLimit(file.handle, 0, 0), 0);
    decoder.join();
    EXPECT_EQ(frames, stream.layout.pictures.size() + 1);
    EXPECT_EQ(SetFileReadLimit(0, 1000, 0), -1);
    EXPECT_EQ(D2uDirSetFileReadLimit(0, 0, 0), -1);
}

}  // namespace
}  // namespace test
}  // namespace d2u
