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

TEST(PictureHeaders, GroupAndPictureFieldsAreReadForTheTypesThatCarryThem) {
    GopFields gop{1, 23, 59, 58, 29, 0, 1};
    // extra_information_picture is skipped, never taken as a start code.
    PictureFields b{1023, 3, 0x1234, 1, 3, 1, 6, {0x00, 0x00, 0x01, 0xB3, 0xFF}};
    PictureFields p{7, 2, 0xFFFF, 0, 2, 0, 7, {}};
    PictureFields i;
    i.temporal_reference = 3;
    StreamWriter w;
    WriteSequenceHeader(w, SequenceFields());
    WriteGroupHeader(w, gop);
    for (const PictureFields* picture : {&b, &p, &i}) {
        WritePictureHeader(w, *picture);
        WriteSlice(w, 1, 1, 10, picture->temporal_reference);
    }

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    const GopInfo& g = rig.headers.gop;
    EXPECT_EQ(rig.reader.groupHeaderSeen, 1);
    EXPECT_EQ(Values({g.drop_frame_flag, g.time_code_hours, g.time_code_minutes,
                      g.time_code_seconds, g.time_code_pictures, g.closed_gop, g.broken_link}),
              Values({1, 23, 59, 58, 29, 0, 1}));
    const PictureInfo& pic = rig.headers.picture;
    EXPECT_EQ(Values({pic.temporal_reference, pic.picture_coding_type, pic.vbv_delay,
                      pic.full_pel_forward_vector, pic.forward_r_size, pic.full_pel_backward_vector,
                      pic.backward_r_size, pic.picture_structure, pic.frame_pred_frame_dct}),
              Values({1023, 3, 0x1234, 1, 2, 1, 5, 3, 1}));
    EXPECT_EQ(pic.scan, kZigzagScan);

    // Seen flags hold for one call; a P picture has no backward vector, an I picture neither.
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(rig.reader.sequenceHeaderSeen + rig.reader.groupHeaderSeen, 0);
    EXPECT_EQ(
        Values({pic.temporal_reference, pic.picture_coding_type, pic.forward_r_size,
                pic.full_pel_forward_vector, pic.backward_r_size, pic.full_pel_backward_vector}),
        Values({7, 2, 1, 0, 0, 0}));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(Values({pic.temporal_reference, pic.picture_coding_type, pic.forward_r_size}),
              Values({3, 1, 0}));
    EXPECT_EQ(rig.reader.getHeader(), -1);  // buffered data used up
}

TEST(PictureHeaders, CodingExtensionHoldsForItsPictureOnly) {
    // f_codes, intra_dc_precision, picture_structure, top_field_first, frame_pred_frame_dct,
    // concealment vectors, q_scale_type, intra_vlc_format, alternate_scan, repeat_first_field,
    // chroma_420_type, progressive_frame, composite_display_flag.
    PictureCodingFields coding{{{1, 2}, {9, 15}}, 3, 2, 1, 0, 1, 1, 1, 1, 1, 1, 0, 1};
    PictureCodingFields plain;
    plain.f_code[0][0] = 0;  // forbidden: kept in range
    StreamWriter w;
    WriteSequenceHeader(w, SequenceFields());
    WriteSequenceExtension(w, SequenceExtensionFields());
    WriteMpeg2Picture(w, PictureFields(), coding);
    WriteMpeg2Picture(w, PictureFields(), plain);
    WriteMpeg2Picture(w, PictureFields(), coding);

    HeaderRig rig;
    ASSERT_TRUE(rig.LoadBuffer(w.bytes()));
    ASSERT_EQ(rig.reader.getHeader(), 1);
    const PictureInfo& p = rig.headers.picture;
    EXPECT_EQ(
        Values({p.f_code[0][0], p.f_code[0][1], p.f_code[1][0], p.f_code[1][1],
                p.intra_dc_precision, p.picture_structure, p.top_field_first,
                p.frame_pred_frame_dct, p.concealment_motion_vectors, p.q_scale_type,
                p.intra_vlc_format, p.alternate_scan, p.repeat_first_field, p.progressive_frame}),
        Values({0, 1, 8, 14, 3, 2, 1, 0, 1, 1, 1, 1, 1, 0}));
    EXPECT_EQ(p.scan, kAlternateScan);
    // The composite display fields were passed over: the slice that follows is intact.
    EXPECT_EQ(rig.reader.FindStartCode(), 1u);

    // The next picture header resets structure, frame_pred_frame_dct and the scan.
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(Values({p.f_code[0][0], p.f_code[1][1], p.picture_structure, p.frame_pred_frame_dct,
                      p.top_field_first, p.alternate_scan}),
              Values({0, 14, 3, 1, 0, 0}));
    EXPECT_EQ(p.scan, kZigzagScan);
    ASSERT_EQ(rig.reader.getHeader(), 1);
    EXPECT_EQ(p.scan, kAlternateScan);
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
        int32_t expected[6];  // for the codes below
    };
    const uint32_t codes[6] = {0, 1, 8, 9, 17, 31};
    const Mode modes[] = {
        {false, 0, {0, 1, 8, 9, 17, 31}},
        {true, 0, {0, 2, 16, 18, 34, 62}},
        {true, 1, {0, 1, 8, 10, 28, 112}},
    };
    for (const Mode& mode : modes) {
        for (int first = 0; first < 6; ++first) {
            std::vector<uint32_t> rest;
            for (int k = 0; k < 6; ++k) rest.push_back(codes[(first + k) % 6]);
            HeaderRig rig;
            ASSERT_TRUE(
                rig.LoadBuffer(QuantiserStream(mode.mpeg2, mode.q_scale_type, codes[first], rest)));
            ASSERT_EQ(rig.reader.getHeader(), 1);
            ASSERT_EQ(rig.reader.FindStartCode(), 1u);
            rig.reader.ReadSliceHeader();
            EXPECT_EQ(rig.headers.slice.quantiser_scale, mode.expected[first]);
            EXPECT_EQ(rig.headers.currentQuantiser, mode.expected[first]);
            for (int k = 0; k < 6; ++k) {
                rig.reader.ReadMacroblockQuantiser();
                int32_t expected = mode.expected[(first + k) % 6];
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
