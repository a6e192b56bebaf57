#include "subtitle/subtitle_run_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "subtitle_test_records.h"

namespace d2u {

bool operator==(const SubtitleRun& a, const SubtitleRun& b) {
    return a.line == b.line && a.x0 == b.x0 && a.length == b.length && a.colour == b.colour;
}

std::ostream& operator<<(std::ostream& out, const SubtitleRun& run) {
    return out << "{line " << run.line << ", x0 " << run.x0 << ", L " << run.length << ", c "
               << run.colour << "}";
}

namespace {

using test::NibbleWriter;

struct RecordingSink : CSubtitleRunSink {
    void PutRun(const SubtitleRun& run) override { runs.push_back(run); }
    std::vector<SubtitleRun> runs;
};

// Decodes data placed after a 76-byte header, as in the record area.
std::vector<SubtitleRun> Decode(const std::vector<uint8_t>& data, int32_t width, int32_t height,
                                int32_t bottomFieldOffset = -1) {
    std::vector<uint8_t> record(76 + data.size(), 0xEE);
    for (size_t i = 0; i < data.size(); ++i) record[76 + i] = data[i];
    CSubtitleRunDecoder decoder(record.data(), 76, static_cast<int32_t>(record.size()));
    RecordingSink sink;
    decoder.Decode(width, height, bottomFieldOffset, sink);
    return sink.runs;
}

TEST(SubtitleRunDecoder, ReadsAllFourCodeLengths) {
    // One line of 3 + 15 + 63 + 255 pixels in colours 1, 2, 3, 0, each length at the top of
    // its code form: 4-bit 0xD, 8-bit 0x3E, 12-bit 0x0FF, 16-bit 0x03FC.
    NibbleWriter writer;
    writer.Run(3, 1, 1);
    writer.Run(15, 2, 2);
    writer.Run(63, 3, 3);
    writer.Run(255, 0, 4);
    writer.EndRow();
    ASSERT_EQ(writer.Bytes(), (std::vector<uint8_t>{0xD3, 0xE0, 0xFF, 0x03, 0xFC}));
    std::vector<SubtitleRun> expected = {
        {0, 0, 3, 1}, {0, 3, 15, 2}, {0, 18, 63, 3}, {0, 81, 255, 0}};
    EXPECT_EQ(Decode(writer.Bytes(), 336, 1), expected);

    // The bottom of each range: 1 (4-bit 0x4), 4 (8-bit 0x11), 16 (12-bit 0x042),
    // 64 (16-bit 0x0103).
    NibbleWriter lows;
    lows.Run(1, 0, 1);
    lows.Run(4, 1, 2);
    lows.Run(16, 2, 3);
    lows.Run(64, 3, 4);
    lows.EndRow();
    expected = {{0, 0, 1, 0}, {0, 1, 4, 1}, {0, 5, 16, 2}, {0, 21, 64, 3}};
    EXPECT_EQ(Decode(lows.Bytes(), 85, 1), expected);
}

TEST(SubtitleRunDecoder, SixteenBitCodesMayCarryShortLengths) {
    NibbleWriter writer;
    writer.Run(5, 2, 4);   // 0x0016
    writer.Run(20, 1, 4);  // 0x0051
    writer.Run(1, 1, 1);
    writer.EndRow();
    EXPECT_EQ(Decode(writer.Bytes(), 26, 1),
              (std::vector<SubtitleRun>{{0, 0, 5, 2}, {0, 5, 20, 1}, {0, 25, 1, 1}}));
}

TEST(SubtitleRunDecoder, ZeroLengthFillsTheRestOfTheLine) {
    NibbleWriter writer;
    writer.Run(2, 1, 1);
    writer.Run(0, 3, 4);
    writer.EndRow();
    writer.Run(0, 2, 4);  // a whole line
    writer.EndRow();
    EXPECT_EQ(Decode(writer.Bytes(), 10, 3, 1000),
              (std::vector<SubtitleRun>{{0, 0, 2, 1}, {0, 2, 8, 3}, {2, 0, 10, 2}}))
        << "without a bottom field, rows go to lines 0 and 2";
}

TEST(SubtitleRunDecoder, NextRowStartsAtTheNextByteAfterAHalfUsedOne) {
    // Row 0: one 4-bit run (half a byte; the low nibble holds junk). Row 1 starts on the next
    // byte.
    NibbleWriter writer;
    writer.Run(3, 2, 1);
    writer.EndRow(0x7);  // junk that would read as a run if not skipped
    writer.Run(1, 1, 1);
    writer.Run(2, 3, 1);
    writer.EndRow();
    ASSERT_EQ(writer.Bytes(), (std::vector<uint8_t>{0xE7, 0x5B}));
    EXPECT_EQ(Decode(writer.Bytes(), 3, 4, 77),
              (std::vector<SubtitleRun>{{0, 0, 3, 2}, {1, 0, 1, 1}, {1, 1, 2, 3}}));
}

TEST(SubtitleRunDecoder, RunsPastTheWidthAreClippedAndEndTheLine) {
    NibbleWriter writer;
    writer.Run(4, 1, 2);
    writer.Run(10, 2, 2);  // 6 pixels fit
    writer.EndRow();
    writer.Run(3, 3, 1);
    writer.EndRow();
    EXPECT_EQ(Decode(writer.Bytes(), 10, 2, 76 + 2),
              (std::vector<SubtitleRun>{{0, 0, 4, 1}, {0, 4, 6, 2}, {1, 0, 3, 3}}));
}

TEST(SubtitleRunDecoder, BottomFieldOffsetInterleavesTheFields) {
    // Five rows: three of the first field (lines 0, 2, 4), then two of the second (1, 3).
    NibbleWriter writer;
    for (int32_t row = 0; row < 5; ++row) {
        writer.Run(0, row % 4, 4);
        writer.EndRow();
    }
    // Each row is two bytes; the second field starts after three rows.
    std::vector<SubtitleRun> runs = Decode(writer.Bytes(), 8, 5, 76 + 6);
    std::vector<SubtitleRun> expected = {
        {0, 0, 8, 0}, {2, 0, 8, 1}, {4, 0, 8, 2}, {1, 0, 8, 3}, {3, 0, 8, 0}};
    EXPECT_EQ(runs, expected);
}

TEST(SubtitleRunDecoder, OffsetNeverMetAtARowStartKeepsEvenLinesAndStopsAtTheHeight) {
    NibbleWriter writer;
    for (int32_t row = 0; row < 5; ++row) {
        writer.Run(0, 1, 4);
        writer.EndRow();
    }
    // The offset points into the middle of a row: never met. Rows go to lines 0, 2, 4;
    // the fourth row would be line 6 of a 5-line picture and ends the picture.
    std::vector<SubtitleRun> runs = Decode(writer.Bytes(), 8, 5, 76 + 3);
    std::vector<SubtitleRun> expected = {{0, 0, 8, 1}, {2, 0, 8, 1}, {4, 0, 8, 1}};
    EXPECT_EQ(runs, expected);
}

TEST(SubtitleRunDecoder, OffsetAtTheFirstRowPutsEveryRowOnAnOddLine) {
    NibbleWriter writer;
    for (int32_t row = 0; row < 4; ++row) {
        writer.Run(0, 2, 4);
        writer.EndRow();
    }
    std::vector<SubtitleRun> expected = {{1, 0, 6, 2}, {3, 0, 6, 2}};
    EXPECT_EQ(Decode(writer.Bytes(), 6, 4, 76), expected);
}

TEST(SubtitleRunDecoder, DataRunningOutStopsThePicture) {
    NibbleWriter writer;
    writer.Run(0, 1, 4);
    writer.EndRow();
    writer.Run(2, 2, 1);  // the second row is cut after 2 of 6 pixels
    writer.EndRow();
    std::vector<uint8_t> data = writer.Bytes();
    std::vector<SubtitleRun> runs = Decode(data, 6, 4, 1000);
    EXPECT_EQ(runs, (std::vector<SubtitleRun>{{0, 0, 6, 1}, {2, 0, 2, 2}}));
    // A code cut inside itself gives nothing.
    EXPECT_TRUE(Decode(std::vector<uint8_t>{0x00}, 6, 1).empty());
    EXPECT_TRUE(Decode(std::vector<uint8_t>{}, 6, 3).empty());
}

}  // namespace
}  // namespace d2u
