// Pictures the decoder refuses: nothing of them is decoded and nothing is allocated. Everything
// the decoder does decode is the generated streams' and the conformance suite's business.
#include "decoder/mpeg_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "decoder/mpeg_header_reader.h"
#include "input/bitstream_data_source.h"
#include "stream_generator.h"

namespace d2u {
namespace {

constexpr int kUntouched = 7;

TEST(MpegDecoder, UnsupportedOrOversizedPicturesDecodeNothing) {
    // One decoder over a generated 4:2:0 stream, stopped at its first picture header, with a
    // painted reference picture, so that anything decoded shows.
    streamgen::GeneratorOptions options;
    options.chromaFormat = 1;
    std::vector<uint8_t> bytes = streamgen::StreamGenerator(options).Generate().bytes;
    bytes.resize(bytes.size() + 64, 0);  // room behind the last picture, as streams have
    CBitstreamDataSource source;
    source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    reader.Init(&source, &headers);
    ASSERT_EQ(reader.getHeader(), 1);
    CMpegDecoder decoder;
    ASSERT_EQ(decoder.Init(&reader, &source, &headers), 0);
    const YUVPlane& luma = decoder.Pictures().Current()->Y;
    std::memset(luma.data, kUntouched, static_cast<size_t>(luma.pitch) * luma.height);
    // What a picture leaves undecoded shows the newer reference: this one.
    decoder.Pictures().HandOut(kPictureI);

    headers.picture.picture_coding_type = 4;  // a D picture
    EXPECT_EQ(decoder.getMacroblocks(), -1);
    const YUVPlane& current = decoder.Pictures().Current()->Y;
    EXPECT_TRUE(std::all_of(current.data, current.data + current.pitch * current.height,
                            [](uint8_t sample) { return sample == kUntouched; }));
    // 4:2:2: the pictures are 4:2:0, nothing is decoded.
    headers.sequence.chroma_format = 2;
    headers.picture.picture_coding_type = 1;
    EXPECT_EQ(decoder.getMacroblocks(), -1);
    EXPECT_EQ(decoder.chromaHeight, decoder.lumaHeight);
    // More than 4096 x 4096 samples: nothing is allocated, and the pictures stay usable.
    headers.sequence.chroma_format = 1;
    headers.sequence.horizontal_size = 4097;
    headers.sequence.vertical_size = 4096;
    EXPECT_EQ(decoder.getMacroblocks(), -1);
    EXPECT_EQ(decoder.mb_width, 0);
    EXPECT_EQ(decoder.Init(&reader, &source, &headers), -1);
    ASSERT_NE(decoder.Pictures().Current(), nullptr);
}

}  // namespace
}  // namespace d2u
