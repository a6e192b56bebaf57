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

// A change made with each of the values, and what reading the changed record gives.
struct Check {
    const char* what;
    void (*change)(Scene&, int32_t value);
    std::vector<int32_t> values;
    int32_t result;
    bool nextFollows = true;
};

// clang-format off
const Check kChecks[] = {
    {"width", [](Scene& s, int32_t v) { s.fields.width = v; }, {721, 0, -5}, -1003},
    {"height", [](Scene& s, int32_t v) { s.fields.height = v; }, {577, 0}, -1003},
    {"x2", [](Scene& s, int32_t v) { s.fields.x2 = v; }, {0, 721}, -1004},
    {"y2", [](Scene& s, int32_t v) { s.fields.y2 = v; }, {0, 577}, -1004},
    {"x1", [](Scene& s, int32_t v) { s.fields.x1 = v; }, {-1, 721}, -1004},
    {"y1", [](Scene& s, int32_t v) { s.fields.y1 = v; }, {-1, 577}, -1004},
    // Passed over by the record size.
    {"header size", [](Scene& s, int32_t v) { s.fields.headerSize = v; }, {75, 80}, -1},
    {"data bytes", [](Scene& s, int32_t v) { s.top.assign(v, 0x11); }, {65536 - 76 + 1}, -1},
    {"record size", [](Scene& s, int32_t v) { s.fields.recordSize = v; }, {40}, -1, false},
    // The largest accepted values: the record area, 720 x 576, edges at 720, 576.
    {"data bytes", [](Scene& s, int32_t v) { s.top.assign(v, 0x11); }, {65536 - 76}, 0},
    {"width and height", [](Scene& s, int32_t) { s.fields.width = 720, s.fields.height = 576; },
     {0}, 0},
    {"edges", [](Scene& s, int32_t) { auto& f = s.fields; f.x1 = f.x2 = 720, f.y1 = f.y2 = 576; },
     {0}, 0},
};
// clang-format on

TEST(SubtitleRecords, RecordsAreCheckedAndRejectedOnesNeverShown) {
    std::vector<uint8_t> frame(720 * 576 * 4);
    for (const Check& check : kChecks) {
        for (int32_t value : check.values) {
            SCOPED_TRACE(std::string(check.what) + " " + std::to_string(value));
            Scene scene = SmallScene(0, 0.0f);
            check.change(scene, value);
            const std::string path =
                WriteSubtitleFile("records.sub", {scene.Record(), SmallScene(9, 2.0f).Record()});
            CSubtitle subtitle;  // for RGB output
            subtitle.Load(platform::OpenForReading(path.c_str()), 25.0f, 1, 32);
            EXPECT_EQ(subtitle.ReadNextRecord(), check.result);
            const SubtitleRecord& header = subtitle.Header();  // rejected: never shown
            EXPECT_EQ(header.startTime == 100000.0f && header.endTime == 100000.0f,
                      check.result != 0);
            EXPECT_EQ(subtitle.PutRGB(frame.data(), 720 * 4, 0), check.result ? -2 : 0);
            if (!check.nextFollows) continue;
            ASSERT_EQ(subtitle.ReadNextRecord(), 0);
            EXPECT_EQ(subtitle.Header().x1, 9);
            EXPECT_EQ(subtitle.Header().startTime, 2.0f);
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
