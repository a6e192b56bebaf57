// Which parts of the frame being decoded the current picture has written, kept so that a frame
// decoded into a different picture buffer than the last one can be completed from the picture
// decoded last: what a damaged or incomplete picture leaves undecoded then shows the same
// samples as if every frame were decoded into one buffer.
//
// The unit is one macroblock position of the frame and one field parity: the luma rows of that
// parity in its 16 rows and the chroma rows of that parity in its chroma rows. Every prediction
// block and intra macroblock covers whole units, in frame and in field pictures.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/yuv_frame.h"

namespace d2u {

class CFrameCoverage {
public:
    static constexpr uint8_t kTopRows = 1;
    static constexpr uint8_t kBottomRows = 2;
    static constexpr uint8_t kBothRows = kTopRows | kBottomRows;

    CFrameCoverage() = default;
    ~CFrameCoverage();
    CFrameCoverage(const CFrameCoverage&) = delete;
    CFrameCoverage& operator=(const CFrameCoverage&) = delete;

    // One unit per macroblock position: 0, or -1 when the map cannot be allocated (nothing is
    // recorded then, and nothing is filled).
    int32_t Allocate(int32_t columns, int32_t rows);
    void Release();
    void Clear();

    // A block of 16 luma columns from x, `height` rows from `row` of a grid: the frame
    // (parity -1) or the field of the given parity.
    void MarkRegion(int32_t parity, int32_t x, int32_t row, int32_t height);
    // MarkRegion(-1, x, y, 16) for the frame macroblock at luma position x, y.
    void MarkFrameMacroblock(int32_t x, int32_t y) {
        // Negative positions turn into large ones and are left out with those outside.
        const uint32_t column = static_cast<uint32_t>(x) / 16;
        const uint32_t row = static_cast<uint32_t>(y) / 16;
        if (map && column < static_cast<uint32_t>(columns) && row < static_cast<uint32_t>(rows))
            map[static_cast<size_t>(row) * static_cast<uint32_t>(columns) + column] = kBothRows;
    }

    // Whether nothing of the frame macroblock at luma position x, y is marked (false outside the
    // map, and without one).
    bool FrameMacroblockBlank(int32_t x, int32_t y) const {
        const uint32_t column = static_cast<uint32_t>(x) / 16;
        const uint32_t row = static_cast<uint32_t>(y) / 16;
        return map && column < static_cast<uint32_t>(columns) &&
               row < static_cast<uint32_t>(rows) &&
               map[static_cast<size_t>(row) * static_cast<uint32_t>(columns) + column] == 0;
    }

    // The units of frame macroblocks, row by row (null without a map), for callers that mark
    // positions they have checked against Columns() and Rows() themselves.
    uint8_t* FrameUnits() { return map; }
    const uint8_t* FrameUnits() const { return map; }
    int32_t Columns() const { return columns; }
    int32_t Rows() const { return rows; }

    // Copies from `source` what is not marked of the given parities into `target` (both
    // pictures of one geometry), then marks them.
    void FillFrom(CYUVFrame& target, const CYUVFrame& source, uint8_t parities = kBothRows);

private:
    void FillRows(CYUVFrame& target, const CYUVFrame& source, int32_t column, int32_t row,
                  uint8_t missing) const;

    uint8_t* map = nullptr;
    int32_t columns = 0;
    int32_t rows = 0;
};

}  // namespace d2u
