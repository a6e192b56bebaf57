#include <gtest/gtest.h>

#include <cmath>

#include "platform/platform.h"
#include "subtitle/subtitle.h"
#include "subtitle_scene.h"
#include "subtitle_test_records.h"

namespace d2u {
namespace test {
namespace {

Scene SmallScene(int32_t x1, int32_t y1, float start, float end) {
    Scene scene;
    scene.rows = RandomPicture(11, 12, 6, 5);
    scene.fields = FieldsForPicture(scene.rows, x1, y1, start, end);
    for (int c = 0; c < 4; ++c)
        scene.fields.colour[c] = ColourEntry(static_cast<uint8_t>(60 * c + 30));
    return scene;
}

// A CSubtitle reading the given records from a file, for RGB output.
class RecordReader {
public:
    explicit RecordReader(const std::vector<std::vector<uint8_t>>& records,
                          const char* name = "records.sub") {
        std::string path = WriteSubtitleFile(name, records);
        subtitle.Load(platform::OpenForReading(path.c_str()), 25.0f, 1, 32);
    }
    CSubtitle subtitle;
};

void ExpectNeverShown(const CSubtitle& subtitle) {
    EXPECT_EQ(subtitle.Header().startTime, 100000.0f);
    EXPECT_EQ(subtitle.Header().endTime, 100000.0f);
}

TEST(SubtitleRecords, AcceptedRecordKeepsItsHeader) {
    Scene scene = SmallScene(30, 40, 1.5f, 2.25f);
    RecordReader reader({scene.Record()});
    ASSERT_EQ(reader.subtitle.ReadNextRecord(), 0);
    const SubtitleRecord& header = reader.subtitle.Header();
    EXPECT_EQ(header.x1, 30);
    EXPECT_EQ(header.y2, 46);
    EXPECT_EQ(header.width, 12);
    EXPECT_EQ(header.startTime, 1.5f);
    EXPECT_EQ(header.endTime, 2.25f);
    EXPECT_EQ(header.IntensityOf(2), 150);
    EXPECT_TRUE(header.IsVisible(3));
    EXPECT_FALSE(header.IsVisible(0));
}

TEST(SubtitleRecords, BadPictureSizesAreRejectedWith1003) {
    for (auto size : {std::make_pair(721, 10), std::make_pair(0, 10), std::make_pair(12, 577),
                      std::make_pair(12, 0), std::make_pair(-5, 10)}) {
        SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
        Scene scene = SmallScene(0, 0, 0.0f, 2.0f);
        scene.fields.width = size.first;
        scene.fields.height = size.second;
        RecordReader reader({scene.Record()});
        EXPECT_EQ(reader.subtitle.ReadNextRecord(), -1003);
        ExpectNeverShown(reader.subtitle);
    }
}

TEST(SubtitleRecords, BadPositionsAreRejectedWith1004) {
    struct Edges {
        int32_t x1, y1, x2, y2;
    };
    for (Edges edges : {Edges{0, 0, 0, 10}, Edges{0, 0, 721, 10}, Edges{0, 0, 10, 0},
                        Edges{0, 0, 10, 577}, Edges{-1, 0, 10, 10}, Edges{721, 0, 10, 10},
                        Edges{0, -1, 10, 10}, Edges{0, 577, 10, 10}}) {
        SCOPED_TRACE(std::to_string(edges.x1) + "," + std::to_string(edges.y1) + " " +
                     std::to_string(edges.x2) + "," + std::to_string(edges.y2));
        Scene scene = SmallScene(0, 0, 0.0f, 2.0f);
        scene.fields.x1 = edges.x1;
        scene.fields.y1 = edges.y1;
        scene.fields.x2 = edges.x2;
        scene.fields.y2 = edges.y2;
        RecordReader reader({scene.Record()});
        EXPECT_EQ(reader.subtitle.ReadNextRecord(), -1004);
        ExpectNeverShown(reader.subtitle);
    }
    // The edges of the accepted ranges.
    Scene corner = SmallScene(0, 0, 0.0f, 2.0f);
    corner.fields.x1 = 720;
    corner.fields.y1 = 576;
    corner.fields.x2 = 720;
    corner.fields.y2 = 576;
    RecordReader reader({corner.Record()});
    EXPECT_EQ(reader.subtitle.ReadNextRecord(), 0);
}

TEST(SubtitleRecords, RejectedRecordsAreNeverDrawn) {
    Scene wide = SmallScene(0, 0, 0.0f, 2.0f);
    wide.fields.width = 721;
    Scene unplaced = SmallScene(0, 0, 0.0f, 2.0f);
    unplaced.fields.x2 = 0;
    Scene header75 = SmallScene(0, 0, 0.0f, 2.0f);
    header75.fields.headerSize = 75;
    for (const Scene& bad : {wide, unplaced, header75}) {
        std::string path = WriteSubtitleFile("rejected.sub", {bad.Record()});
        for (FrameKind kind : {FrameKind::kRgb24, FrameKind::kRgb32, FrameKind::kYuv}) {
            SCOPED_TRACE(KindName(kind));
            SceneJudge judge(kind, {});
            SubtitleHandle handle;
            ASSERT_EQ(LoadFor(kind, path, 25.0f, handle), 0);
            for (int32_t frame : {0, 1, 25, 50, 51, 100}) {
                EXPECT_EQ(judge.Put(handle.Get(), frame), SceneJudge::kNothing) << frame;
            }
        }
    }
}

TEST(SubtitleRecords, HeaderSizeOtherThan76IsSkippedByItsRecordSize) {
    Scene odd = SmallScene(0, 0, 0.0f, 1.0f);
    odd.fields.headerSize = 80;
    Scene next = SmallScene(5, 5, 2.0f, 3.0f);
    RecordReader reader({odd.Record(), next.Record()});
    EXPECT_EQ(reader.subtitle.ReadNextRecord(), -1);
    ExpectNeverShown(reader.subtitle);
    ASSERT_EQ(reader.subtitle.ReadNextRecord(), 0);
    EXPECT_EQ(reader.subtitle.Header().startTime, 2.0f);
    EXPECT_EQ(reader.subtitle.Header().x1, 5);
}

TEST(SubtitleRecords, RecordLargerThanTheRecordAreaIsRejectedAndPassedOver) {
    Scene big = SmallScene(0, 0, 0.0f, 1.0f);
    std::vector<uint8_t> padding(65536 - 76 + 1, 0x11);  // one byte too many
    std::vector<uint8_t> bigRecord = BuildRecord(big.fields, padding, {});
    Scene next = SmallScene(7, 9, 2.0f, 3.0f);
    RecordReader reader({bigRecord, next.Record()});
    EXPECT_EQ(reader.subtitle.ReadNextRecord(), -1);
    ExpectNeverShown(reader.subtitle);
    ASSERT_EQ(reader.subtitle.ReadNextRecord(), 0);
    EXPECT_EQ(reader.subtitle.Header().y1, 9);

    // Exactly the record area is accepted.
    std::vector<uint8_t> fits(65536 - 76, 0x11);
    RecordReader largest({BuildRecord(big.fields, fits, {}), next.Record()}, "largest.sub");
    EXPECT_EQ(largest.subtitle.ReadNextRecord(), 0);
    EXPECT_EQ(largest.subtitle.ReadNextRecord(), 0);
    EXPECT_EQ(largest.subtitle.Header().y1, 9);
}

TEST(SubtitleRecords, RecordSizeSmallerThanTheHeaderIsRejected) {
    Scene broken = SmallScene(0, 0, 0.0f, 1.0f);
    broken.fields.recordSize = 40;
    RecordReader reader({broken.Record()});
    EXPECT_EQ(reader.subtitle.ReadNextRecord(), -1);
    ExpectNeverShown(reader.subtitle);
}

TEST(SubtitleRecords, EndOfFileAndCutRecordsEndTheSubtitles) {
    Scene scene = SmallScene(0, 0, 0.0f, 1.0f);
    std::vector<uint8_t> record = scene.Record();
    {
        RecordReader reader({record});
        EXPECT_EQ(reader.subtitle.ReadNextRecord(), 0);
        EXPECT_EQ(reader.subtitle.ReadNextRecord(), -1);
        ExpectNeverShown(reader.subtitle);
    }
    for (size_t cut : {size_t{1}, size_t{75}, size_t{76}, record.size() - 1}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        RecordReader reader({std::vector<uint8_t>(record.begin(), record.begin() + cut)});
        EXPECT_EQ(reader.subtitle.ReadNextRecord(), -1);
        ExpectNeverShown(reader.subtitle);
    }
}

TEST(SubtitleRecords, WithoutAnySourceTimesMoveOnOneSecondPerRead) {
    CSubtitle subtitle;
    subtitle.Load(platform::kInvalidFile, 25.0f, 0, 0);
    EXPECT_EQ(subtitle.Header().startTime, 0.0f);
    EXPECT_EQ(subtitle.Header().endTime, -1.0f);
    EXPECT_EQ(subtitle.ReadNextRecord(), -1);
    EXPECT_EQ(subtitle.ReadNextRecord(), -1);
    EXPECT_EQ(subtitle.Header().startTime, 2.0f);
    EXPECT_EQ(subtitle.Header().endTime, 1.0f);
}

TEST(SubtitleRecords, MemoryRecordIsCopiedOnReadAndConsumedOnce) {
    Scene scene = SmallScene(3, 4, 0.5f, 1.0f);
    std::vector<uint8_t> bytes = scene.Record();
    CSubtitle subtitle;
    subtitle.Load(platform::kInvalidFile, 25.0f, 1, 24);
    {
        MemoryRecord record(bytes);
        subtitle.SetPendingRecord(record.Get());
        ASSERT_EQ(subtitle.ReadNextRecord(), 0);
    }  // the host's memory is gone; the record was copied
    EXPECT_EQ(subtitle.Header().x1, 3);
    EXPECT_EQ(subtitle.Header().startTime, 0.5f);
    EXPECT_EQ(subtitle.ReadNextRecord(), -1);
    EXPECT_EQ(subtitle.Header().startTime, 1.5f);
    // A memory record with a null data pointer but data to copy is rejected.
    std::vector<uint8_t> nullData(bytes.begin(), bytes.begin() + 76);
    nullData.resize(76 + sizeof(void*), 0);
    subtitle.SetPendingRecord(nullData.data());
    EXPECT_EQ(subtitle.ReadNextRecord(), -1);
    EXPECT_EQ(subtitle.Header().startTime, 100000.0f);
}

TEST(SubtitleRecords, UnusableLoadParametersMakeAHandleThatNeverDraws) {
    Scene scene = SmallScene(0, 0, 0.0f, 10.0f);
    std::string path = WriteSubtitleFile("unusable.sub", {scene.Record()});
    struct Case {
        float frameRate;
        int32_t rgb, bits;
    };
    for (Case c : {Case{25.0f, 1, 16}, Case{25.0f, 1, 8}, Case{25.0f, 1, 0}, Case{0.0f, 1, 32},
                   Case{-25.0f, 0, 0}, Case{std::nanf(""), 0, 0}, Case{INFINITY, 1, 24}}) {
        SCOPED_TRACE(std::to_string(c.frameRate) + " " + std::to_string(c.bits));
        SubtitleHandle handle;
        ASSERT_EQ(D2uDirLoadSubtitle(path.c_str(), handle.Out(), c.frameRate, c.rgb, c.bits), 0);
        ASSERT_NE(handle.Get(), 0u);
        FrameKind kind = c.rgb ? FrameKind::kRgb32 : FrameKind::kYuv;
        SceneJudge judge(kind, {});
        for (int32_t frame : {0, 1, 100, 1000}) {
            EXPECT_EQ(judge.Put(handle.Get(), frame), SceneJudge::kNothing);
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
