#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "colour_reference.h"
#include "d2udir.h"
#include "decoder/yuv_frame.h"
#include "picture/bmp_utils.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using test::ReadFileBytes;
using test::WorkPath;

constexpr int32_t kCifBytes = 352 * 288 * 4;  // 405,504
constexpr uint8_t kFourthByte = 0x3C;

std::string Encode(const std::string& name, const std::string& source, int frames,
                   const std::string& options) {
    return CachedArtifact(name, "ffmpeg -nostdin -v error -y -f lavfi -i '" + source +
                                    "' -frames:v " + std::to_string(frames) +
                                    " -sc_threshold 1000000000 -c:v mpeg2video " + options +
                                    " -f mpeg2video {out}");
}

// Colour bars, intra only and finely quantised.
const std::string& ColourBarStream() {
    static const std::string path =
        Encode("bitmaps_smptebars_cif.m2v", "smptebars=size=352x288:rate=25", 2, "-q:v 2 -g 1");
    return path;
}

// Moving pictures in groups I B B P B B ..., so that consecutive pictures differ.
const std::string& IpbStream() {
    static const std::string path =
        Encode("bitmaps_ipb_cif.m2v", "testsrc=size=352x288:rate=25", 9, "-q:v 4 -g 6 -bf 2");
    return path;
}

// Every sample exactly 128.
const std::string& GreyStream() {
    static const std::string path =
        Encode("bitmaps_grey.m2v",
               "color=c=gray:size=64x48:rate=25,format=yuv420p,geq=lum=128:cb=128:cr=128", 2,
               "-q:v 2 -g 1");
    return path;
}

// A file-driven handle, closed at the end of the scope.
class FileHandle {
public:
    explicit FileHandle(const std::string& path) {
        result_ = D2uDirLoadFile(path.c_str(), &handle_);
    }
    ~FileHandle() { FinishDecoding(&handle_); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    D2uHandle get() const { return handle_; }
    int32_t openResult() const { return result_; }

private:
    D2uHandle handle_ = 0;
    int32_t result_ = -1;
};

struct BitmapCall {
    int32_t result = 0;
    int32_t length = 0;
    int32_t isReference = -7;
    std::vector<uint8_t> pixels;
};

BitmapCall GetBitmap(D2uHandle handle, int32_t capacity) {
    BitmapCall call;
    call.pixels.assign(static_cast<size_t>(capacity > 0 ? capacity : 0), kFourthByte);
    call.length = capacity;
    call.result = GetBitmapData(call.pixels.data(), &call.length, handle, &call.isReference);
    return call;
}

// The bitmap of a frame record as the library's own bitmap converts it.
std::vector<uint8_t> Converted(const D2uFrame& record) {
    const auto& frame = *reinterpret_cast<const CYUVFrame*>(&record);
    CBmpUtils bitmap;
    EXPECT_EQ(bitmap.Create(frame.width, frame.height, 32), 0);
    std::memset(bitmap.bmBits, kFourthByte,
                static_cast<size_t>(bitmap.bmWidthBytes) * frame.height);
    EXPECT_EQ(bitmap.FromYUV(frame), 0);
    return std::vector<uint8_t>(
        bitmap.bmBits, bitmap.bmBits + static_cast<size_t>(bitmap.bmWidthBytes) * frame.height);
}

// The converted pictures of GetMpegFrame on a second handle, in the order handed out.
std::vector<std::vector<uint8_t>> ConvertedFrames(const std::string& path, size_t count) {
    FileHandle handle(path);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t i = 0; i < count; ++i) {
        D2uFrame* frame = nullptr;
        if (GetMpegFrame(&frame, handle.get()) != 0 || !frame) break;
        frames.push_back(Converted(*frame));
    }
    return frames;
}

int WorstDistanceFromMatrix(const std::vector<uint8_t>& pixels, const test::YuvImage& image) {
    const test::PlaneImage* p = image.planes;
    int worst = 0;
    for (int y = 0; y < p[0].height; ++y) {
        for (int x = 0; x < p[0].width; ++x) {
            size_t chroma = static_cast<size_t>(y / 2) * p[1].width + x / 2;
            test::Bgr expected = test::ExpectedColour(p[0].samples[y * p[0].width + x],
                                                      p[1].samples[chroma], p[2].samples[chroma]);
            worst =
                std::max(worst, test::ColourDistance(&pixels[(y * p[0].width + x) * 4], expected));
        }
    }
    return worst;
}

bool FourthBytesKept(const std::vector<uint8_t>& pixels) {
    for (size_t i = 3; i < pixels.size(); i += 4) {
        if (pixels[i] != kFourthByte) return false;
    }
    return true;
}

TEST(BitmapOutput, ColourBarsGetTheMatrixColoursOfTheDecodedPicture) {
    ASSERT_FALSE(ColourBarStream().empty());
    std::string raw = CachedArtifact("bitmaps_smptebars_cif.yuv",
                                     "ffmpeg -nostdin -v error -y -i '" + ColourBarStream() +
                                         "' -f rawvideo -pix_fmt yuv420p {out}");
    std::vector<test::YuvImage> reference = test::ReadRawYuv420(raw, 352, 288);
    ASSERT_FALSE(reference.empty());

    FileHandle handle(ColourBarStream());
    ASSERT_EQ(handle.openResult(), 0);
    BitmapCall call = GetBitmap(handle.get(), kCifBytes);
    ASSERT_EQ(call.result, 0);
    EXPECT_EQ(call.length, kCifBytes);
    EXPECT_EQ(call.isReference, 1);
    // Against ffmpeg's decoding of the same picture: decoders may differ by one in a sample.
    EXPECT_LE(WorstDistanceFromMatrix(call.pixels, reference[0]), 3);
    EXPECT_TRUE(FourthBytesKept(call.pixels));

    // The top bars, left to right: grey, yellow, cyan, green, magenta, red, blue (75 %).
    const int strong[7][3] = {{1, 1, 1}, {0, 1, 1}, {1, 1, 0}, {0, 1, 0},
                              {1, 0, 1}, {0, 0, 1}, {1, 0, 0}};
    for (int bar = 0; bar < 7; ++bar) {
        const uint8_t* pixel = &call.pixels[(50 * 352 + bar * 352 / 7 + 25) * 4];
        for (int channel = 0; channel < 3; ++channel) {
            if (strong[bar][channel]) {
                EXPECT_GT(pixel[channel], 140) << "bar " << bar << " channel " << channel;
            } else {
                EXPECT_LT(pixel[channel], 60) << "bar " << bar << " channel " << channel;
            }
        }
    }
}

TEST(BitmapOutput, MidGreyStreamGivesExactly128) {
    ASSERT_FALSE(GreyStream().empty());
    FileHandle handle(GreyStream());
    ASSERT_EQ(handle.openResult(), 0);
    BitmapCall call = GetBitmap(handle.get(), 64 * 48 * 4);
    ASSERT_EQ(call.result, 0);
    ASSERT_EQ(call.length, 64 * 48 * 4);
    for (size_t i = 0; i < call.pixels.size(); ++i) {
        ASSERT_EQ(call.pixels[i], i % 4 == 3 ? kFourthByte : 128) << "byte " << i;
    }
}

// An exact fit succeeds; one byte less fails with nothing written but uses up the picture.
TEST(BitmapOutput, DestinationMustHoldThePictureAndAShortOneLosesIt) {
    ASSERT_FALSE(IpbStream().empty());
    std::vector<std::vector<uint8_t>> expected = ConvertedFrames(IpbStream(), 3);
    ASSERT_EQ(expected.size(), 3u);
    ASSERT_NE(expected[0], expected[2]);

    FileHandle handle(IpbStream());
    ASSERT_EQ(handle.openResult(), 0);
    BitmapCall first = GetBitmap(handle.get(), kCifBytes);
    EXPECT_EQ(first.result, 0);
    EXPECT_EQ(first.length, kCifBytes);
    EXPECT_EQ(first.pixels, expected[0]);

    BitmapCall tooSmall = GetBitmap(handle.get(), kCifBytes - 1);
    EXPECT_EQ(tooSmall.result, -1);
    EXPECT_EQ(tooSmall.length, 0);
    EXPECT_NE(tooSmall.isReference, -7);  // written although the picture did not fit
    EXPECT_TRUE(std::all_of(tooSmall.pixels.begin(), tooSmall.pixels.end(),
                            [](uint8_t b) { return b == kFourthByte; }));

    BitmapCall next = GetBitmap(handle.get(), kCifBytes + 100);
    EXPECT_EQ(next.result, 0);
    EXPECT_EQ(next.length, kCifBytes);
    next.pixels.resize(kCifBytes);
    EXPECT_EQ(next.pixels, expected[2]);
}

TEST(BitmapOutput, ReferenceFlagIsZeroOnlyForBPictures) {
    ASSERT_FALSE(IpbStream().empty());
    test::StreamLayout layout = test::ReadStreamLayout(ReadFileBytes(IpbStream()));
    std::vector<bool> handedOut = test::HandedOutAfterStart(layout);
    std::vector<int32_t> expected;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        if (handedOut[i]) expected.push_back(layout.pictures[i].pictureType == 3 ? 0 : 1);
    }
    ASSERT_NE(std::count(expected.begin(), expected.end(), 0), 0);

    FileHandle handle(IpbStream());
    std::vector<int32_t> flags;
    for (size_t i = 0; i < expected.size(); ++i) {
        BitmapCall call = GetBitmap(handle.get(), kCifBytes);
        ASSERT_EQ(call.result, 0) << "picture " << i;
        flags.push_back(call.isReference);
    }
    EXPECT_EQ(flags, expected);
}

TEST(BitmapOutput, AfterTheLastPictureItRepeatsOnceThenFails) {
    ASSERT_FALSE(GreyStream().empty());
    FileHandle handle(GreyStream());
    std::vector<int32_t> results;
    int32_t lastLength = -1;
    for (int i = 0; i < 5; ++i) {
        BitmapCall call = GetBitmap(handle.get(), 64 * 48 * 4);
        results.push_back(call.result);
        lastLength = call.length;
    }
    EXPECT_EQ(results, (std::vector<int32_t>{0, 0, 0, -1, -1}));
    EXPECT_EQ(lastLength, 0);
}

TEST(BitmapOutput, OutputSizeSetsTheBitmapSize) {
    ASSERT_FALSE(IpbStream().empty());
    FileHandle handle(IpbStream());
    ASSERT_EQ(D2uDirSetOutputSize(handle.get(), 176, 144), 0);
    BitmapCall call = GetBitmap(handle.get(), kCifBytes);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.length, 101376);
    EXPECT_TRUE(FourthBytesKept(call.pixels));
    BitmapCall tooSmall = GetBitmap(handle.get(), 101375);
    EXPECT_EQ(tooSmall.result, -1);
    EXPECT_EQ(tooSmall.length, 0);
    BitmapCall exact = GetBitmap(handle.get(), 101376);
    EXPECT_EQ(exact.result, 0);
    EXPECT_EQ(exact.length, 101376);
}

TEST(BitmapOutput, MissingHandleOrBufferFailsWithLengthZero) {
    std::vector<uint8_t> pixels(16);
    int32_t length = 16;
    int32_t isReference = -7;
    EXPECT_EQ(GetBitmapData(pixels.data(), &length, 0, &isReference), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(isReference, -7);
    length = 16;
    EXPECT_EQ(D2uDirGetBitmapData(pixels.data(), &length, 0, &isReference), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(GetBitmapData(pixels.data(), nullptr, 0, nullptr), -1);

    ASSERT_FALSE(GreyStream().empty());
    FileHandle handle(GreyStream());
    length = 64 * 48 * 4;
    EXPECT_EQ(GetBitmapData(nullptr, &length, handle.get(), &isReference), -1);
    EXPECT_EQ(length, 0);
}

// Buffer-driven: one coded picture per call, as a host that demultiplexes would hand them in.
TEST(BitmapOutput, BufferDrivenDecodingStartsOnTheFirstBufferWithASequenceHeader) {
    ASSERT_FALSE(IpbStream().empty());
    std::vector<uint8_t> stream = ReadFileBytes(IpbStream());
    test::StreamLayout layout = test::ReadStreamLayout(stream);
    ASSERT_GE(layout.pictures.size(), 4u);
    std::vector<std::vector<uint8_t>> expected = ConvertedFrames(IpbStream(), 2);
    ASSERT_EQ(expected.size(), 2u);

    D2uHandle handle = 0;
    InitDecoding(&handle);
    std::vector<uint8_t> pixels(kCifBytes, kFourthByte);
    int32_t length = kCifBytes;
    int32_t isReference = -7;

    // A picture without the sequence header: the decoder cannot start.
    std::vector<uint8_t> noSequence = test::PictureChunk(stream, layout.pictures[1]);
    EXPECT_EQ(GetBitmapData2(pixels.data(), &length, noSequence.data(),
                             static_cast<int32_t>(noSequence.size()), handle, &isReference),
              -1);
    EXPECT_EQ(length, kCifBytes);
    EXPECT_EQ(isReference, -7);

    // The sequence header alone: no picture header.
    const test::CodedPicture& first = layout.pictures[0];
    std::vector<uint8_t> headersOnly(stream.begin() + first.chunkStart,
                                     stream.begin() + first.pictureStart);
    EXPECT_EQ(D2uDirGetBitmapData2(pixels.data(), &length, headersOnly.data(),
                                   static_cast<int32_t>(headersOnly.size()), handle, &isReference),
              -2008);
    EXPECT_EQ(length, kCifBytes);

    std::vector<uint8_t> chunk = test::PictureChunk(stream, first);
    EXPECT_EQ(GetBitmapData2(pixels.data(), &length, chunk.data(),
                             static_cast<int32_t>(chunk.size()), handle, &isReference),
              0);
    EXPECT_EQ(length, kCifBytes);
    EXPECT_EQ(isReference, 1);
    EXPECT_EQ(pixels, expected[0]);
    FinishDecoding(&handle);
}

// A decoded picture saved the way previews are (flipped, positive height) reads back upright.
TEST(BitmapOutput, SavedDecodedPictureReadsBackUprightInFfmpeg) {
    if (!test::CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_FALSE(IpbStream().empty());
    FileHandle handle(IpbStream());
    D2uFrame* record = nullptr;
    ASSERT_EQ(GetMpegFrame(&record, handle.get()), 0);
    const auto& frame = *reinterpret_cast<const CYUVFrame*>(record);
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(frame.width, frame.height, 32), 0);
    ASSERT_EQ(bitmap.FromYUV(frame), 0);
    std::vector<uint8_t> upright;
    for (int32_t i = 0; i < frame.width * frame.height; ++i) {
        upright.insert(upright.end(), bitmap.bmBits + 4 * i, bitmap.bmBits + 4 * i + 3);
    }
    bitmap.FlipVertical();
    std::string path = WorkPath("bitmaps_decoded_preview.bmp");
    std::string raw = WorkPath("bitmaps_decoded_preview.raw");
    test::RemoveFile(raw);
    bitmap.SaveBitmap(path.c_str());
    // image2 picks the reader by the file name; probing by content can take a flat picture for
    // raw audio.
    ASSERT_EQ(test::RunCommand("ffmpeg -nostdin -v error -y -f image2 -i '" + path +
                               "' -f rawvideo -pix_fmt bgr24 '" + raw + "'"),
              0);
    EXPECT_EQ(ReadFileBytes(raw), upright);
}

}  // namespace
}  // namespace d2u
