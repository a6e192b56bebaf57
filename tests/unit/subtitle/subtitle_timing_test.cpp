#include <gtest/gtest.h>

#include "d2udir.h"
#include "subtitle_scene.h"
#include "subtitle_test_records.h"

namespace d2u {
namespace test {
namespace {

const FrameKind kKinds[] = {FrameKind::kRgb24, FrameKind::kRgb32, FrameKind::kYuv};

// Index 0 is hidden, index 1 visible but of intensity 0, 2 and 3 visible; the colour entries
// carry noise outside bits 8 to 15.
void SetPalette(RecordFields& fields) {
    const uint8_t intensities[4] = {50, 0, 255, 90};
    for (int c = 0; c < 4; ++c) fields.colour[c] = ColourEntry(intensities[c]);
    fields.visibility[0] = 0;
    fields.visibility[1] = 1;
    fields.visibility[2] = 7;
    fields.visibility[3] = 1;
}

Scene MakeScene(uint32_t seed, int32_t width, int32_t height, int32_t x1, int32_t y1, float start,
                float end) {
    Scene scene;
    scene.rows = RandomPicture(seed, width, height, 9);
    scene.fields = FieldsForPicture(scene.rows, x1, y1, start, end);
    SetPalette(scene.fields);
    return scene;
}

// Two records, 0 to 2 s and 3 to 5 s, at odd and even positions.
std::vector<Scene> TwoScenes() {
    return {MakeScene(1, 31, 13, 9, 7, 0.0f, 2.0f), MakeScene(2, 40, 20, 50, 24, 3.0f, 5.0f)};
}

int ExpectedScene(int32_t frameNumber) {
    if (frameNumber <= 50) return 0;
    if (frameNumber < 75) return SceneJudge::kNothing;
    if (frameNumber <= 125) return 1;
    return SceneJudge::kNothing;
}

TEST(SubtitleTiming, TwoRecordsAt25FramesPerSecondShowOnTheirFramesOnly) {
    std::vector<Scene> scenes = TwoScenes();
    std::string path =
        WriteSubtitleFile("timing_two_records.sub", {scenes[0].Record(), scenes[1].Record()});
    for (FrameKind kind : kKinds) {
        SCOPED_TRACE(KindName(kind));
        SceneJudge judge(kind, scenes);
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, path, 25.0f, handle), 0);
        ASSERT_NE(handle.Get(), 0u);
        for (int32_t frame = 0; frame <= 160; ++frame) {
            ASSERT_EQ(judge.Put(handle.Get(), frame), ExpectedScene(frame)) << "frame " << frame;
        }
    }
}

TEST(SubtitleTiming, SkippedFramesStillFindTheCurrentRecord) {
    std::vector<Scene> scenes = TwoScenes();
    std::string path =
        WriteSubtitleFile("timing_skipping.sub", {scenes[0].Record(), scenes[1].Record()});
    for (FrameKind kind : kKinds) {
        SCOPED_TRACE(KindName(kind));
        SceneJudge judge(kind, scenes);
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, path, 25.0f, handle), 0);
        // Jumping straight into the second record passes over the first.
        EXPECT_EQ(judge.Put(handle.Get(), 100), 1);
        EXPECT_EQ(judge.Put(handle.Get(), 125), 1);
        EXPECT_EQ(judge.Put(handle.Get(), 126), SceneJudge::kNothing);
        // Reading goes forward only: earlier frames show nothing now.
        EXPECT_EQ(judge.Put(handle.Get(), 10), SceneJudge::kNothing);
        EXPECT_EQ(judge.Put(handle.Get(), 2500000), SceneJudge::kNothing);
        EXPECT_EQ(judge.Put(handle.Get(), 2147483647), SceneJudge::kNothing);
    }
}

TEST(SubtitleTiming, FrameBeforeTheCurrentRecordReadsNoFurtherRecord) {
    // In memory: the first record (3 to 5 s) is read by a put at 1 s and shows nothing. A second
    // record handed over at 2 s is not read while the first is still ahead, so 4 s shows the
    // first.
    Scene first = MakeScene(3, 20, 10, 4, 4, 3.0f, 5.0f);
    Scene second = MakeScene(4, 20, 10, 30, 20, 3.0f, 5.0f);
    std::vector<uint8_t> firstBytes = first.Record();
    std::vector<uint8_t> secondBytes = second.Record();
    MemoryRecord firstRecord(firstBytes);
    MemoryRecord secondRecord(secondBytes);
    for (FrameKind kind : kKinds) {
        SCOPED_TRACE(KindName(kind));
        SceneJudge judge(kind, {first, second});
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, "/nonexistent/timing.sub", 25.0f, handle), 0);
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), firstRecord.Get()), 0);
        EXPECT_EQ(judge.Put(handle.Get(), 25), SceneJudge::kNothing);
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), secondRecord.Get()), 0);
        EXPECT_EQ(judge.Put(handle.Get(), 50), SceneJudge::kNothing);
        EXPECT_EQ(judge.Put(handle.Get(), 100), 0);
        EXPECT_EQ(judge.Put(handle.Get(), 125), 0);
    }
}

TEST(SubtitleTiming, RecordsFromMemoryShowInTurnAndNotAfterTheirEnd) {
    Scene first = MakeScene(5, 25, 11, 3, 5, 0.0f, 1.0f);
    Scene second = MakeScene(6, 33, 9, 41, 30, 2.0f, 3.0f);
    std::vector<uint8_t> firstBytes = first.Record();
    std::vector<uint8_t> secondBytes = second.Record();
    MemoryRecord firstRecord(firstBytes);
    MemoryRecord secondRecord(secondBytes);
    for (FrameKind kind : kKinds) {
        SCOPED_TRACE(KindName(kind));
        SceneJudge judge(kind, {first, second});
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, "/nonexistent/memory.sub", 10.0f, handle), 0);
        EXPECT_EQ(judge.Put(handle.Get(), 0), SceneJudge::kNothing) << "no record yet";
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), firstRecord.Get()), 0);
        // Without a record to read, time moved on one second per read: the pending record is
        // read once the frame passes that.
        int32_t frame = 1;
        while (frame <= 10 && judge.Put(handle.Get(), frame) == SceneJudge::kNothing) ++frame;
        ASSERT_LE(frame, 10) << "the first record never came";
        for (; frame <= 10; ++frame) EXPECT_EQ(judge.Put(handle.Get(), frame), 0);
        // Past its end it is not drawn again while nothing new comes.
        for (; frame < 20; ++frame) {
            EXPECT_EQ(judge.Put(handle.Get(), frame), SceneJudge::kNothing) << frame;
        }
        // The next record is read by the first put that passes the time reached so far
        // (2 s by now), and shown to its end.
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), secondRecord.Get()), 0);
        for (frame = 21; frame <= 30; ++frame) EXPECT_EQ(judge.Put(handle.Get(), frame), 1);
        for (; frame <= 45; ++frame) {
            EXPECT_EQ(judge.Put(handle.Get(), frame), SceneJudge::kNothing) << frame;
        }
    }
}

TEST(SubtitleTiming, PendingRecordIsIgnoredWhileAFileIsOpen) {
    std::vector<Scene> scenes = TwoScenes();
    std::string path = WriteSubtitleFile("timing_file_only.sub", {scenes[1].Record()});
    Scene memory = MakeScene(7, 10, 10, 0, 0, 0.0f, 10.0f);
    std::vector<uint8_t> memoryBytes = memory.Record();
    MemoryRecord memoryRecord(memoryBytes);
    SceneJudge judge(FrameKind::kRgb32, {scenes[1], memory});
    SubtitleHandle handle;
    ASSERT_EQ(LoadFor(FrameKind::kRgb32, path, 25.0f, handle), 0);
    ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), memoryRecord.Get()), 0);
    EXPECT_EQ(judge.Put(handle.Get(), 0), SceneJudge::kNothing);
    EXPECT_EQ(judge.Put(handle.Get(), 80), 0);
    EXPECT_EQ(judge.Put(handle.Get(), 130), SceneJudge::kNothing);
}

}  // namespace
}  // namespace test
}  // namespace d2u
