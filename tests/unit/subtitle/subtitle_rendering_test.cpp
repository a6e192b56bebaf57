#include <gtest/gtest.h>

#include "d2udir.h"
#include "support/subtitle_scenes.h"

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

}  // namespace
}  // namespace test
}  // namespace d2u
