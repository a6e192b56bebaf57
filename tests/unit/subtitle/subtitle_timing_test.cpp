#include <gtest/gtest.h>

#include "d2udir.h"
#include "subtitle_test_support.h"

namespace d2u {
namespace test {
namespace {

TEST(SubtitleTiming, TwoRecordsAt25FramesPerSecondShowOnTheirFramesOnly) {
    std::vector<Scene> scenes = {MakeScene(RandomPicture(1, 31, 13, 9), 9, 7, 0.0f, 2.0f),
                                 MakeScene(RandomPicture(2, 40, 20, 9), 50, 24, 3.0f, 5.0f)};
    std::string path = WriteSubtitleFile("timing.sub", {scenes[0].Record(), scenes[1].Record()});
    // Records handed over in memory are not read while a file is open.
    MemoryRecord ignored(MakeScene(RandomPicture(7, 10, 10, 9), 0, 0, 0.0f, 10.0f).Record());
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(KindName(kind));
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, path, 25.0f, handle), 0);
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), ignored.Get()), 0);
        for (int32_t frame = 0; frame <= 160; ++frame) {
            int expected = frame <= 50 ? 0 : frame < 75 ? kNothing : frame <= 125 ? 1 : kNothing;
            ASSERT_EQ(Shown(kind, handle.Get(), frame, scenes), expected) << "frame " << frame;
        }
        // Jumping straight into the second record passes over the first; reading goes forward
        // only, so earlier frames show nothing afterwards.
        SubtitleHandle skipping;
        ASSERT_EQ(LoadFor(kind, path, 25.0f, skipping), 0);
        for (int32_t frame : {100, 125}) EXPECT_EQ(Shown(kind, skipping.Get(), frame, scenes), 1);
        for (int32_t frame : {126, 10, 2500000, 2147483647}) {
            EXPECT_EQ(Shown(kind, skipping.Get(), frame, scenes), kNothing) << frame;
        }
    }
}

TEST(SubtitleTiming, FrameBeforeTheCurrentRecordReadsNoFurtherRecord) {
    // The first record (3 to 5 s) is read by a put at 1 s; a second one handed over at 2 s is not
    // read while the first is still ahead, so 4 s shows the first.
    std::vector<Scene> scenes = {MakeScene(RandomPicture(3, 20, 10, 9), 4, 4, 3.0f, 5.0f),
                                 MakeScene(RandomPicture(4, 20, 10, 9), 30, 20, 3.0f, 5.0f)};
    MemoryRecord firstRecord(scenes[0].Record()), secondRecord(scenes[1].Record());
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(KindName(kind));
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, "/nonexistent/timing.sub", 25.0f, handle), 0);
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), firstRecord.Get()), 0);
        EXPECT_EQ(Shown(kind, handle.Get(), 25, scenes), kNothing);
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), secondRecord.Get()), 0);
        EXPECT_EQ(Shown(kind, handle.Get(), 50, scenes), kNothing);
        EXPECT_EQ(Shown(kind, handle.Get(), 100, scenes), 0);
        EXPECT_EQ(Shown(kind, handle.Get(), 125, scenes), 0);
    }
}

TEST(SubtitleTiming, RecordsFromMemoryShowInTurnAndNotAfterTheirEnd) {
    std::vector<Scene> scenes = {MakeScene(RandomPicture(5, 25, 11, 9), 3, 5, 0.0f, 1.0f),
                                 MakeScene(RandomPicture(6, 33, 9, 9), 41, 30, 2.0f, 3.0f)};
    MemoryRecord firstRecord(scenes[0].Record()), secondRecord(scenes[1].Record());
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(KindName(kind));
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, "/nonexistent/memory.sub", 10.0f, handle), 0);
        EXPECT_EQ(Shown(kind, handle.Get(), 0, scenes), kNothing) << "no record yet";
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), firstRecord.Get()), 0);
        // Without a record to read, the times moved on one second per read: the pending record
        // is read once the frame passes that, and shown to its end.
        int32_t frame = 1;
        while (frame <= 10 && Shown(kind, handle.Get(), frame, scenes) == kNothing) ++frame;
        ASSERT_LE(frame, 10) << "the first record never came";
        for (; frame <= 10; ++frame) EXPECT_EQ(Shown(kind, handle.Get(), frame, scenes), 0);
        for (; frame < 20; ++frame) EXPECT_EQ(Shown(kind, handle.Get(), frame, scenes), kNothing);
        // The next one is read by the first put past the time reached so far (2 s by now).
        ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), secondRecord.Get()), 0);
        for (frame = 21; frame <= 30; ++frame) {
            EXPECT_EQ(Shown(kind, handle.Get(), frame, scenes), 1) << frame;
        }
        for (; frame <= 45; ++frame) {
            EXPECT_EQ(Shown(kind, handle.Get(), frame, scenes), kNothing) << frame;
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
