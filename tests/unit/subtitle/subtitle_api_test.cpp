#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "d2udir.h"
#include "subtitle_test_support.h"

namespace d2u {
namespace test {
namespace {

Scene ApiScene() {
    return MakeScene(RandomPicture(31, 16, 8, 5), 4, 4, 0.0f, 2.0f);
}

// A missing file, an RGB depth other than 24 and 32, or a frame rate that is not a positive
// number: the load still makes a handle, which draws nothing and closes to 0.
TEST(SubtitleApi, HandlesThatCannotDrawDrawNothingAndCloseToZero) {
    std::string path = WriteSubtitleFile("api.sub", {ApiScene().Record()});
    const std::string missing = "/nonexistent/subtitles.sub";
    struct Case {
        std::string file;
        float frameRate;
        Kind kind;
        int32_t bits;
    };
    // clang-format off
    for (const Case& c : {Case{missing, 25.0f, Kind::kRgb24, 24}, Case{missing, 25.0f, Kind::kYuv, 0},
                          Case{path, 25.0f, Kind::kRgb32, 16}, Case{path, 25.0f, Kind::kRgb32, 8},
                          Case{path, 25.0f, Kind::kRgb32, 0}, Case{path, 0.0f, Kind::kRgb32, 32},
                          Case{path, -25.0f, Kind::kYuv, 0}, Case{path, std::nanf(""), Kind::kYuv, 0},
                          Case{path, INFINITY, Kind::kRgb24, 24}}) {
        // clang-format on
        SCOPED_TRACE(c.file + " " + std::to_string(c.frameRate) + " " + std::to_string(c.bits));
        D2uHandle handle = 0;
        ASSERT_EQ(
            D2uDirLoadSubtitle(c.file.c_str(), &handle, c.frameRate, c.kind != Kind::kYuv, c.bits),
            0);
        ASSERT_NE(handle, 0u);
        for (int32_t frame : {0, 1, 50, 1000})
            EXPECT_EQ(Shown(c.kind, handle, frame, {}), kNothing);
        EXPECT_EQ(D2uDirCloseSubtitle(&handle), 0);
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(D2uDirCloseSubtitle(&handle), 0);  // closing 0 does nothing
    }
    EXPECT_EQ(D2uDirCloseSubtitle(nullptr), 0);
}

TEST(SubtitleApi, WideFileNamesOpenTheSameFile) {
    Scene scene = ApiScene();
    std::string path = WriteSubtitleFile("wide_\xC3\xA9t\xC3\xA9.sub", {scene.Record()});
    // The work directory and the name, as wide characters (the name holds two e-acute).
    const std::string directory = path.substr(0, path.rfind('/') + 1);
    const std::wstring wide =
        std::wstring(directory.begin(), directory.end()) + L"wide_\u00E9t\u00E9.sub";
    SubtitleHandle handle;
    ASSERT_EQ(D2uDirLoadSubtitleW(wide.c_str(), handle.Out(), 25.0f, 1, 32), 0);
    EXPECT_EQ(Shown(Kind::kRgb32, handle.Get(), 10, {scene}), 0);
}

TEST(SubtitleApi, NullArgumentsAreIgnored) {
    Scene scene = ApiScene();
    std::string path = WriteSubtitleFile("null_arguments.sub", {scene.Record()});
    EXPECT_EQ(D2uDirLoadSubtitle(nullptr, nullptr, 25.0f, 1, 32), 0);
    EXPECT_EQ(D2uDirLoadSubtitle(path.c_str(), nullptr, 25.0f, 1, 32), 0);
    EXPECT_EQ(D2uDirLoadSubtitleW(nullptr, nullptr, 25.0f, 1, 32), 0);
    EXPECT_EQ(D2uDirPutSubtitleRGB(0, nullptr, 0), 0);
    EXPECT_EQ(D2uDirPutSubtitleYUV(0, nullptr, 0), 0);
    EXPECT_EQ(D2uDirSubSetScaleFactors(0, 2.0, 2.0), 0);
    EXPECT_EQ(D2uDirSubSetMaxSize(0, 720, 576), 0);
    EXPECT_EQ(D2uDirSetSubtitleData(0, nullptr), 0);

    SubtitleHandle handle;
    ASSERT_EQ(D2uDirLoadSubtitle(path.c_str(), handle.Out(), 25.0f, 1, 32), 0);
    EXPECT_EQ(D2uDirPutSubtitleRGB(handle.Get(), nullptr, 0), 0);
    D2uRgbFrame nowhere{};
    EXPECT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &nowhere, 1), 0);  // null pixels
    EXPECT_EQ(D2uDirSetSubtitleData(handle.Get(), nullptr), 0);
    EXPECT_EQ(Shown(Kind::kRgb32, handle.Get(), 2, {scene}), 0);
    HostFrame shortRows(Kind::kRgb32, 96, 48);
    shortRows.rgb.stride = 8;  // rows shorter than the picture's: nothing is drawn
    EXPECT_EQ(shortRows.Put(handle.Get(), 3), 0);
    EXPECT_TRUE(shortRows.Untouched() && shortRows.GuardsIntact());

    SubtitleHandle yuv;
    ASSERT_EQ(D2uDirLoadSubtitle(path.c_str(), yuv.Out(), 25.0f, 0, 0), 0);
    D2uFrame empty{};
    EXPECT_EQ(D2uDirPutSubtitleYUV(yuv.Get(), &empty, 1), 0);  // planes without data

    // A record in memory whose data pointer is null although its header counts data is refused.
    SubtitleHandle memory;
    ASSERT_EQ(LoadFor(Kind::kRgb32, "/nonexistent/null_data.sub", 25.0f, memory), 0);
    MemoryRecord noData(scene.Record(), 0);
    ASSERT_EQ(D2uDirSetSubtitleData(memory.Get(), noData.Get()), 0);
    EXPECT_EQ(Shown(Kind::kRgb32, memory.Get(), 1, {scene}), kNothing);
}

}  // namespace
}  // namespace test
}  // namespace d2u
