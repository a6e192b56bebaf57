// The slice and macroblock loop on hand-made 64x64 streams (4x4 macroblocks): slice addresses,
// missing and damaged slices, field pairing, and pictures it refuses. Skipped macroblocks and
// the prediction modes are the generated streams' business (streamgen_decode).
#include "decoder/mpeg_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/mpeg_header_reader.h"
#include "input/bitstream_data_source.h"
#include "synthetic_stream_writer.h"

namespace d2u {
namespace {

using test::SyntheticStreamWriter;

constexpr int kFrame = SyntheticStreamWriter::kFramePicture;
constexpr int kUntouched = 7;

// One decoder over a buffered stream, stepped picture by picture.
class Harness {
public:
    bool Start(const std::vector<uint8_t>& stream) {
        Feed(stream);
        reader.Init(&source, &headers);
        if (reader.getHeader() != 1) return false;
        if (decoder.Init(&reader, &source, &headers) != 0) return false;
        // What a picture leaves undecoded shows the newer reference: this one.
        const YUVPlane& luma = Frame().Y;
        std::memset(luma.data, kUntouched, static_cast<size_t>(luma.pitch) * luma.height);
        KeepAsReference();
        return true;
    }
    void Feed(const std::vector<uint8_t>& stream) {
        bytes = stream;
        bytes.resize(bytes.size() + 64, 0);  // room behind the last picture, as streams have
        source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    bool NextPicture() { return reader.getHeader() == 1; }
    int Decode() { return decoder.getMacroblocks(); }
    void KeepAsReference() { decoder.Pictures().HandOut(kPictureI); }
    CYUVFrame& Frame() { return *decoder.Pictures().Current(); }
    int Luma(int x, int y) { return Frame().Y.data[y * Frame().Y.pitch + x]; }
    const int32_t* Entry(int address) {
        return reinterpret_cast<const int32_t*>(Frame().mbInfo->entries +
                                                address * MacroblockInfoBlock::kEntryBytes);
    }
    // Whether the macroblock at (column, row) of a frame picture is flat at `value`.
    bool MacroblockIs(int column, int row, int value) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (Luma(column * 16 + x, row * 16 + y) != value) return false;
        return true;
    }

    std::vector<uint8_t> bytes;
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    CMpegDecoder decoder;
};

// The value of the intra macroblock at (column, row) in the test pictures.
int Value(int column, int row) {
    return 40 + 12 * row + 3 * column;
}

void IntraMacroblock(SyntheticStreamWriter& w, int value) {
    int luma[4] = {value, value, value, value};
    w.Intra(luma, value / 2 + 64, 200 - value / 2);
}

void IntraRow(SyntheticStreamWriter& w, int row) {
    w.Slice(row);
    for (int c = 0; c < 4; ++c) IntraMacroblock(w, Value(c, row));
}

// An intra macroblock of four DC-only luma blocks (the DC predictor's value) whose first chroma
// block has no valid coefficient code.
constexpr const char* kLateDamage = "1 1 100 10 100 10 100 10 100 10 00 0000 0000 0000 0001";

TEST(MpegDecoder, SlicesStartWhereTheirStartCodeAndFirstIncrementSay) {
    // A picture of slices, then a whole picture.
    struct Slice {
        int row, column, count;
        const char* damage = nullptr;  // raw bits after the macroblocks
    };
    struct Case {
        const char* name;
        std::vector<Slice> slices;
        int status;
        const char* decoded;  // per macroblock address: x decoded, . left as it was
    };
    const Case cases[] = {
        {"whole", {{0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}}, 0, "xxxx xxxx xxxx xxxx"},
        // Slice start code 3 with a first increment of 5: row 2 column 4, which is address 12.
        {"address", {{0, 0, 4}, {2, 4, 4}}, 0, "xxxx .... .... xxxx"},
        // Two slices in row 0 leave column 2 out, a slice below the picture is dropped, and
        // the next picture's start code ends the picture with rows missing.
        {"missing", {{0, 0, 2}, {0, 3, 1}, {9, 0, 4}, {2, 0, 4}}, -1, "xx.x .... xxxx ...."},
        // A damaged slice loses its rest only; a repeated slice is decoded again, whole.
        {"damaged",
         {{0, 0, 4},
          {1, 0, 2, "1 0000 00"},  // increment 1, then no macroblock_type of an I picture
          {2, 0, 4},
          {3, 0, 1, "1 1 100 0000 0000 0000 0001"},  // no valid coefficient code
          {3, 0, 4}},
         0,
         "xxxx xx.. xxxx xxxx"},
        // A macroblock that fails in its chroma leaves no luma behind: neither where nothing
        // was decoded nor over the same macroblock decoded before.
        {"damaged late",
         {{0, 0, 4}, {1, 0, 1, kLateDamage}, {2, 0, 4}, {2, 0, 1, kLateDamage}, {3, 0, 4}},
         0,
         "xxxx x... xxxx xxxx"},
    };
    for (const Case& c : cases) {
        SyntheticStreamWriter w;
        w.SequenceHeader(64, 64, true);
        w.PictureHeader(1, 0, kFrame, true);
        for (const Slice& s : c.slices) {
            w.Slice(s.row, s.column);
            for (int k = 0; k < s.count; ++k) {
                int address = 4 * s.row + s.column + k;
                IntraMacroblock(w, Value(address % 4, address / 4));
            }
            if (s.damage) w.PutCode(s.damage);
        }
        w.PictureHeader(1, 1, kFrame, true);
        for (int row = 0; row < 4; ++row) IntraRow(w, row);
        w.SequenceEnd();
        Harness h;
        ASSERT_TRUE(h.Start(w.Bytes()));
        EXPECT_EQ(h.Decode(), c.status) << c.name;
        std::string decoded;
        for (int address = 0; address < 16; ++address) {
            if (address > 0 && address % 4 == 0) decoded += ' ';
            const int column = address % 4, row = address / 4;
            decoded += h.MacroblockIs(column, row, Value(column, row)) ? 'x'
                       : h.MacroblockIs(column, row, kUntouched)       ? '.'
                                                                       : '?';
        }
        EXPECT_EQ(decoded, c.decoded) << c.name;
        EXPECT_EQ(h.Entry(0)[0], static_cast<int32_t>(kMacroblockIntra));
        EXPECT_EQ(h.Entry(0)[4], 63);  // all six blocks coded
        // The picture start code that ended the picture is left for the header reader.
        ASSERT_TRUE(h.NextPicture()) << c.name;
        EXPECT_EQ(h.headers.picture.temporal_reference, 1u);
        EXPECT_EQ(h.Decode(), 0);
        EXPECT_TRUE(h.MacroblockIs(2, 3, Value(2, 3)));
    }
}

TEST(MpegDecoder, FieldsPairWithinOneFrame) {
    // An I top field holding Value(column, row), then what follows it.
    enum class Next { kItsBottomField, kItsBottomFieldInAnotherBuffer, kAnotherFrame, kFrame };
    for (Next next : {Next::kItsBottomField, Next::kItsBottomFieldInAnotherBuffer,
                      Next::kAnotherFrame, Next::kFrame}) {
        const bool separateBuffers = next == Next::kItsBottomFieldInAnotherBuffer;
        SyntheticStreamWriter w;
        w.SequenceHeader(64, 64, false);
        w.PictureHeader(1, 0, SyntheticStreamWriter::kTopField);
        for (int row = 0; row < 2; ++row) IntraRow(w, row);
        if (separateBuffers) w.SequenceEnd();
        SyntheticStreamWriter otherBuffer;
        SyntheticStreamWriter& rest = separateBuffers ? otherBuffer : w;
        if (next == Next::kFrame) {
            rest.PictureHeader(1, 1, kFrame, true);
            for (int row = 0; row < 4; ++row) IntraRow(rest, row);
        } else {  // copying the top field of the same frame: zero vectors, field select 0
            rest.PictureHeader(2, next == Next::kAnotherFrame ? 1 : 0,
                               SyntheticStreamWriter::kBottomField);
            for (int row = 0; row < 2; ++row) {
                rest.Slice(row);
                for (int c = 0; c < 4; ++c) rest.StillMacroblock();
            }
        }
        rest.SequenceEnd();
        Harness h;
        ASSERT_TRUE(h.Start(w.Bytes()));
        const uint64_t firstFieldStart = h.headers.picture.startPosition;
        EXPECT_EQ(h.Decode(), 0);
        // Top field macroblock row 1 covers frame rows 32, 34, ... 62; its bottom field copies
        // them to rows 33, 35, ... 63.
        EXPECT_EQ(h.Luma(5, 34), Value(0, 1));
        if (next == Next::kItsBottomField) {
            EXPECT_TRUE(h.decoder.Pictures().FrameComplete());
            EXPECT_EQ(h.Luma(5, 35), Value(0, 1));
            // The frame is described by its first field.
            EXPECT_EQ(h.headers.picture.picture_coding_type, 1u);
            EXPECT_EQ(h.Frame().pictureType, 1);
            EXPECT_EQ(h.headers.picture.startPosition, firstFieldStart);
            EXPECT_EQ(h.headers.picture.top_field_first, 1u);
            // The macroblock table interleaves the rows of the two fields.
            EXPECT_EQ(h.Entry(0)[0], static_cast<int32_t>(kMacroblockIntra));
            EXPECT_EQ(h.Entry(4)[0], static_cast<int32_t>(kMacroblockMotionForward));
            EXPECT_FALSE(h.NextPicture());
            continue;
        }
        EXPECT_FALSE(h.decoder.Pictures().FrameComplete());
        EXPECT_EQ(h.Luma(5, 35), kUntouched);
        // What follows is left for the wrapper, as it was.
        EXPECT_EQ(h.headers.picture.temporal_reference, 0u);
        if (separateBuffers) h.Feed(otherBuffer.Bytes());
        ASSERT_TRUE(h.NextPicture());
        EXPECT_EQ(h.headers.picture.picture_structure, next == Next::kFrame ? 3u : 2u);
        EXPECT_EQ(h.Decode(), 0);
        EXPECT_EQ(h.decoder.Pictures().FrameComplete(), next != Next::kAnotherFrame);
        if (next == Next::kAnotherFrame) continue;
        // The pair completed, or the frame picture decoded over the lone field.
        EXPECT_EQ(h.Luma(5, 35), next == Next::kFrame ? Value(0, 2) : Value(0, 1));
    }
}

// Field pictures read a motion type; the reserved one fails its macroblock, and the slice is
// dropped from there as for any damage.
TEST(MpegDecoder, TheReservedMotionTypeDropsTheRestOfItsSlice) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, false);
    w.PictureHeader(1, 0, SyntheticStreamWriter::kTopField);
    for (int row = 0; row < 2; ++row) IntraRow(w, row);
    // The bottom field copies the top one; in its first row the third macroblock is forward
    // predicted without coded blocks ('001') with motion type '00'.
    w.PictureHeader(2, 0, SyntheticStreamWriter::kBottomField);
    w.Slice(0);
    w.StillMacroblock();
    w.StillMacroblock();
    w.PutCode("1 001 00 1 1 1");
    w.Slice(1);
    for (int c = 0; c < 4; ++c) w.StillMacroblock();
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    EXPECT_EQ(h.Decode(), 0);  // both fields
    EXPECT_TRUE(h.decoder.Pictures().FrameComplete());
    // Bottom field row 0 is frame rows 1, 3, ... 31; its table row is row 1 (addresses 4 to 7).
    EXPECT_EQ(h.Luma(21, 31), Value(1, 0));
    EXPECT_EQ(h.Luma(37, 31), kUntouched);
    EXPECT_EQ(h.Luma(53, 1), kUntouched);
    EXPECT_EQ(h.Entry(5)[0], static_cast<int32_t>(kMacroblockMotionForward));
    EXPECT_EQ(h.Entry(6)[0], 0);
    EXPECT_EQ(h.Luma(37, 33), Value(2, 1));
}

TEST(MpegDecoder, UnsupportedOrOversizedPicturesDecodeNothing) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.PictureHeader(4, 0, kFrame, true);  // a D picture
    IntraRow(w, 0);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    EXPECT_EQ(h.Decode(), -1);
    EXPECT_TRUE(h.MacroblockIs(0, 0, kUntouched));
    // 4:2:2: the pictures are 4:2:0, nothing is decoded.
    h.headers.sequence.chroma_format = 2;
    h.headers.picture.picture_coding_type = 1;
    EXPECT_EQ(h.Decode(), -1);
    EXPECT_EQ(h.decoder.chromaHeight, h.decoder.lumaHeight);
    // More than 4096 x 4096 samples: nothing is allocated, and the pictures stay usable.
    h.headers.sequence.chroma_format = 1;
    h.headers.sequence.horizontal_size = 4097;
    h.headers.sequence.vertical_size = 4096;
    EXPECT_EQ(h.Decode(), -1);
    EXPECT_EQ(h.decoder.mb_width, 0);
    EXPECT_EQ(h.decoder.Init(&h.reader, &h.source, &h.headers), -1);
    ASSERT_NE(h.decoder.Pictures().Current(), nullptr);
}

}  // namespace
}  // namespace d2u
