// Opening, feeding and closing decoding handles through the exported functions, and the texts
// that failures hand to the outside diagnostics library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api_streams.h"
#include "d2udir.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

int32_t Feed(D2uFrame** frame, const Bytes& bytes, D2uHandle handle) {
    return GetMpegFrame2(frame, bytes.data(), static_cast<int32_t>(bytes.size()), handle);
}

// Finishing zeroes the caller's variable; null handles, empty buffers and the calls of the other
// kind of handle are refused; the calls kept only for old hosts say they are not supported.
TEST(Handles, FinishAndRefusals) {
    const GeneratedStream& stream = IpbStream();
    Bytes whole = PictureChunk(stream.bytes, stream.layout.pictures.front());
    D2uHandle buffered = 0;
    EXPECT_EQ(D2uDirInitDecoding(&buffered), 0);
    ASSERT_NE(buffered, 0u);
    D2uFrame sentinel{};
    D2uFrame* frame = &sentinel;
    float fps = -3.0f;
    uint64_t size = 99, position = 99;
    EXPECT_EQ(GetMpegFrame(&frame, 0), -1);
    EXPECT_EQ(D2uDirGetMpegFrame2(&frame, whole.data(), 16, 0), -1);
    EXPECT_EQ(GetMpegFrame2(&frame, nullptr, 100, buffered), -1);
    EXPECT_EQ(GetMpegFrame2(&frame, whole.data(), 0, buffered), -1);
    EXPECT_EQ(GetMpegFrame2(&frame, whole.data(), -5, buffered), -1);
    EXPECT_EQ(GetMpegFrame(&frame, buffered), -1);
    EXPECT_EQ(frame, &sentinel);
    EXPECT_EQ(ResetDecoder(0), -1);
    EXPECT_EQ(SkipFrame(0), -1);
    EXPECT_EQ(SkipFrame2(whole.data(), 16, 0), -1);
    EXPECT_EQ(SkipDuration(0, 1000, 1), 0);
    EXPECT_EQ(SkipDuration(buffered, 1000, 1), 0);
    EXPECT_EQ(GetFPSInfo(0, &fps), -1);
    EXPECT_EQ(fps, -3.0f);
    EXPECT_EQ(D2uDirSetInputPosition(0, 100, 0), -1);
    EXPECT_EQ(D2uDirSetInputPosition(buffered, 100, 0), -1);
    EXPECT_EQ(D2uDirGetInputSize(buffered, &size), 0);
    EXPECT_EQ(GetInputPosition(buffered, &position), 0);
    EXPECT_EQ(size + position, 0u);
    EXPECT_EQ(SetFileReadLimit(0, 1000, 0), -1);
    EXPECT_EQ(D2uDirSetFileReadLimit(0, 0, 0), -1);
    EXPECT_EQ(GetFirstFrameSize(1, 2), D2U_NOT_SUPPORTED);
    EXPECT_EQ(D2uDirSetPreviewInfo(0, 0, 0, 0, 0), D2U_NOT_SUPPORTED);
    EXPECT_EQ(FinishDecoding(&buffered), 0);
    EXPECT_EQ(buffered, 0u);
    EXPECT_EQ(FinishDecoding(&buffered), 0);
    EXPECT_EQ(FinishDecoding(nullptr), 0);

    D2uHandle file = 0;
    ASSERT_EQ(D2uDirLoadFile(stream.path.c_str(), &file), 0);
    EXPECT_EQ(Feed(&frame, whole, file), -1);
    EXPECT_EQ(SkipFrame2(whole.data(), static_cast<int32_t>(whole.size()), file), -1);
    EXPECT_EQ(GetMpegFrame(&frame, file), 0);
    ExpectShows(frame, stream.layout.pictures[0]);
    EXPECT_EQ(D2uDirFinishDecoding(&file), 0);
    EXPECT_EQ(file, 0u);
}

TEST(StartUp, FilesThatCannotStartGiveTheirCodeAndNoHandle) {
    const GeneratedStream& stream = IpbStream();
    const CodedPicture& first = stream.layout.pictures.front();
    const struct {
        std::string path;
        int32_t expected;
    } cases[] = {
        {WorkPath("api_no_such_file.m2v"), -1},
        {WriteWorkFile("api_no_sequence.m2v", Slice(stream.bytes, first.pictureStart, first.end)),
         -1},
        {WriteWorkFile("api_no_picture.m2v", Slice(stream.bytes, 0, first.pictureStart)), -2008},
        {stream.path, 0},
    };
    PublishedTexts published("api_published.txt");
    for (const auto& c : cases) {
        D2uHandle narrow = 7, wide = 7;
        EXPECT_EQ(D2uDirLoadFile(c.path.c_str(), &narrow), c.expected) << c.path;
        EXPECT_EQ(D2uDirLoadFileW(std::wstring(c.path.begin(), c.path.end()).c_str(), &wide),
                  c.expected)
            << c.path;
        EXPECT_TRUE(
            published.Contains("D2uDirLoadFileW end retCode = " + std::to_string(c.expected)));
        for (D2uHandle handle : {narrow, wide}) {
            EXPECT_EQ(handle != 0, c.expected == 0);
            if (!handle) continue;
            D2uFrame* frame = nullptr;
            EXPECT_EQ(GetMpegFrame(&frame, handle), 0);
            ExpectShows(frame, first);
            FinishDecoding(&handle);
        }
    }
    // The open error names the path, also beyond ASCII (two e-acute and a character beyond the
    // 16-bit range).
    const std::string directory = WorkPath("");
    const std::wstring wide =
        std::wstring(directory.begin(), directory.end()) + L"api_\u00E9t\u00E9_\U0001F600.m2v";
    D2uHandle handle = 7;
    EXPECT_EQ(D2uDirLoadFileW(wide.c_str(), &handle), -1);
    EXPECT_TRUE(published.Contains("CBitstreamDataSource::Open - ERROR unable to open file " +
                                   directory + "api_\xC3\xA9t\xC3\xA9_\xF0\x9F\x98\x80.m2v"));
}

TEST(StartUp, BufferErrorsArePublishedAndTheNextCallTriesAgain) {
    const GeneratedStream& stream = IpbStream();
    const CodedPicture& first = stream.layout.pictures.front();
    PublishedTexts published("api_published.txt");
    D2uHandle handle = 0;
    InitDecoding(&handle);
    D2uFrame* frame = nullptr;
    EXPECT_EQ(Feed(&frame, Slice(stream.bytes, first.pictureStart, first.end), handle), -1);
    EXPECT_EQ(Feed(&frame, Slice(stream.bytes, first.chunkStart, first.pictureStart), handle),
              -2008);
    ASSERT_EQ(Feed(&frame, PictureChunk(stream.bytes, first), handle), 0);
    uint64_t position = 99;
    EXPECT_EQ(GetInputPosition(handle, &position), 0);
    EXPECT_EQ(position, 0u);  // a buffer-driven handle reads no file
    EXPECT_EQ(frame->pictureType, 1);
    EXPECT_EQ(frame->isKeyFrame, 1);
    EXPECT_EQ(frame->width, 352);
    EXPECT_EQ(GetMpegFrame2(&frame, stream.bytes.data(), 4, 0), -1);
    FinishDecoding(&handle);
    EXPECT_TRUE(published.Contains("GetMpegFrame2 decoder->Init, retCode=-2008"));
    EXPECT_TRUE(published.Contains("ERROR - GetMpegFrame2 frameSource=NULL"));
}

TEST(FileFrames, AfterTheEndOrPastTheLastSequenceHeaderOnlyResetStartsAgain) {
    const auto& pictures = IpbStream().layout.pictures;
    OpenFile file(IpbStream().path);
    ASSERT_EQ(file.result, 0);
    for (size_t frames = 0; file.Next(); ++frames) ASSERT_LE(frames, pictures.size());
    D2uFrame sentinel{};
    D2uFrame* frame = &sentinel;
    EXPECT_EQ(GetMpegFrame(&frame, file.handle), -1);
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(ResetDecoder(file.handle), 0);
    ExpectShows(file.Next(), pictures[0]);
    // Repositioned after the last sequence header, the stream ends.
    ASSERT_EQ(D2uDirSetInputPosition(file.handle, pictures.back().pictureStart, 0), 0);
    EXPECT_EQ(file.Next(), nullptr);
    EXPECT_EQ(file.Next(), nullptr);
    ASSERT_EQ(D2uDirResetDecoder(file.handle), 0);
    ExpectShows(file.Next(), pictures[0]);
}

}  // namespace
}  // namespace test
}  // namespace d2u
