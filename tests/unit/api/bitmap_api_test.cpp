#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d2udir.h"
#include "diag/decoder_log.h"
#include "picture/bmp_utils.h"
#include "picture/yuv_frame.h"
#include "platform/platform.h"
#include "support/api_test_host.h"
#include "support/colour_reference.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using test::ReadFileBytes;
using Pixels = std::vector<uint8_t>;

constexpr int32_t kCifBytes = 352 * 288 * 4;
constexpr uint8_t kFourthByte = 0x3C;

std::string Encode(const std::string& name, const std::string& source, int frames,
                   const std::string& options) {
    return CachedArtifact(name, "ffmpeg -nostdin -v error -y -f lavfi -i '" + source +
                                    "' -frames:v " + std::to_string(frames) +
                                    " -sc_threshold 1000000000 -c:v mpeg2video " + options +
                                    " -f mpeg2video {out}");
}

// Colour bars, intra only and finely quantised, in 4:2:0 or 4:2:2 (chromaFormat 1 or 2). The
// lower strips differ from the bars above, so a pixel given the chroma of another row gets a
// wrong colour.
std::string ColourBarStream(int chromaFormat = 1) {
    return chromaFormat == 1 ? Encode("bitmaps_smptebars_cif.m2v", "smptebars=size=352x288:rate=25",
                                      2, "-q:v 2 -g 1")
                             : Encode("bitmaps_smptebars_422.m2v", "smptebars=size=352x288:rate=25",
                                      2, "-q:v 2 -g 1 -pix_fmt yuv422p");
}

// Moving pictures in groups I B B P B B ..., so that consecutive pictures differ.
std::string IpbStream() {
    return Encode("bitmaps_ipb_cif.m2v", "testsrc=size=352x288:rate=25", 9, "-q:v 4 -g 6 -bf 2");
}

// Every sample exactly 128.
std::string GreyStream() {
    return Encode("bitmaps_grey.m2v",
                  "color=c=gray:size=64x48:rate=25,format=yuv420p,geq=lum=128:cb=128:cr=128", 2,
                  "-q:v 2 -g 1");
}

struct BitmapCall {
    int32_t result;
    int32_t length;
    int32_t isReference = -7;
    Pixels pixels;
};

BitmapCall GetBitmap(D2uHandle handle, int32_t capacity) {
    BitmapCall call{0, capacity, -7, Pixels(static_cast<size_t>(capacity), kFourthByte)};
    call.result = GetBitmapData(call.pixels.data(), &call.length, handle, &call.isReference);
    return call;
}

// The first pictures GetMpegFrame hands out, as the library's own bitmap converts them.
std::vector<Pixels> ConvertedFrames(const std::string& path, size_t count) {
    test::OpenFile file(path);
    std::vector<Pixels> frames;
    D2uFrame* record = nullptr;
    while (frames.size() < count && GetMpegFrame(&record, file.handle) == 0) {
        const auto& frame = *reinterpret_cast<const CYUVFrame*>(record);
        CBmpUtils bitmap;
        EXPECT_EQ(bitmap.Create(frame.width, frame.height, 32), 0);
        size_t bytes = static_cast<size_t>(bitmap.bmWidthBytes) * static_cast<size_t>(frame.height);
        std::memset(bitmap.bmBits, kFourthByte, bytes);
        EXPECT_EQ(bitmap.FromYUV(frame), 0);
        frames.emplace_back(bitmap.bmBits, bitmap.bmBits + bytes);
    }
    return frames;
}

// Each pixel's colours come from the chroma sample of its row pair (4:2:0) or its own row (4:2:2).
TEST(BitmapOutput, ColourBarsGetTheMatrixColoursOfTheDecodedPicture) {
    for (int chromaFormat : {1, 2}) {
        SCOPED_TRACE(chromaFormat == 1 ? "4:2:0" : "4:2:2");
        ASSERT_FALSE(ColourBarStream(chromaFormat).empty());
        std::vector<test::YuvImage> reference =
            test::ReferenceDecoding(ColourBarStream(chromaFormat), 352, 288, chromaFormat);
        ASSERT_FALSE(reference.empty());
        test::OpenFile file(ColourBarStream(chromaFormat));
        ASSERT_EQ(file.result, 0);
        BitmapCall call = GetBitmap(file.handle, kCifBytes);
        ASSERT_EQ(call.result, 0);
        EXPECT_EQ(call.length, kCifBytes);
        // Against ffmpeg's decoding of the same picture: decoders may differ by one in a sample.
        const test::PlaneImage* p = reference[0].planes;
        for (int y = 0; y < 288; ++y) {
            for (int x = 0; x < 352; ++x) {
                size_t chroma = static_cast<size_t>((chromaFormat == 1 ? y / 2 : y) * 176 + x / 2);
                const uint8_t* pixel = &call.pixels[static_cast<size_t>(y * 352 + x) * 4];
                ASSERT_LE(
                    test::ColourDistance(pixel, p[0].samples[static_cast<size_t>(y * 352 + x)],
                                         p[1].samples[chroma], p[2].samples[chroma]),
                    3)
                    << "at " << x << "," << y;
                ASSERT_EQ(pixel[3], kFourthByte);
            }
        }
    }
}

// Halved by SetOutputSize, the bitmap fits a quarter of the bytes, and every pixel of a 4:2:2
// picture whose source neighbourhood is of one colour keeps that colour; a chroma plane scaled as
// if it had half the rows would move the lower bars' colours upward.
TEST(BitmapOutput, Pictures422ScaledToAnOutputSizeKeepTheirColours) {
    ASSERT_FALSE(ColourBarStream(2).empty());
    Pixels full;
    {
        test::OpenFile file(ColourBarStream(2));
        ASSERT_EQ(file.result, 0);
        full = GetBitmap(file.handle, kCifBytes).pixels;
    }
    test::OpenFile file(ColourBarStream(2));
    ASSERT_EQ(D2uDirSetOutputSize(file.handle, 176, 144), 0);
    BitmapCall half = GetBitmap(file.handle, kCifBytes / 4);
    ASSERT_EQ(half.result, 0);
    EXPECT_EQ(half.length, kCifBytes / 4);
    auto fullAt = [&](int x, int y, int c) {
        return full[static_cast<size_t>(y * 352 + x) * 4 + c];
    };
    int compared = 0;
    for (int y = 4; y < 144 - 4; ++y) {
        for (int x = 4; x < 176 - 4; ++x) {
            bool flat = true;
            for (int dy = -6; dy <= 6 && flat; ++dy) {
                for (int dx = -6; dx <= 6 && flat; ++dx) {
                    for (int c = 0; c < 3; ++c)
                        flat = flat && std::abs(fullAt(2 * x + dx, 2 * y + dy, c) -
                                                fullAt(2 * x, 2 * y, c)) <= 2;
                }
            }
            if (!flat) continue;
            ++compared;
            for (int c = 0; c < 3; ++c) {
                ASSERT_LE(std::abs(half.pixels[static_cast<size_t>(y * 176 + x) * 4 + c] -
                                   fullAt(2 * x, 2 * y, c)),
                          4)
                    << "at " << x << "," << y << " byte " << c;
            }
        }
    }
    // The bars and the lower blocks are wide: most of the picture is compared.
    EXPECT_GT(compared, 352 * 288 / 4 / 2);
}

// Shared out in bands of rows among two or three threads, the conversion gives the bytes of one
// thread: 4:2:0 and 4:2:2, and an odd height whose last row has no partner.
TEST(BitmapOutput, ConversionByBandsOfRowsGivesTheBytesOfOneThread) {
    auto bitmaps = [](const std::string& path, int32_t threads, bool scaled) {
        test::OpenFile file(path);
        EXPECT_EQ(D2uDirSetThreads(file.handle, threads), threads);
        EXPECT_EQ(D2uDirSetOutputSize(file.handle, scaled ? 97 : 0, scaled ? 61 : 0), 0);
        std::vector<Pixels> all;
        for (BitmapCall call; (call = GetBitmap(file.handle, kCifBytes)).result == 0;)
            all.push_back(call.pixels);
        return all;
    };
    for (const std::string& path : {IpbStream(), ColourBarStream(2)}) {
        for (bool scaled : {false, true}) {
            const std::vector<Pixels> one = bitmaps(path, 1, scaled);
            ASSERT_FALSE(one.empty());
            for (int32_t threads : {2, 3}) {
                EXPECT_TRUE(bitmaps(path, threads, scaled) == one) << path << threads << scaled;
            }
        }
    }
}

// A missing handle, buffer or length, and the end of the stream, give -1 with length 0.
TEST(BitmapOutput, MidGreyGivesExactly128AndNothingToDecodeGivesLengthZero) {
    ASSERT_FALSE(GreyStream().empty());
    test::OpenFile file(GreyStream());
    int32_t length = 16, isReference = -7;
    EXPECT_EQ(D2uDirGetBitmapData(Pixels(16).data(), &length, 0, &isReference), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(isReference, -7);
    length = 64 * 48 * 4;
    EXPECT_EQ(GetBitmapData(nullptr, &length, file.handle, &isReference), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(GetBitmapData(Pixels(16).data(), nullptr, file.handle, nullptr), -1);

    BitmapCall call = GetBitmap(file.handle, 64 * 48 * 4);
    ASSERT_EQ(call.result, 0);
    ASSERT_EQ(call.length, 64 * 48 * 4);
    for (size_t i = 0; i < call.pixels.size(); ++i) {
        ASSERT_EQ(call.pixels[i], i % 4 == 3 ? kFourthByte : 128) << "byte " << i;
    }
    for (int i = 0; i < 5 && call.result == 0; ++i) call = GetBitmap(file.handle, 64 * 48 * 4);
    EXPECT_EQ(call.result, -1);
    EXPECT_EQ(call.length, 0);
}

// Every picture in turn, with its reference flag (0 only for B pictures) and the bytes of its
// conversion; an exact fit suffices, while one byte less gives -1 and length 0, writes nothing
// and loses the picture.
TEST(BitmapOutput, PicturesComeInTurnWithTheirReferenceFlagAndAShortDestinationLosesOne) {
    ASSERT_FALSE(IpbStream().empty());
    test::StreamLayout layout = test::ReadStreamLayout(ReadFileBytes(IpbStream()));
    std::vector<bool> handedOut = test::HandedOutAfterStart(layout);
    std::vector<int32_t> flags;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        if (handedOut[i]) flags.push_back(layout.pictures[i].pictureType == 3 ? 0 : 1);
    }
    ASSERT_NE(std::count(flags.begin(), flags.end(), 0), 0);
    std::vector<Pixels> expected = ConvertedFrames(IpbStream(), flags.size());
    ASSERT_EQ(expected.size(), flags.size());
    ASSERT_NE(expected[1], expected[2]);
    test::OpenFile file(IpbStream());
    for (size_t i = 0; i < flags.size(); ++i) {
        SCOPED_TRACE("picture " + std::to_string(i));
        bool tooSmall = i == 1;
        BitmapCall call =
            GetBitmap(file.handle, tooSmall ? kCifBytes - 1 : kCifBytes + (i % 2) * 100);
        EXPECT_EQ(call.result, tooSmall ? -1 : 0);
        EXPECT_EQ(call.length, tooSmall ? 0 : kCifBytes);
        EXPECT_EQ(call.isReference, flags[i]);
        call.pixels.resize(kCifBytes, kFourthByte);
        EXPECT_TRUE(call.pixels == (tooSmall ? Pixels(kCifBytes, kFourthByte) : expected[i]));
    }
}

// Buffer-driven: one coded picture per call, as a host that demultiplexes would hand them in.
TEST(BitmapOutput, BufferDrivenDecodingStartsOnTheFirstBufferWithASequenceHeader) {
    ASSERT_FALSE(IpbStream().empty());
    Pixels stream = ReadFileBytes(IpbStream());
    test::StreamLayout layout = test::ReadStreamLayout(stream);
    ASSERT_GE(layout.pictures.size(), 2u);
    D2uHandle handle = 0;
    InitDecoding(&handle);
    Pixels pixels(kCifBytes, kFourthByte);
    int32_t length = kCifBytes, isReference = -7;
    auto decode = [&](const Pixels& data, bool twin) {
        auto call = twin ? &D2uDirGetBitmapData2 : &GetBitmapData2;
        return call(pixels.data(), &length, data.data(), static_cast<int32_t>(data.size()), handle,
                    &isReference);
    };
    // Neither a picture without the sequence header nor the headers alone can start the decoder.
    EXPECT_EQ(decode(test::PictureChunk(stream, layout.pictures[1]), false), -1);
    const test::CodedPicture& first = layout.pictures[0];
    EXPECT_EQ(decode(Pixels(stream.begin() + static_cast<long>(first.chunkStart),
                            stream.begin() + static_cast<long>(first.pictureStart)),
                     true),
              -2008);
    EXPECT_EQ(length, kCifBytes);
    EXPECT_EQ(isReference, -7);

    EXPECT_EQ(decode(test::PictureChunk(stream, first), false), 0);
    EXPECT_EQ(length, kCifBytes);
    EXPECT_EQ(isReference, 1);
    EXPECT_EQ(pixels, ConvertedFrames(IpbStream(), 1).at(0));
    FinishDecoding(&handle);
}

// The process-wide logger made again while the marker file exists, so that it writes its file
// beside the test program for as long as this lives; made again without the file afterwards.
class LogFile {
public:
    LogFile() {
        test::WriteFileBytes(D2U_TEST_LOG_MARKER_PATH, {});
        CDecoderLog::DestroyLogger();
        CDecoderLog::CreateLoggerForModule();
        test::RemoveFile(D2U_TEST_LOG_MARKER_PATH);
        char directory[256] = {};
        platform::ModuleDirectory(directory, sizeof directory);
        path_ = std::string(directory) + "logDecoder.txt";
    }
    ~LogFile() {
        CDecoderLog::DestroyLogger();
        CDecoderLog::CreateLoggerForModule();
    }
    std::string Text() const {
        Pixels bytes = ReadFileBytes(path_);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    std::string path_;
};

// What one handle's calls add to the log and to the published texts, its number written as H.
struct Traces {
    std::string logged, published;
    bool operator==(const Traces& other) const {
        return logged == other.logged && published == other.published;
    }
};

template <class Calls>
Traces TracesOf(const LogFile& log, const std::string& publishedPath, D2uHandle handle,
                Calls&& calls) {
    const size_t logStart = log.Text().size();
    const size_t publishedStart = ReadFileBytes(publishedPath).size();
    calls(handle);
    Pixels published = ReadFileBytes(publishedPath);
    Traces traces{
        log.Text().substr(logStart),
        std::string(published.begin() + static_cast<long>(publishedStart), published.end())};
    const std::string number = std::to_string(static_cast<int32_t>(handle));
    for (std::string* text : {&traces.logged, &traces.published}) {
        for (size_t at = 0; (at = text->find(number, at)) != std::string::npos;) {
            text->replace(at, number.size(), "H");
        }
    }
    return traces;
}

// The bitmap calls take their pictures through GetMpegFrame and GetMpegFrame2: the same lines
// reach the log and the diagnostics library, start-up errors included.
TEST(BitmapOutput, BitmapCallsLogAndPublishAsTheFrameCallsTheyGoThrough) {
    ASSERT_FALSE(IpbStream().empty());
    const Pixels stream = ReadFileBytes(IpbStream());
    const test::StreamLayout layout = test::ReadStreamLayout(stream);
    const test::CodedPicture& first = layout.pictures[0];
    const std::vector<Pixels> buffers = {
        test::PictureChunk(stream, layout.pictures[1]),
        Pixels(stream.begin() + static_cast<long>(first.chunkStart),
               stream.begin() + static_cast<long>(first.pictureStart)),
        test::PictureChunk(stream, first)};
    LogFile log;
    test::PublishedTexts published("bitmaps_published.txt");
    const std::string publishedPath = test::WorkPath("bitmaps_published.txt");
    Pixels pixels(kCifBytes);
    auto traces = [&](bool bitmap, bool fileDriven) {
        D2uHandle handle = 0;
        fileDriven ? void(D2uDirLoadFile(IpbStream().c_str(), &handle))
                   : void(InitDecoding(&handle));
        Traces result = TracesOf(log, publishedPath, handle, [&](D2uHandle h) {
            D2uFrame* frame = nullptr;
            int32_t length = kCifBytes, isReference = 0;
            if (fileDriven) {
                bitmap ? GetBitmapData(pixels.data(), &length, h, &isReference)
                       : GetMpegFrame(&frame, h);
                return;
            }
            for (const Pixels& data : buffers) {
                const auto size = static_cast<int32_t>(data.size());
                bitmap ? GetBitmapData2(pixels.data(), &length, data.data(), size, h, &isReference)
                       : GetMpegFrame2(&frame, data.data(), size, h);
            }
        });
        FinishDecoding(&handle);
        return result;
    };
    for (bool fileDriven : {true, false}) {
        const Traces frames = traces(false, fileDriven), bitmaps = traces(true, fileDriven);
        EXPECT_NE(frames.logged, "");
        EXPECT_TRUE(frames == bitmaps) << frames.logged << frames.published << "--\n"
                                       << bitmaps.logged << bitmaps.published;
    }
}

}  // namespace
}  // namespace d2u
