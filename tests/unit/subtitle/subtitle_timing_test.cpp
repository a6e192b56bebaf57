#include <gtest/gtest.h>

#include "d2udir.h"
#include "support/subtitle_scenes.h"

namespace d2u {
namespace test {
namespace {

// Records handed over in memory, at 10 frames/s: without a record to read, the times move on one
// second per read, so a record is read by the first put past the time reached so far (frame 11
// moves them to 1 s to 2 s: the second record is read at frame 21), and shown to its end; a
// record still ahead keeps one handed over after it from being read.
TEST(SubtitleTiming, RecordsFromMemoryShowInTurnAndNotAfterTheirEnd) {
    std::vector<Scene> scenes = {MakeScene(RandomPicture(5, 25, 11, 9), 3, 5, 0.0f, 1.0f),
                                 MakeScene(RandomPicture(6, 33, 9, 9), 41, 30, 2.0f, 3.0f),
                                 MakeScene(RandomPicture(3, 20, 10, 9), 4, 4, 6.0f, 8.0f),
                                 MakeScene(RandomPicture(4, 20, 10, 9), 30, 20, 6.0f, 8.0f)};
    std::vector<MemoryRecord> records;
    records.reserve(scenes.size());
    for (const Scene& scene : scenes) records.emplace_back(scene.Record());
    const struct {
        int handOver;  // the record handed over before the frames, or -1
        int32_t first, last;
        int expected;
    } steps[] = {{-1, 0, 0, kNothing},  {0, 1, 10, 0},         {-1, 11, 11, kNothing},
                 {1, 12, 20, kNothing}, {-1, 21, 30, 1},       {-1, 31, 50, kNothing},
                 {2, 51, 51, kNothing}, {3, 52, 59, kNothing}, {-1, 60, 80, 2}};
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(KindName(kind));
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, "/nonexistent/memory.sub", 10.0f, handle), 0);
        for (const auto& step : steps) {
            if (step.handOver >= 0) {
                ASSERT_EQ(D2uDirSetSubtitleData(handle.Get(), records[step.handOver].Get()), 0);
            }
            for (int32_t frame = step.first; frame <= step.last; ++frame) {
                EXPECT_EQ(Shown(kind, handle.Get(), frame, scenes), step.expected) << frame;
            }
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
