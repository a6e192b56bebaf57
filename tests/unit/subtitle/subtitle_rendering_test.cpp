#include <gtest/gtest.h>

#include "d2udir.h"
#include "subtitle_test_support.h"

namespace d2u {
namespace test {
namespace {

// Loads the record for the frame's kind, sets the scaling (maximum size 0: none) and draws it at
// frame 0.
void Draw(const Scene& scene, HostFrame& frame, double sx = 1.0, double sy = 1.0,
          int32_t maxWidth = 0, int32_t maxHeight = 0) {
    SubtitleHandle handle;
    std::string path = WriteSubtitleFile("rendering.sub", {scene.Record()});
    ASSERT_EQ(LoadFor(frame.kind, path, 25.0f, handle), 0);
    if (maxWidth > 0) D2uDirSubSetMaxSize(handle.Get(), maxWidth, maxHeight);
    D2uDirSubSetScaleFactors(handle.Get(), sx, sy);
    ASSERT_EQ(frame.Put(handle.Get(), 0), 0);
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(SubtitleRendering, Yuv422ChromaCoversBothRowsOfEachPair) {
    // A 6 x 4 picture at (5, 7) on a 4:2:2 frame: chroma rows 6 to 9 (both rows of the pairs
    // 3 and 4), columns 2 to 4.
    const int32_t width = 32, height = 24, chromaWidth = width / 2;
    std::vector<uint8_t> y(width * height, 7), u(chromaWidth * height, 200), v = u;
    D2uFrame frame{};
    frame.Y = D2uPlane{width, height, width, y.data()};
    frame.U = D2uPlane{chromaWidth, height, chromaWidth, u.data()};
    frame.V = D2uPlane{chromaWidth, height, chromaWidth, v.data()};
    frame.width = width;
    frame.height = height;
    frame.chromaFormat = 2;
    SubtitleHandle handle;
    std::string path = WriteSubtitleFile(
        "rendering422.sub", {MakeScene(BlockPicture(6, 4, 6, 4), 5, 7, 0.0f, 1.0f).Record()});
    ASSERT_EQ(LoadFor(Kind::kYuv, path, 25.0f, handle), 0);
    ASSERT_EQ(D2uDirPutSubtitleYUV(handle.Get(), &frame, 0), 0);
    for (int32_t row = 0; row < height; ++row) {
        for (int32_t x = 0; x < chromaWidth; ++x) {
            const bool covered = row >= 6 && row < 10 && x >= 2 && x < 5;
            const size_t at = static_cast<size_t>(row * chromaWidth + x);
            EXPECT_EQ(u[at], covered ? 128 : 200) << x << "," << row;
            EXPECT_EQ(v[at], covered ? 128 : 200) << x << "," << row;
        }
    }
    EXPECT_EQ(y[8 * width + 5], 200);
}

// Drawing covers the whole picture, whatever x2 and y2 say, clipped to the screen: the maximum
// size once one is set, else 720 x 576; YUV frames also to their planes. The RGB frames are
// exactly as large as the screen, the YUV frames as their planes: guards catch anything beyond.
TEST(SubtitleRendering, DrawingIsClippedToTheScreenAndThePlanesOnly) {
    IndexRows random = RandomPicture(21, 30, 12, 4);
    for (auto& row : random) row[29] = 2;  // something to clip in the last column
    struct Case {
        std::vector<Kind> kinds;
        Scene scene;
        int32_t x2, y2, maxWidth, maxHeight, frameWidth, frameHeight;
    };
    const std::vector<Kind> rgb = {Kind::kRgb24, Kind::kRgb32};
    // clang-format off
    const Case cases[] = {
        {rgb, MakeScene(random, 700, 570, 0, 1), 701, 571, 0, 0, 720, 576},
        {rgb, MakeScene(BlockPicture(30, 12, 30, 12), 20, 10, 0, 1), 50, 22, 40, 16, 40, 16},
        {{Kind::kRgb24, Kind::kRgb32, Kind::kYuv}, MakeScene(random, 10, 6, 0, 1), 20, 8, 96, 48, 96, 48},
        {{Kind::kYuv}, MakeScene(RandomPicture(23, 40, 20, 7), 81, 37, 0, 1), 121, 57, 0, 0, 96, 48},
        {{Kind::kYuv}, MakeScene(RandomPicture(25, 40, 20, 7), 30, 20, 0, 1), 70, 40, 61, 31, 96, 48},
    };
    // clang-format on
    for (const Case& c : cases) {
        Scene scene = c.scene;
        scene.fields.x2 = c.x2;
        scene.fields.y2 = c.y2;
        const int32_t screenWidth = c.maxWidth > 0 ? c.maxWidth : 720;
        const int32_t screenHeight = c.maxHeight > 0 ? c.maxHeight : 576;
        for (Kind kind : c.kinds) {
            HostFrame frame(kind, c.frameWidth, c.frameHeight, 0);
            HostFrame expected(kind, c.frameWidth, c.frameHeight, 0);
            Draw(scene, frame, 1.0, 1.0, c.maxWidth, c.maxHeight);
            expected.Model(c.scene, screenWidth, screenHeight);
            EXPECT_TRUE(frame == expected) << KindName(kind) << " " << c.x2 << "," << c.y2;
        }
    }
}

// The same record drawn on RGB and YUV frames gives the same grey levels, pixel for pixel:
// unscaled, with x2 and y2 short of the picture, scaled down and up, clipped at the maximum size.
TEST(SubtitleRendering, RgbAndYuvFramesShowTheSameGreyLevels) {
    struct Case {
        int32_t x1, y1, x2, y2;
        double sx, sy;
        int32_t maxWidth, maxHeight;
    };
    // clang-format off
    const Case cases[] = {
        {10, 8, 110, 48, 1.0, 1.0, 0, 0},
        {10, 8, 109, 47, 1.0, 1.0, 0, 0},
        {100, 100, 200, 140, 0.5, 0.5, 200, 120},
        {50, 60, 150, 100, 1.5, 1.5, 200, 120},
        {50, 60, 60, 70, 1.5, 3.0, 200, 120},
    };
    // clang-format on
    const IndexRows rows = RandomPicture(26, 100, 40, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sx) + " x " + std::to_string(c.sy) + " at " +
                     std::to_string(c.x1) + "," + std::to_string(c.y1));
        Scene scene = MakeScene(rows, c.x1, c.y1, 0.0f, 1.0f);
        scene.fields.x2 = c.x2;
        scene.fields.y2 = c.y2;
        HostFrame yuv(Kind::kYuv, 200, 120, 0);
        Draw(scene, yuv, c.sx, c.sy, c.maxWidth, c.maxHeight);
        ASSERT_FALSE(yuv.Untouched());
        for (Kind kind : {Kind::kRgb24, Kind::kRgb32}) {
            HostFrame rgb(kind, 200, 120, 0);
            Draw(scene, rgb, c.sx, c.sy, c.maxWidth, c.maxHeight);
            int32_t differing = 0;
            for (int32_t y = 0; y < 120; ++y) {
                for (int32_t x = 0; x < 200; ++x) {
                    for (int32_t k = 0; k < 3; ++k)
                        differing += rgb.At(0, x, y, k) != yuv.At(0, x, y);
                }
            }
            EXPECT_EQ(differing, 0) << KindName(kind);
        }
    }
}

TEST(SubtitleRendering, BottomUpRgbFramesTakeANegativeStride) {
    Scene scene = MakeScene(RandomPicture(22, 20, 9, 6), 3, 2, 0.0f, 1.0f);
    HostFrame topDown(Kind::kRgb32, 32, 16), bottomUp(Kind::kRgb32, 32, 16);
    bottomUp.rgb.data += 15 * bottomUp.rgb.stride;
    bottomUp.rgb.stride = -bottomUp.rgb.stride;
    Draw(scene, topDown);
    Draw(scene, bottomUp);
    for (int32_t row = 0; row < 16; ++row) {
        for (int32_t i = 0; i < 32 * 4; ++i) {
            ASSERT_EQ(topDown.At(0, 0, row, i), bottomUp.At(0, 0, 15 - row, i)) << row;
        }
    }
}

// Pictures of colour 2 in a top-left block and colour 3 or 0 (hidden) elsewhere: scaled, they are
// resized (and kept within 720 x 576) and moved, on RGB and YUV frames alike, with chroma 128
// under their drawn part.
TEST(SubtitleRendering, ScaledPicturesAreResizedAndMovedOnEveryKindOfFrame) {
    struct Case {
        IndexRows rows;
        int32_t x1, y1;
        double sx, sy;
        int32_t maxWidth, maxHeight, frameWidth, frameHeight;
        int32_t placed[4];                               // x1, y1, x2, y2
        int32_t width, height, blockWidth, blockHeight;  // scaled
        int32_t rest = 3;
    };
    // clang-format off
    const Case cases[] = {
        // Xs 595, X2s 845: shift 360; Y2s 550 / (1440 / 720).
        {BlockPicture(200, 40, 100, 40), 476, 400, 1.25, 1.25, 720, 576, 720, 576,
         {235, 225, 485, 275}, 250, 50, 125, 50},
        // Xs 170, X2s 190: shift -180; Y2s 30 / (360 / 720) = 60, y1 = 20 - (30 - 60).
        {BlockPicture(40, 20, 20, 10), 340, 40, 0.5, 0.5, 720, 576, 720, 576,
         {350, 50, 370, 60}, 20, 10, 10, 5},
        // Xs 200, X2s 280: shift -120; Y2s 120 / (480 / 720) = 180, y1 = 100 - (120 - 180).
        {BlockPicture(40, 20, 20, 10, 0), 100, 100, 2.0, 1.0, 720, 576, 720, 576,
         {320, 160, 400, 180}, 80, 20, 40, 10, 0},
        // 1200 x 600 kept as 720 x 576. Xs 0, X2s 1200: shift -400; Y2s 600 / (1200 / 2000).
        {BlockPicture(600, 300, 0, 0), 0, 0, 2.0, 2.0, 2000, 2000, 1600, 1000,
         {400, 400, 1600, 1000}, 720, 576, 0, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        for (Kind kind : kAllKinds) {
            SCOPED_TRACE(std::string(KindName(kind)) + " " + std::to_string(c.sx) + " x " +
                         std::to_string(c.sy));
            HostFrame frame(kind, c.frameWidth, c.frameHeight);
            HostFrame expected(kind, c.frameWidth, c.frameHeight);
            Draw(MakeScene(c.rows, c.x1, c.y1, 0.0f, 1.0f), frame, c.sx, c.sy, c.maxWidth,
                 c.maxHeight);
            const bool yuv = kind == Kind::kYuv;
            Scene placed =
                MakeScene(BlockPicture(c.width, c.height, c.blockWidth, c.blockHeight, c.rest),
                          c.placed[0], c.placed[1], 0.0f, 1.0f);
            expected.Model(placed, c.maxWidth, c.maxHeight);
            const int32_t drawnWidth = c.rest ? c.width : c.blockWidth;
            const int32_t drawnHeight = c.rest ? c.height : c.blockHeight;
            for (int32_t y = 0; yuv && y < drawnHeight / 2; ++y) {
                for (int32_t x = 0; x < drawnWidth / 2; ++x) {
                    const int32_t cx = c.placed[0] / 2 + x, cy = c.placed[1] / 2 + y;
                    expected.At(1, cx, cy) = expected.At(2, cx, cy) = 128;
                }
            }
            EXPECT_TRUE(frame == expected);
        }
    }
}

TEST(SubtitleRendering, ScalingTakesEffectFromTheNextRecord) {
    // At 1.25 with a 96 x 48 maximum: Xs 25, X2s 75, shift 2; Y2s 22 / (100 / 96) = 21.
    const IndexRows rows = BlockPicture(40, 8, 20, 4);
    std::vector<Scene> scenes = {MakeScene(rows, 20, 10, 0.0f, 1.0f),
                                 MakeScene(BlockPicture(50, 10, 25, 5), 23, 11, 2.0f, 3.0f)};
    Scene second = MakeScene(rows, 20, 10, 2.0f, 3.0f);
    SubtitleHandle handle;
    std::string path = WriteSubtitleFile("next.sub", {scenes[0].Record(), second.Record()});
    ASSERT_EQ(LoadFor(Kind::kRgb32, path, 25.0f, handle), 0);
    EXPECT_EQ(Shown(Kind::kRgb32, handle.Get(), 0, scenes), 0);
    D2uDirSubSetMaxSize(handle.Get(), 96, 48);
    D2uDirSubSetScaleFactors(handle.Get(), 1.25, 1.25);
    EXPECT_EQ(Shown(Kind::kRgb32, handle.Get(), 1, scenes), 0);
    EXPECT_EQ(Shown(Kind::kRgb32, handle.Get(), 50, scenes), 1);
}

}  // namespace
}  // namespace test
}  // namespace d2u
