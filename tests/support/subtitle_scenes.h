// What the subtitle tests build on: records written by the tests themselves (hand-made codes and
// a plain encoder), host frames with guard bytes around every plane, and a model of what drawing
// a record onto such a frame must give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "d2udir.h"

namespace d2u {
namespace test {

// Nibbles, high nibble first; Run writes one run in its shortest code (length 0: 16 bits).
class NibbleWriter {
public:
    NibbleWriter& Put(uint32_t nibble);
    NibbleWriter& Run(int32_t length, int32_t colour);
    // Fills a half-used byte so that the next row starts on a whole byte.
    NibbleWriter& EndRow(uint32_t filler = 0);
    std::vector<uint8_t> bytes;

private:
    bool highNext = true;
};

// A picture of colour indices, row by row.
using IndexRows = std::vector<std::vector<int32_t>>;
// Runs of random colours and lengths 1 to maxRun.
IndexRows RandomPicture(uint32_t seed, int32_t width, int32_t height, int32_t maxRun);

struct Run {
    int32_t x0, length, colour;  // length as coded: 0 for the rest of the line
};
// The plain encoder's runs: maximal, split at 255; with endCode the last one as line end.
std::vector<Run> RunsOfRow(const std::vector<int32_t>& row, bool endCode);
void EncodeRows(const IndexRows& rows, bool endCode, std::vector<uint8_t>& top,
                std::vector<uint8_t>& bottom);

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

// The form handed to D2uDirSetSubtitleData: the header, then a pointer to `dataSize` bytes of
// data (-1: all of them; null when there are none). Must outlive the read.
struct MemoryRecord {
    explicit MemoryRecord(const std::vector<uint8_t>& fileRecord, int64_t dataSize = -1);
    const void* Get() const { return header.data(); }
    std::vector<uint8_t> data, header;
};

std::string WriteSubtitleFile(const std::string& name,
                              const std::vector<std::vector<uint8_t>>& records);

enum class Kind { kRgb24, kRgb32, kYuv };
constexpr Kind kAllKinds[] = {Kind::kRgb24, Kind::kRgb32, Kind::kYuv};
const char* KindName(Kind kind);

// A subtitle handle closed at the end of the scope.
class SubtitleHandle {
public:
    SubtitleHandle() = default;
    ~SubtitleHandle() { D2uDirCloseSubtitle(&handle); }
    SubtitleHandle(const SubtitleHandle&) = delete;
    SubtitleHandle& operator=(const SubtitleHandle&) = delete;
    D2uHandle* Out() { return &handle; }
    D2uHandle Get() const { return handle; }

private:
    D2uHandle handle = 0;
};
int32_t LoadFor(Kind kind, const std::string& path, float frameRate, SubtitleHandle& handle);

// A host frame, filled with kFill (YUV chroma: kChromaFill), with guard bytes before and after
// each plane. RGB rows and YUV rows carry `pad` spare bytes (chroma: pad / 2 + 1).
class HostFrame {
public:
    static constexpr uint8_t kFill = 7;
    static constexpr uint8_t kChromaFill = 200;
    HostFrame(Kind kind, int32_t width, int32_t height, int32_t pad = 8);
    // Draws with the export of the frame's kind.
    int32_t Put(D2uHandle handle, int32_t frameNumber);
    // Draws as the record must come out: its drawn pixels at (x1, y1), clipped to the frame and
    // to the screen (the maximum size); YUV chroma 128 under the runs' chroma samples.
    void Model(const Scene& scene, int32_t screenWidth = 720, int32_t screenHeight = 576);
    bool GuardsIntact() const;
    bool Untouched() const;
    bool operator==(const HostFrame& other) const { return planes == other.planes; }
    // Byte `offset` of the pixel (x, y) of a plane (RGB: 0; YUV: 0 Y, 1 U, 2 V).
    uint8_t& At(int plane, int32_t x, int32_t y, int32_t offset = 0);

    const Kind kind;
    const int32_t width, height, bytesPerPixel;
    D2uRgbFrame rgb{};
    D2uFrame yuv{};

private:
    static constexpr size_t kGuard = 64;
    std::vector<std::vector<uint8_t>> planes;
    int32_t pitch[3] = {};
};

// Puts the handle's subtitle onto a fresh 96 x 48 frame: the index of the scene that came out,
// kNothing for an untouched frame, kSomethingElse otherwise (also for writes outside).
constexpr int kNothing = -1;
constexpr int kSomethingElse = -2;
int Shown(Kind kind, D2uHandle handle, int32_t frameNumber, const std::vector<Scene>& scenes);

}  // namespace test
}  // namespace d2u
