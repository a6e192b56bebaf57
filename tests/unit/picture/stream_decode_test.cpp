// Whole streams through the header reader and the picture decoder, compared frame by frame in
// display order with ffmpeg's decoding of the same stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Rewrites every slice of an MPEG-1 stream so that its header carries extra information bytes
// and its first macroblock is preceded by macroblock_stuffing codewords.
std::vector<uint8_t> WithSliceExtrasAndStuffing(const std::vector<uint8_t>& stream) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) starts.push_back(i);
    }
    starts.push_back(stream.size());
    std::vector<uint8_t> out(stream.begin(), stream.begin() + static_cast<long>(starts[0]));
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        const size_t begin = starts[k];
        const size_t end = starts[k + 1];
        const uint8_t code = stream[begin + 3];
        if (code < 0x01 || code > 0xAF) {
            out.insert(out.end(), stream.begin() + static_cast<long>(begin),
                       stream.begin() + static_cast<long>(end));
            continue;
        }
        auto bit = [&](size_t n) {
            size_t byte = begin + 4 + n / 8;
            return byte < end ? (stream[byte] >> (7 - n % 8)) & 1 : 0;
        };
        std::string bits;
        const size_t total = (end - begin - 4) * 8;
        for (size_t n = 0; n < 5; ++n) bits += static_cast<char>('0' + bit(n));  // quantiser
        bits +=
            "1"
            "10100101"
            "1"
            "00111100";  // two extra information bytes
        for (size_t n = 5; n < 6; ++n) bits += static_cast<char>('0' + bit(n));  // final flag 0
        bits +=
            "00000001111"
            "00000001111";  // macroblock_stuffing twice
        for (size_t n = 6; n < total; ++n) bits += static_cast<char>('0' + bit(n));
        while (bits.size() % 8) bits += '0';
        out.insert(out.end(), stream.begin() + static_cast<long>(begin),
                   stream.begin() + static_cast<long>(begin) + 4);
        for (size_t n = 0; n < bits.size(); n += 8)
            out.push_back(static_cast<uint8_t>(std::stoi(bits.substr(n, 8), nullptr, 2)));
    }
    return out;
}

TEST(StreamDecode, Mpeg1SliceExtrasAndMacroblockStuffingArePassedOver) {
    std::string plain = CachedArtifact(
        "picture_mpeg1_plain.m1v",
        Source("96x64", 6) + " -c:v mpeg1video -bf 1 -g 6 -q:v 4 -f mpeg1video {out}");
    ASSERT_FALSE(plain.empty());
    std::string path = test::WorkPath("picture_mpeg1_stuffed.m1v");
    ASSERT_TRUE(test::WriteFileBytes(path, WithSliceExtrasAndStuffing(test::ReadFileBytes(plain))));
    test::RemoveFile(path + ".ref.yuv");
    EXPECT_EQ(test::ReferenceDecoderErrors(path), "");
    test::ExpectMatchesReference("picture_mpeg1_stuffed.m1v", path);
}

}  // namespace
}  // namespace d2u
