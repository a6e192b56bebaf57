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

// Finishing zeroes the caller's variable; null handles, empty buffers and the file calls on a
// buffer-driven handle are refused; the calls kept only for old hosts say they are not supported.
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
    // Each row: the code every call of it gives (calls in a braced list run in order).
    const std::pair<int32_t, std::vector<int32_t>> refusals[] = {
        {-1,
         {GetMpegFrame(&frame, 0), D2uDirGetMpegFrame2(&frame, whole.data(), 16, 0),
          GetMpegFrame2(&frame, nullptr, 100, buffered),
          GetMpegFrame2(&frame, whole.data(), 0, buffered),
          GetMpegFrame2(&frame, whole.data(), -5, buffered), GetMpegFrame(&frame, buffered),
          ResetDecoder(0), SkipFrame(0), SkipFrame2(whole.data(), 16, 0), GetFPSInfo(0, &fps),
          D2uDirSetInputPosition(0, 100, 0), D2uDirSetInputPosition(buffered, 100, 0),
          SetFileReadLimit(0, 1000, 0), D2uDirSetFileReadLimit(0, 0, 0)}},
        {0,
         {SkipDuration(0, 1000, 1), SkipDuration(buffered, 1000, 1),
          D2uDirGetInputSize(buffered, &size), GetInputPosition(buffered, &position)}},
        {D2U_NOT_SUPPORTED, {GetFirstFrameSize(1, 2), D2uDirSetPreviewInfo(0, 0, 0, 0, 0)}},
    };
    for (const auto& [code, results] : refusals)
        EXPECT_EQ(results, std::vector<int32_t>(results.size(), code)) << "row of " << code;
    EXPECT_EQ(frame, &sentinel);
    EXPECT_EQ(fps, -3.0f);
    EXPECT_EQ(size + position, 0u);
    EXPECT_EQ(FinishDecoding(&buffered), 0);
    EXPECT_EQ(buffered, 0u);
    EXPECT_EQ(FinishDecoding(&buffered), 0);
    EXPECT_EQ(FinishDecoding(nullptr), 0);
}

// A handle that does start refuses the buffer calls and hands out the first picture.
TEST(StartUp, FilesThatCannotStartGiveTheirCodeAndNoHandle) {
    const GeneratedStream& stream = IpbStream();
    const CodedPicture& first = stream.layout.pictures.front();
    auto at = [&](size_t offset) { return stream.bytes.begin() + offset; };
    const Bytes chunk = PictureChunk(stream.bytes, first);
    const struct {
        std::string path;
        int32_t expected;
    } cases[] = {
        {WorkPath("api_no_such_file.m2v"), -1},
        {WriteWorkFile("api_no_sequence.m2v", Bytes(at(first.pictureStart), at(first.end))), -1},
        {WriteWorkFile("api_no_picture.m2v", Bytes(at(0), at(first.pictureStart))), -2008},
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
            EXPECT_EQ(GetMpegFrame2(&frame, chunk.data(), int32_t(chunk.size()), handle), -1);
            EXPECT_EQ(SkipFrame2(chunk.data(), int32_t(chunk.size()), handle), -1);
            EXPECT_EQ(GetMpegFrame(&frame, handle), 0);
            ExpectShows(frame, first);
            EXPECT_EQ(D2uDirFinishDecoding(&handle), 0);
            EXPECT_EQ(handle, 0u);
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
    auto expectCopies = [&](const HostRun& run, size_t copies, size_t repeatedAtEnd) {
        ASSERT_EQ(run.frames.size(), copies * pictures + repeatedAtEnd) << copies << " copies";
        for (size_t k = 0; k < run.frames.size(); ++k) {
            const size_t same = k < copies * pictures ? k % pictures : pictures - 1;
            ASSERT_TRUE(MinPsnr(run.frames[k].image, single.frames[same].image) == kIdenticalPsnr)
                << "frame " << k << " of " << copies << " copies";
        }
    };
    Bytes joined;
    for (size_t copies : {size_t{2}, 6 * 1024 * 1024 / stream.bytes.size() + 1}) {
        joined.clear();
        for (size_t k = 0; k < copies; ++k)
            joined.insert(joined.end(), stream.bytes.begin(), stream.bytes.end());
        // The last frame comes once more at the end.
        expectCopies(
            DecodeFileDriven(WriteWorkFile("api_joined.m2v", joined), copies * pictures + 4),
            copies, 1);
    }
    // Buffer-driven: the first two copies, a picture at a time.
    StreamLayout layout;
    for (size_t k = 0; k < 2 * pictures; ++k) {
        CodedPicture picture = stream.layout.pictures[k % pictures];
        const size_t offset = k / pictures * stream.bytes.size();
        picture.chunkStart += offset;
        picture.end = k % pictures + 1 == pictures
                          ? offset + stream.bytes.size()  // with the end code
                          : picture.end + offset;
        layout.pictures.push_back(picture);
    }
    const HostRun buffered = DecodeBufferDriven(joined, layout);
    EXPECT_EQ(buffered.results, std::vector<int32_t>(2 * pictures, 0));
    expectCopies(buffered, 2, 0);
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
        for (size_t k = 0; k < 2; ++k) {
            D2uFrame* frame = file.Next();
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(MinPsnr(CopyFrame(*frame).image, painted.frames[k].image) == kIdenticalPsnr,
                      k == 0 || writable == 1)
                << "frame " << k << " writable " << writable;
            PaintFrame(*frame);
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
