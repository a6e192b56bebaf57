// The header reader on streams from ffmpeg and mpeg2enc, checked against the encoder settings
// and against what ffprobe reports.
#include <gtest/gtest.h>

#include <algorithm>

#include "decoder/mpeg_tables.h"
#include "header_test_rig.h"
#include "reference_streams.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

struct ParsedPicture {
    PictureInfo info;
    int group;
};

struct ParsedStream {
    std::vector<ParsedPicture> pictures;  // decoding order
    std::vector<GopInfo> groups;
    int sequenceHeaders = 0;
    int32_t finalResult = 0;
    MpegHeaders last{};
};

ParsedStream ParseFile(const std::string& path) {
    ParsedStream parsed;
    HeaderRig rig;
    if (!rig.OpenPath(path)) return parsed;
    int32_t result;
    while ((result = rig.reader.getHeader()) == 1 && parsed.pictures.size() < 10000) {
        if (rig.reader.groupHeaderSeen) parsed.groups.push_back(rig.headers.gop);
        parsed.sequenceHeaders += rig.reader.sequenceHeaderSeen;
        parsed.pictures.push_back({rig.headers.picture, static_cast<int>(parsed.groups.size())});
    }
    parsed.finalResult = result;
    parsed.last = rig.headers;
    return parsed;
}

// Display order within each group follows temporal_reference.
std::string DisplayOrderTypes(const ParsedStream& parsed) {
    std::vector<ParsedPicture> pictures = parsed.pictures;
    std::stable_sort(pictures.begin(), pictures.end(),
                     [](const ParsedPicture& a, const ParsedPicture& b) {
                         if (a.group != b.group) return a.group < b.group;
                         return a.info.temporal_reference < b.info.temporal_reference;
                     });
    std::string types;
    for (const ParsedPicture& picture : pictures) types += " IPB"[picture.info.picture_coding_type];
    return types;
}

// In decoding order every reference picture comes before the B pictures shown before it, and
// each group numbers its pictures 0..n-1.
void ExpectConsistentTemporalReferences(const ParsedStream& parsed) {
    std::vector<std::vector<uint32_t>> perGroup(parsed.groups.size() + 1);
    for (const ParsedPicture& picture : parsed.pictures) {
        perGroup[picture.group].push_back(picture.info.temporal_reference);
    }
    for (std::vector<uint32_t>& references : perGroup) {
        std::sort(references.begin(), references.end());
        for (size_t i = 0; i < references.size(); ++i) EXPECT_EQ(references[i], i);
    }
}

std::vector<uint16_t> Matrix(const uint16_t* values) {
    return {values, values + 64};
}

#define REQUIRE_STREAM(available, path)                        \
    if (!(available)) GTEST_SKIP() << "encoder not available"; \
    ASSERT_FALSE((path).empty()) << "the encoder failed";      \
    ProbedStream probed = Probe(path)

TEST(ReferenceStreamHeaders, FfmpegMpeg1) {
    std::string path = FfmpegMpeg1Stream();
    REQUIRE_STREAM(FfmpegAvailable(), path);
    ParsedStream parsed = ParseFile(path);
    const SequenceInfo& s = parsed.last.sequence;
    EXPECT_EQ(s.mpeg2, 0u);
    EXPECT_EQ(s.horizontal_size, static_cast<uint32_t>(probed.width));
    EXPECT_EQ(s.vertical_size, static_cast<uint32_t>(probed.height));
    EXPECT_EQ(s.frame_rate_code, FrameRateCode(probed.frameRate));
    EXPECT_EQ(s.chroma_format, 1u);
    EXPECT_EQ(parsed.finalResult, 0);
    EXPECT_EQ(DisplayOrderTypes(parsed), probed.pictureTypes);
    ExpectConsistentTemporalReferences(parsed);
    for (const ParsedPicture& picture : parsed.pictures) {
        EXPECT_EQ(picture.info.picture_structure, 3u);
        EXPECT_EQ(picture.info.frame_pred_frame_dct, 1u);
        EXPECT_EQ(picture.info.scan, kZigzagScan);
        if (picture.info.picture_coding_type != 1) {
            EXPECT_LE(picture.info.forward_r_size, 6u);
        }
    }
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(parsed.last.intra_quantiser_matrix[i], kDefaultIntraQuantiserMatrix[i]);
        EXPECT_EQ(parsed.last.non_intra_quantiser_matrix[i], 16);
    }
}

TEST(ReferenceStreamHeaders, FfmpegMpeg2InterlacedWithEveryPictureOption) {
    std::string path = FfmpegMpeg2InterlacedStream();
    REQUIRE_STREAM(FfmpegAvailable(), path);
    ASSERT_EQ(probed.fieldOrder, "tt");
    ASSERT_EQ(probed.displayAspectRatio, "16:9");
    ParsedStream parsed = ParseFile(path);
    const SequenceInfo& s = parsed.last.sequence;
    EXPECT_EQ(s.mpeg2, 1u);
    EXPECT_EQ(s.horizontal_size, static_cast<uint32_t>(probed.width));
    EXPECT_EQ(s.vertical_size, static_cast<uint32_t>(probed.height));
    EXPECT_EQ(s.frame_rate_code, FrameRateCode(probed.frameRate));
    EXPECT_EQ(s.aspect_ratio_information, 3u);
    EXPECT_EQ(s.progressive_sequence, 0u);
    EXPECT_EQ(s.chroma_format, 1u);
    EXPECT_EQ(probed.profile, "Main");
    EXPECT_EQ(s.profile, 4u);
    EXPECT_EQ(s.level, static_cast<uint32_t>(probed.level));
    EXPECT_EQ(Matrix(parsed.last.intra_quantiser_matrix), FfmpegIntraMatrix());
    EXPECT_EQ(Matrix(parsed.last.non_intra_quantiser_matrix), FfmpegInterMatrix());
    EXPECT_EQ(Matrix(parsed.last.chroma_intra_quantiser_matrix), FfmpegIntraMatrix());

    EXPECT_EQ(DisplayOrderTypes(parsed), probed.pictureTypes);
    ExpectConsistentTemporalReferences(parsed);
    ASSERT_GE(parsed.groups.size(), 2u);
    EXPECT_EQ(parsed.groups[0].time_code_hours, 1u);
    EXPECT_EQ(parsed.groups[0].time_code_minutes, 2u);
    EXPECT_EQ(parsed.groups[0].time_code_seconds, 3u);
    EXPECT_EQ(parsed.groups[0].time_code_pictures, 4u);
    // The second group starts as many pictures later as the first one holds.
    size_t firstGroupPictures = 0;
    for (const ParsedPicture& picture : parsed.pictures) firstGroupPictures += picture.group == 1;
    EXPECT_EQ(parsed.groups[1].time_code_pictures, 4u + firstGroupPictures);
    for (const ParsedPicture& picture : parsed.pictures) {
        const PictureInfo& p = picture.info;
        EXPECT_EQ(p.picture_structure, 3u);
        EXPECT_EQ(p.top_field_first, 1u);
        EXPECT_EQ(p.frame_pred_frame_dct, 0u);
        EXPECT_EQ(p.progressive_frame, 0u);
        EXPECT_EQ(p.alternate_scan, 1u);
        EXPECT_EQ(p.scan, kAlternateScan);
        EXPECT_EQ(p.q_scale_type, 1u);
        EXPECT_EQ(p.intra_vlc_format, 1u);
        EXPECT_EQ(p.intra_dc_precision, 2u);  // 10 bits
        // Directions a picture does not use carry f_code 15.
        if (p.picture_coding_type == 1) {
            EXPECT_EQ(p.f_code[0][0], 14u);
        }
        if (p.picture_coding_type != 3) {
            EXPECT_EQ(p.f_code[1][1], 14u);
        }
        if (p.picture_coding_type != 1) {
            EXPECT_LT(p.f_code[0][0], 9u);
        }
    }
    EXPECT_EQ(parsed.finalResult, 0);
}

TEST(ReferenceStreamHeaders, Mpeg2encInterlacedWithMatricesFromAFile) {
    std::string path = Mpeg2encInterlacedStream();
    REQUIRE_STREAM(Mpeg2encAvailable(), path);
    ParsedStream parsed = ParseFile(path);
    const SequenceInfo& s = parsed.last.sequence;
    EXPECT_EQ(s.mpeg2, 1u);
    EXPECT_EQ(s.horizontal_size, 352u);
    EXPECT_EQ(s.vertical_size, 288u);
    EXPECT_EQ(s.horizontal_size, static_cast<uint32_t>(probed.width));
    EXPECT_EQ(s.aspect_ratio_information, 3u);
    EXPECT_EQ(probed.displayAspectRatio, "16:9");
    EXPECT_EQ(s.frame_rate_code, FrameRateCode(probed.frameRate));
    EXPECT_EQ(s.level, static_cast<uint32_t>(probed.level));
    EXPECT_EQ(s.progressive_sequence, 0u);
    EXPECT_EQ(Matrix(parsed.last.intra_quantiser_matrix), Mpeg2encIntraMatrix());
    EXPECT_EQ(Matrix(parsed.last.non_intra_quantiser_matrix), Mpeg2encInterMatrix());
    EXPECT_EQ(DisplayOrderTypes(parsed), probed.pictureTypes);
    ExpectConsistentTemporalReferences(parsed);
    for (const ParsedPicture& picture : parsed.pictures) {
        EXPECT_EQ(picture.info.top_field_first, 1u);
        EXPECT_EQ(picture.info.picture_structure, 3u);
    }
    EXPECT_EQ(parsed.finalResult, 0);
}

TEST(ReferenceStreamHeaders, Mpeg2encMpeg1) {
    std::string path = Mpeg2encMpeg1Stream();
    REQUIRE_STREAM(Mpeg2encAvailable(), path);
    ParsedStream parsed = ParseFile(path);
    EXPECT_EQ(parsed.last.sequence.mpeg2, 0u);
    EXPECT_EQ(parsed.last.sequence.horizontal_size, static_cast<uint32_t>(probed.width));
    EXPECT_EQ(parsed.last.sequence.vertical_size, static_cast<uint32_t>(probed.height));
    EXPECT_EQ(parsed.last.sequence.aspect_ratio_information, 1u);
    EXPECT_EQ(DisplayOrderTypes(parsed), probed.pictureTypes);
    ExpectConsistentTemporalReferences(parsed);
    EXPECT_EQ(parsed.finalResult, 0);
}

// Cuts a stream's final sequence_end_code, so that two streams join into one.
std::vector<uint8_t> WithoutSequenceEnd(std::vector<uint8_t> bytes) {
    const uint8_t end[4] = {0, 0, 1, 0xB7};
    if (bytes.size() >= 4 && std::equal(end, end + 4, bytes.end() - 4))
        bytes.resize(bytes.size() - 4);
    return bytes;
}

TEST(ReferenceStreamHeaders, ScanFollowsEachPictureAcrossJoinedStreams) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg not available";
    std::string alternate = FfmpegMpeg2InterlacedStream();
    std::string zigzag = FfmpegMpeg2ProgressiveStream();
    ASSERT_FALSE(alternate.empty() || zigzag.empty());
    std::vector<uint8_t> joined = WithoutSequenceEnd(ReadFileBytes(alternate));
    std::vector<uint8_t> second = ReadFileBytes(zigzag);
    size_t firstPart = ParseFile(alternate).pictures.size();
    size_t secondPart = ParseFile(zigzag).pictures.size();
    joined.insert(joined.end(), second.begin(), second.end());
    joined = WithoutSequenceEnd(joined);
    std::vector<uint8_t> third = ReadFileBytes(alternate);
    joined.insert(joined.end(), third.begin(), third.end());
    std::string path = WorkPath("headers_joined.m2v");
    ASSERT_TRUE(WriteFileBytes(path, joined));

    ParsedStream parsed = ParseFile(path);
    ASSERT_EQ(parsed.pictures.size(), 2 * firstPart + secondPart);
    for (size_t i = 0; i < parsed.pictures.size(); ++i) {
        bool inSecond = i >= firstPart && i < firstPart + secondPart;
        EXPECT_EQ(parsed.pictures[i].info.scan, inSecond ? kZigzagScan : kAlternateScan) << i;
    }
    EXPECT_EQ(parsed.sequenceHeaders,
              ParseFile(alternate).sequenceHeaders * 2 + ParseFile(zigzag).sequenceHeaders);
    // The sequence header of the second part restores default matrices.
    EXPECT_EQ(Matrix(parsed.last.intra_quantiser_matrix), FfmpegIntraMatrix());
}

// Puts user data in front of every extension of an encoded stream.
std::vector<uint8_t> WithUserDataBeforeExtensions(const std::vector<uint8_t>& bytes) {
    const std::vector<uint8_t> userData = {0, 0, 1, 0xB2, 'C', 'C', 0x00, 0x00, 0x02, 0xB5};
    std::vector<uint8_t> out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i + 3 < bytes.size() && bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 &&
            bytes[i + 3] == 0xB5) {
            out.insert(out.end(), userData.begin(), userData.end());
        }
        out.push_back(bytes[i]);
    }
    return out;
}

TEST(ReferenceStreamHeaders, UserDataBeforeEveryExtensionChangesNothing) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg not available";
    std::string path = FfmpegMpeg2InterlacedStream();
    ASSERT_FALSE(path.empty());
    std::string edited = WorkPath("headers_user_data.m2v");
    ASSERT_TRUE(WriteFileBytes(edited, WithUserDataBeforeExtensions(ReadFileBytes(path))));
    ParsedStream original = ParseFile(path);
    ParsedStream withUserData = ParseFile(edited);
    ASSERT_EQ(withUserData.pictures.size(), original.pictures.size());
    EXPECT_EQ(withUserData.last.sequence.mpeg2, 1u);
    EXPECT_EQ(withUserData.last.sequence.progressive_sequence, 0u);
    for (size_t i = 0; i < original.pictures.size(); ++i) {
        const PictureInfo& a = original.pictures[i].info;
        const PictureInfo& b = withUserData.pictures[i].info;
        EXPECT_EQ(b.temporal_reference, a.temporal_reference);
        EXPECT_EQ(b.scan, kAlternateScan);
        EXPECT_EQ(b.q_scale_type, 1u);
        EXPECT_EQ(b.intra_dc_precision, 2u);
        EXPECT_EQ(b.f_code[0][0], a.f_code[0][0]);
        EXPECT_EQ(b.f_code[1][0], a.f_code[1][0]);
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
