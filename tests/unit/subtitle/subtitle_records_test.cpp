#include <gtest/gtest.h>

#include "platform/platform.h"
#include "subtitle/subtitle.h"
#include "support/subtitle_scenes.h"

namespace d2u {
namespace test {
namespace {

Scene SmallScene(int32_t x1, float start) {
    return MakeScene(RandomPicture(11, 12, 6, 5), x1, 0, start, start + 1.0f);
}

// Reads the records from a file, for RGB output.
struct FileSubtitle : CSubtitle {
    explicit FileSubtitle(const std::vector<std::vector<uint8_t>>& records) {
        std::string path = WriteSubtitleFile("records.sub", records);
        Load(platform::OpenForReading(path.c_str()), 25.0f, 1, 32);
    }
    bool NeverShown() const {
        return Header().startTime == 100000.0f && Header().endTime == 100000.0f;
    }
};

struct Check {
    const char* what;
    void (*change)(Scene&);
    int32_t result;
    bool nextFollows = true;
};

const Check kChecks[] = {
    {"width 721", [](Scene& s) { s.fields.width = 721; }, -1003},
    {"width 0", [](Scene& s) { s.fields.width = 0; }, -1003},
    {"width -5", [](Scene& s) { s.fields.width = -5; }, -1003},
    {"height 577", [](Scene& s) { s.fields.height = 577; }, -1003},
    {"height 0", [](Scene& s) { s.fields.height = 0; }, -1003},
    {"x2 0", [](Scene& s) { s.fields.x2 = 0; }, -1004},
    {"x2 721", [](Scene& s) { s.fields.x2 = 721; }, -1004},
    {"y2 0", [](Scene& s) { s.fields.y2 = 0; }, -1004},
    {"y2 577", [](Scene& s) { s.fields.y2 = 577; }, -1004},
    {"x1 -1", [](Scene& s) { s.fields.x1 = -1; }, -1004},
    {"x1 721", [](Scene& s) { s.fields.x1 = 721; }, -1004},
    {"y1 -1", [](Scene& s) { s.fields.y1 = -1; }, -1004},
    {"y1 577", [](Scene& s) { s.fields.y1 = 577; }, -1004},
    // Passed over by the record size.
    {"header size 75", [](Scene& s) { s.fields.headerSize = 75; }, -1},
    {"header size 80", [](Scene& s) { s.fields.headerSize = 80; }, -1},
    {"one byte beyond the record area", [](Scene& s) { s.top.assign(65536 - 76 + 1, 0x11); }, -1},
    {"record size below the header", [](Scene& s) { s.fields.recordSize = 40; }, -1, false},
    // The largest accepted values.
    {"exactly the record area", [](Scene& s) { s.top.assign(65536 - 76, 0x11); }, 0},
    {"720 x 576", [](Scene& s) { s.fields.width = 720, s.fields.height = 576; }, 0},
    {"edges at 720, 576",
     [](Scene& s) { s.fields.x1 = s.fields.x2 = 720, s.fields.y1 = s.fields.y2 = 576; }, 0},
};

TEST(SubtitleRecords, RecordsAreCheckedAndRejectedOnesNeverShown) {
    std::vector<uint8_t> frame(720 * 576 * 4);
    for (const Check& check : kChecks) {
        SCOPED_TRACE(check.what);
        Scene scene = SmallScene(0, 0.0f);
        check.change(scene);
        FileSubtitle subtitle({scene.Record(), SmallScene(9, 2.0f).Record()});
        EXPECT_EQ(subtitle.ReadNextRecord(), check.result);
        EXPECT_EQ(subtitle.NeverShown(), check.result != 0);
        EXPECT_EQ(subtitle.PutRGB(frame.data(), 720 * 4, 0), check.result ? -2 : 0);
        if (!check.nextFollows) continue;
        ASSERT_EQ(subtitle.ReadNextRecord(), 0);
        EXPECT_EQ(subtitle.Header().x1, 9);
        EXPECT_EQ(subtitle.Header().startTime, 2.0f);
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
