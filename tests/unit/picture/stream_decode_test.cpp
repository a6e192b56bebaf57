// Whole streams through the header reader and the picture decoder, compared frame by frame in
// display order with ffmpeg's decoding of the same stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decoder/mpeg_decoder.h"
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using test::YuvImage;

constexpr double kMinimumPsnr = 50.0;

YuvImage Snapshot(const CYUVFrame& frame) {
    YuvImage image;
    const int w = frame.width;
    const int h = frame.height;
    image.planes[0] = test::CopyPlane(frame.Y.data, frame.Y.pitch, w, h);
    image.planes[1] = test::CopyPlane(frame.U.data, frame.U.pitch, (w + 1) / 2, (h + 1) / 2);
    image.planes[2] = test::CopyPlane(frame.V.data, frame.V.pitch, (w + 1) / 2, (h + 1) / 2);
    return image;
}

struct DecodeResult {
    std::vector<YuvImage> frames;  // display order
    int width = 0;
    int height = 0;
    int dualPrimeMacroblocks = 0;
    int fieldPictures = 0;
};

// Drives the decoder the way the wrapper does, but hands out every picture (no leading B
// pictures dropped) and reorders them into display order.
DecodeResult DecodeFile(const std::string& path) {
    DecodeResult result;
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    CMpegDecoder decoder;
    if (source.Open(path.c_str()) != 0) return result;
    reader.Init(&source, &headers);
    if (reader.getHeader() != 1) return result;
    if (decoder.Init(&reader, &source, &headers) != 0) return result;
    if (!headers.sequence.mpeg2) headers.sequence.progressive_sequence = 1;
    result.width = static_cast<int>(headers.sequence.horizontal_size);
    result.height = static_cast<int>(headers.sequence.vertical_size);
    bool havePending = false;
    YuvImage pending;
    for (;;) {
        if (headers.picture.picture_structure != kFramePicture) ++result.fieldPictures;
        decoder.getMacroblocks();
        const CYUVFrame& current = *decoder.currentFrame;
        if (current.mbInfo) {
            for (int i = 0; i < current.mbInfo->columns * current.mbInfo->rows; ++i) {
                const int32_t* entry = reinterpret_cast<const int32_t*>(
                    current.mbInfo->entries + i * MacroblockInfoBlock::kEntryBytes);
                if (current.pictureType == kPictureP && entry[1] == kMotionDualPrime &&
                    (entry[0] & kMacroblockMotionForward))
                    ++result.dualPrimeMacroblocks;
            }
        }
        if (headers.picture.picture_coding_type == kPictureB) {
            result.frames.push_back(Snapshot(current));
        } else {
            if (havePending) result.frames.push_back(pending);
            pending = Snapshot(current);
            havePending = true;
            decoder.olderReference->CopyFrom(*decoder.newerReference);
            decoder.newerReference->CopyFrom(current);
        }
        if (source.NeedsFill()) source.FillBuffer();
        if (reader.getHeader() != 1) break;
    }
    if (havePending) result.frames.push_back(pending);
    return result;
}

struct StreamCase {
    const char* name;
    const char* command;  // writes {out}
};

std::string Source(const char* size, int frames, const char* filters = nullptr) {
    std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::string(size) +
        ":rate=25 -frames:v " + std::to_string(frames);
    if (filters) command += std::string(" -vf ") + filters;
    return command;
}

void ExpectMatchesFfmpeg(const std::string& name, const std::string& command,
                         DecodeResult* out = nullptr) {
    std::string stream = CachedArtifact(name, command);
    ASSERT_FALSE(stream.empty()) << "could not make " << name;
    std::string reference =
        CachedArtifact(name + ".ref.yuv", "ffmpeg -nostdin -v error -y -threads 1 -i '" + stream +
                                              "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p {out}");
    ASSERT_FALSE(reference.empty());
    DecodeResult decoded = DecodeFile(stream);
    std::vector<YuvImage> expected = test::ReadRawYuv420(reference, decoded.width, decoded.height);
    ASSERT_GT(expected.size(), 0u);
    ASSERT_EQ(decoded.frames.size(), expected.size()) << name;
    double worst[3] = {test::kIdenticalPsnr, test::kIdenticalPsnr, test::kIdenticalPsnr};
    for (size_t i = 0; i < expected.size(); ++i) {
        for (int p = 0; p < 3; ++p) {
            double psnr = test::PlanePsnr(decoded.frames[i].planes[p], expected[i].planes[p]);
            worst[p] = std::min(worst[p], psnr);
            EXPECT_GE(psnr, kMinimumPsnr) << name << " frame " << i << " plane " << p;
        }
    }
    std::printf("[ psnr     ] %-28s %3zu frames, lowest Y %.2f U %.2f V %.2f dB\n", name.c_str(),
                expected.size(), worst[0], worst[1], worst[2]);
    if (out) *out = std::move(decoded);
}

const char* const kInterlace = "tinterlace=mode=interleave_top,setfield=tff";
// mpeg2enc wants a legal frame rate: the pattern marked as top field first.
const char* const kTopFieldFirst = "setfield=tff";

TEST(StreamDecode, Mpeg1WithBPictures) {
    ExpectMatchesFfmpeg(
        "picture_mpeg1.m1v",
        Source("176x144", 25) + " -c:v mpeg1video -bf 2 -g 12 -q:v 5 -f mpeg1video {out}");
}

TEST(StreamDecode, Mpeg2ProgressiveWithBPictures) {
    ExpectMatchesFfmpeg(
        "picture_mpeg2_progressive.m2v",
        Source("192x112", 25) + " -c:v mpeg2video -bf 2 -g 12 -q:v 4 -f mpeg2video {out}");
}

TEST(StreamDecode, Mpeg2InterlacedFieldAndFrameModes) {
    // 144 lines: interlaced pictures decode 160, one macroblock row beyond the display.
    ExpectMatchesFfmpeg("picture_mpeg2_interlaced.m2v",
                        Source("176x144", 25, kInterlace) +
                            " -c:v mpeg2video -flags +ildct+ilme -top 1 -bf 2 -g 12 -q:v 4 "
                            "-alternate_scan 1 -f mpeg2video {out}");
}

TEST(StreamDecode, Mpeg2encInterlacedFramePictures) {
    ExpectMatchesFfmpeg("picture_mpeg2enc_interlaced.m2v",
                        Source("176x128", 20, kTopFieldFirst) +
                            " -f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 -I 1 -b 1500 -o {out}");
}

TEST(StreamDecode, Mpeg2encDualPrime) {
    DecodeResult decoded;
    ExpectMatchesFfmpeg("picture_mpeg2enc_dualprime.m2v",
                        Source("176x128", 20, kTopFieldFirst) +
                            " -f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 -I 1 --dualprime-mpeg2 -R 0 "
                            "-b 1500 -o {out}",
                        &decoded);
    EXPECT_GT(decoded.dualPrimeMacroblocks, 0) << "the stream has no dual-prime macroblocks";
}

}  // namespace
}  // namespace d2u
