// The header reader on streams written field by field: every field at its own bit position,
// what each header resets, extensions it passes over, quantiser mapping and start positions.
#include <gtest/gtest.h>

#include "decoder/mpeg_tables.h"
#include "stream_writer.h"

namespace d2u {
namespace test {
namespace {

using Values = std::vector<uint32_t>;

std::vector<uint16_t> Ramp(uint16_t first) {
    std::vector<uint16_t> matrix(64);
    for (int i = 0; i < 64; ++i) matrix[i] = static_cast<uint16_t>(first + i);
    return matrix;
}

std::vector<uint16_t> Matrix(const uint16_t* values) {
    return {values, values + 64};
}

void WriteMpeg2Picture(StreamWriter& w, const PictureFields& picture,
                       const PictureCodingFields& coding) {
    WritePictureHeader(w, picture);
    WritePictureCodingExtension(w, coding);
    WriteSlice(w, 1, 4, 40, picture.temporal_reference);
}

// The fields hold values whose neighbours differ, so a field read at the wrong width or offset
// shows in it or in the next one.
TEST(SequenceHeaders, FieldsMatricesAndExtensionsAreReadAndResetPerSequence) {
    std::vector<uint16_t> intra = Ramp(8), nonIntra = Ramp(100);
    SequenceFields first{0x780, 0x438, 3, 5, 0x2AAAA, 0x2F1, 1, intra.data(), nonIntra.data()};
    SequenceExtensionFields extension{1, 4, 0, 2, 2, 1, 0xABC, 0x5A, 1, 2, 0x13};
    StreamWriter w;
    WriteSequenceHeader(w, first);
    WriteSequenceExtension(w, extension);
    WriteMpeg2Picture(w, PictureFields(), PictureCodingFields());
    WriteSequenceHeader(w, SequenceFields());
    WritePictureHeader(w, PictureFields());
    WriteSlice(w, 1, 1, 20, 2);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    const SequenceInfo& s = rig.headers.sequence;
    EXPECT_EQ(rig.reader.sequenceHeaderSeen, 1);
    EXPECT_EQ(Values({s.mpeg2, s.horizontal_size, s.vertical_size, s.aspect_ratio_information,
                      s.frame_rate_code, s.bit_rate_value, s.vbv_buffer_size_value,
                      s.constrained_parameters_flag}),
              Values({1, 0x2780, 0x1438, 3, 5, 0x2AAAA, 0x2F1, 1}));
    EXPECT_EQ(Values({s.profile, s.level, s.progressive_sequence, s.chroma_format,
                      s.horizontal_size_extension, s.vertical_size_extension, s.bit_rate_extension,
                      s.vbv_buffer_size_extension, s.low_delay, s.frame_rate_extension_n,
                      s.frame_rate_extension_d}),
              Values({1, 4, 0, 2, 2, 1, 0xABC, 0x5A, 1, 2, 0x13}));
    // The stream carries the matrices in zigzag order: the second byte read is raster entry 1,
    // the third raster entry 8.
    EXPECT_EQ(rig.headers.intra_quantiser_matrix[1], 9);
    EXPECT_EQ(rig.headers.intra_quantiser_matrix[8], 16);
    EXPECT_EQ(Matrix(rig.headers.intra_quantiser_matrix), intra);
    EXPECT_EQ(Matrix(rig.headers.non_intra_quantiser_matrix), nonIntra);
    EXPECT_EQ(Matrix(rig.headers.chroma_intra_quantiser_matrix), intra);
    EXPECT_EQ(Matrix(rig.headers.chroma_non_intra_quantiser_matrix), nonIntra);

    // A sequence header without extension or matrices: MPEG-1, 4:2:0, default matrices.
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(Values({s.mpeg2, s.chroma_format, s.horizontal_size}), Values({0, 1, 176}));
    const std::vector<uint16_t> flat(64, 16);
    const std::vector<uint16_t> defaultIntra(kDefaultIntraQuantiserMatrix,
                                             kDefaultIntraQuantiserMatrix + 64);
    EXPECT_EQ(Matrix(rig.headers.intra_quantiser_matrix), defaultIntra);
    EXPECT_EQ(Matrix(rig.headers.chroma_intra_quantiser_matrix), defaultIntra);
    EXPECT_EQ(Matrix(rig.headers.non_intra_quantiser_matrix), flat);
    EXPECT_EQ(Matrix(rig.headers.chroma_non_intra_quantiser_matrix), flat);
}

TEST(Extensions, UserDataAndUnparsedExtensionsArePassedOver) {
    std::vector<uint16_t> intra = Ramp(40);
    SequenceFields sequence;
    sequence.intraMatrix = intra.data();
    SequenceExtensionFields extension;
    extension.level = 6;
    PictureFields p;
    p.temporal_reference = 5;
    p.picture_coding_type = 2;
    PictureCodingFields coding;
    coding.q_scale_type = 1;
    coding.intra_dc_precision = 2;
    StreamWriter w;
    WriteSequenceHeader(w, sequence);
    WriteUserData(w, {'L', 'a', 'v', 'c', 0xB5, 0x81});
    WriteSequenceExtension(w, extension);
    WriteOtherExtension(w, 2, {0x12, 0x34, 0x56, 0x78});  // sequence display
    // A quant matrix extension that would load a flat 99 matrix: it must not.
    WriteOtherExtension(w, 3, std::vector<uint8_t>(130, 99));
    WriteUserData(w, {0x47, 0x41, 0x39, 0x34});
    WriteGroupHeader(w, GopFields());
    WriteUserData(w, {1, 2, 3});
    WritePictureHeader(w, p);
    WriteUserData(w, {0xCC, 0x01, 0x00, 0x00, 0x02});
    WritePictureCodingExtension(w, coding);
    WriteOtherExtension(w, 7, {0x80, 0x00, 0x80});  // picture display
    WriteOtherExtension(w, 10, {0xAA});             // an identifier nobody defines
    WriteSlice(w, 1, 3, 50, 8);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(Values({rig.headers.sequence.mpeg2, rig.headers.sequence.level,
                      rig.headers.picture.temporal_reference, rig.headers.picture.q_scale_type,
                      rig.headers.picture.intra_dc_precision}),
              Values({1, 6, 5, 1, 2}));
    EXPECT_EQ(rig.reader.groupHeaderSeen, 1);
    EXPECT_EQ(Matrix(rig.headers.intra_quantiser_matrix), intra);
    // The stream is left on the slice: its start code is the next one.
    EXPECT_EQ(rig.reader.FindStartCode(), 1u);
}

TEST(StartCodePositions, EachHeaderRecordsTheOffsetOfItsStartCode) {
    StreamWriter w;
    w.PutBytes({0x12, 0x00, 0x00, 0x00, 0x00, 0x07});  // garbage with a run of zeros
    size_t sequenceAt = w.BytePosition();
    WriteSequenceHeader(w, SequenceFields());
    size_t gopAt = w.BytePosition();
    WriteGroupHeader(w, GopFields());
    w.PutBytes({0, 0, 0});  // zero stuffing before the picture
    size_t pictureAt = w.BytePosition();
    PictureFields withExtra;  // extra_information_picture is passed over, never a start code
    withExtra.extraInformation = {0x00, 0x00, 0x01, 0xB3, 0xFF};
    WritePictureHeader(w, withExtra);
    WriteSlice(w, 1, 2, 100, 9);
    size_t nextPictureAt = w.BytePosition();
    WritePictureHeader(w, PictureFields());
    WriteSlice(w, 1, 2, 100, 10);

    HeaderRig rig;
    ASSERT_TRUE(rig.OpenFile(w.bytes(), "headers_positions.m2v"));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.sequence.startPosition, sequenceAt);
    EXPECT_EQ(rig.headers.gop.startPosition, gopAt);
    EXPECT_EQ(rig.headers.picture.startPosition, pictureAt);
    ASSERT_EQ(rig.reader.FindStartCode(), 1u);
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.picture.startPosition, nextPictureAt);
    EXPECT_EQ(rig.reader.getHeader(), 0);  // the file's end
}

TEST(HeaderReader, WithoutSourceOrRecordReportsFailure) {
    CMpegHeaderReader unset;
    EXPECT_EQ(unset.getHeader(), -1);
    CBitstreamDataSource empty;
    MpegHeaders headers{};
    CMpegHeaderReader noBuffer;
    noBuffer.Init(&empty, &headers);
    EXPECT_EQ(noBuffer.getHeader(), -1);
    CMpegHeaderReader noRecord;
    noRecord.Init(&empty, nullptr);
    EXPECT_EQ(noRecord.getHeader(), -1);
}

}  // namespace
}  // namespace test
}  // namespace d2u
