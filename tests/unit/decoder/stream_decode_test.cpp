// A whole stream through the header reader and the picture decoder, of a kind neither the
// conformance streams nor the stream generator have: MPEG-1 slice extras and stuffing.
#include <gtest/gtest.h>

#include <string>

#include "decoder/mpeg_decoder.h"
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {
namespace {

YuvImage Snapshot(const CYUVFrame& frame) {
    YuvImage image;
    const int w = frame.width, h = frame.height;
    image.planes[0] = CopyPlane(frame.Y.data, frame.Y.pitch, w, h);
    image.planes[1] = CopyPlane(frame.U.data, frame.U.pitch, (w + 1) / 2, (h + 1) / 2);
    image.planes[2] = CopyPlane(frame.V.data, frame.V.pitch, (w + 1) / 2, (h + 1) / 2);
    return image;
}

// Drives the decoder the way the wrapper does and keeps every picture, in decoding order.
std::vector<YuvImage> DecodeStreamFile(const std::string& path) {
    std::vector<YuvImage> frames;
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    CMpegDecoder decoder;
    if (source.Open(path.c_str()) != 0) return frames;
    reader.Init(&source, &headers);
    if (reader.getHeader() != 1 || decoder.Init(&reader, &source, &headers) != 0) return frames;
    headers.sequence.progressive_sequence = 1;  // MPEG-1
    do {
        if (decoder.getMacroblocks() != 0) ADD_FAILURE() << path << " has a damaged picture";
        frames.push_back(
            Snapshot(*decoder.Pictures().HandOut(headers.picture.picture_coding_type)));
        if (source.NeedsFill()) source.FillBuffer();
    } while (reader.getHeader() == 1);
    return frames;
}

std::string FfmpegErrors(const std::string& path) {
    return CaptureCommand("sh -c \"ffmpeg -nostdin -v error -threads 1 -i '" + path +
                          "' -f null - 2>&1 >/dev/null\"");
}

// Every slice of an MPEG-1 stream rewritten with two extra information bytes in its header and
// two macroblock_stuffing codewords before its first macroblock: 40 bits, so the padding at the
// slice's end stays as it was.
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
        const size_t header = code >= 0x01 && code <= 0xAF ? 4 : end - begin;
        out.insert(out.end(), stream.begin() + static_cast<long>(begin),
                   stream.begin() + static_cast<long>(begin + header));
        if (begin + header == end) continue;
        std::string bits;
        for (size_t n = begin + header; n < end; ++n)
            for (int b = 7; b >= 0; --b) bits += static_cast<char>('0' + ((stream[n] >> b) & 1));
        // After quantiser_scale: two extra bytes; after the final extra_bit_slice: stuffing.
        bits.insert(6,
                    "00000001111"
                    "00000001111");
        bits.insert(5,
                    "1"
                    "10100101"
                    "1"
                    "00111100");
        for (size_t n = 0; n < bits.size(); n += 8)
            out.push_back(static_cast<uint8_t>(std::stoi(bits.substr(n, 8), nullptr, 2)));
    }
    return out;
}

TEST(EncodedStreams, Mpeg1SliceExtrasAndMacroblockStuffingArePassedOver) {
    const std::string plain = CachedArtifact(
        "picture_mpeg1_plain.m1v",
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 6 "
        "-c:v mpeg1video -bf 1 -g 6 -q:v 4 -f mpeg1video {out}");
    ASSERT_FALSE(plain.empty());
    const std::string stuffed = WorkPath("picture_mpeg1_stuffed.m1v");
    ASSERT_TRUE(WriteFileBytes(stuffed, WithSliceExtrasAndStuffing(ReadFileBytes(plain))));
    EXPECT_EQ(FfmpegErrors(stuffed), "");
    const std::vector<YuvImage> expected = DecodeStreamFile(plain);
    const std::vector<YuvImage> decoded = DecodeStreamFile(stuffed);
    ASSERT_EQ(expected.size(), 6u);
    ASSERT_EQ(decoded.size(), expected.size());
    for (size_t i = 0; i < decoded.size(); ++i)
        EXPECT_EQ(MinPsnr(decoded[i], expected[i]), kIdenticalPsnr) << i;
}

}  // namespace
}  // namespace test
}  // namespace d2u
