// Subtitle records written by the tests themselves: pictures of colour indices, a plain encoder
// and the header as stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

// A picture of colour indices, row by row.
using IndexRows = std::vector<std::vector<int32_t>>;
// Runs of random colours and lengths 1 to maxRun.
IndexRows RandomPicture(uint32_t seed, int32_t width, int32_t height, int32_t maxRun);

struct Run {
    int32_t x0, length, colour;  // length as coded: 0 for the rest of the line
};
// The plain encoder's runs: maximal, split at 255; with endCode the last one as line end.
std::vector<Run> RunsOfRow(const std::vector<int32_t>& row, bool endCode);

constexpr uint32_t ColourEntry(uint8_t intensity) {
    return 0xC35A003Cu | static_cast<uint32_t>(intensity) << 8;  // noise outside bits 8 to 15
}

// The 76-byte header as stored (on little-endian hosts): the visibility and colour entries of
// index 3 first. By default index 0 is hidden, 1 visible with intensity 0, 2 and 3 drawn.
struct RecordFields {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0, width = 0, height = 0;
    int32_t visibility[4] = {1, 7, 1, 0};
    uint32_t colour[4] = {ColourEntry(90), ColourEntry(200), ColourEntry(0), ColourEntry(40)};
    float startTime = 0.0f, endTime = 0.0f;
    int32_t headerSize = 76;
    int32_t bottomFieldOffset = -1;  // -1: right after the first field
    int32_t recordSize = -1;         // -1: header plus data
    // By colour index c.
    int32_t& Visibility(int c) { return visibility[3 - c]; }
    uint32_t& Colour(int c) { return colour[3 - c]; }
    uint8_t Intensity(int c) const { return static_cast<uint8_t>(colour[3 - c] >> 8); }
    bool Drawn(int c) const { return visibility[3 - c] > 0 && Intensity(c) != 0; }
};

// A record: its picture and header. Record() gives the file form, with the rows coded by the plain
// encoder unless hand-made data are given in top and bottom.
struct Scene {
    IndexRows rows;
    RecordFields fields;
    bool endCode = true;
    std::vector<uint8_t> top, bottom;
    std::vector<uint8_t> Record() const;
};
// The picture at (x1, y1), x2 and y2 its exclusive edges, shown from start to end.
Scene MakeScene(IndexRows rows, int32_t x1, int32_t y1, float start, float end);

std::string WriteSubtitleFile(const std::string& name,
                              const std::vector<std::vector<uint8_t>>& records);

}  // namespace test
}  // namespace d2u
