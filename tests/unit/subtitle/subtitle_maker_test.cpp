// tools/subtitle-maker against the library: pictures made into records by the tool come out
// of the library's decoder as they went in.
#include <gtest/gtest.h>

#include <string>

#include "d2udir.h"
#include "subtitle_scene.h"
#include "subtitle_test_records.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

const std::string kTool = std::string(D2U_SOURCE_DIR) + "/tools/subtitle-maker";

bool PythonAvailable() {
    return CommandAvailable("python3");
}

// A binary PGM of the given values.
std::string WritePgm(const std::string& name, const IndexRows& rows) {
    std::string header =
        "P5\n" + std::to_string(rows[0].size()) + " " + std::to_string(rows.size()) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (const auto& row : rows) {
        for (int32_t value : row) bytes.push_back(static_cast<uint8_t>(value));
    }
    std::string path = WorkPath(name);
    WriteFileBytes(path, bytes);
    return path;
}

// The record fields the tool writes for a picture at (x, y) with its default visibility
// (index 0 hidden) and the given palette.
RecordFields ToolFields(const IndexRows& rows, int32_t x, int32_t y, float start, float end,
                        const uint8_t palette[4]) {
    RecordFields fields = FieldsForPicture(rows, x, y, start, end);
    for (int c = 0; c < 4; ++c) fields.colour[c] = static_cast<uint32_t>(palette[c]) << 8;
    fields.visibility[0] = 0;
    return fields;
}

std::string PaletteArgument(const uint8_t palette[4]) {
    return std::to_string(palette[0]) + "," + std::to_string(palette[1]) + "," +
           std::to_string(palette[2]) + "," + std::to_string(palette[3]);
}

TEST(SubtitleMaker, EncoderUnitTestsPass) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 is not installed";
    std::string script =
        std::string(D2U_SOURCE_DIR) + "/tests/unit/subtitle/subtitle_maker_test.py";
    EXPECT_EQ(RunCommand("python3 '" + script + "'"), 0) << "run " << script << " to see why";
}

TEST(SubtitleMaker, IndexedPicturesComeOutOfTheLibraryAsTheyWentIn) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 is not installed";
    const uint8_t palette[4] = {11, 0, 140, 250};  // index 1: visible, intensity 0
    struct Shape {
        int32_t width, height, maxRun;
        const char* lineEnd;
    };
    int32_t number = 0;
    for (Shape shape :
         {Shape{1, 1, 1, "zero"}, Shape{7, 1, 3, "explicit"}, Shape{33, 9, 20, "zero"},
          Shape{33, 9, 20, "explicit"}, Shape{720, 3, 700, "zero"}, Shape{720, 4, 300, "explicit"},
          Shape{95, 47, 70, "explicit"}}) {
        SCOPED_TRACE(std::to_string(shape.width) + "x" + std::to_string(shape.height) + " " +
                     shape.lineEnd);
        IndexRows rows = RandomPicture(100 + static_cast<uint32_t>(number), shape.width,
                                       shape.height, shape.maxRun);
        std::string picture = WritePgm("maker_" + std::to_string(number) + ".pgm", rows);
        std::string output = WorkPath("maker_" + std::to_string(number) + ".sub");
        ++number;
        ASSERT_EQ(RunCommand("python3 '" + kTool + "' -o '" + output + "' --indexed --palette " +
                             PaletteArgument(palette) + " --line-end " + shape.lineEnd +
                             " --record '" + picture + "' 0 1 0 0"),
                  0);
        bool endCode = std::string(shape.lineEnd) == "zero";
        Scene scene{rows, ToolFields(rows, 0, 0, 0.0f, 1.0f, palette), endCode};
        // The tool and the test's own encoder agree byte for byte.
        EXPECT_EQ(ReadFileBytes(output), scene.Record());
        for (FrameKind kind : {FrameKind::kRgb24, FrameKind::kYuv}) {
            SCOPED_TRACE(KindName(kind));
            int32_t width = std::max(shape.width, 96);
            HostRgbFrame rgb(width, shape.height, 3, 5);
            HostYuvFrame yuv(width, shape.height + 1, 5, 9);
            SubtitleHandle handle;
            ASSERT_EQ(LoadFor(kind, output, 25.0f, handle), 0);
            if (kind == FrameKind::kYuv) {
                ASSERT_EQ(D2uDirPutSubtitleYUV(handle.Get(), yuv.Frame(), 0), 0);
                ExpectedYuv expected = ExpectedYuvFrame(yuv, 5, 9, rows, scene.fields, endCode);
                EXPECT_EQ(yuv.y.Contents(), expected.y);
                EXPECT_EQ(yuv.u.Contents(), expected.u);
            } else {
                D2uRgbFrame descriptor = rgb.Descriptor();
                ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 0), 0);
                EXPECT_EQ(rgb.pixels.Contents(), ExpectedRgbFrame(rgb, 5, rows, scene.fields));
            }
        }
    }
}

TEST(SubtitleMaker, GreyPicturesAndPngGiveTheSameRecords) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 is not installed";
    // Grey levels near the default palette 0, 85, 170, 255.
    IndexRows grey(12, std::vector<int32_t>(40, 3));
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            static const int32_t kLevels[4] = {5, 90, 160, 250};
            grey[static_cast<size_t>(y)][static_cast<size_t>(x)] = kLevels[(x / 5 + y / 3) % 4];
        }
    }
    std::string pgm = WritePgm("maker_grey.pgm", grey);
    std::string fromPgm = WorkPath("maker_grey.sub");
    ASSERT_EQ(RunCommand("python3 '" + kTool + "' -o '" + fromPgm + "' --record '" + pgm +
                         "' 0 1 100 200"),
              0);
    IndexRows indices = grey;
    for (auto& row : indices) {
        for (auto& value : row) value = value == 5 ? 0 : value == 90 ? 1 : value == 160 ? 2 : 3;
    }
    const uint8_t palette[4] = {0, 85, 170, 255};
    RecordFields fields = ToolFields(indices, 100, 200, 0.0f, 1.0f, palette);
    EXPECT_EQ(ReadFileBytes(fromPgm), BuildRecord(fields, indices, true));

    if (!CommandAvailable("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    std::string png = WorkPath("maker_grey.png");
    ASSERT_EQ(RunCommand("convert '" + pgm + "' '" + png + "'"), 0);
    std::string fromPng = WorkPath("maker_grey_png.sub");
    ASSERT_EQ(RunCommand("python3 '" + kTool + "' -o '" + fromPng + "' --record '" + png +
                         "' 0 1 100 200"),
              0);
    EXPECT_EQ(ReadFileBytes(fromPng), ReadFileBytes(fromPgm));
}

TEST(SubtitleMaker, TwoRecordFileFollowsTheTimingAt25FramesPerSecond) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 is not installed";
    const uint8_t palette[4] = {0, 60, 120, 240};
    IndexRows first = RandomPicture(7, 30, 10, 6);
    IndexRows second = RandomPicture(8, 20, 14, 4);
    std::string output = WorkPath("maker_timing.sub");
    ASSERT_EQ(
        RunCommand("python3 '" + kTool + "' -o '" + output + "' --indexed --palette " +
                   PaletteArgument(palette) + " --record '" + WritePgm("maker_first.pgm", first) +
                   "' 0 2 3 5 --record '" + WritePgm("maker_second.pgm", second) + "' 3 5 51 21"),
        0);
    std::vector<Scene> scenes = {
        Scene{first, ToolFields(first, 3, 5, 0.0f, 2.0f, palette), true},
        Scene{second, ToolFields(second, 51, 21, 3.0f, 5.0f, palette), true}};
    for (FrameKind kind : {FrameKind::kRgb32, FrameKind::kYuv}) {
        SCOPED_TRACE(KindName(kind));
        SceneJudge judge(kind, scenes);
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, output, 25.0f, handle), 0);
        for (int32_t frame = 0; frame <= 130; ++frame) {
            int expected = frame <= 50    ? 0
                           : frame < 75   ? SceneJudge::kNothing
                           : frame <= 125 ? 1
                                          : SceneJudge::kNothing;
            ASSERT_EQ(judge.Put(handle.Get(), frame), expected) << "frame " << frame;
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
