// d2udir info, preview and subtitle on the samples, against ffprobe, the library's own previews
// and the undrawn pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_runner.h"

namespace d2u {
namespace test {
namespace {

// The value after "label:" in the command's output.
std::string InfoValue(const std::string& text, const std::string& label) {
    size_t at = text.find("\n" + label + ":");
    if (at == std::string::npos) at = text.find(label + ":") == 0 ? 0 : std::string::npos;
    if (at == std::string::npos) return "";
    at = text.find(':', at) + 1;
    at = text.find_first_not_of(' ', at);
    return text.substr(at, text.find('\n', at) - at);
}

// Coding types of every picture as ffprobe counts them, e.g. "7 I, 19 P, 49 B".
std::string ProbedTypeCounts(const std::string& path) {
    std::string types = CaptureCommand(
        "ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 " +
        Quoted(path));
    std::map<char, int> counts;
    for (char c : types) {
        if (c == 'I' || c == 'P' || c == 'B') ++counts[c];
    }
    std::string text;
    for (char type : {'I', 'P', 'B'}) {
        if (counts[type] == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(counts[type]) + " " + type;
    }
    return text;
}

TEST(CliInfo, SamplesAsFfprobeSeesThem) {
    for (const char* sample : {"sample.m2v", "sample.vob"}) {
        std::string path = SamplePath(sample);
        CommandResult run = RunCli("info " + Quoted(path));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(InfoValue(run.out, "size"),
                  ProbeField(path, "width") + " x " + ProbeField(path, "height"));
        std::string frames = CaptureCommand(
            "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=nb_read_frames -of default=nw=1:nk=1 " +
            Quoted(path));
        EXPECT_EQ(InfoValue(run.out, "frames"),
                  frames.substr(0, frames.find('\n')) + " (" + ProbedTypeCounts(path) + ")");
        EXPECT_EQ(InfoValue(run.out, "interlacing").find("top field first") != std::string::npos,
                  ProbeField(path, "field_order") == "tt")
            << sample;
        EXPECT_NE(InfoValue(run.out, "video").find("MPEG-2, Main profile, Main level"),
                  std::string::npos);

        // One line per picture after a heading, beginning with an I picture.
        CommandResult listed = RunCli("info --frames " + Quoted(path));
        ASSERT_EQ(listed.status, 0);
        std::string table = listed.out.substr(listed.out.find("\n\n") + 2);
        std::istringstream lines(table);
        std::string heading, first;
        std::getline(lines, heading);
        std::getline(lines, first);
        EXPECT_NE(first.find(" I "), std::string::npos) << first;
        size_t rows = 1;
        for (std::string line; std::getline(lines, line);) ++rows;
        EXPECT_EQ(std::to_string(rows), frames.substr(0, frames.find('\n')));
    }
}

struct Bitmap {
    int32_t width = 0, height = 0;
    size_t offset = 0;
    std::vector<uint8_t> bytes;
    const uint8_t* Pixel(int32_t x, int32_t y) const {  // bottom row first in the file
        return &bytes[offset + (static_cast<size_t>(height - 1 - y) * width + x) * 4];
    }
};

Bitmap ReadBitmap(const std::string& path) {
    Bitmap bitmap;
    bitmap.bytes = ReadFileBytes(path);
    if (bitmap.bytes.size() < 54) return bitmap;
    auto word = [&](size_t at) { return static_cast<int32_t>(LittleEndian32(&bitmap.bytes[at])); };
    bitmap.offset = static_cast<size_t>(word(10));
    bitmap.width = word(18);
    bitmap.height = word(22);
    if (word(28) != 32 || bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.offset + static_cast<size_t>(bitmap.width) * bitmap.height * 4 > bitmap.bytes.size())
        bitmap.width = bitmap.height = 0;
    return bitmap;
}

// A contact sheet's first tile is the preview at the start of the file, and no tile is left
// empty, not even the last one near the end of the file.
TEST(CliPreview, ContactSheetTilesAreThePreviews) {
    std::string source = SamplePath("sample.vob");
    std::string single = WorkPath("cli_preview.bmp"), sheet = WorkPath("cli_sheet.bmp");
    ASSERT_EQ(
        RunCli("preview " + Quoted(source) + " --at 0 --size 160x90 -o " + Quoted(single)).status,
        0);
    ASSERT_EQ(
        RunCli("preview " + Quoted(source) + " --count 9 --size 160x90 -o " + Quoted(sheet)).status,
        0);
    Bitmap preview = ReadBitmap(single), contact = ReadBitmap(sheet);
    ASSERT_EQ(preview.width, 160);
    ASSERT_EQ(preview.height, 90);
    ASSERT_GE(contact.width, 2 * 160);
    ASSERT_GE(contact.height, 2 * 90);
    int mismatches = 0;
    for (int32_t y = 0; y < 90; ++y) {
        for (int32_t x = 0; x < 160; ++x) {
            for (int c = 0; c < 3; ++c)
                mismatches += preview.Pixel(x, y)[c] != contact.Pixel(x + 4, y + 4)[c];
        }
    }
    EXPECT_EQ(mismatches, 0);
    const uint8_t* background = contact.Pixel(0, 0);
    for (int tile = 0; tile < 9; ++tile) {
        int32_t left = 4 + (tile % 3) * (160 + 4), top = 4 + (tile / 3) * (90 + 4);
        int pictured = 0;
        for (int32_t y = 0; y < 90; ++y) {
            for (int32_t x = 0; x < 160; ++x)
                pictured += std::memcmp(contact.Pixel(left + x, top + y), background, 3) != 0;
        }
        EXPECT_GT(pictured, 160 * 90 / 2) << "tile " << tile;
    }

    // An elementary stream, half way in: a picture of the default width.
    std::string middle = WorkPath("cli_preview_middle.bmp");
    ASSERT_EQ(RunCli("preview " + Quoted(SamplePath("sample.m2v")) + " --at-percent 50 -o " +
                     Quoted(middle))
                  .status,
              0);
    EXPECT_EQ(ReadBitmap(middle).width, 320);
}

// Luma of frame `index` of a 720x576 YUV4MPEG2 file.
std::vector<uint8_t> Y4mLuma(const std::string& path, size_t index) {
    std::string head = Text(ReadFileBytes(path, 0, 256));
    size_t lumaBytes = 720 * 576, frameBytes = 6 + lumaBytes * 3 / 2;
    return ReadFileBytes(path, head.find('\n') + 1 + index * frameBytes + 6, lumaBytes);
}

// The subtitles change only the caption's box, only while a record is shown; drawing while
// decoding gives the same stream as drawing afterwards.
TEST(CliSubtitle, CaptionsDrawnWhereAndWhenTheyBelong) {
    std::string video = WorkPath("cli_plain.y4m"), drawn = WorkPath("cli_drawn.y4m");
    std::string whileDecoding = WorkPath("cli_drawn_decoding.y4m");
    std::string source = SamplePath("sample.m2v"), subtitles = SamplePath("sample.sub");
    const std::string first46 = " --frames 46";
    ASSERT_EQ(RunCli("decode " + Quoted(source) + first46 + " -o " + Quoted(video)).status, 0);
    CommandResult run =
        RunCli("subtitle " + Quoted(video) + " " + Quoted(subtitles) + " -o " + Quoted(drawn));
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(RunCli("decode " + Quoted(source) + first46 + " --subtitles " + Quoted(subtitles) +
                     " -o " + Quoted(whileDecoding))
                  .status,
              0);
    EXPECT_EQ(RunCommand("cmp -s " + Quoted(drawn) + " " + Quoted(whileDecoding)), 0);

    ASSERT_EQ(CountPictures(drawn, 720, 576, true), 46);
    // Records: 0.2 s to 1.4 s and 1.6 s to 2.8 s at x 280, y 470, 156 x 44 pixels.
    for (size_t frame : {2u, 20u, 38u, 44u}) {
        std::vector<uint8_t> plain = Y4mLuma(video, frame), captioned = Y4mLuma(drawn, frame);
        ASSERT_EQ(plain.size(), 720u * 576u);
        ASSERT_EQ(captioned.size(), plain.size());
        bool shown = (frame >= 5 && frame <= 35) || (frame >= 40 && frame <= 70);
        int inside = 0, outside = 0;
        for (int32_t y = 0; y < 576; ++y) {
            for (int32_t x = 0; x < 720; ++x) {
                bool changed = plain[y * 720 + x] != captioned[y * 720 + x];
                bool inBox = x >= 280 && x < 280 + 156 && y >= 470 && y < 470 + 44;
                (inBox ? inside : outside) += changed;
            }
        }
        EXPECT_EQ(outside, 0) << frame;
        EXPECT_EQ(inside > 1000, shown) << frame << ": " << inside;
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
