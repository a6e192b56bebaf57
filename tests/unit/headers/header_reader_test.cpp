// The header reader on streams written field by field.
#include <gtest/gtest.h>

#include "decoder/mpeg_tables.h"
#include "header_test_rig.h"
#include "stream_writer.h"

namespace d2u {
namespace test {
namespace {

std::vector<uint16_t> Ramp(uint16_t first) {
    std::vector<uint16_t> matrix(64);
    for (int i = 0; i < 64; ++i) matrix[i] = static_cast<uint16_t>(first + i);
    return matrix;
}

std::vector<uint16_t> Matrix(const uint16_t* values) {
    return {values, values + 64};
}

void WriteMpeg2Picture(StreamWriter& w, const PictureFields& picture,
                       const PictureCodingFields& coding, uint32_t quantiserCode = 4) {
    WritePictureHeader(w, picture);
    WritePictureCodingExtension(w, coding);
    WriteSlice(w, 1, quantiserCode, 40, picture.temporal_reference);
}

TEST(SequenceHeader, ReadsFieldsAndLoadsMatricesInRasterOrder) {
    std::vector<uint16_t> intra = Ramp(8), nonIntra = Ramp(100);
    SequenceFields sequence;
    sequence.horizontal_size = 0xABC;
    sequence.vertical_size = 0x123;
    sequence.aspect_ratio_information = 3;
    sequence.frame_rate_code = 5;
    sequence.bit_rate_value = 0x2AAAA;
    sequence.vbv_buffer_size_value = 0x2F1;
    sequence.constrained_parameters_flag = 1;
    sequence.intraMatrix = intra.data();
    sequence.nonIntraMatrix = nonIntra.data();
    StreamWriter w;
    WriteSequenceHeader(w, sequence);
    WritePictureHeader(w, PictureFields());
    WriteSlice(w, 1, 1, 20, 1);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    const SequenceInfo& s = rig.headers.sequence;
    EXPECT_EQ(rig.reader.sequenceHeaderSeen, 1);
    EXPECT_EQ(s.mpeg2, 0u);
    EXPECT_EQ(s.horizontal_size, 0xABCu);
    EXPECT_EQ(s.vertical_size, 0x123u);
    EXPECT_EQ(s.aspect_ratio_information, 3u);
    EXPECT_EQ(s.frame_rate_code, 5u);
    EXPECT_EQ(s.bit_rate_value, 0x2AAAAu);
    EXPECT_EQ(s.vbv_buffer_size_value, 0x2F1u);
    EXPECT_EQ(s.constrained_parameters_flag, 1u);
    EXPECT_EQ(s.chroma_format, 1u);
    // The stream carries the matrices in zigzag order: the second byte read is raster entry
    // 1, the third raster entry 8.
    EXPECT_EQ(rig.headers.intra_quantiser_matrix[1], 9);
    EXPECT_EQ(rig.headers.intra_quantiser_matrix[8], 16);
    EXPECT_EQ(Matrix(rig.headers.intra_quantiser_matrix), intra);
    EXPECT_EQ(Matrix(rig.headers.non_intra_quantiser_matrix), nonIntra);
    EXPECT_EQ(Matrix(rig.headers.chroma_intra_quantiser_matrix), intra);
    EXPECT_EQ(Matrix(rig.headers.chroma_non_intra_quantiser_matrix), nonIntra);
}

TEST(SequenceHeader, EveryHeaderResetsModeChromaFormatAndMatrices) {
    std::vector<uint16_t> intra = Ramp(20), nonIntra = Ramp(30);
    SequenceFields loaded;
    loaded.intraMatrix = intra.data();
    loaded.nonIntraMatrix = nonIntra.data();
    SequenceExtensionFields extension;
    extension.chroma_format = 2;
    StreamWriter w;
    WriteSequenceHeader(w, loaded);
    WriteSequenceExtension(w, extension);
    WriteMpeg2Picture(w, PictureFields(), PictureCodingFields());
    WriteSequenceHeader(w, SequenceFields());
    WritePictureHeader(w, PictureFields());
    WriteSlice(w, 1, 1, 20, 2);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.sequence.mpeg2, 1u);
    EXPECT_EQ(rig.headers.sequence.chroma_format, 2u);
    EXPECT_EQ(Matrix(rig.headers.intra_quantiser_matrix), intra);

    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.sequence.mpeg2, 0u);
    EXPECT_EQ(rig.headers.sequence.chroma_format, 1u);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(rig.headers.intra_quantiser_matrix[i], kDefaultIntraQuantiserMatrix[i]);
        EXPECT_EQ(rig.headers.chroma_intra_quantiser_matrix[i], kDefaultIntraQuantiserMatrix[i]);
        EXPECT_EQ(rig.headers.non_intra_quantiser_matrix[i], 16);
        EXPECT_EQ(rig.headers.chroma_non_intra_quantiser_matrix[i], 16);
    }
}

TEST(SequenceExtension, ExtendsSizesAndKeepsTheOtherExtensionsApart) {
    SequenceFields sequence;
    sequence.horizontal_size = 0x780;
    sequence.vertical_size = 0x438;
    sequence.bit_rate_value = 0x12345;
    SequenceExtensionFields extension;
    extension.profile = 0x1;
    extension.level = 0x4;
    extension.progressive_sequence = 0;
    extension.chroma_format = 3;
    extension.horizontal_size_extension = 2;
    extension.vertical_size_extension = 1;
    extension.bit_rate_extension = 0xABC;
    extension.vbv_buffer_size_extension = 0x5A;
    extension.low_delay = 1;
    extension.frame_rate_extension_n = 2;
    extension.frame_rate_extension_d = 0x13;
    StreamWriter w;
    WriteSequenceHeader(w, sequence);
    WriteSequenceExtension(w, extension);
    WriteMpeg2Picture(w, PictureFields(), PictureCodingFields());

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    const SequenceInfo& s = rig.headers.sequence;
    EXPECT_EQ(s.mpeg2, 1u);
    EXPECT_EQ(s.horizontal_size, 0x2780u);
    EXPECT_EQ(s.vertical_size, 0x1438u);
    EXPECT_EQ(s.profile, 0x1u);
    EXPECT_EQ(s.level, 0x4u);
    EXPECT_EQ(s.progressive_sequence, 0u);
    EXPECT_EQ(s.chroma_format, 3u);
    EXPECT_EQ(s.horizontal_size_extension, 2u);
    EXPECT_EQ(s.vertical_size_extension, 1u);
    EXPECT_EQ(s.bit_rate_value, 0x12345u);
    EXPECT_EQ(s.bit_rate_extension, 0xABCu);
    EXPECT_EQ(s.vbv_buffer_size_extension, 0x5Au);
    EXPECT_EQ(s.low_delay, 1u);
    EXPECT_EQ(s.frame_rate_extension_n, 2u);
    EXPECT_EQ(s.frame_rate_extension_d, 0x13u);
}

TEST(GroupHeader, ReadsTimeCodeAndFlagsAndIsReportedPerCall) {
    GopFields gop;
    gop.drop_frame_flag = 1;
    gop.time_code_hours = 23;
    gop.time_code_minutes = 59;
    gop.time_code_seconds = 58;
    gop.time_code_pictures = 29;
    gop.closed_gop = 0;
    gop.broken_link = 1;
    StreamWriter w;
    WriteSequenceHeader(w, SequenceFields());
    WriteGroupHeader(w, gop);
    WritePictureHeader(w, PictureFields());
    WriteSlice(w, 1, 1, 30, 3);
    PictureFields second;
    second.temporal_reference = 1;
    WritePictureHeader(w, second);
    WriteSlice(w, 1, 1, 30, 4);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.reader.sequenceHeaderSeen, 1);
    EXPECT_EQ(rig.reader.groupHeaderSeen, 1);
    const GopInfo& g = rig.headers.gop;
    EXPECT_EQ(g.drop_frame_flag, 1u);
    EXPECT_EQ(g.time_code_hours, 23u);
    EXPECT_EQ(g.time_code_minutes, 59u);
    EXPECT_EQ(g.time_code_seconds, 58u);
    EXPECT_EQ(g.time_code_pictures, 29u);
    EXPECT_EQ(g.closed_gop, 0u);
    EXPECT_EQ(g.broken_link, 1u);

    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.picture.temporal_reference, 1u);
    EXPECT_EQ(rig.reader.sequenceHeaderSeen, 0);
    EXPECT_EQ(rig.reader.groupHeaderSeen, 0);
}

TEST(PictureHeader, ReadsVectorParametersOnlyForTheTypesThatCarryThem) {
    StreamWriter w;
    WriteSequenceHeader(w, SequenceFields());
    PictureFields b;
    b.temporal_reference = 1023;
    b.picture_coding_type = 3;
    b.vbv_delay = 0x1234;
    b.full_pel_forward_vector = 1;
    b.forward_f_code = 3;
    b.full_pel_backward_vector = 1;
    b.backward_f_code = 6;
    b.extraInformation = {0x00, 0x00, 0x01, 0xB3, 0xFF};  // skipped, never taken as a code
    WritePictureHeader(w, b);
    WriteSlice(w, 1, 1, 10, 5);
    PictureFields p;
    p.temporal_reference = 7;
    p.picture_coding_type = 2;
    p.forward_f_code = 2;
    WritePictureHeader(w, p);
    WriteSlice(w, 1, 1, 10, 6);
    PictureFields i;
    i.temporal_reference = 3;
    WritePictureHeader(w, i);
    WriteSlice(w, 1, 1, 10, 7);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    const PictureInfo& pic = rig.headers.picture;
    EXPECT_EQ(pic.temporal_reference, 1023u);
    EXPECT_EQ(pic.picture_coding_type, 3u);
    EXPECT_EQ(pic.vbv_delay, 0x1234u);
    EXPECT_EQ(pic.full_pel_forward_vector, 1u);
    EXPECT_EQ(pic.forward_r_size, 2u);
    EXPECT_EQ(pic.full_pel_backward_vector, 1u);
    EXPECT_EQ(pic.backward_r_size, 5u);
    EXPECT_EQ(pic.picture_structure, 3u);
    EXPECT_EQ(pic.frame_pred_frame_dct, 1u);
    EXPECT_EQ(pic.scan, kZigzagScan);

    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(pic.temporal_reference, 7u);
    EXPECT_EQ(pic.picture_coding_type, 2u);
    EXPECT_EQ(pic.forward_r_size, 1u);
    EXPECT_EQ(pic.full_pel_forward_vector, 0u);
    EXPECT_EQ(pic.backward_r_size, 0u);
    EXPECT_EQ(pic.full_pel_backward_vector, 0u);

    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(pic.temporal_reference, 3u);
    EXPECT_EQ(pic.picture_coding_type, 1u);
    EXPECT_EQ(pic.forward_r_size, 0u);
    EXPECT_EQ(rig.reader.getHeader(), -1);  // buffered data used up
}

TEST(PictureCodingExtension, ReadsEveryFieldAndStoresRSizes) {
    StreamWriter w;
    WriteSequenceHeader(w, SequenceFields());
    WriteSequenceExtension(w, SequenceExtensionFields());
    PictureFields b;
    b.picture_coding_type = 3;
    PictureCodingFields coding;
    coding.f_code[0][0] = 1;
    coding.f_code[0][1] = 2;
    coding.f_code[1][0] = 9;
    coding.f_code[1][1] = 15;
    coding.intra_dc_precision = 3;
    coding.picture_structure = 2;
    coding.top_field_first = 1;
    coding.frame_pred_frame_dct = 0;
    coding.concealment_motion_vectors = 1;
    coding.q_scale_type = 1;
    coding.intra_vlc_format = 1;
    coding.repeat_first_field = 1;
    coding.progressive_frame = 0;
    coding.composite_display_flag = 1;
    WriteMpeg2Picture(w, b, coding);
    // A second picture: the header resets structure and frame_pred_frame_dct; a forbidden
    // f_code 0 is kept in range.
    PictureCodingFields plain;
    plain.f_code[0][0] = 0;
    WriteMpeg2Picture(w, PictureFields(), plain);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    const PictureInfo& pic = rig.headers.picture;
    EXPECT_EQ(pic.f_code[0][0], 0u);
    EXPECT_EQ(pic.f_code[0][1], 1u);
    EXPECT_EQ(pic.f_code[1][0], 8u);
    EXPECT_EQ(pic.f_code[1][1], 14u);
    EXPECT_EQ(pic.intra_dc_precision, 3u);
    EXPECT_EQ(pic.picture_structure, 2u);
    EXPECT_EQ(pic.top_field_first, 1u);
    EXPECT_EQ(pic.frame_pred_frame_dct, 0u);
    EXPECT_EQ(pic.concealment_motion_vectors, 1u);
    EXPECT_EQ(pic.q_scale_type, 1u);
    EXPECT_EQ(pic.intra_vlc_format, 1u);
    EXPECT_EQ(pic.repeat_first_field, 1u);
    EXPECT_EQ(pic.progressive_frame, 0u);
    // The composite display fields were passed over: the slice that follows is intact.
    uint32_t slice = rig.reader.FindStartCode();
    EXPECT_EQ(slice, 1u);

    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(pic.f_code[0][0], 0u);
    EXPECT_EQ(pic.f_code[1][1], 14u);
    EXPECT_EQ(pic.picture_structure, 3u);
    EXPECT_EQ(pic.frame_pred_frame_dct, 1u);
    EXPECT_EQ(pic.top_field_first, 0u);
}

TEST(PictureCodingExtension, AlternateScanHoldsForOnePictureOnly) {
    StreamWriter w;
    WriteSequenceHeader(w, SequenceFields());
    WriteSequenceExtension(w, SequenceExtensionFields());
    PictureCodingFields alternate;
    alternate.alternate_scan = 1;
    WriteMpeg2Picture(w, PictureFields(), alternate);
    WriteMpeg2Picture(w, PictureFields(), PictureCodingFields());
    WriteMpeg2Picture(w, PictureFields(), alternate);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.picture.scan, kAlternateScan);
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.picture.scan, kZigzagScan);
    EXPECT_EQ(rig.headers.picture.alternate_scan, 0u);
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.picture.scan, kAlternateScan);
}

TEST(Extensions, UserDataAndUnparsedExtensionsArePassedOver) {
    std::vector<uint16_t> intra = Ramp(40);
    SequenceFields sequence;
    sequence.intraMatrix = intra.data();
    StreamWriter w;
    WriteSequenceHeader(w, sequence);
    WriteUserData(w, {'L', 'a', 'v', 'c', 0xB5, 0x81});
    SequenceExtensionFields extension;
    extension.level = 6;
    WriteSequenceExtension(w, extension);
    WriteOtherExtension(w, 2, {0x12, 0x34, 0x56, 0x78});  // sequence display
    // A quant matrix extension that would load a flat 99 matrix: it must not.
    WriteOtherExtension(w, 3, std::vector<uint8_t>(130, 99));
    WriteUserData(w, {0x47, 0x41, 0x39, 0x34});
    WriteGroupHeader(w, GopFields());
    WriteUserData(w, {1, 2, 3});
    PictureFields p;
    p.temporal_reference = 5;
    p.picture_coding_type = 2;
    WritePictureHeader(w, p);
    WriteUserData(w, {0xCC, 0x01, 0x00, 0x00, 0x02});
    PictureCodingFields coding;
    coding.q_scale_type = 1;
    coding.intra_dc_precision = 2;
    WritePictureCodingExtension(w, coding);
    WriteOtherExtension(w, 7, {0x80, 0x00, 0x80});  // picture display
    WriteOtherExtension(w, 10, {0xAA});             // an identifier nobody defines
    WriteSlice(w, 1, 3, 50, 8);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.headers.sequence.mpeg2, 1u);
    EXPECT_EQ(rig.headers.sequence.level, 6u);
    EXPECT_EQ(rig.reader.groupHeaderSeen, 1);
    EXPECT_EQ(rig.headers.picture.temporal_reference, 5u);
    EXPECT_EQ(rig.headers.picture.q_scale_type, 1u);
    EXPECT_EQ(rig.headers.picture.intra_dc_precision, 2u);
    EXPECT_EQ(Matrix(rig.headers.intra_quantiser_matrix), intra);
    // The stream is left on the slice: its start code is the next one.
    EXPECT_EQ(rig.reader.FindStartCode(), 1u);
    rig.reader.ReadSliceHeader();
    EXPECT_EQ(rig.headers.slice.quantiser_scale, 3);  // non-linear code 3
}

// A stream whose single slice carries the quantiser codes given, for ReadMacroblockQuantiser.
std::vector<uint8_t> QuantiserStream(bool mpeg2, uint32_t q_scale_type, uint32_t sliceCode,
                                     const std::vector<uint32_t>& macroblockCodes) {
    StreamWriter w;
    WriteSequenceHeader(w, SequenceFields());
    if (mpeg2) WriteSequenceExtension(w, SequenceExtensionFields());
    WritePictureHeader(w, PictureFields());
    if (mpeg2) {
        PictureCodingFields coding;
        coding.q_scale_type = q_scale_type;
        WritePictureCodingExtension(w, coding);
    }
    w.StartCode(1);
    w.Bits(sliceCode, 5);
    w.Bits(0, 1);
    for (uint32_t code : macroblockCodes) w.Bits(code, 5);
    w.Bits(0xFFFF, 16);
    return w.bytes();
}

TEST(Quantiser, SliceAndMacroblockCodesAreMappedPerMode) {
    struct Mode {
        bool mpeg2;
        uint32_t q_scale_type;
        int32_t expected[4];  // for codes 0, 1, 9, 31
    };
    const Mode modes[] = {
        {false, 0, {0, 1, 9, 31}},
        {true, 0, {0, 2, 18, 62}},
        {true, 1, {0, 1, 10, 112}},
    };
    const uint32_t codes[4] = {0, 1, 9, 31};
    for (const Mode& mode : modes) {
        for (int first = 0; first < 4; ++first) {
            std::vector<uint32_t> rest;
            for (int k = 0; k < 4; ++k) rest.push_back(codes[(first + k) % 4]);
            HeaderRig rig;
            ASSERT_TRUE(
                rig.LoadBuffer(QuantiserStream(mode.mpeg2, mode.q_scale_type, codes[first], rest)));
            ASSERT_EQ(rig.reader.getHeader(), 1);
            ASSERT_EQ(rig.reader.FindStartCode(), 1u);
            rig.reader.ReadSliceHeader();
            EXPECT_EQ(rig.headers.slice.quantiser_scale, mode.expected[first]);
            EXPECT_EQ(rig.headers.currentQuantiser, mode.expected[first]);
            for (int k = 0; k < 4; ++k) {
                rig.reader.ReadMacroblockQuantiser();
                int32_t expected = mode.expected[(first + k) % 4];
                EXPECT_EQ(rig.headers.slice.quantiser_scale, expected) << mode.mpeg2 << k;
                EXPECT_EQ(rig.headers.currentQuantiser, expected);
            }
        }
    }
}

TEST(StartCodePositions, EachHeaderRecordsTheOffsetOfItsStartCode) {
    StreamWriter w;
    w.Bytes({0x12, 0x00, 0x00, 0x00, 0x00, 0x07});  // garbage with a run of zeros
    size_t sequenceAt = w.BytePosition();
    WriteSequenceHeader(w, SequenceFields());
    size_t gopAt = w.BytePosition();
    WriteGroupHeader(w, GopFields());
    w.Bytes({0, 0, 0});  // zero stuffing before the picture
    size_t pictureAt = w.BytePosition();
    WritePictureHeader(w, PictureFields());
    size_t sliceAt = w.BytePosition();
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
    rig.reader.ReadSliceHeader();
    EXPECT_EQ(rig.headers.slice.startPosition, sliceAt);
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
