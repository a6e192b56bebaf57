#include "decoder/frame_coverage.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace d2u {
namespace {

// Rows of one macroblock position in a plane: `height` rows from `firstRow`, `width` columns
// from `firstColumn`; with one parity missing only every other row, from that parity's row.
void CopyBlock(YUVPlane& target, const YUVPlane& source, int32_t firstColumn, int32_t firstRow,
               int32_t width, int32_t height, uint8_t missing) {
    if (!target.data || !source.data || target.height != source.height ||
        target.width != source.width) {
        return;
    }
    const bool both =
        (missing & CFrameCoverage::kTopRows) && (missing & CFrameCoverage::kBottomRows);
    const int32_t start = both ? 0 : ((missing & CFrameCoverage::kTopRows) ? 0 : 1);
    const int32_t step = both ? 1 : 2;
    if (firstColumn + width > target.width) return;
    for (int32_t y = start; y < height && firstRow + y < target.height; y += step) {
        std::memcpy(target.data + static_cast<ptrdiff_t>(firstRow + y) * target.pitch + firstColumn,
                    source.data + static_cast<ptrdiff_t>(firstRow + y) * source.pitch + firstColumn,
                    static_cast<size_t>(width));
    }
}

}  // namespace

CFrameCoverage::~CFrameCoverage() {
    Release();
}

int32_t CFrameCoverage::Allocate(int32_t columnCount, int32_t rowCount) {
    Release();
    if (columnCount <= 0 || rowCount <= 0) return 0;
    map = new (std::nothrow) uint8_t[static_cast<size_t>(columnCount) * rowCount]();
    if (!map) return -1;
    columns = columnCount;
    rows = rowCount;
    return 0;
}

void CFrameCoverage::Release() {
    delete[] map;
    map = nullptr;
    columns = rows = 0;
}

void CFrameCoverage::Clear() {
    if (map) std::memset(map, 0, static_cast<size_t>(columns) * rows);
}

void CFrameCoverage::MarkRegion(int32_t parity, int32_t x, int32_t row, int32_t height) {
    const int32_t column = x / 16;
    if (!map || x < 0 || row < 0 || column >= columns) return;
    // Field rows f of parity p are frame rows 2f + p; the parity does not change the
    // macroblock rows.
    const int32_t frameRow = parity < 0 ? row : 2 * row;
    const int32_t frameHeight = parity < 0 ? height : 2 * height;
    const uint8_t bits = parity < 0 ? kBothRows : (parity ? kBottomRows : kTopRows);
    for (int32_t r = frameRow / 16; r < (frameRow + frameHeight) / 16 && r < rows; ++r) {
        map[static_cast<size_t>(r) * columns + column] |= bits;
    }
}

void CFrameCoverage::FillRows(CYUVFrame& target, const CYUVFrame& source, int32_t column,
                              int32_t row, uint8_t missing) const {
    CopyBlock(target.Y, source.Y, 16 * column, 16 * row, 16, 16, missing);
    const int32_t chromaWidth = target.U.width / columns;
    const int32_t chromaHeight = target.U.height / rows;
    CopyBlock(target.U, source.U, chromaWidth * column, chromaHeight * row, chromaWidth,
              chromaHeight, missing);
    CopyBlock(target.V, source.V, chromaWidth * column, chromaHeight * row, chromaWidth,
              chromaHeight, missing);
}

void CFrameCoverage::FillFrom(CYUVFrame& target, const CYUVFrame& source, uint8_t parities) {
    if (!map) return;
    const size_t units = static_cast<size_t>(columns) * static_cast<size_t>(rows);
    // A whole picture is mostly marked: eight units are looked at a time.
    const uint64_t allMarked = 0x0101010101010101ull * parities;
    size_t index = 0;
    while (index < units) {
        if (index + 8 <= units) {
            uint64_t eight = 0;
            std::memcpy(&eight, map + index, sizeof eight);
            if ((eight & allMarked) == allMarked) {
                index += 8;
                continue;
            }
        }
        uint8_t& unit = map[index];
        const uint8_t missing = static_cast<uint8_t>(~unit & parities);
        if (missing != 0) {
            FillRows(target, source, static_cast<int32_t>(index % static_cast<size_t>(columns)),
                     static_cast<int32_t>(index / static_cast<size_t>(columns)), missing);
            unit = static_cast<uint8_t>(unit | parities);
        }
        ++index;
    }
}

}  // namespace d2u
