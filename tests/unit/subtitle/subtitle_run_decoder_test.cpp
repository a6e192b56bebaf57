#include "subtitle/subtitle_run_decoder.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace d2u {
namespace {

using Runs = std::vector<std::array<int32_t, 4>>;  // {line, x0, length, colour}

struct RecordingSink : CSubtitleRunSink {
    void PutRun(const SubtitleRun& run) override {
        runs.push_back({run.line, run.x0, run.length, run.colour});
    }
    Runs runs;
};

struct Case {
    const char* what;
    std::vector<uint8_t> data;  // hand-coded; stands after a 76-byte header
    int32_t width, height, bottomFieldOffset;
    Runs expected;
};

// Five rows, each one 16-bit "rest of the line" code (0 0 0 c) of colours 0, 1, 2, 3, 0.
const std::vector<uint8_t> kFiveRows = {0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00};

// clang-format off
const Case kCases[] = {
    // 3 x 1 = D, 15 x 2 = 3E, 63 x 3 = 0FF, 255 x 0 = 03FC.
    {"top of each code length", {0xD3, 0xE0, 0xFF, 0x03, 0xFC}, 336, 1, -1,
     {{0, 0, 3, 1}, {0, 3, 15, 2}, {0, 18, 63, 3}, {0, 81, 255, 0}}},
    // 1 x 0 = 4, 4 x 1 = 11, 16 x 2 = 042, 64 x 3 = 0103.
    {"bottom of each code length", {0x41, 0x10, 0x42, 0x01, 0x03}, 85, 1, -1,
     {{0, 0, 1, 0}, {0, 1, 4, 1}, {0, 5, 16, 2}, {0, 21, 64, 3}}},
    // 5 x 2 = 0016, 20 x 1 = 0051, 1 x 1 = 5, pad.
    {"16-bit codes of short lengths", {0x00, 0x16, 0x00, 0x51, 0x50}, 26, 1, -1,
     {{0, 0, 5, 2}, {0, 5, 20, 1}, {0, 25, 1, 1}}},
    // Row 0: 2 x 1 = 9, 0 x 3 = 0003, pad. Row 1: 0 x 2 = 0002. No bottom field: lines 0, 2.
    {"length 0 fills the line", {0x90, 0x00, 0x30, 0x00, 0x02}, 10, 3, 1000,
     {{0, 0, 2, 1}, {0, 2, 8, 3}, {2, 0, 10, 2}}},
    // Row 0: 3 x 2 = E and junk 7 in the unused low nibble. Row 1 (bottom field): 1 x 1, 2 x 3.
    {"next row after a half-used byte", {0xE7, 0x5B}, 3, 4, 77,
     {{0, 0, 3, 2}, {1, 0, 1, 1}, {1, 1, 2, 3}}},
    // Row 0: 4 x 1 = 11, 10 x 2 = 2A of which 9 fit. Row 1: 3 x 3 = F, then the data end.
    {"runs past the width are clipped", {0x11, 0x2A, 0xF0}, 13, 2, 78,
     {{0, 0, 4, 1}, {0, 4, 9, 2}, {1, 0, 3, 3}}},
    {"bottom field after three rows", kFiveRows, 8, 5, 76 + 6,
     {{0, 0, 8, 0}, {2, 0, 8, 1}, {4, 0, 8, 2}, {1, 0, 8, 3}, {3, 0, 8, 0}}},
    // Never met at a row start: rows go to lines 0, 2, 4; line 6 ends the picture.
    {"bottom field inside a row", kFiveRows, 8, 5, 76 + 3,
     {{0, 0, 8, 0}, {2, 0, 8, 1}, {4, 0, 8, 2}}},
    {"bottom field at the first row", kFiveRows, 8, 5, 76, {{1, 0, 8, 0}, {3, 0, 8, 1}}},
    // Row 1 is cut after 2 of 6 pixels (2 x 2 = A).
    {"data running out", {0x00, 0x01, 0xA0}, 6, 4, 1000, {{0, 0, 6, 1}, {2, 0, 2, 2}}},
    {"code cut inside itself", {0x00}, 6, 1, -1, {}},
    {"no data", {}, 6, 3, -1, {}},
};
// clang-format on

TEST(SubtitleRunDecoder, HandCodedRowsDecodeToTheirRuns) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> record(76 + c.data.size(), 0xEE);
        for (size_t i = 0; i < c.data.size(); ++i) record[76 + i] = c.data[i];
        CSubtitleRunDecoder decoder(record.data(), 76, static_cast<int32_t>(record.size()));
        RecordingSink sink;
        decoder.Decode(c.width, c.height, c.bottomFieldOffset, sink);
        EXPECT_EQ(sink.runs, c.expected);
    }
}

}  // namespace
}  // namespace d2u
