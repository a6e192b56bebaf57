// The slice and macroblock loop on hand-made streams: slice addresses, skipped macroblocks,
// missing and damaged slices, the side data, and input that must not break it.
#include "decoder/mpeg_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "decoder/mpeg_header_reader.h"
#include "input/bitstream_data_source.h"
#include "support/test_env.h"
#include "synthetic_stream_writer.h"

namespace d2u {
namespace {

using test::MotionMacroblock;
using test::SyntheticStreamWriter;

constexpr int kFrame = SyntheticStreamWriter::kFramePicture;

// One decoder over a buffered stream, stepped picture by picture.
class Harness {
public:
    bool Start(const std::vector<uint8_t>& stream) {
        bytes = stream;
        // Room behind the last picture, as a real stream has.
        for (int i = 0; i < 64; ++i) bytes.push_back(0);
        source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        reader.Init(&source, &headers);
        if (reader.getHeader() != 1) return false;
        return decoder.Init(&reader, &source, &headers) == 0;
    }
    bool NextPicture() { return reader.getHeader() == 1; }
    int Decode() { return decoder.getMacroblocks(); }
    // What a wrapper does after an I or P picture.
    void KeepAsReference() {
        decoder.olderReference->CopyFrom(*decoder.newerReference);
        decoder.newerReference->CopyFrom(*decoder.currentFrame);
    }
    int Luma(int x, int y) const {
        const CYUVFrame& f = *decoder.currentFrame;
        return f.Y.data[y * f.Y.pitch + x];
    }
    int Cb(int x, int y) const {
        const CYUVFrame& f = *decoder.currentFrame;
        return f.U.data[y * f.U.pitch + x];
    }
    const int32_t* Entry(int address) const {
        const MacroblockInfoBlock* table = decoder.currentFrame->mbInfo;
        return reinterpret_cast<const int32_t*>(table->entries +
                                                address * MacroblockInfoBlock::kEntryBytes);
    }
    void FillCurrent(uint8_t value) {
        CYUVFrame& f = *decoder.currentFrame;
        std::memset(f.Y.data, value, static_cast<size_t>(f.Y.pitch) * f.Y.height);
    }

    std::vector<uint8_t> bytes;
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    CMpegDecoder decoder;
};

// The value of macroblock (column, row) in the test pictures: distinct per position.
int Value(int column, int row) {
    return 40 + 12 * row + 3 * column;
}

void IntraMacroblock(SyntheticStreamWriter& w, int value) {
    int luma[4] = {value, value, value, value};
    w.Intra(luma, value / 2 + 64, 200 - value / 2);
}

void IntraRow(SyntheticStreamWriter& w, int row, int columns) {
    w.Slice(row);
    for (int c = 0; c < columns; ++c) IntraMacroblock(w, Value(c, row));
}

// A 64x64 progressive sequence (4x4 macroblocks) starting with a whole I picture.
SyntheticStreamWriter StartWithIntraPicture() {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.GroupHeader(true);
    w.PictureHeader(1, 0, kFrame, true);
    for (int row = 0; row < 4; ++row) IntraRow(w, row, 4);
    return w;
}

bool MacroblockIs(const Harness& h, int column, int row, int value) {
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (h.Luma(column * 16 + x, row * 16 + y) != value) return false;
    return true;
}

TEST(MpegDecoder, InitSetsTheGeometryOfInterlacedSequences) {
    SyntheticStreamWriter w;
    w.SequenceHeader(1920, 1080, false);
    w.PictureHeader(1, 0, kFrame, true);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    EXPECT_EQ(h.decoder.mb_width, 120);
    EXPECT_EQ(h.decoder.mb_height, 68);  // 2 * ((1080 + 31) / 32)
    EXPECT_EQ(h.decoder.lumaHeight, 1088);
    EXPECT_EQ(h.decoder.chromaHeight, 544);
    EXPECT_EQ(h.decoder.blocksPerMacroblock, 6);
    for (CYUVFrame* picture : h.decoder.pictures) {
        EXPECT_EQ(picture->Y.height, 1088);
        EXPECT_EQ(picture->U.height, 544);
        EXPECT_EQ(picture->height, 1080);
        ASSERT_NE(picture->mbInfo, nullptr);
        EXPECT_EQ(picture->mbInfo->rows, 68);
        EXPECT_EQ(picture->mbInfo->columns, 120);
    }
    EXPECT_EQ(h.decoder.currentFrame, h.decoder.pictures[2]);
    EXPECT_EQ(h.decoder.lastFrame, nullptr);
    EXPECT_NE(h.decoder.olderReference, h.decoder.newerReference);
    h.decoder.Release();
    EXPECT_EQ(h.decoder.currentFrame, nullptr);
    EXPECT_EQ(h.decoder.vlcTables, nullptr);
    EXPECT_EQ(h.decoder.getMacroblocks(), -1);
}

TEST(MpegDecoder, WholePictureDecodesAndRecordsItsMacroblocks) {
    SyntheticStreamWriter w = StartWithIntraPicture();
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    EXPECT_EQ(h.Decode(), 0);
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            EXPECT_TRUE(MacroblockIs(h, column, row, Value(column, row))) << column << "," << row;
    EXPECT_EQ(h.Cb(8, 8), Value(1, 1) / 2 + 64);
    // The next start code is left for the header reader.
    EXPECT_EQ(CMpegHeaderReader::FindStartCode(h.source), 0xB7u);
    const int32_t* entry = h.Entry(5);
    EXPECT_EQ(entry[0], 1);   // intra
    EXPECT_EQ(entry[4], 63);  // all six blocks
    EXPECT_EQ(entry[3], 16);  // quantiser_scale_code 8, linear
    EXPECT_EQ(h.headers.macroblock.x, 48);
    EXPECT_EQ(h.headers.macroblock.y, 48);
    EXPECT_EQ(h.decoder.currentFrame->pictureType, 1);
    EXPECT_EQ(h.decoder.currentFrame->isKeyFrame, 0);
}

TEST(MpegDecoder, SliceStartCodeSetsTheAddressAbsolutely) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.PictureHeader(1, 0, kFrame, true);
    IntraRow(w, 0, 4);
    // Slice start code 3 with a first increment of 5: address 2 * 4 + 4, row 3 column 0.
    w.Slice(2, 4);
    for (int c = 0; c < 4; ++c) IntraMacroblock(w, Value(c, 3));
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), 0);
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(MacroblockIs(h, c, 0, Value(c, 0)));
        EXPECT_TRUE(MacroblockIs(h, c, 1, 7));
        EXPECT_TRUE(MacroblockIs(h, c, 2, 7));
        EXPECT_TRUE(MacroblockIs(h, c, 3, Value(c, 3)));
    }
}

TEST(MpegDecoder, MissingAndOutOfRangeSlicesLeaveThePreviousContent) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.PictureHeader(1, 0, kFrame, true);
    IntraRow(w, 0, 4);
    IntraRow(w, 9, 4);  // below the picture: dropped
    IntraRow(w, 2, 4);
    // Rows 1 and 3 are missing; the next picture begins.
    w.PictureHeader(1, 1, kFrame, true);
    for (int row = 0; row < 4; ++row) IntraRow(w, row, 4);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), -1);  // ended by the picture start code, left unread
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(MacroblockIs(h, c, 0, Value(c, 0)));
        EXPECT_TRUE(MacroblockIs(h, c, 1, 7));
        EXPECT_TRUE(MacroblockIs(h, c, 2, Value(c, 2)));
        EXPECT_TRUE(MacroblockIs(h, c, 3, 7));
    }
    ASSERT_TRUE(h.NextPicture());
    EXPECT_EQ(h.headers.picture.temporal_reference, 1u);
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_TRUE(MacroblockIs(h, 2, 3, Value(2, 3)));
}

TEST(MpegDecoder, DamagedSliceDropsOnlyItsRest) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.PictureHeader(1, 0, kFrame, true);
    IntraRow(w, 0, 4);
    w.Slice(1);
    IntraMacroblock(w, Value(0, 1));
    IntraMacroblock(w, Value(1, 1));
    w.Raw("1 0000 00");  // increment 1, then no macroblock_type of an I picture
    IntraMacroblock(w, Value(3, 1));
    IntraRow(w, 2, 4);
    w.Slice(3);
    IntraMacroblock(w, Value(0, 3));
    w.Raw("1 1 100 0000 0000 0000 0001");  // a luma block without a valid coefficient code
    IntraRow(w, 3, 4);                     // a repeated slice: decoded again, whole
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_TRUE(MacroblockIs(h, 0, 1, Value(0, 1)));
    EXPECT_TRUE(MacroblockIs(h, 1, 1, Value(1, 1)));
    EXPECT_TRUE(MacroblockIs(h, 2, 1, 7));
    EXPECT_TRUE(MacroblockIs(h, 3, 1, 7));
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(MacroblockIs(h, c, 2, Value(c, 2)));
        EXPECT_TRUE(MacroblockIs(h, c, 3, Value(c, 3)));
    }
}

TEST(MpegDecoder, SkippedMacroblocksInPPicturesCopyTheReference) {
    SyntheticStreamWriter w = StartWithIntraPicture();
    w.PictureHeader(2, 1, kFrame, true);
    w.Slice(0);
    MotionMacroblock moved;
    moved.motionType = 2;
    moved.vector[0][0][0] = 4;  // two samples right
    w.Motion(moved);
    w.Skip(2);
    w.Motion(moved);  // the vector is predicted from zero again after the skip
    for (int row = 1; row < 4; ++row) {
        w.Slice(row);
        for (int c = 0; c < 4; ++c) w.Motion(moved);
    }
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    ASSERT_EQ(h.Decode(), 0);
    h.KeepAsReference();
    ASSERT_TRUE(h.NextPicture());
    ASSERT_EQ(h.Decode(), 0);
    EXPECT_TRUE(MacroblockIs(h, 1, 0, Value(1, 0)));
    EXPECT_TRUE(MacroblockIs(h, 2, 0, Value(2, 0)));
    // Column 3, moved two samples right, would read beyond the picture: refused, so it keeps
    // what the buffer held (the I picture decoded into the same buffer).
    EXPECT_EQ(h.Luma(0, 0), Value(0, 0));
    EXPECT_EQ(h.Luma(13, 0), Value(0, 0));
    EXPECT_EQ(h.Luma(14, 0), Value(1, 0));
    const int32_t* skipped = h.Entry(1);
    EXPECT_EQ(skipped[0] & 1, 0);
    EXPECT_EQ(skipped[1], 2);  // frame prediction
    EXPECT_EQ(skipped[4], 0);
    EXPECT_EQ(skipped[6], 0);  // forward vector reset
    EXPECT_EQ(h.Entry(0)[6], 4);
    EXPECT_EQ(h.decoder.currentFrame->pictureType, 2);
    EXPECT_EQ(h.decoder.currentFrame->temporalReference, 1);
}

TEST(MpegDecoder, SkippedMacroblocksInBPicturesRepeatThePreviousPrediction) {
    SyntheticStreamWriter w = StartWithIntraPicture();
    w.PictureHeader(2, 2, kFrame, true);  // a P picture that is a plain copy
    for (int row = 0; row < 4; ++row) {
        w.Slice(row);
        for (int c = 0; c < 4; ++c) {
            MotionMacroblock still;
            still.motionType = 2;
            w.Motion(still);
        }
    }
    w.PictureHeader(3, 1, kFrame, true);
    w.Slice(1);
    MotionMacroblock backward;
    backward.forward = false;
    backward.backward = true;
    backward.motionType = 2;
    backward.vector[0][1][0] = -32 / 2;  // eight samples left
    backward.vector[0][1][1] = 0;
    w.Motion(backward);  // column 0 would read left of the picture: refused
    w.Skip(2);
    w.Motion(backward);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    ASSERT_EQ(h.Decode(), 0);
    h.KeepAsReference();
    ASSERT_TRUE(h.NextPicture());
    ASSERT_EQ(h.Decode(), 0);
    h.KeepAsReference();
    ASSERT_TRUE(h.NextPicture());
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), -1);  // rows 0, 2 and 3 missing
    EXPECT_TRUE(MacroblockIs(h, 0, 1, 7));
    // Skipped columns 1 and 2 take the backward vector of column 0: eight samples left.
    for (int y = 16; y < 32; ++y) {
        for (int x = 16; x < 64; ++x) {
            int source = x - 8;
            ASSERT_EQ(h.Luma(x, y), Value(source / 16, 1)) << x << "," << y;
        }
    }
    EXPECT_EQ(h.Entry(6)[0], 4);  // backward only, as the macroblock before
}

TEST(MpegDecoder, SliceExtraInformationIsPassedOver) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.PictureHeader(1, 0, kFrame, true);
    for (int row = 0; row < 4; ++row) {
        w.Slice(row, 0, 8, row);  // none, the intra_slice_flag group, and 1 or 2 extra bytes
        for (int c = 0; c < 4; ++c) IntraMacroblock(w, Value(c, row));
    }
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    EXPECT_EQ(h.Decode(), 0);
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 4; ++c) EXPECT_TRUE(MacroblockIs(h, c, row, Value(c, row)));
}

TEST(MpegDecoder, LoneFirstFieldLeavesTheFollowingFramePictureAlone) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, false);
    w.PictureHeader(1, 0, SyntheticStreamWriter::kTopField);
    for (int row = 0; row < 2; ++row) IntraRow(w, row, 4);
    w.PictureHeader(1, 1, kFrame, true);  // no bottom field: a frame picture follows
    for (int row = 0; row < 4; ++row) IntraRow(w, row, 4);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_EQ(h.decoder.FrameComplete(), 0);
    // Field rows: top field macroblock row 1 covers frame rows 32, 34, ... 62.
    EXPECT_EQ(h.Luma(5, 34), Value(0, 1));
    EXPECT_EQ(h.Luma(5, 35), 7);
    EXPECT_EQ(h.headers.picture.picture_structure, 1u);
    ASSERT_TRUE(h.NextPicture());
    EXPECT_EQ(h.headers.picture.temporal_reference, 1u);
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_EQ(h.decoder.FrameComplete(), 1);
    EXPECT_TRUE(MacroblockIs(h, 3, 3, Value(3, 3)));
}

// An I top field whose macroblocks hold Value(column, row).
void IntraTopField(SyntheticStreamWriter& w, int temporalReference) {
    w.PictureHeader(1, temporalReference, SyntheticStreamWriter::kTopField);
    for (int row = 0; row < 2; ++row) IntraRow(w, row, 4);
}

// A P bottom field copying the top field of the same frame (zero vectors, field select 0).
void CopyingBottomField(SyntheticStreamWriter& w, int temporalReference) {
    w.PictureHeader(2, temporalReference, SyntheticStreamWriter::kBottomField);
    for (int row = 0; row < 2; ++row) {
        w.Slice(row);
        for (int c = 0; c < 4; ++c) {
            MotionMacroblock mb;
            mb.motionType = 1;
            mb.fieldSelect[0][0] = 0;
            w.Motion(mb);
        }
    }
}

TEST(MpegDecoder, FieldsOfOneFrameInSeparateBuffersMakeOneFrame) {
    SyntheticStreamWriter first;
    first.SequenceHeader(64, 64, false);
    IntraTopField(first, 0);
    first.SequenceEnd();
    SyntheticStreamWriter second;
    CopyingBottomField(second, 0);
    second.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(first.Bytes()));
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_EQ(h.decoder.FrameComplete(), 0);
    EXPECT_EQ(h.Luma(3, 1), 7);
    std::vector<uint8_t> bytes = second.Bytes();
    bytes.resize(bytes.size() + 64, 0);
    h.source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    ASSERT_TRUE(h.NextPicture());
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_EQ(h.decoder.FrameComplete(), 1);
    // Frame rows 2k + 1 repeat rows 2k, the first field's.
    for (int y = 0; y < 64; ++y) EXPECT_EQ(h.Luma(20, y), Value(1, y / 32)) << y;
}

TEST(MpegDecoder, FieldsPairOnlyWithinOneFrame) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, false);
    IntraTopField(w, 0);
    CopyingBottomField(w, 1);  // another frame's field: not a pair
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_EQ(h.decoder.FrameComplete(), 0);
    EXPECT_EQ(h.headers.picture.temporal_reference, 0u);
    EXPECT_EQ(h.Luma(3, 1), 7);
    // The wrapper reads the next header itself.
    ASSERT_TRUE(h.NextPicture());
    EXPECT_EQ(h.headers.picture.temporal_reference, 1u);
    EXPECT_EQ(h.headers.picture.picture_structure, 2u);
}

TEST(MpegDecoder, FieldPairDecodesInOneCall) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, false);
    w.GroupHeader(true);
    IntraTopField(w, 0);
    CopyingBottomField(w, 0);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    h.FillCurrent(7);
    uint64_t firstFieldStart = h.headers.picture.startPosition;
    EXPECT_EQ(h.Decode(), 0);
    EXPECT_EQ(h.decoder.FrameComplete(), 1);
    for (int y = 0; y < 64; ++y) EXPECT_EQ(h.Luma(40, y), Value(2, y / 32)) << y;
    // The frame is described by its first field.
    EXPECT_EQ(h.headers.picture.picture_coding_type, 1u);
    EXPECT_EQ(h.decoder.currentFrame->pictureType, 1);
    EXPECT_EQ(h.headers.picture.startPosition, firstFieldStart);
    EXPECT_EQ(h.headers.picture.top_field_first, 1u);
    EXPECT_FALSE(h.NextPicture());
}

TEST(MpegDecoder, UnsupportedPicturesDecodeNothing) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.PictureHeader(4, 0, kFrame, true);  // a D picture
    IntraRow(w, 0, 4);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    h.FillCurrent(7);
    EXPECT_EQ(h.Decode(), -1);
    EXPECT_TRUE(MacroblockIs(h, 0, 0, 7));
    // 4:2:2: the pictures are 4:2:0, nothing is decoded.
    h.headers.sequence.chroma_format = 2;
    h.headers.picture.picture_coding_type = 1;
    EXPECT_EQ(h.Decode(), -1);
    EXPECT_EQ(h.decoder.blocksPerMacroblock, 8);
}

TEST(MpegDecoder, OversizedSequencesAreRefused) {
    SyntheticStreamWriter w;
    w.SequenceHeader(64, 64, true);
    w.PictureHeader(1, 0, kFrame, true);
    w.SequenceEnd();
    Harness h;
    ASSERT_TRUE(h.Start(w.Bytes()));
    EXPECT_EQ(h.decoder.mb_width, 4);
    // A sequence that changes to more than 4096 x 4096 samples: nothing is allocated, nothing
    // decoded, and the pictures stay usable.
    h.headers.sequence.horizontal_size = 4097;
    h.headers.sequence.vertical_size = 4096;
    EXPECT_EQ(h.Decode(), -1);
    EXPECT_EQ(h.decoder.mb_width, 0);
    EXPECT_EQ(h.decoder.Init(&h.reader, &h.source, &h.headers), -1);
    ASSERT_NE(h.decoder.currentFrame, nullptr);
}

// Damaged copies of a real stream: every byte flip, cut and splice must decode to the end
// without touching memory it does not own (this runs under AddressSanitizer too).
TEST(MpegDecoder, DamagedStreamsNeverBreakTheDecoder) {
    std::string path = test::CachedArtifact(
        "picture_damage_source.m2v",
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 8 "
        "-vf tinterlace=mode=interleave_top,setfield=tff -c:v mpeg2video -flags +ildct+ilme "
        "-bf 2 -g 6 -q:v 6 -f mpeg2video {out}");
    ASSERT_FALSE(path.empty());
    const std::vector<uint8_t> original = test::ReadFileBytes(path);
    ASSERT_GT(original.size(), 200u);
    std::mt19937 rng(77);
    for (int trial = 0; trial < 150; ++trial) {
        std::vector<uint8_t> damaged = original;
        int kind = trial % 3;
        if (kind == 0) {
            for (int i = 0; i < 1 + trial % 20; ++i)
                damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        } else if (kind == 1) {
            damaged.resize(40 + rng() % (damaged.size() - 40));
        } else {
            size_t at = rng() % damaged.size();
            for (size_t i = at; i < damaged.size() && i < at + 64; ++i)
                damaged[i] = static_cast<uint8_t>(rng());
        }
        Harness h;
        if (!h.Start(damaged)) continue;
        for (int picture = 0; picture < 40; ++picture) {
            h.Decode();
            if (h.headers.picture.picture_coding_type < 3) h.KeepAsReference();
            if (!h.NextPicture()) break;
        }
    }
}

}  // namespace
}  // namespace d2u
