#include <gtest/gtest.h>

#include <string>

#include "d2udir.h"
#include "subtitle_scene.h"
#include "subtitle_test_records.h"

namespace d2u {
namespace test {
namespace {

Scene ApiScene() {
    Scene scene;
    scene.rows = RandomPicture(31, 16, 8, 5);
    scene.fields = FieldsForPicture(scene.rows, 4, 4, 0.0f, 2.0f);
    for (int c = 0; c < 4; ++c)
        scene.fields.colour[c] = ColourEntry(static_cast<uint8_t>(50 * c + 10));
    return scene;
}

TEST(SubtitleApi, MissingFileGivesAHandleThatDrawsNothingAndClosesToZero) {
    for (FrameKind kind : {FrameKind::kRgb24, FrameKind::kYuv}) {
        SCOPED_TRACE(KindName(kind));
        D2uHandle handle = 0;
        int32_t rgb = kind == FrameKind::kYuv ? 0 : 1;
        ASSERT_EQ(D2uDirLoadSubtitle("/nonexistent/subtitles.sub", &handle, 25.0f, rgb, 24), 0);
        ASSERT_NE(handle, 0u);
        SceneJudge judge(kind, {});
        for (int32_t frame : {0, 1, 50, 1000}) {
            EXPECT_EQ(judge.Put(handle, frame), SceneJudge::kNothing);
        }
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
    std::wstring wide;
    std::string directory = path.substr(0, path.rfind('/') + 1);
    for (char ch : directory) wide += static_cast<wchar_t>(static_cast<unsigned char>(ch));
    wide += L"wide_\u00E9t\u00E9.sub";
    SubtitleHandle handle;
    ASSERT_EQ(D2uDirLoadSubtitleW(wide.c_str(), handle.Out(), 25.0f, 1, 32), 0);
    SceneJudge judge(FrameKind::kRgb32, {scene});
    EXPECT_EQ(judge.Put(handle.Get(), 10), 0);
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
    SceneJudge judge(FrameKind::kRgb32, {scene});
    EXPECT_EQ(judge.Put(handle.Get(), 2), 0);

    SubtitleHandle yuv;
    ASSERT_EQ(D2uDirLoadSubtitle(path.c_str(), yuv.Out(), 25.0f, 0, 0), 0);
    D2uFrame empty{};
    EXPECT_EQ(D2uDirPutSubtitleYUV(yuv.Get(), &empty, 1), 0);  // planes without data
}

}  // namespace
}  // namespace test
}  // namespace d2u
