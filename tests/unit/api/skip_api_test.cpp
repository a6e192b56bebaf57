// Skipping durations: whole pictures at the stream's rate.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "d2udir.h"
#include "support/api_streams.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

struct DurationCase {
    int frameRateCode;  // of the stream's sequence headers
    int framesBefore;   // handed out before the skip
    uint32_t milliseconds;
    uint32_t fromStart;
    int32_t skipped;  // milliseconds reported
    size_t next;      // picture handed out after the skip (decoding order), if any
};

// IpbStream has 60 pictures; code 3 is 25 frames/s, 4 is 30000/1001 (29 whole pictures in a
// second last 967 ms), 6 is not a rate SkipDuration knows. An hour skips what there is.
const DurationCase kDurations[] = {
    {3, 3, 1000, 1, 1000, 25}, {3, 5, 400, 0, 400, 15}, {3, 2, 0, 1, 0, 0},
    {4, 0, 1000, 1, 967, 29},  {6, 1, 1000, 0, 0, 1},   {3, 0, 3600000, 1, 2400, SIZE_MAX},
};

class SkipDurationTest : public ::testing::TestWithParam<DurationCase> {};

TEST_P(SkipDurationTest, SkipsWholePicturesOfTheStreamsRate) {
    const DurationCase& c = GetParam();
    const GeneratedStream& stream = IpbStream();
    // Every sequence header gets aspect ratio code 2 and the case's frame rate code.
    std::vector<uint8_t> bytes = stream.bytes;
    for (size_t at = 0; at + 8 < bytes.size(); ++at) {
        if (bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 && bytes[at + 3] == 0xB3)
            bytes[at + 7] = static_cast<uint8_t>(0x20 | c.frameRateCode);
    }
    OpenFile file(WriteWorkFile("api_skip_rate" + std::to_string(c.frameRateCode) + ".m2v", bytes));
    ASSERT_EQ(file.result, 0);
    for (int k = 0; k < c.framesBefore; ++k) ASSERT_NE(file.Next(), nullptr);
    EXPECT_EQ(c.fromStart ? SkipDuration(file.handle, c.milliseconds, 1)
                          : D2uDirSkipDuration(file.handle, c.milliseconds, 0),
              c.skipped);
    if (c.next != SIZE_MAX) ExpectShows(file.Next(), stream.layout.pictures[c.next]);
}

INSTANTIATE_TEST_SUITE_P(Cases, SkipDurationTest, ::testing::ValuesIn(kDurations));

}  // namespace
}  // namespace test
}  // namespace d2u
