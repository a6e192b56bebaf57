// Opening, feeding and closing decoding handles through the exported functions.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "api_streams.h"
#include "d2udir.h"
#include "support/api_test_host.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

TEST(HandleLifetime, FinishDecodingZeroesTheCallersVariable) {
    D2uHandle buffered = 0;
    EXPECT_EQ(InitDecoding(&buffered), 0);
    EXPECT_NE(buffered, 0u);
    EXPECT_EQ(FinishDecoding(&buffered), 0);
    EXPECT_EQ(buffered, 0u);

    D2uHandle file = 0;
    ASSERT_EQ(D2uDirLoadFile(IpbStream().path.c_str(), &file), 0);
    EXPECT_NE(file, 0u);
    EXPECT_EQ(D2uDirFinishDecoding(&file), 0);
    EXPECT_EQ(file, 0u);
}

TEST(HandleLifetime, LoadFileOnAMissingFileGivesMinusOneAndNoHandle) {
    D2uHandle handle = 12345;
    EXPECT_EQ(D2uDirLoadFile(WorkPath("api_no_such_file.m2v").c_str(), &handle), -1);
    EXPECT_EQ(handle, 0u);
    handle = 12345;
    EXPECT_EQ(D2uDirLoadFileW(L"/nonexistent/api_no_such_file.m2v", &handle), -1);
    EXPECT_EQ(handle, 0u);
}

TEST(HandleLifetime, LoadFileWOpensWidePaths) {
    std::string path = IpbStream().path;
    std::wstring wide(path.begin(), path.end());
    D2uHandle handle = 0;
    ASSERT_EQ(D2uDirLoadFileW(wide.c_str(), &handle), 0);
    D2uFrame* frame = nullptr;
    EXPECT_EQ(GetMpegFrame(&frame, handle), 0);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->pictureType, 1);
    FinishDecoding(&handle);
}

TEST(HandleLifetime, LoadFileReportsStreamsThatCannotStart) {
    const ApiStream& stream = IpbStream();
    const CodedPicture& first = stream.layout.pictures.front();
    D2uHandle handle = 7;
    // One picture without the headers before it.
    std::string noSequence =
        WriteWorkFile("api_no_sequence.m2v", Slice(stream.bytes, first.pictureStart, first.end));
    EXPECT_EQ(D2uDirLoadFile(noSequence.c_str(), &handle), -1);
    EXPECT_EQ(handle, 0u);
    // A sequence header and its group header, no picture.
    handle = 7;
    std::string noPicture =
        WriteWorkFile("api_no_picture.m2v", Slice(stream.bytes, 0, first.pictureStart));
    EXPECT_EQ(D2uDirLoadFile(noPicture.c_str(), &handle), -2008);
    EXPECT_EQ(handle, 0u);
}

TEST(FileFrames, PicturesLeaveInDecodingOrderWithTheirDescription) {
    const ApiStream& stream = IpbStream();
    HostRun run = DecodeFileDriven(stream.path, 200);
    const auto& pictures = stream.layout.pictures;
    ASSERT_EQ(run.frames.size(), pictures.size() + 1);
    // I0 P3 B1 B2: the P picture comes before the B pictures it follows in display order.
    ASSERT_GE(pictures.size(), 4u);
    const int expectedOrder[4][2] = {{0, 1}, {3, 2}, {1, 3}, {2, 3}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(run.frames[k].temporalReference, expectedOrder[k][0]) << k;
        EXPECT_EQ(run.frames[k].pictureType, expectedOrder[k][1]) << k;
    }
    for (size_t k = 0; k < pictures.size(); ++k) {
        EXPECT_EQ(run.frames[k].isKeyFrame, pictures[k].pictureType == 1 ? 1 : 0) << k;
        EXPECT_EQ(run.frames[k].width, 352);
        EXPECT_EQ(run.frames[k].height, 288);
    }
    // After the last picture: that frame once more, then nothing.
    EXPECT_EQ(run.frames.back().temporalReference,
              run.frames[pictures.size() - 1].temporalReference);
    EXPECT_EQ(run.results.back(), -1);
}

TEST(FileFrames, EveryFrameGoesOutWithTheHostWordCleared) {
    D2uHandle handle = 0;
    ASSERT_EQ(D2uDirLoadFile(IpbStream().path.c_str(), &handle), 0);
    for (int k = 0; k < 4; ++k) {
        D2uFrame* frame = nullptr;
        ASSERT_EQ(D2uDirGetMpegFrame(&frame, handle), 0);
        EXPECT_EQ(frame->hostWord, 0);
        frame->hostWord = 0x5A5A;
    }
    FinishDecoding(&handle);
}

TEST(FileFrames, AfterTheEndOnlyResetStartsAgain) {
    const ApiStream& stream = IpbStream();
    D2uHandle handle = 0;
    ASSERT_EQ(D2uDirLoadFile(stream.path.c_str(), &handle), 0);
    D2uFrame* frame = nullptr;
    size_t calls = 0;
    while (GetMpegFrame(&frame, handle) == 0 && calls < 500) ++calls;
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(GetMpegFrame(&frame, handle), -1);
    EXPECT_EQ(ResetDecoder(handle), 0);
    ASSERT_EQ(GetMpegFrame(&frame, handle), 0);
    EXPECT_EQ(frame->temporalReference, 0);
    EXPECT_EQ(frame->pictureType, 1);
    ASSERT_EQ(D2uDirResetDecoder(handle), 0);
    ASSERT_EQ(GetMpegFrame(&frame, handle), 0);
    EXPECT_EQ(frame->pictureType, 1);
    FinishDecoding(&handle);
}

TEST(NullHandles, FrameCallsRefuseThemAndLeaveTheOutFrame) {
    D2uFrame sentinel{};
    D2uFrame* frame = &sentinel;
    uint8_t data[16] = {0, 0, 1, 0xB3};
    EXPECT_EQ(GetMpegFrame(&frame, 0), -1);
    EXPECT_EQ(GetMpegFrame2(&frame, data, sizeof data, 0), -1);
    EXPECT_EQ(D2uDirGetMpegFrame2(&frame, data, sizeof data, 0), -1);
    EXPECT_EQ(frame, &sentinel);
    EXPECT_EQ(ResetDecoder(0), -1);
    EXPECT_EQ(SkipFrame(0), -1);
    EXPECT_EQ(SkipFrame2(data, sizeof data, 0), -1);
    EXPECT_EQ(SkipDuration(0, 1000, 1), 0);
    D2uHandle none = 0;
    EXPECT_EQ(FinishDecoding(&none), 0);
    EXPECT_EQ(FinishDecoding(nullptr), 0);
}

TEST(BufferFrames, StartUpErrorsAreReportedAndTheNextCallTriesAgain) {
    const ApiStream& stream = IpbStream();
    const CodedPicture& first = stream.layout.pictures.front();
    std::vector<uint8_t> pictureOnly = Slice(stream.bytes, first.pictureStart, first.end);
    std::vector<uint8_t> headersOnly = Slice(stream.bytes, first.chunkStart, first.pictureStart);
    std::vector<uint8_t> whole = PictureChunk(stream.bytes, first);
    D2uHandle handle = 0;
    InitDecoding(&handle);
    D2uFrame* frame = nullptr;
    EXPECT_EQ(
        GetMpegFrame2(&frame, pictureOnly.data(), static_cast<int32_t>(pictureOnly.size()), handle),
        -1);
    EXPECT_EQ(
        GetMpegFrame2(&frame, headersOnly.data(), static_cast<int32_t>(headersOnly.size()), handle),
        -2008);
    ASSERT_EQ(GetMpegFrame2(&frame, whole.data(), static_cast<int32_t>(whole.size()), handle), 0);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->pictureType, 1);
    EXPECT_EQ(frame->isKeyFrame, 1);
    EXPECT_EQ(frame->width, 352);
    FinishDecoding(&handle);
}

TEST(BufferFrames, EmptyBuffersAndMismatchedHandlesAreRefused) {
    const ApiStream& stream = IpbStream();
    std::vector<uint8_t> whole = PictureChunk(stream.bytes, stream.layout.pictures.front());
    D2uHandle buffered = 0;
    InitDecoding(&buffered);
    D2uFrame* frame = nullptr;
    EXPECT_EQ(GetMpegFrame2(&frame, nullptr, 100, buffered), -1);
    EXPECT_EQ(GetMpegFrame2(&frame, whole.data(), 0, buffered), -1);
    EXPECT_EQ(GetMpegFrame2(&frame, whole.data(), -5, buffered), -1);
    // A buffer-driven handle has no file to read frames from or skip in.
    EXPECT_EQ(GetMpegFrame(&frame, buffered), -1);
    EXPECT_EQ(SkipDuration(buffered, 1000, 1), 0);
    FinishDecoding(&buffered);

    D2uHandle file = 0;
    ASSERT_EQ(D2uDirLoadFile(stream.path.c_str(), &file), 0);
    EXPECT_EQ(GetMpegFrame2(&frame, whole.data(), static_cast<int32_t>(whole.size()), file), -1);
    ASSERT_EQ(GetMpegFrame(&frame, file), 0);
    EXPECT_EQ(frame->pictureType, 1);
    FinishDecoding(&file);
}

TEST(BufferFrames, OnePicturePerCallGivesThatPicture) {
    const ApiStream& stream = IpbStream();
    HostRun run = DecodeBufferDriven(stream.bytes, stream.layout);
    ASSERT_EQ(run.frames.size(), stream.layout.pictures.size());
    for (size_t k = 0; k < run.frames.size(); ++k) {
        EXPECT_EQ(run.frames[k].temporalReference, stream.layout.pictures[k].temporalReference);
        EXPECT_EQ(run.frames[k].pictureType, stream.layout.pictures[k].pictureType);
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
