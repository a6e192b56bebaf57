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

// One decoder over a generated 4:2:0 stream, stopped at its first picture header, with a
// painted reference picture, so that anything decoded shows.
class Harness {
public:
    bool Start() {
        streamgen::GeneratorOptions options;
        options.chromaFormat = 1;
        bytes = streamgen::StreamGenerator(options).Generate().bytes;
        bytes.resize(bytes.size() + 64, 0);  // room behind the last picture, as streams have
        source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        reader.Init(&source, &headers);
        if (reader.getHeader() != 1) return false;
        if (decoder.Init(&reader, &source, &headers) != 0) return false;
        const YUVPlane& luma = decoder.Pictures().Current()->Y;
        std::memset(luma.data, kUntouched, static_cast<size_t>(luma.pitch) * luma.height);
        // What a picture leaves undecoded shows the newer reference: this one.
        decoder.Pictures().HandOut(kPictureI);
        return true;
    }
    bool Untouched() {
        const YUVPlane& luma = decoder.Pictures().Current()->Y;
        return std::all_of(luma.data, luma.data + luma.pitch * luma.height,
                           [](uint8_t sample) { return sample == kUntouched; });
    }

    std::vector<uint8_t> bytes;
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    CMpegDecoder decoder;
};

TEST(MpegDecoder, UnsupportedOrOversizedPicturesDecodeNothing) {
    Harness h;
    ASSERT_TRUE(h.Start());
    h.headers.picture.picture_coding_type = 4;  // a D picture
    EXPECT_EQ(h.decoder.getMacroblocks(), -1);
    EXPECT_TRUE(h.Untouched());
    // 4:2:2: the pictures are 4:2:0, nothing is decoded.
    h.headers.sequence.chroma_format = 2;
    h.headers.picture.picture_coding_type = 1;
    EXPECT_EQ(h.decoder.getMacroblocks(), -1);
    EXPECT_EQ(h.decoder.chromaHeight, h.decoder.lumaHeight);
    // More than 4096 x 4096 samples: nothing is allocated, and the pictures stay usable.
    h.headers.sequence.chroma_format = 1;
    h.headers.sequence.horizontal_size = 4097;
    h.headers.sequence.vertical_size = 4096;
    EXPECT_EQ(h.decoder.getMacroblocks(), -1);
    EXPECT_EQ(h.decoder.mb_width, 0);
    EXPECT_EQ(h.decoder.Init(&h.reader, &h.source, &h.headers), -1);
    ASSERT_NE(h.decoder.Pictures().Current(), nullptr);
}

}  // namespace
}  // namespace d2u
