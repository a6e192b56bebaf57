// Subtitle records written by the tests themselves: a nibble writer for hand-made codes, a
// plain encoder for whole pictures, the record header, the in-memory form, and host frames
// with a guard band around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "d2udir.h"

namespace d2u {
namespace test {

class NibbleWriter {
public:
    void Put(uint32_t nibble);
    // One run in a code of the given number of nibbles (1 to 4), leading zeros included.
    void Run(int32_t length, int32_t colour, int32_t nibbles);
    // One run in its shortest code; length 0 takes the 16-bit form.
    void ShortestRun(int32_t length, int32_t colour);
    // Fills a half-used byte with `filler` so that the next row starts on a whole byte.
    void EndRow(uint32_t filler = 0);
    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    std::vector<uint8_t> bytes;
    bool highNext = true;
};

// A picture of colour indices, row by row.
using IndexRows = std::vector<std::vector<int32_t>>;

struct EncodedRun {
    int32_t x0;
    int32_t length;  // as coded: 0 for the rest of the line
    int32_t colour;
};

// The runs a plain encoder writes for a row: maximal runs split at 255 pixels; with
// endCode, the last run as "to the end of the line".
std::vector<EncodedRun> RunsOfRow(const std::vector<int32_t>& row, bool endCode);

struct EncodedPicture {
    std::vector<uint8_t> top;     // rows 0, 2, 4 ...
    std::vector<uint8_t> bottom;  // rows 1, 3, 5 ...
};
EncodedPicture EncodePicture(const IndexRows& rows, bool endCode);

struct RecordFields {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0, width = 0, height = 0;
    int32_t visibility[4] = {0, 1, 1, 1};  // by colour index 0 to 3
    uint32_t colour[4] = {0, 0, 0, 0};     // by colour index 0 to 3
    float startTime = 0.0f, endTime = 0.0f;
    int32_t headerSize = 76;
    int32_t bottomFieldOffset = -1;  // -1: right after the first field
    int32_t recordSize = -1;         // -1: header plus data
};

// Sets width and height from the picture and x2, y2 as the exclusive edges at (x1, y1).
RecordFields FieldsForPicture(const IndexRows& rows, int32_t x1, int32_t y1, float start,
                              float end);
// Colour entry with the intensity in bits 8 to 15 and other bits set to noise.
uint32_t ColourEntry(uint8_t intensity);

std::vector<uint8_t> BuildRecord(RecordFields fields, const std::vector<uint8_t>& top,
                                 const std::vector<uint8_t>& bottom);
std::vector<uint8_t> BuildRecord(const RecordFields& fields, const IndexRows& rows,
                                 bool endCode = true);

// The form handed to D2uDirSetSubtitleData: the header, then a pointer to the data. The object
// owns both and must outlive the read.
class MemoryRecord {
public:
    explicit MemoryRecord(const std::vector<uint8_t>& fileRecord);
    const void* Get() const { return header.data(); }

private:
    std::vector<uint8_t> data;
    std::vector<uint8_t> header;
};

std::string WriteSubtitleFile(const std::string& name,
                              const std::vector<std::vector<uint8_t>>& records);

// A host buffer with guard bytes before and after; GuardsIntact tells whether anything was
// written outside.
class GuardedBuffer {
public:
    GuardedBuffer(size_t size, uint8_t fill);
    uint8_t* Data() { return storage.data() + kGuard; }
    size_t Size() const { return storage.size() - 2 * kGuard; }
    bool GuardsIntact() const;
    std::vector<uint8_t> Contents() const;

private:
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kGuardByte = 0xA5;
    std::vector<uint8_t> storage;
};

struct HostRgbFrame {
    HostRgbFrame(int32_t width, int32_t height, int32_t bytesPerPixel, uint8_t fill);
    D2uRgbFrame Descriptor();
    uint8_t* Pixel(int32_t x, int32_t y) { return pixels.Data() + y * stride + x * bytes; }
    int32_t width, height, bytes, stride;
    GuardedBuffer pixels;
};

struct HostYuvFrame {
    HostYuvFrame(int32_t width, int32_t height, uint8_t lumaFill, uint8_t chromaFill);
    D2uFrame* Frame() { return &frame; }
    int32_t width, height, chromaPitch;
    GuardedBuffer y, u, v;
    D2uFrame frame;
};

// What the tests expect on a host frame: the intensity of every drawn pixel of the picture
// at (x1, y1), -1 where it keeps the host's value.
std::vector<std::vector<int32_t>> ExpectedLuma(const IndexRows& rows, const RecordFields& fields);
// Drawn chroma samples (true) of a picture coded with the plain encoder's runs.
std::vector<std::vector<bool>> ExpectedChroma(const IndexRows& rows, const RecordFields& fields,
                                              bool endCode);

// Whole host frames as they should look after drawing the picture of `fields` onto a frame
// filled with the given values (RGB: clipped to x2, y2 and the frame; YUV: to the planes).
std::vector<uint8_t> ExpectedRgbFrame(const HostRgbFrame& frame, uint8_t fill,
                                      const IndexRows& rows, const RecordFields& fields);
struct ExpectedYuv {
    std::vector<uint8_t> y, u, v;
};
ExpectedYuv ExpectedYuvFrame(const HostYuvFrame& frame, uint8_t lumaFill, uint8_t chromaFill,
                             const IndexRows& rows, const RecordFields& fields, bool endCode);

// A picture of runs of random colours and lengths 1 to maxRun.
IndexRows RandomPicture(uint32_t seed, int32_t width, int32_t height, int32_t maxRun);

}  // namespace test
}  // namespace d2u
