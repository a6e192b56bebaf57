// Whole streams through the header reader and the picture decoder, compared frame by frame in
// display order with ffmpeg's decoding of the same stream.
#include <gtest/gtest.h>

#include <string>

#include "stream_comparison.h"
#include "support/test_env.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using test::DecodedStream;

std::string Source(const char* size, int frames, const char* filters = nullptr) {
    std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::string(size) +
        ":rate=25 -frames:v " + std::to_string(frames);
    if (filters) command += std::string(" -vf ") + filters;
    return command;
}

void ExpectMatchesFfmpeg(const std::string& name, const std::string& command,
                         DecodedStream* out = nullptr) {
    test::ExpectMatchesReference(name, CachedArtifact(name, command), out);
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
    DecodedStream decoded;
    ExpectMatchesFfmpeg("picture_mpeg2enc_dualprime.m2v",
                        Source("176x128", 20, kTopFieldFirst) +
                            " -f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 -I 1 --dualprime-mpeg2 -R 0 "
                            "-b 1500 -o {out}",
                        &decoded);
    EXPECT_GT(decoded.dualPrimeMacroblocks, 0) << "the stream has no dual-prime macroblocks";
}

}  // namespace
}  // namespace d2u
