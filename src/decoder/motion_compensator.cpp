#include "decoder/motion_compensator.h"

#include "decoder/mpeg_headers.h"
#include "platform/inline_hints.h"
#include "primitives/inverse_dct.h"
#include "primitives/kernel_dispatch.h"
#include "primitives/motion_compensation.h"
#include "primitives/prefetch.h"

namespace d2u {
namespace {

constexpr int32_t kForward = 0;
constexpr int32_t kBackward = 1;
constexpr uint32_t kBothDirections = kMacroblockMotionForward | kMacroblockMotionBackward;

uint32_t FlagOf(int32_t direction) {
    return direction == kForward ? kMacroblockMotionForward : kMacroblockMotionBackward;
}

// The rows of a plane that belong to one grid: the whole frame, or one field.
struct PlaneView {
    uint8_t* base;
    int32_t step;
    int32_t rows;
    int32_t width;
};

PlaneView View(const YUVPlane& plane, int32_t parity) {
    if (parity < 0) return PlaneView{plane.data, plane.pitch, plane.height, plane.width};
    return PlaneView{
        plane.data ? plane.data + static_cast<ptrdiff_t>(plane.pitch) * parity : nullptr,
        2 * plane.pitch, plane.height / 2, plane.width};
}

// Half-sample mode of a vector: 8 for a horizontal half sample, 4 for a vertical one.
int32_t ModeOf(int32_t vx, int32_t vy) {
    return 8 * (vx & 1) + 4 * (vy & 1);
}

// Whether columns column..column+width-1 and rows row..row+height-1 lie below the limits.
// Positions are 64-bit: a vector of any size added to a position cannot overflow.
bool Fits(int64_t column, int64_t row, int32_t width, int32_t height, int32_t columnLimit,
          int32_t rowLimit) {
    return column >= 0 && row >= 0 && column + width <= columnLimit && row + height <= rowLimit;
}

// The extra column and row that half-sample interpolation reads.
int32_t ExtraColumn(int32_t mode) {
    return (mode >> 3) & 1;
}
int32_t ExtraRow(int32_t mode) {
    return (mode >> 2) & 1;
}

// Only for positions inside the plane.
uint8_t* SampleAt(uint8_t* base, int32_t step, int64_t column, int64_t row) {
    return base + static_cast<ptrdiff_t>(step) * static_cast<ptrdiff_t>(row) +
           static_cast<ptrdiff_t>(column);
}

// v plus one when negative: halved, v / 2 truncated toward zero (written with shifts, as the
// compiler may otherwise divide). Chroma vectors are half the luma ones, so truncated.
int32_t TowardZero(int32_t v) {
    return v + static_cast<int32_t>(static_cast<uint32_t>(v) >> 31);
}

// Dual prime: the vector that predicts a field from the field of opposite parity, derived from
// the same-parity field vector (vx, vy) and dmvector. m is the distance factor (1 or 3), e the
// parity correction (-1 when predicting a top field from a bottom one, else +1).
void DeriveDualPrimeVector(int32_t vx, int32_t vy, const int32_t dmvector[2], int32_t m, int32_t e,
                           int32_t out[2]) {
    // (v * m) // 2, the division rounding halves away from zero.
    auto scale = [m](int32_t v) {
        int32_t product = v * m;
        return product >= 0 ? (product + 1) >> 1 : -((1 - product) >> 1);
    };
    out[0] = scale(vx) + dmvector[0];
    out[1] = scale(vy) + e + dmvector[1];
}

}  // namespace

CMotionCompensator::GridPlanes CMotionCompensator::GridOf(const CYUVFrame* frame, int32_t parity) {
    GridPlanes grid{};
    if (!frame) return grid;
    const PlaneView views[3] = {View(frame->Y, parity), View(frame->U, parity),
                                View(frame->V, parity)};
    for (int32_t k = 0; k < 3; ++k) {
        grid.plane[k] = views[k].base;
        grid.step[k] = views[k].step;
    }
    const PlaneView& y = views[0];
    const PlaneView& u = views[1];
    const PlaneView& v = views[2];
    if (y.base && y.step > 0) {
        grid.lumaWidth = y.width;
        grid.lumaRows = y.rows;
    }
    // A chroma block is read from Cb and Cr at one position: it must lie inside both.
    if (u.base && u.step > 0 && v.base && v.step > 0) {
        grid.chromaWidth = u.width < v.width ? u.width : v.width;
        grid.chromaRows = u.rows < v.rows ? u.rows : v.rows;
    }
    return grid;
}

void CMotionCompensator::SetQuickEnds(GridPlanes& grid, int32_t chromaRowShift) {
    const int32_t chromaRowsNeeded =
        chromaRowShift ? grid.lumaRows / 2 + (grid.lumaRows & 1) : grid.lumaRows;
    const bool chromaCovers = grid.chromaWidth >= grid.lumaWidth / 2 + (grid.lumaWidth & 1) &&
                              grid.chromaRows >= chromaRowsNeeded;
    grid.quickColumnEnd = 0;
    if (!chromaCovers || grid.step[1] != grid.step[2] || grid.lumaWidth < 17 || grid.lumaRows < 17)
        return;
    grid.quickColumnEnd = static_cast<uint32_t>(grid.lumaWidth - 16);
    grid.quickRowEnd = static_cast<uint32_t>(grid.lumaRows - 16);
}

void CMotionCompensator::SetPictures(CYUVFrame* currentFrame, const CYUVFrame* olderReference,
                                     const CYUVFrame* newerReference) {
    current = currentFrame;
    const CYUVFrame* frames[3] = {currentFrame, olderReference, newerReference};
    for (int32_t i = 0; i < 3; ++i) {
        for (int32_t parity = kFrameGrid; parity <= 1; ++parity)
            grids[i][parity + 1] = GridOf(frames[i], parity);
    }
    prefetchAhead = grids[kCurrentPicture][kFrameGrid + 1].lumaWidth >= kPrefetchWidth;
    static const bool referencePrefetchPays = EarlyReferencePrefetchPays();
    prefetchReferences = prefetchAhead && referencePrefetchPays;
    PrepareQuickPath();
}

void CMotionCompensator::SetGeometry(const PictureGeometry& geometry) {
    const bool layoutChanged = geometry.chromaFormat != picture.chromaFormat ||
                               geometry.picture_structure != picture.picture_structure;
    picture = geometry;
    frame420 = geometry.picture_structure == 3 && geometry.chromaFormat != 2;
    forwardPicture = geometry.picture_coding_type == kPictureB ? kOlderPicture : kNewerPicture;
    if (layoutChanged) PrepareQuickPath();
}

void CMotionCompensator::SetCoverage(CFrameCoverage* map) {
    coverage = map;
    PrepareQuickTarget();
}

void CMotionCompensator::PrepareQuickPath() {
    for (auto& pictureGrids : grids) {
        for (GridPlanes& grid : pictureGrids) SetQuickEnds(grid, ChromaRowShift());
    }
    PrepareQuickTarget();
}

// The frame macroblocks that go through the macroblock kernels: those take the current
// picture's steps, set once here, for every picture they read, and need a unit of the coverage
// map for every position they take.
void CMotionCompensator::PrepareQuickTarget() {
    const GridPlanes& out = grids[kCurrentPicture][kFrameGrid + 1];
    bool stepsShared = true;
    for (const auto& pictureGrids : grids) {
        const GridPlanes& frame = pictureGrids[kFrameGrid + 1];
        stepsShared = stepsShared && (!frame.plane[0] || (frame.step[0] == out.step[0] &&
                                                          frame.step[1] == out.step[1] &&
                                                          frame.step[2] == out.step[2]));
    }
    for (int32_t k = 0; k < 3; ++k)
        quickReferences[0].step[k] = quickReferences[1].step[k] = quickTarget.step[k] = out.step[k];
    quickTargetColumnEnd = quickTargetRowEnd = 0;
    quickUnits = nullptr;
    if (!stepsShared || !frame420 || out.quickColumnEnd == 0 || !coverage ||
        !coverage->FrameUnits())
        return;
    const uint32_t columnEnd = static_cast<uint32_t>(out.lumaWidth - 15);
    const uint32_t rowEnd = static_cast<uint32_t>(out.lumaRows - 15);
    const uint32_t columns = static_cast<uint32_t>(coverage->Columns());
    if ((columnEnd - 1) / 16 >= columns ||
        (rowEnd - 1) / 16 >= static_cast<uint32_t>(coverage->Rows()))
        return;
    quickTargetColumnEnd = columnEnd;
    quickTargetRowEnd = rowEnd;
    quickUnits = coverage->FrameUnits();
    quickUnitColumns = columns;
}

int32_t CMotionCompensator::ReferenceFor(int32_t direction, int32_t parity) const {
    if (direction == kBackward) return kNewerPicture;
    // The second field of a P frame sees the first field, of the other parity, in the picture
    // being decoded.
    if (parity != kFrameGrid && picture.picture_coding_type != kPictureB && IsFieldPicture() &&
        picture.secondField && parity != CurrentParity())
        return kCurrentPicture;
    return forwardPicture;
}

// Inlined: it runs once or twice for most macroblocks of a stream.
D2U_ALWAYS_INLINE bool CMotionCompensator::Locate(const Source& source, int32_t x, int32_t row,
                                                  int32_t height, int32_t shift,
                                                  mc::MacroblockReference& reference) const {
    const GridPlanes& grid = *source.grid;
    const int32_t vx = source.vx;
    const int32_t vy = source.vy;
    // x and row lie below the plane's size (under 2^31), the halved vectors within 2^30 of 0:
    // the unsigned sums are the true positions, or beyond every end when those are negative.
    const uint32_t column = static_cast<uint32_t>(x) + static_cast<uint32_t>(vx >> 1);
    const uint32_t lumaRow = static_cast<uint32_t>(row) + static_cast<uint32_t>(vy >> 1);
    if (column >= grid.quickColumnEnd ||
        lumaRow >= grid.quickRowEnd + static_cast<uint32_t>(16 - height)) {
        // Through a copy: a `reference` whose address escaped would stay in memory on the quick
        // path too.
        mc::MacroblockReference checked;
        if (!LocateChecked(source, x, row, height, checked)) return false;
        reference = checked;
        return true;
    }
    // Each part is stored as soon as it is formed, so that few values are held at once.
    reference.plane[0] = SampleAt(grid.plane[0], grid.step[0], column, lumaRow);
    reference.lumaMode = ModeOf(vx, vy);
    // Halved, tx is the chroma vector; quartered, the chroma vector's whole samples. 4:2:2
    // chroma takes the luma rows and vertical vector.
    const int32_t tx = TowardZero(vx);
    const int32_t cy = shift ? TowardZero(vy) >> 1 : vy;
    reference.chromaMode = ModeOf(tx >> 1, cy);
    const uint32_t chromaColumn = static_cast<uint32_t>(x) / 2 + static_cast<uint32_t>(tx >> 2);
    const uint32_t chromaRow =
        (static_cast<uint32_t>(row) >> shift) + static_cast<uint32_t>(cy >> 1);
    const ptrdiff_t chromaOffset =
        static_cast<ptrdiff_t>(grid.step[1]) * chromaRow + static_cast<ptrdiff_t>(chromaColumn);
    reference.plane[1] = grid.plane[1] + chromaOffset;
    reference.plane[2] = grid.plane[2] + chromaOffset;
    return true;
}

// Out of line: inlined into the quick path, its values took the registers the quick path needs.
D2U_NOINLINE bool CMotionCompensator::LocateChecked(const Source& source, int32_t x, int32_t row,
                                                    int32_t height,
                                                    mc::MacroblockReference& reference) const {
    const int32_t shift = ChromaRowShift();
    const GridPlanes& grid = *source.grid;
    const int32_t lumaMode = ModeOf(source.vx, source.vy);
    const int64_t column = static_cast<int64_t>(x) + (source.vx >> 1);
    const int64_t lumaRow = static_cast<int64_t>(row) + (source.vy >> 1);
    if (!Fits(column, lumaRow, 16 + ExtraColumn(lumaMode), height + ExtraRow(lumaMode),
              grid.lumaWidth, grid.lumaRows))
        return false;
    const int32_t cx = TowardZero(source.vx) >> 1;
    const int32_t cy = shift ? TowardZero(source.vy) >> 1 : source.vy;
    const int32_t chromaMode = ModeOf(cx, cy);
    const int64_t chromaColumn = static_cast<int64_t>(x / 2) + (cx >> 1);
    const int64_t chromaRow = static_cast<int64_t>(row >> shift) + (cy >> 1);
    if (!Fits(chromaColumn, chromaRow, 8 + ExtraColumn(chromaMode),
              (height >> shift) + ExtraRow(chromaMode), grid.chromaWidth, grid.chromaRows))
        return false;
    reference.plane[0] = SampleAt(grid.plane[0], grid.step[0], column, lumaRow);
    reference.plane[1] = SampleAt(grid.plane[1], grid.step[1], chromaColumn, chromaRow);
    reference.plane[2] = SampleAt(grid.plane[2], grid.step[2], chromaColumn, chromaRow);
    for (int32_t k = 0; k < 3; ++k) reference.step[k] = grid.step[k];
    reference.lumaMode = lumaMode;
    reference.chromaMode = chromaMode;
    return true;
}

bool CMotionCompensator::Placed(const Region& region, int32_t shift) const {
    const GridPlanes& out = *Grid(kCurrentPicture, region.parity);
    return ((region.x | region.row) & 1) == 0 &&
           Fits(region.x, region.row, 16, region.height, out.lumaWidth, out.lumaRows) &&
           Fits(region.x / 2, region.row >> shift, 8, region.height >> shift, out.chromaWidth,
                out.chromaRows);
}

int32_t CMotionCompensator::PredictRegion(const Region& region, const Source* sources,
                                          int32_t count, const int16_t* residual) {
    const int32_t shift = ChromaRowShift();
    if (count < 1 || count > 2 || !Placed(region, shift)) return -1;
    // Every block is located before any is read or written.
    mc::MacroblockReference reference[2];
    for (int32_t i = 0; i < count; ++i) {
        if (!Locate(sources[i], region.x, region.row, region.height, shift, reference[i]))
            return -1;
    }
    const GridPlanes& out = *Grid(kCurrentPicture, region.parity);
    const mc::KernelTable& kernels = mc::InstalledKernels();
    const mc::MacroblockReference& a = reference[0];
    const mc::MacroblockReference& b = reference[count - 1];
    const int32_t* stepA = sources[0].grid->step;
    const int32_t* stepB = sources[count - 1].grid->step;
    // The block of plane k `down` rows below the region's first: from a alone, or the average
    // of a and b. Areas without coded blocks (kLumaArea, kCbArea, kCrArea) hold zeros: the
    // prediction alone is stored.
    auto predict = [&](int32_t k, mc::BlockShape shape, uint8_t* destination, int32_t down,
                       const int16_t* blockResidual, int32_t residualStep, int32_t modeA,
                       int32_t modeB) {
        if (!(residualAreas & (1 << k))) blockResidual = nullptr;
        destination += down * out.step[k];
        if (count == 1) {
            kernels.single[shape](a.plane[k] + down * stepA[k], stepA[k], blockResidual,
                                  residualStep, destination, out.step[k], modeA);
        } else {
            kernels.bidirectional[shape](a.plane[k] + down * stepA[k], stepA[k], modeA,
                                         b.plane[k] + down * stepB[k], stepB[k], modeB,
                                         blockResidual, residualStep, destination, out.step[k]);
        }
    };
    predict(0, region.height == 16 ? mc::k16x16 : mc::k16x8,
            SampleAt(out.plane[0], out.step[0], region.x, region.row), 0,
            residual + 16 * region.residualRow, 32 * region.residualRowStep, a.lumaMode,
            b.lumaMode);
    // 4:2:2 chroma residual rows correspond one to one with the luma ones; its blocks 16 rows
    // tall go as two 8-row halves.
    const int32_t chromaHeight = region.height >> shift;
    const int32_t chromaResidualRow = shift ? region.chromaResidualRow : region.residualRow;
    const int32_t chromaResidualStep = 16 * region.residualRowStep;
    for (int32_t k = 1; k < 3; ++k) {
        uint8_t* destination =
            SampleAt(out.plane[k], out.step[k], region.x / 2, region.row >> shift);
        const int16_t* blockResidual =
            residual + (k == 1 ? 256 : (shift ? 320 : 384)) + 8 * chromaResidualRow;
        for (int32_t down = 0; down < chromaHeight; down += 8) {
            predict(k, chromaHeight >= 8 ? mc::k8x8 : mc::k8x4, destination, down,
                    blockResidual + down * (chromaResidualStep / 2), chromaResidualStep,
                    a.chromaMode, b.chromaMode);
        }
    }
    if (coverage) coverage->MarkRegion(region.parity, region.x, region.row, region.height);
    return 0;
}

namespace {

// The luma rows that the macroblock two to the right reads with the same vector: neighbours
// mostly move alike (skipped ones exactly so), and the rows then arrive in time. A prefetch
// never faults, wherever the addresses lie.
D2U_ALWAYS_INLINE void PrefetchFollowing(const mc::MacroblockReference& reference) {
    PrefetchRowsForRead<17>(reference.plane[0] + 48, reference.step[0]);
}

}  // namespace

// Inlined: it runs for most macroblocks of a stream.
D2U_ALWAYS_INLINE int32_t CMotionCompensator::PredictFrameMacroblock(uint32_t directions,
                                                                     const int32_t vectors[2][2],
                                                                     const int16_t* residual,
                                                                     int32_t x, int32_t y) {
    const uint32_t column = static_cast<uint32_t>(x);
    const uint32_t row = static_cast<uint32_t>(y);
    if (((column | row) & 1) || column >= quickTargetColumnEnd || row >= quickTargetRowEnd)
        return PredictFrameRegion(directions, vectors, residual, x, y);
    const bool both = directions == kBothDirections;
    const int32_t first = (directions & kMacroblockMotionForward) ? kForward : kBackward;
    mc::MacroblockReference& a = quickReferences[0];
    mc::MacroblockReference& b = quickReferences[1];
    if (!Locate(SourceFor(first, kFrameGrid, vectors[first][0], vectors[first][1]), x, y, 16, 1,
                a) ||
        (both &&
         !Locate(SourceFor(kBackward, kFrameGrid, vectors[kBackward][0], vectors[kBackward][1]), x,
                 y, 16, 1, b)))
        return -1;
    mc::MacroblockTarget& target = quickTarget;
    const GridPlanes& out = *Grid(kCurrentPicture, kFrameGrid);
    const ptrdiff_t chromaOffset = static_cast<ptrdiff_t>(out.step[1]) * (row / 2) + column / 2;
    target.plane[0] = SampleAt(out.plane[0], out.step[0], column, row);
    target.plane[1] = out.plane[1] + chromaOffset;
    target.plane[2] = out.plane[2] + chromaOffset;
    // Areas without coded blocks hold zeros: the prediction alone is stored.
    target.residual[0] = (residualAreas & kLumaArea) ? residual : nullptr;
    target.residual[1] = (residualAreas & kCbArea) ? residual + 256 : nullptr;
    target.residual[2] = (residualAreas & kCrArea) ? residual + 320 : nullptr;
    if (prefetchAhead) {
        PrefetchFollowing(a);
        if (both) PrefetchFollowing(b);
    }
    const mc::KernelTable& kernels = mc::InstalledKernels();
    if (both) {
        kernels.macroblockBidirectional(a, b, target);
    } else {
        kernels.macroblock(a, target);
    }
    quickUnits[static_cast<size_t>(row / 16) * quickUnitColumns + column / 16] =
        CFrameCoverage::kBothRows;
    return 0;
}

// Out of line: the frame macroblocks the macroblock kernels do not take are few.
D2U_NOINLINE int32_t CMotionCompensator::PredictFrameRegion(uint32_t directions,
                                                            const int32_t vectors[2][2],
                                                            const int16_t* residual, int32_t x,
                                                            int32_t y) {
    Source sources[2];
    int32_t count = 0;
    for (int32_t s = kForward; s <= kBackward; ++s) {
        if (directions & FlagOf(s))
            sources[count++] = SourceFor(s, kFrameGrid, vectors[s][0], vectors[s][1]);
    }
    return PredictRegion(FrameRegion(x, y), sources, count, residual);
}

int32_t CMotionCompensator::PredictFrameBlock420(uint32_t directions, const int32_t vectors[2][2],
                                                 const int16_t* residual, int32_t x, int32_t y) {
    if (directions & kBothDirections)
        return PredictFrameMacroblock(directions, vectors, residual, x, y);
    if (picture.picture_coding_type != kPictureP) return -1;
    static constexpr int32_t kStill[2][2] = {};
    PredictFrameMacroblock(kMacroblockMotionForward, kStill, residual, x, y);
    return 0;
}

namespace {

// Asks for the cache lines of kRows rows from p: the first and the last sample of each. Asking
// once for a row that lies within one line saves instructions but measured slower.
template <int kRows>
D2U_ALWAYS_INLINE void PrefetchColumns(const uint8_t* p, ptrdiff_t step, int32_t lastColumn) {
    PrefetchRowsForRead<kRows>(p, step);
    PrefetchRowsForRead<kRows>(p + lastColumn, step);
}

// A reference block of `height` rows and `width` columns with its half-sample row and column
// whatever the vector: the row below is read by the macroblock below, the column by the one to
// the right.
D2U_ALWAYS_INLINE void PrefetchBlock(const uint8_t* p, ptrdiff_t step, int32_t width,
                                     int32_t height) {
    if (height == 16) return PrefetchColumns<17>(p, step, width);
    if (height == 8) return PrefetchColumns<9>(p, step, width);
    PrefetchColumns<5>(p, step, width);
}

}  // namespace

// The blocks the prediction will read, located as it locates them. The position goes
// unchecked: a prefetch never faults, wherever the addresses lie.
D2U_ALWAYS_INLINE void CMotionCompensator::PrefetchSource(const Region& region,
                                                          const Source& source,
                                                          int32_t shift) const {
    mc::MacroblockReference reference;
    if (!Locate(source, region.x, region.row, region.height, shift, reference)) return;
    const int32_t* step = source.grid->step;
    PrefetchBlock(reference.plane[0], step[0], 16, region.height);
    PrefetchBlock(reference.plane[1], step[1], 8, region.height >> shift);
    PrefetchBlock(reference.plane[2], step[2], 8, region.height >> shift);
}

void CMotionCompensator::PrefetchFrameBlock(uint32_t directions, const int32_t vectors[2][2],
                                            int32_t x, int32_t y) const {
    if (!prefetchReferences) return;
    for (int32_t s = kForward; s <= kBackward; ++s) {
        if (directions & FlagOf(s))
            PrefetchSource(FrameRegion(x, y),
                           SourceFor(s, kFrameGrid, vectors[s][0], vectors[s][1]), 1);
    }
}

void CMotionCompensator::PrefetchReferences(const MacroblockMotion& motion, int32_t x,
                                            int32_t y) const {
    // Frame and field prediction with vectors of their own; the rest (no motion in P
    // pictures, dual prime, 16x8) is rare enough to go without.
    if (!prefetchReferences || IsFieldPicture() ||
        (motion.motion_type != kMotionFrame && motion.motion_type != kMotionField))
        return;
    const int32_t shift = ChromaRowShift();
    for (int32_t s = kForward; s <= kBackward; ++s) {
        if (!(motion.macroblock_type & FlagOf(s))) continue;
        if (motion.motion_type == kMotionFrame) {
            PrefetchSource(FrameRegion(x, y),
                           SourceFor(s, kFrameGrid, motion.vector[0][s][0], motion.vector[0][s][1]),
                           shift);
            continue;
        }
        for (int32_t r = 0; r < 2; ++r) {
            const int32_t parity = motion.motion_vertical_field_select[r][s] & 1;
            PrefetchSource(
                Region{r, x, y / 2, 8, r, r, 2},
                SourceFor(s, parity, motion.vector[r][s][0], motion.vector[r][s][1] >> 1), shift);
        }
    }
}

int32_t CMotionCompensator::PredictMacroblock(const MacroblockMotion& motion,
                                              const int16_t* residual, int32_t x, int32_t y) {
    const uint32_t directions = motion.macroblock_type & kBothDirections;
    if (!directions && picture.picture_coding_type != kPictureP) return -1;
    if (directions) {
        PredictDirections(motion, directions, residual, x, y);
        return 0;
    }
    // No motion in a P picture: the co-located block, from the field of the same parity in
    // field pictures.
    MacroblockMotion still;
    still.macroblock_type = kMacroblockMotionForward;
    still.motion_type = IsFieldPicture() ? kMotionField : kMotionFrame;
    still.motion_vertical_field_select[0][0] = CurrentParity();
    still.motion_vertical_field_select[1][0] = CurrentParity();
    PredictDirections(still, kMacroblockMotionForward, residual, x, y);
    return 0;
}

// Out of line: the callers' common case goes through PredictFrameBlock420.
D2U_NOINLINE int32_t CMotionCompensator::PredictDirections(const MacroblockMotion& motion,
                                                           uint32_t directions,
                                                           const int16_t* residual, int32_t x,
                                                           int32_t y) {
    if (motion.motion_type == kMotionDualPrime && directions != kBothDirections &&
        picture.picture_coding_type == kPictureP)
        return PredictDualPrime(motion, residual, x, y);
    if (IsFieldPicture() || motion.motion_type == kMotionField)
        return PredictFieldDirections(motion, directions, residual, x, y);
    // Frame prediction, also for the motion types that have none of their own here.
    if (frame420) return PredictFrameMacroblock(directions, motion.vector[0], residual, x, y);
    return PredictFrameRegion(directions, motion.vector[0], residual, x, y);
}

int32_t CMotionCompensator::PredictFieldDirections(const MacroblockMotion& motion,
                                                   uint32_t directionFlags, const int16_t* residual,
                                                   int32_t x, int32_t y) {
    int32_t directions[2];
    int32_t count = 0;
    if (directionFlags & kMacroblockMotionForward) directions[count++] = kForward;
    if (directionFlags & kMacroblockMotionBackward) directions[count++] = kBackward;
    if (count == 0) return -1;

    // Frame pictures: two field blocks, r = 0 the top-field rows, r = 1 the bottom-field rows,
    // each with its own vector; the stored vertical components are in frame units.
    // Field pictures: one 16x16 block, or two 16x8 halves (upper, lower) with their vectors.
    const bool framePicture = !IsFieldPicture();
    const bool halves = framePicture || motion.motion_type == kMotion16x8;
    const int32_t blocks = halves ? 2 : 1;
    for (int32_t r = 0; r < blocks; ++r) {
        Region region = framePicture
                            ? Region{r, x, y / 2, 8, r, r, 2}
                            : (halves ? Region{CurrentParity(), x, y + 8 * r, 8, 8 * r, 4 * r, 1}
                                      : Region{CurrentParity(), x, y, 16, 0, 0, 1});
        Source sources[2];
        for (int32_t i = 0; i < count; ++i) {
            int32_t s = directions[i];
            int32_t parity = motion.motion_vertical_field_select[r][s] & 1;
            int32_t vy = framePicture ? motion.vector[r][s][1] >> 1 : motion.vector[r][s][1];
            sources[i] = SourceFor(s, parity, motion.vector[r][s][0], vy);
        }
        if (PredictRegion(region, sources, count, residual) != 0) return -1;
    }
    return 0;
}

int32_t CMotionCompensator::PredictDualPrime(const MacroblockMotion& motion,
                                             const int16_t* residual, int32_t x, int32_t y) {
    const int32_t vx = motion.vector[0][kForward][0];
    if (IsFieldPicture()) {
        // The field is the average of the prediction from the field of the same parity and the
        // one from the field of the other parity, the latter one field period away (m = 1).
        const int32_t parity = CurrentParity();
        const int32_t vy = motion.vector[0][kForward][1];
        int32_t opposite[2];
        DeriveDualPrimeVector(vx, vy, motion.dmvector, 1, parity == 0 ? -1 : 1, opposite);
        Source sources[2] = {SourceFor(kForward, parity, vx, vy),
                             SourceFor(kForward, 1 - parity, opposite[0], opposite[1])};
        Region region{parity, x, y, 16, 0, 0, 1};
        return PredictRegion(region, sources, 2, residual);
    }
    // Frame pictures: each field of the macroblock averages its same-parity prediction with
    // the one from the other field of the reference frame, whose distance in field periods
    // (1 or 3) depends on which field comes first.
    const int32_t vy = motion.vector[0][kForward][1] >> 1;
    const bool topFirst = picture.top_field_first != 0;
    for (int32_t r = 0; r < 2; ++r) {
        int32_t m = ((r == 0) == topFirst) ? 1 : 3;
        int32_t opposite[2];
        DeriveDualPrimeVector(vx, vy, motion.dmvector, m, r == 0 ? -1 : 1, opposite);
        Source sources[2] = {SourceFor(kForward, r, vx, vy),
                             SourceFor(kForward, 1 - r, opposite[0], opposite[1])};
        Region region{r, x, y / 2, 8, r, r, 2};
        if (PredictRegion(region, sources, 2, residual) != 0) return -1;
    }
    return 0;
}

void CMotionCompensator::WriteIntraMacroblock(const int16_t* coefficients, int32_t pattern,
                                              int32_t blocks, int32_t x, int32_t y, bool fieldDct) {
    constexpr int32_t kAllBlocks420 = 0x3F;
    IntraSamples samples;
    // The six blocks of a 4:2:0 macroblock of a frame picture lying wholly inside the picture
    // are placed with one check.
    if (coefficients && blocks == 6 && pattern == kAllBlocks420 &&
        PlaceIntraMacroblock420(x, y, fieldDct, samples)) {
        for (int32_t b = 0; b < 6; ++b)
            ippiDCT8x8InvIntra_16s8u_C1R(coefficients + 64 * b, samples.at[b], samples.step[b]);
        return;
    }
    for (int32_t b = 0; b < blocks; ++b) {
        if ((pattern >> (blocks - 1 - b)) & 1)
            WriteIntraBlock(coefficients + 64 * b, b, x, y, fieldDct);
    }
}

bool CMotionCompensator::PlaceIntraMacroblock420(int32_t x, int32_t y, bool fieldDct,
                                                 IntraSamples& samples) const {
    if (!current || IsFieldPicture() || x < 0 || y < 0) return false;
    const YUVPlane& luma = current->Y;
    const YUVPlane& cb = current->U;
    const YUVPlane& cr = current->V;
    if (!luma.data || !cb.data || !cr.data || luma.pitch <= 0 || cb.pitch <= 0 || cr.pitch <= 0)
        return false;
    const int32_t lumaRows = fieldDct ? 2 * (luma.height / 2) : luma.height;
    if (x + 16 > luma.width || y + 16 > lumaRows) return false;
    if (x / 2 + 8 > cb.width || y / 2 + 8 > cb.height || x / 2 + 8 > cr.width ||
        y / 2 + 8 > cr.height)
        return false;
    const ptrdiff_t pitch = luma.pitch;
    uint8_t* upper = luma.data + pitch * y + x;
    // Field DCT: blocks 0 and 1 take the even rows, 2 and 3 the odd rows.
    uint8_t* lower = upper + (fieldDct ? pitch : 8 * pitch);
    const int32_t step = fieldDct ? 2 * luma.pitch : luma.pitch;
    uint8_t* const lumaBlocks[4] = {upper, upper + 8, lower, lower + 8};
    for (int32_t b = 0; b < 4; ++b) {
        samples.at[b] = lumaBlocks[b];
        samples.step[b] = step;
    }
    samples.at[4] = cb.data + static_cast<ptrdiff_t>(cb.pitch) * (y / 2) + x / 2;
    samples.step[4] = cb.pitch;
    samples.at[5] = cr.data + static_cast<ptrdiff_t>(cr.pitch) * (y / 2) + x / 2;
    samples.step[5] = cr.pitch;
    return true;
}

// Block b of an intra macroblock (see WriteIntraMacroblock), left out when outside its plane.
void CMotionCompensator::WriteIntraBlock(const int16_t* coefficients, int32_t b, int32_t x,
                                         int32_t y, bool fieldDct) {
    if (!current || !coefficients || b < 0) return;
    // Field pictures hold one field: every block lands on the rows of that field.
    const int32_t parity = IsFieldPicture() ? CurrentParity() : kFrameGrid;
    PlaneView view;
    int32_t column;
    int32_t row;
    if (b < 4) {
        column = x + 8 * (b & 1);
        if (fieldDct && !IsFieldPicture()) {
            // Field DCT in a frame picture: blocks 0 and 1 hold the top-field rows, 2 and 3
            // the bottom-field rows of the macroblock.
            view = View(current->Y, b >> 1);
            row = y / 2;
        } else {
            view = View(current->Y, parity);
            row = y + 8 * (b >> 1);
        }
    } else if (picture.chromaFormat == 2) {
        // 4:2:2: even blocks Cb, odd blocks Cr; 4 and 5 the upper half (or the top-field rows
        // with field DCT), 6 and 7 the lower half (the bottom-field rows).
        const YUVPlane& plane = (b & 1) ? current->V : current->U;
        const int32_t half = ((b - 4) >> 1) & 1;
        column = x / 2;
        if (fieldDct && !IsFieldPicture()) {
            view = View(plane, half);
            row = y / 2;
        } else {
            view = View(plane, parity);
            row = y + 8 * half;
        }
    } else {
        view = View(b == 4 ? current->U : current->V, parity);
        column = x / 2;
        row = y / 2;
    }
    if (!view.base || view.step <= 0 || !Fits(column, row, 8, 8, view.width, view.rows)) return;
    ippiDCT8x8InvIntra_16s8u_C1R(coefficients, SampleAt(view.base, view.step, column, row),
                                 view.step);
}

}  // namespace d2u
