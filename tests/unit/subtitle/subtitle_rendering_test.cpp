#include <gtest/gtest.h>

#include "d2udir.h"
#include "subtitle_scene.h"
#include "subtitle_test_records.h"

namespace d2u {
namespace test {
namespace {

// Colour index -> intensity used by most tests here: 0 hidden, 1 visible with intensity 0,
// 2 and 3 drawn.
RecordFields Palette(RecordFields fields) {
    const uint8_t intensities[4] = {40, 0, 200, 90};
    for (int c = 0; c < 4; ++c) fields.colour[c] = ColourEntry(intensities[c]);
    fields.visibility[0] = 0;
    fields.visibility[1] = 1;
    fields.visibility[2] = 1;
    fields.visibility[3] = 1;
    return fields;
}

IndexRows Solid(int32_t width, int32_t height, int32_t colour) {
    return IndexRows(static_cast<size_t>(height),
                     std::vector<int32_t>(static_cast<size_t>(width), colour));
}

std::string WriteOne(const std::string& name, const std::vector<uint8_t>& record) {
    return WriteSubtitleFile(name, {record});
}

TEST(SubtitleRendering, HandCodedFieldsHalfBytesAndLineEndsDrawAsCoded) {
    // A 7 x 5 picture: first field rows 0, 2, 4 and second field rows 1, 3, hand coded.
    NibbleWriter top;
    top.Run(2, 2, 1);  // row 0: 2 x colour 2, then the rest colour 3
    top.Run(0, 3, 4);
    top.EndRow(0xF);   // half-used byte, junk in the low nibble
    top.Run(7, 1, 2);  // row 2: all colour 1 (visible, intensity 0: not drawn)
    top.EndRow();
    top.Run(3, 3, 1);  // row 4: 3 x colour 3, 1 x colour 0, 9 x colour 2 (clipped to 3)
    top.Run(1, 0, 1);
    top.Run(9, 2, 2);
    top.EndRow();
    NibbleWriter bottom;
    bottom.Run(0, 2, 4);  // row 1: all colour 2
    bottom.EndRow();
    bottom.Run(5, 0, 2);  // row 3: 5 x colour 0 (hidden), 2 x colour 3
    bottom.Run(2, 3, 1);
    bottom.EndRow();
    const IndexRows picture = {{2, 2, 3, 3, 3, 3, 3},
                               {2, 2, 2, 2, 2, 2, 2},
                               {1, 1, 1, 1, 1, 1, 1},
                               {0, 0, 0, 0, 0, 3, 3},
                               {3, 3, 3, 0, 2, 2, 2}};
    RecordFields fields = Palette(FieldsForPicture(picture, 13, 21, 0.0f, 1.0f));
    std::string path = WriteOne("hand_coded.sub", BuildRecord(fields, top.Bytes(), bottom.Bytes()));
    for (FrameKind kind : {FrameKind::kRgb24, FrameKind::kRgb32}) {
        SCOPED_TRACE(KindName(kind));
        SceneJudge judge(kind, {Scene{picture, fields, true}});
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, path, 25.0f, handle), 0);
        EXPECT_EQ(judge.Put(handle.Get(), 0), 0);
    }
    // Luma on a YUV frame, checked pixel by pixel.
    HostYuvFrame frame(40, 32, 5, 77);
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kYuv, path, 25.0f, handle), 0);
    ASSERT_EQ(D2uDirPutSubtitleYUV(handle.Get(), frame.Frame(), 0), 0);
    const int32_t drawn[5][7] = {{200, 200, 90, 90, 90, 90, 90},
                                 {200, 200, 200, 200, 200, 200, 200},
                                 {5, 5, 5, 5, 5, 5, 5},
                                 {5, 5, 5, 5, 5, 90, 90},
                                 {90, 90, 90, 5, 200, 200, 200}};
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
            EXPECT_EQ(frame.y.Data()[(21 + y) * 40 + 13 + x], drawn[y][x]) << x << "," << y;
        }
    }
}

TEST(SubtitleRendering, YuvChromaBecomes128UnderThePictureFromRowY1Over2) {
    // A solid 6 x 4 picture at odd x1, y1 = 5, 7: chroma columns 2 to 4, rows 3 to 4.
    IndexRows picture = Solid(6, 4, 2);
    RecordFields fields = Palette(FieldsForPicture(picture, 5, 7, 0.0f, 1.0f));
    std::string path = WriteOne("chroma.sub", BuildRecord(fields, picture));
    HostYuvFrame frame(32, 24, 10, 60);
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kYuv, path, 25.0f, handle), 0);
    ASSERT_EQ(D2uDirPutSubtitleYUV(handle.Get(), frame.Frame(), 0), 0);
    for (int32_t cy = 0; cy < 12; ++cy) {
        for (int32_t cx = 0; cx < 16; ++cx) {
            bool under = cx >= 2 && cx <= 4 && cy >= 3 && cy <= 4;
            int32_t expected = under ? 128 : 60;
            ASSERT_EQ(frame.u.Data()[cy * frame.chromaPitch + cx], expected) << cx << "," << cy;
            ASSERT_EQ(frame.v.Data()[cy * frame.chromaPitch + cx], expected) << cx << "," << cy;
        }
    }
    for (int32_t y = 0; y < 24; ++y) {
        for (int32_t x = 0; x < 32; ++x) {
            bool under = x >= 5 && x < 11 && y >= 7 && y < 11;
            ASSERT_EQ(frame.y.Data()[y * 32 + x], under ? 200 : 10) << x << "," << y;
        }
    }
}

TEST(SubtitleRendering, HandleOfTheOtherKindLeavesTheFrameAlone) {
    IndexRows picture = Solid(8, 8, 3);
    RecordFields fields = Palette(FieldsForPicture(picture, 0, 0, 0.0f, 100.0f));
    std::string path = WriteOne("wrong_kind.sub", BuildRecord(fields, picture));
    SubtitleHandle rgb;
    ASSERT_EQ(LoadFor(FrameKind::kRgb32, path, 25.0f, rgb), 0);
    SubtitleHandle yuv;
    ASSERT_EQ(LoadFor(FrameKind::kYuv, path, 25.0f, yuv), 0);
    HostYuvFrame yuvFrame(16, 16, 1, 2);
    EXPECT_EQ(D2uDirPutSubtitleYUV(rgb.Get(), yuvFrame.Frame(), 10), 0);
    EXPECT_EQ(yuvFrame.y.Contents(), std::vector<uint8_t>(256, 1));
    EXPECT_EQ(yuvFrame.u.Contents(), HostYuvFrame(16, 16, 1, 2).u.Contents());
    HostRgbFrame rgbFrame(16, 16, 4, 3);
    D2uRgbFrame descriptor = rgbFrame.Descriptor();
    EXPECT_EQ(D2uDirPutSubtitleRGB(yuv.Get(), &descriptor, 10), 0);
    EXPECT_EQ(rgbFrame.pixels.Contents(), std::vector<uint8_t>(rgbFrame.pixels.Size(), 3));
    // Each still draws on its own kind.
    SceneJudge rgbJudge(FrameKind::kRgb32, {Scene{picture, fields, true}});
    EXPECT_EQ(rgbJudge.Put(rgb.Get(), 11), 0);
    SceneJudge yuvJudge(FrameKind::kYuv, {Scene{picture, fields, true}});
    EXPECT_EQ(yuvJudge.Put(yuv.Get(), 11), 0);
}

TEST(SubtitleRendering, RgbDrawingStopsAtTheRecordsRightAndBottomEdges) {
    IndexRows picture = RandomPicture(21, 30, 12, 4);
    for (auto& row : picture) row[29] = 2;  // something to clip in the last column
    RecordFields fields = Palette(FieldsForPicture(picture, 10, 6, 0.0f, 1.0f));
    fields.x2 = fields.x1 + 27;
    fields.y2 = fields.y1 + 10;
    std::string path = WriteOne("clip_rgb.sub", BuildRecord(fields, picture));
    for (int32_t bytes : {3, 4}) {
        // The frame is exactly x2 x y2 large: its guards catch any write beyond.
        HostRgbFrame frame(fields.x2, fields.y2, bytes, 9);
        frame.stride = fields.x2 * bytes;
        frame.pixels = GuardedBuffer(static_cast<size_t>(frame.stride) * fields.y2, 9);
        SubtitleHandle handle;
        ASSERT_EQ(D2uDirLoadSubtitle(path.c_str(), handle.Out(), 25.0f, 1, bytes * 8), 0);
        D2uRgbFrame descriptor = frame.Descriptor();
        ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 0), 0);
        EXPECT_TRUE(frame.pixels.GuardsIntact());
        EXPECT_EQ(frame.pixels.Contents(), ExpectedRgbFrame(frame, 9, picture, fields));
    }
}

TEST(SubtitleRendering, MaximumSizeBoundsRgbDrawingAlsoWithoutScaling) {
    IndexRows picture = Solid(30, 12, 2);
    RecordFields fields = Palette(FieldsForPicture(picture, 20, 10, 0.0f, 1.0f));
    std::string path = WriteOne("clip_max.sub", BuildRecord(fields, picture));
    // A 40 x 16 frame, announced as the maximum size; the record reaches to 50 x 22.
    HostRgbFrame frame(40, 16, 3, 9);
    frame.stride = 40 * 3;
    frame.pixels = GuardedBuffer(40u * 3u * 16u, 9);
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kRgb24, path, 25.0f, handle), 0);
    D2uDirSubSetMaxSize(handle.Get(), 40, 16);
    D2uRgbFrame descriptor = frame.Descriptor();
    ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 0), 0);
    EXPECT_TRUE(frame.pixels.GuardsIntact());
    RecordFields clipped = fields;
    clipped.x2 = 40;
    clipped.y2 = 16;
    EXPECT_EQ(frame.pixels.Contents(), ExpectedRgbFrame(frame, 9, picture, clipped));
}

TEST(SubtitleRendering, BottomUpRgbFramesTakeANegativeStride) {
    IndexRows picture = RandomPicture(22, 20, 9, 6);
    RecordFields fields = Palette(FieldsForPicture(picture, 3, 2, 0.0f, 1.0f));
    std::string path = WriteOne("bottom_up.sub", BuildRecord(fields, picture));
    HostRgbFrame topDown(32, 16, 4, 9);
    HostRgbFrame bottomUp(32, 16, 4, 9);
    SubtitleHandle first, second;
    ASSERT_EQ(LoadFor(FrameKind::kRgb32, path, 25.0f, first), 0);
    ASSERT_EQ(LoadFor(FrameKind::kRgb32, path, 25.0f, second), 0);
    D2uRgbFrame descriptor = topDown.Descriptor();
    ASSERT_EQ(D2uDirPutSubtitleRGB(first.Get(), &descriptor, 0), 0);
    descriptor = bottomUp.Descriptor();
    descriptor.data = bottomUp.pixels.Data() + 15 * bottomUp.stride;
    descriptor.stride = -bottomUp.stride;
    ASSERT_EQ(D2uDirPutSubtitleRGB(second.Get(), &descriptor, 0), 0);
    EXPECT_TRUE(bottomUp.pixels.GuardsIntact());
    for (int32_t row = 0; row < 16; ++row) {
        ASSERT_TRUE(std::equal(topDown.Pixel(0, row), topDown.Pixel(0, row) + 32 * 4,
                               bottomUp.Pixel(0, 15 - row)))
            << "row " << row;
    }
}

TEST(SubtitleRendering, YuvPictureReachingOutsideTheFrameIsClippedToThePlanes) {
    IndexRows picture = RandomPicture(23, 40, 20, 7);
    RecordFields fields = Palette(FieldsForPicture(picture, 81, 37, 0.0f, 1.0f));
    std::string path = WriteOne("clip_yuv.sub", BuildRecord(fields, picture));
    SceneJudge judge(FrameKind::kYuv, {Scene{picture, fields, true}});
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kYuv, path, 25.0f, handle), 0);
    EXPECT_EQ(judge.Put(handle.Get(), 0), 0);  // the model clips to the 96 x 48 frame
}

// ---- scaling --------------------------------------------------------------------------------

struct ScaledCase {
    RecordFields fields;
    IndexRows picture;
    std::string path;
};

// A 200 x 40 picture at (476, 400): at factor 1.25 with a 720 x 576 maximum it becomes
// 250 x 50 at (235, 225), right and bottom edges 485 and 275.
ScaledCase WideCase(const std::string& name) {
    ScaledCase c;
    c.picture = Solid(200, 40, 2);
    for (auto& row : c.picture) std::fill(row.begin() + 100, row.end(), 3);
    c.fields = Palette(FieldsForPicture(c.picture, 476, 400, 0.0f, 10.0f));
    c.path = WriteOne(name, BuildRecord(c.fields, c.picture));
    return c;
}

TEST(SubtitleRendering, ScaledRgbPictureIsMovedButNotResized) {
    ScaledCase c = WideCase("scaled_rgb.sub");
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kRgb32, c.path, 25.0f, handle), 0);
    ASSERT_EQ(D2uDirSubSetMaxSize(handle.Get(), 720, 576), 0);
    ASSERT_EQ(D2uDirSubSetScaleFactors(handle.Get(), 1.25, 1.25), 0);
    HostRgbFrame frame(720, 576, 4, 1);
    D2uRgbFrame descriptor = frame.Descriptor();
    ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 0), 0);
    RecordFields moved = c.fields;
    moved.x1 = 235;
    moved.y1 = 225;
    moved.x2 = 485;
    moved.y2 = 275;
    EXPECT_EQ(frame.pixels.Contents(), ExpectedRgbFrame(frame, 1, c.picture, moved));
}

TEST(SubtitleRendering, ScaledYuvPictureIsResizedAtItsNewPlace) {
    ScaledCase c = WideCase("scaled_yuv.sub");
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kYuv, c.path, 25.0f, handle), 0);
    ASSERT_EQ(D2uDirSubSetMaxSize(handle.Get(), 720, 576), 0);
    ASSERT_EQ(D2uDirSubSetScaleFactors(handle.Get(), 1.25, 1.25), 0);
    HostYuvFrame frame(720, 576, 1, 50);
    ASSERT_EQ(D2uDirPutSubtitleYUV(handle.Get(), frame.Frame(), 0), 0);
    for (int32_t y = 0; y < 576; ++y) {
        for (int32_t x = 0; x < 720; ++x) {
            int32_t expected = 1;
            if (y >= 225 && y < 275 && x >= 235 && x < 485) expected = x < 360 ? 200 : 90;
            ASSERT_EQ(frame.y.Data()[y * 720 + x], expected) << x << "," << y;
        }
    }
    for (int32_t cy = 0; cy < 288; ++cy) {
        for (int32_t cx = 0; cx < 360; ++cx) {
            bool under = cy >= 112 && cy < 112 + 25 && cx >= 117 && cx < 117 + 125;
            ASSERT_EQ(frame.u.Data()[cy * frame.chromaPitch + cx], under ? 128 : 50)
                << cx << "," << cy;
        }
    }
}

TEST(SubtitleRendering, FactorsNearOneOrWithoutMaximumSizeDrawUnscaled) {
    ScaledCase c = WideCase("unscaled.sub");
    SceneJudge judge(FrameKind::kRgb24, {});
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(FrameKind::kRgb24, c.path, 25.0f, handle), 0);
        if (variant == 0) {
            D2uDirSubSetMaxSize(handle.Get(), 720, 576);
            D2uDirSubSetScaleFactors(handle.Get(), 1.005, 0.995);
        } else if (variant == 1) {
            D2uDirSubSetScaleFactors(handle.Get(), 1.5, 1.5);  // no maximum size yet
        } else {
            D2uDirSubSetMaxSize(handle.Get(), 720, 576);
            D2uDirSubSetScaleFactors(handle.Get(), 1.0, 1.0);
        }
        HostRgbFrame frame(720, 576, 3, 1);
        D2uRgbFrame descriptor = frame.Descriptor();
        ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 0), 0);
        EXPECT_EQ(frame.pixels.Contents(), ExpectedRgbFrame(frame, 1, c.picture, c.fields));
    }
}

TEST(SubtitleRendering, ScalingTakesEffectFromTheNextRecord) {
    IndexRows picture = Solid(200, 40, 2);
    RecordFields first = Palette(FieldsForPicture(picture, 476, 400, 0.0f, 1.0f));
    RecordFields second = Palette(FieldsForPicture(picture, 476, 400, 2.0f, 3.0f));
    std::string path = WriteSubtitleFile(
        "scale_next.sub", {BuildRecord(first, picture), BuildRecord(second, picture)});
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kRgb32, path, 25.0f, handle), 0);
    HostRgbFrame frame(720, 576, 4, 1);
    D2uRgbFrame descriptor = frame.Descriptor();
    ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 0), 0);
    D2uDirSubSetMaxSize(handle.Get(), 720, 576);
    D2uDirSubSetScaleFactors(handle.Get(), 1.25, 1.25);
    HostRgbFrame same(720, 576, 4, 1);
    descriptor = same.Descriptor();
    ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 1), 0);
    EXPECT_EQ(same.pixels.Contents(), ExpectedRgbFrame(same, 1, picture, first));
    HostRgbFrame moved(720, 576, 4, 1);
    descriptor = moved.Descriptor();
    ASSERT_EQ(D2uDirPutSubtitleRGB(handle.Get(), &descriptor, 50), 0);
    EXPECT_EQ(*moved.Pixel(235, 225), 200);
    EXPECT_EQ(*moved.Pixel(234, 225), 1);
    EXPECT_EQ(*moved.Pixel(476, 400), 1);
}

TEST(SubtitleRendering, PictureScaledBeyond720x576IsClippedToThePlanes) {
    // 600 x 300 at the top-left, doubled with a 2000 x 2000 maximum: 1200 x 600, kept as
    // 720 x 576 at (400, 400).
    IndexRows picture = Solid(600, 300, 3);
    RecordFields fields = Palette(FieldsForPicture(picture, 0, 0, 0.0f, 1.0f));
    std::string path = WriteOne("scaled_big.sub", BuildRecord(fields, picture));
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kYuv, path, 25.0f, handle), 0);
    D2uDirSubSetMaxSize(handle.Get(), 2000, 2000);
    D2uDirSubSetScaleFactors(handle.Get(), 2.0, 2.0);
    HostYuvFrame frame(1200, 1000, 1, 50);
    ASSERT_EQ(D2uDirPutSubtitleYUV(handle.Get(), frame.Frame(), 0), 0);
    EXPECT_TRUE(frame.y.GuardsIntact());
    for (int32_t y = 0; y < 1000; y += 3) {
        for (int32_t x = 0; x < 1200; x += 3) {
            bool inside = x >= 400 && x < 1120 && y >= 400 && y < 976;
            ASSERT_EQ(frame.y.Data()[y * 1200 + x], inside ? 90 : 1) << x << "," << y;
        }
    }
}

TEST(SubtitleRendering, ShrunkPictureKeepsItsShape) {
    // Halving: a 40 x 20 picture of a 20 x 10 colour-2 block in the top-left corner and
    // colour 3 elsewhere; the scaled 20 x 10 picture keeps the block in its top-left 10 x 5.
    IndexRows picture = Solid(40, 20, 3);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 20; ++x)
            picture[static_cast<size_t>(y)][static_cast<size_t>(x)] = 2;
    }
    RecordFields fields = Palette(FieldsForPicture(picture, 340, 40, 0.0f, 1.0f));
    std::string path = WriteOne("scaled_small.sub", BuildRecord(fields, picture));
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kYuv, path, 25.0f, handle), 0);
    D2uDirSubSetMaxSize(handle.Get(), 720, 576);
    D2uDirSubSetScaleFactors(handle.Get(), 0.5, 0.5);
    // Xs 170, X2s 190: S 360, shift -180 -> x1 350; Y2s 30 / 0.5 = 60, y1 = 20 - (30 - 60).
    HostYuvFrame frame(720, 576, 1, 50);
    ASSERT_EQ(D2uDirPutSubtitleYUV(handle.Get(), frame.Frame(), 0), 0);
    for (int32_t y = 40; y < 70; ++y) {
        for (int32_t x = 340; x < 380; ++x) {
            int32_t expected = 1;
            if (x >= 350 && x < 370 && y >= 50 && y < 60) expected = (x < 360 && y < 55) ? 200 : 90;
            ASSERT_EQ(frame.y.Data()[y * 720 + x], expected) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
