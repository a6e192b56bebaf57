// Opening, feeding and closing decoding handles through the exported functions, and the texts
// that failures hand to the outside diagnostics library.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "d2udir.h"
#include "support/api_streams.h"
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

// Streams joined after a sequence end code decode whole: every copy gives the pictures of the
// first, file-driven (in a file shorter than the reader's window and in one longer) and
// buffer-driven (the sequence end code travelling with the last picture of a copy).
TEST(JoinedStreams, EveryCopyDecodesWhole) {
    const GeneratedStream& stream = IpbStream();
    const size_t pictures = stream.layout.pictures.size();
    const HostRun single = DecodeFileDriven(stream.path, pictures + 4);
    ASSERT_EQ(single.frames.size(), pictures + 1);
    const size_t manyCopies = 6 * 1024 * 1024 / stream.bytes.size() + 1;
    for (size_t copies : {size_t{2}, manyCopies}) {
        Bytes joined;
        for (size_t k = 0; k < copies; ++k)
            joined.insert(joined.end(), stream.bytes.begin(), stream.bytes.end());
        const HostRun file =
            DecodeFileDriven(WriteWorkFile("api_joined.m2v", joined), copies * pictures + 4);
        ASSERT_EQ(file.frames.size(), copies * pictures + 1) << copies << " copies";
        for (size_t k = 0; k < file.frames.size(); ++k) {
            // The last frame comes once more at the end.
            const size_t same = k < copies * pictures ? k % pictures : pictures - 1;
            ASSERT_TRUE(MinPsnr(file.frames[k].image, single.frames[same].image) == kIdenticalPsnr)
                << "frame " << k << " of " << copies << " copies";
        }
    }
    D2uHandle handle = 0;
    InitDecoding(&handle);
    size_t matching = 0;
    for (int copy = 0; copy < 2; ++copy) {
        for (size_t k = 0; k < pictures; ++k) {
            CodedPicture picture = stream.layout.pictures[k];
            if (k + 1 == pictures) picture.end = stream.bytes.size();  // with the end code
            D2uFrame* frame = nullptr;
            ASSERT_EQ(Feed(&frame, PictureChunk(stream.bytes, picture), handle), 0);
            ASSERT_NE(frame, nullptr);
            if (MinPsnr(CopyFrame(*frame).image, single.frames[k].image) == kIdenticalPsnr)
                ++matching;
        }
    }
    FinishDecoding(&handle);
    EXPECT_EQ(matching, 2 * pictures);
}

// With a read limit just past the start code that follows a picture, that picture and every one
// before it come out without waiting for the limit to rise.
TEST(GrowingFile, APictureBelowTheLimitComesOutWithoutWaiting) {
    const GeneratedStream& stream = IpbStream();
    const auto& pictures = stream.layout.pictures;
    const size_t last = pictures.size() / 2;
    ASSERT_LT(last + 1, pictures.size());
    OpenFile file(stream.path);
    ASSERT_EQ(file.result, 0);
    const uint32_t limit = static_cast<uint32_t>(pictures[last + 1].chunkStart + 4);
    ASSERT_EQ(SetFileReadLimit(file.handle, limit, 0), 0);
    // Read again from the start: the open read the whole file before the limit was set.
    ASSERT_EQ(D2uDirSetInputPosition(file.handle, 0, 0), 0);
    std::atomic<size_t> received{0};
    std::thread host([&] {
        for (size_t k = 0; k < pictures.size() && file.Next(); ++k) ++received;
    });
    for (int wait = 0; wait < 500 && received.load() <= last; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const size_t beforeRaising = received.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(received.load(), beforeRaising) << "a picture above the limit came out";
    SetFileReadLimit(file.handle, 0, 0);
    host.join();
    EXPECT_EQ(beforeRaising, last + 1);
    EXPECT_EQ(received.load(), pictures.size());
}

// A host that says it only reads gets the decoder's own pictures: the same frames, without the
// copy, so that what it writes into an I frame shows in the P frame predicted from it.
TEST(FrameAccess, AReadOnlyHostGetsTheDecodersOwnPictures) {
    const GeneratedStream& stream = IpbStream();
    const HostRun painted = DecodeFileDriven(stream.path, 4);
    ASSERT_EQ(painted.frames.size(), 4u);
    EXPECT_EQ(D2uDirSetFramesWritable(0, 0), -1);
    for (int32_t writable : {1, 0}) {
        OpenFile file(stream.path);
        ASSERT_EQ(D2uDirSetFramesWritable(file.handle, writable), 0);
        D2uFrame* first = file.Next();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(MinPsnr(CopyFrame(*first).image, painted.frames[0].image), kIdenticalPsnr);
        PaintFrame(*first);
        D2uFrame* second = file.Next();
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(MinPsnr(CopyFrame(*second).image, painted.frames[1].image) == kIdenticalPsnr,
                  writable == 1)
            << "writable " << writable;
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
