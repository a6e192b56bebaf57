#include "decoder/motion_compensator.h"

#include "decoder/mpeg_headers.h"
#include "platform/inline_hints.h"
#include "primitives/inverse_dct.h"
#include "primitives/motion_compensation.h"
#include "primitives/prefetch.h"

namespace d2u {
namespace {

constexpr int32_t kForward = 0;
constexpr int32_t kBackward = 1;

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

uint8_t* At(const PlaneView& view, int32_t column, int32_t row) {
    return view.base + static_cast<ptrdiff_t>(view.step) * row + column;
}

// Half-sample mode of a vector: 8 for a horizontal half sample, 4 for a vertical one.
int32_t ModeOf(int32_t vx, int32_t vy) {
    return 8 * (vx & 1) + 4 * (vy & 1);
}

bool BlockInside(const PlaneView& view, int64_t column, int64_t row, int32_t width, int32_t height,
                 int32_t mode) {
    int64_t lastColumn = column + width - 1 + ((mode & 8) ? 1 : 0);
    int64_t lastRow = row + height - 1 + ((mode & 4) ? 1 : 0);
    return view.base && view.step > 0 && column >= 0 && row >= 0 && lastColumn < view.width &&
           lastRow < view.rows;
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

// Only for positions that Fits accepted.
uint8_t* SampleAt(uint8_t* base, int32_t step, int64_t column, int64_t row) {
    return base + static_cast<ptrdiff_t>(step) * static_cast<ptrdiff_t>(row) +
           static_cast<ptrdiff_t>(column);
}

const int16_t* ResidualAt(const int16_t* residual, int32_t elementOffset) {
    return residual + elementOffset;
}

}  // namespace

CMotionCompensator::GridPlanes CMotionCompensator::GridOf(const CYUVFrame* frame, int32_t parity) {
    GridPlanes grid{};
    if (!frame) return grid;
    const PlaneView y = View(frame->Y, parity);
    const PlaneView u = View(frame->U, parity);
    const PlaneView v = View(frame->V, parity);
    grid.luma = y.base;
    grid.cb = u.base;
    grid.cr = v.base;
    grid.lumaStep = y.step;
    grid.cbStep = u.step;
    grid.crStep = v.step;
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

void CMotionCompensator::SetPictures(CYUVFrame* currentFrame, const CYUVFrame* olderReference,
                                     const CYUVFrame* newerReference) {
    current = currentFrame;
    const CYUVFrame* frames[3] = {currentFrame, olderReference, newerReference};
    for (int32_t i = 0; i < 3; ++i) {
        for (int32_t parity = kFrameGrid; parity <= 1; ++parity)
            grids[i][parity + 1] = GridOf(frames[i], parity);
        quickFrames[i] = QuickFrameOf(grids[i][kFrameGrid + 1]);
    }
    ShareQuickSteps();
    ShareQuickCoverage();
    prefetchAhead = grids[kCurrentPicture][kFrameGrid + 1].lumaWidth >= kPrefetchWidth;
}

// The quick prediction takes the steps of the current picture for every plane it reads or
// writes, set once here, and places Cr as it places Cb: pictures whose steps differ (from the
// current picture's, or Cb's from Cr's) are left to the full check.
void CMotionCompensator::ShareQuickSteps() {
    const QuickFrame& out = quickFrames[kCurrentPicture];
    const bool chromaAlike = out.step[1] == out.step[2];
    for (QuickFrame& frame : quickFrames) {
        if (chromaAlike && frame.step[0] == out.step[0] && frame.step[1] == out.step[1] &&
            frame.step[2] == out.step[2])
            continue;
        frame.blockColumnEnd = frame.blockRowEnd = 0;
        frame.referenceColumnEnd = frame.referenceRowEnd = 0;
    }
    for (int32_t k = 0; k < 3; ++k) {
        quickReferences[0].step[k] = quickReferences[1].step[k] = out.step[k];
        quickTarget.step[k] = out.step[k];
    }
}

// Every macroblock the quick check takes (x below blockColumnEnd, y below blockRowEnd) has a
// unit when the map reaches the last one.
void CMotionCompensator::ShareQuickCoverage() {
    const QuickFrame& out = quickFrames[kCurrentPicture];
    quickUnits = nullptr;
    quickUnitColumns = 0;
    if (!coverage || !coverage->FrameUnits() || out.blockColumnEnd == 0 || out.blockRowEnd == 0)
        return;
    const uint32_t columns = static_cast<uint32_t>(coverage->Columns());
    const uint32_t rows = static_cast<uint32_t>(coverage->Rows());
    if ((out.blockColumnEnd - 1) / 16 >= columns || (out.blockRowEnd - 1) / 16 >= rows) return;
    quickUnits = coverage->FrameUnits();
    quickUnitColumns = columns;
}

void CMotionCompensator::SetGeometry(const PictureGeometry& geometry) {
    picture = geometry;
    frame420 = geometry.picture_structure == 3 && geometry.chromaFormat != 2;
    forwardPicture = geometry.picture_coding_type == kPictureB ? kOlderPicture : kNewerPicture;
}

CMotionCompensator::QuickFrame CMotionCompensator::QuickFrameOf(const GridPlanes& grid) {
    QuickFrame quick{
        {grid.luma, grid.cb, grid.cr}, {grid.lumaStep, grid.cbStep, grid.crStep}, 0, 0, 0, 0};
    const bool chromaCovers = grid.chromaWidth >= grid.lumaWidth / 2 + (grid.lumaWidth & 1) &&
                              grid.chromaRows >= grid.lumaRows / 2 + (grid.lumaRows & 1);
    if (!chromaCovers || grid.lumaWidth < 17 || grid.lumaRows < 17) return quick;
    quick.blockColumnEnd = static_cast<uint32_t>(grid.lumaWidth - 15);
    quick.blockRowEnd = static_cast<uint32_t>(grid.lumaRows - 15);
    quick.referenceColumnEnd = static_cast<uint32_t>(grid.lumaWidth - 16);
    quick.referenceRowEnd = static_cast<uint32_t>(grid.lumaRows - 16);
    return quick;
}

void CMotionCompensator::DeriveDualPrimeVector(int32_t vx, int32_t vy, const int32_t dmvector[2],
                                               int32_t m, int32_t e, int32_t out[2]) {
    // (v * m) // 2, the division rounding halves away from zero.
    auto scale = [m](int32_t v) {
        int32_t product = v * m;
        return product >= 0 ? (product + 1) >> 1 : -((1 - product) >> 1);
    };
    out[0] = scale(vx) + dmvector[0];
    out[1] = scale(vy) + e + dmvector[1];
}

int32_t CMotionCompensator::ReferenceFor(int32_t direction, int32_t parity) const {
    if (direction == kBackward) return kNewerPicture;
    if (picture.picture_coding_type == kPictureB) return kOlderPicture;
    // The second field of a P frame sees the first field, of the other parity, in the picture
    // being decoded.
    if (IsFieldPicture() && picture.secondField && parity != CurrentParity())
        return kCurrentPicture;
    return kNewerPicture;
}

int32_t CMotionCompensator::PredictRegion(const Region& region, const Source* sources,
                                          int32_t count, const int16_t* residual) {
    if (!residual || count < 1 || count > 2) return -1;
    const GridPlanes& out = *Grid(kCurrentPicture, region.parity);
    const int32_t shift = ChromaRowShift();
    const int32_t chromaColumn = region.x / 2;
    const int32_t chromaRow = region.row >> shift;
    const int32_t chromaHeight = region.height >> shift;
    if (!Fits(region.x, region.row, 16, region.height, out.lumaWidth, out.lumaRows) ||
        !Fits(chromaColumn, chromaRow, 8, chromaHeight, out.chromaWidth, out.chromaRows))
        return -1;

    // Reference block starts and modes, luma then Cb then Cr, per source; every block is
    // checked before any is read or written.
    const uint8_t* reference[2][3] = {};
    int32_t step[2][3] = {};
    int32_t mode[2][3] = {};
    for (int32_t i = 0; i < count; ++i) {
        const Source& source = sources[i];
        const GridPlanes& grid = *source.grid;
        const int32_t lumaMode = ModeOf(source.vx, source.vy);
        const int64_t column = static_cast<int64_t>(region.x) + (source.vx >> 1);
        const int64_t row = static_cast<int64_t>(region.row) + (source.vy >> 1);
        if (!Fits(column, row, 16 + ExtraColumn(lumaMode), region.height + ExtraRow(lumaMode),
                  grid.lumaWidth, grid.lumaRows))
            return -1;
        const int32_t cx = HalfTowardZero(source.vx);
        const int32_t cy = ChromaVerticalVector(source.vy);
        const int32_t chromaMode = ModeOf(cx, cy);
        const int64_t referenceColumn = static_cast<int64_t>(chromaColumn) + (cx >> 1);
        const int64_t referenceRow = static_cast<int64_t>(chromaRow) + (cy >> 1);
        if (!Fits(referenceColumn, referenceRow, 8 + ExtraColumn(chromaMode),
                  chromaHeight + ExtraRow(chromaMode), grid.chromaWidth, grid.chromaRows))
            return -1;
        reference[i][0] = SampleAt(grid.luma, grid.lumaStep, column, row);
        reference[i][1] = SampleAt(grid.cb, grid.cbStep, referenceColumn, referenceRow);
        reference[i][2] = SampleAt(grid.cr, grid.crStep, referenceColumn, referenceRow);
        step[i][0] = grid.lumaStep;
        step[i][1] = grid.cbStep;
        step[i][2] = grid.crStep;
        mode[i][0] = lumaMode;
        mode[i][1] = mode[i][2] = chromaMode;
    }

    const int32_t lumaResidualStep = 32 * region.residualRowStep;
    const int32_t chromaResidualStep = 16 * region.residualRowStep;
    const int16_t* lumaResidual = ResidualAt(residual, 16 * region.residualRow);
    // 4:2:2 chroma residual rows correspond one to one with the luma ones.
    const int32_t chromaResidualRow = shift ? region.chromaResidualRow : region.residualRow;
    const int32_t crResidual = shift ? 320 : 384;
    const int16_t* chromaResidual[2] = {ResidualAt(residual, 256 + 8 * chromaResidualRow),
                                        ResidualAt(residual, crResidual + 8 * chromaResidualRow)};
    uint8_t* lumaDestination = SampleAt(out.luma, out.lumaStep, region.x, region.row);
    uint8_t* chromaDestination[2] = {SampleAt(out.cb, out.cbStep, chromaColumn, chromaRow),
                                     SampleAt(out.cr, out.crStep, chromaColumn, chromaRow)};
    const int32_t chromaOutStep[2] = {out.cbStep, out.crStep};
    // Chroma blocks 16 rows tall (4:2:2 with a 16-row luma block) go as two 8-row halves.
    const int32_t chromaParts = chromaHeight == 16 ? 2 : 1;
    const mc::BlockShape lumaShape = region.height == 16 ? mc::k16x16 : mc::k16x8;
    const mc::BlockShape chromaShape = chromaHeight >= 8 ? mc::k8x8 : mc::k8x4;
    const int32_t residualHalf = 8 * (chromaResidualStep / 2);
    // Areas without coded blocks hold zeros: the prediction alone is stored.
    if (!(residualAreas & kLumaArea)) lumaResidual = nullptr;
    if (!(residualAreas & kCbArea)) chromaResidual[0] = nullptr;
    if (!(residualAreas & kCrArea)) chromaResidual[1] = nullptr;
    const mc::KernelTable& kernels = mc::InstalledKernels();
    if (count == 1) {
        kernels.single[lumaShape](reference[0][0], step[0][0], lumaResidual, lumaResidualStep,
                                  lumaDestination, out.lumaStep, mode[0][0], 0);
        for (int32_t plane = 0; plane < 2; ++plane) {
            const int32_t k = plane + 1;
            for (int32_t part = 0; part < chromaParts; ++part) {
                const int16_t* partResidual =
                    chromaResidual[plane] ? chromaResidual[plane] + part * residualHalf : nullptr;
                kernels.single[chromaShape](
                    reference[0][k] + 8 * part * step[0][k], step[0][k], partResidual,
                    chromaResidualStep, chromaDestination[plane] + 8 * part * chromaOutStep[plane],
                    chromaOutStep[plane], mode[0][k], 0);
            }
        }
    } else {
        kernels.bidirectional[lumaShape](reference[0][0], step[0][0], mode[0][0], reference[1][0],
                                         step[1][0], mode[1][0], lumaResidual, lumaResidualStep,
                                         lumaDestination, out.lumaStep, 0);
        for (int32_t plane = 0; plane < 2; ++plane) {
            const int32_t k = plane + 1;
            for (int32_t part = 0; part < chromaParts; ++part) {
                const int16_t* partResidual =
                    chromaResidual[plane] ? chromaResidual[plane] + part * residualHalf : nullptr;
                kernels.bidirectional[chromaShape](
                    reference[0][k] + 8 * part * step[0][k], step[0][k], mode[0][k],
                    reference[1][k] + 8 * part * step[1][k], step[1][k], mode[1][k], partResidual,
                    chromaResidualStep, chromaDestination[plane] + 8 * part * chromaOutStep[plane],
                    chromaOutStep[plane], 0);
            }
        }
    }
    if (coverage) coverage->MarkRegion(region.parity, region.x, region.row, region.height);
    return 0;
}

namespace {

// A reference macroblock of a frame, luma then Cb and Cr, with the half-sample modes.
struct FrameReference {
    const uint8_t* plane[3];
    int32_t step[3];
    int32_t lumaMode;
    int32_t chromaMode;
};

}  // namespace

int32_t CMotionCompensator::PredictFrameBlock420(uint32_t directions, const int32_t vectors[2][2],
                                                 const int16_t* residual, int32_t x, int32_t y) {
    if (directions & (kMacroblockMotionForward | kMacroblockMotionBackward))
        return PredictFrameBlockDirections(directions, vectors, residual, x, y);
    if (picture.picture_coding_type != kPictureP) return -1;
    static constexpr int32_t kStill[2][2] = {};
    PredictFrameBlockDirections(kMacroblockMotionForward, kStill, residual, x, y);
    return 0;
}

// Inlined: it runs once or twice for most macroblocks of a stream. The steps are those that
// ShareQuickSteps set.
D2U_ALWAYS_INLINE bool CMotionCompensator::LocateQuickly(int32_t direction, const int32_t vector[2],
                                                         uint32_t x, uint32_t y,
                                                         mc::MacroblockReference& reference) const {
    const QuickFrame& frame = quickFrames[direction == kBackward ? kNewerPicture : forwardPicture];
    const int32_t vx = vector[0];
    const int32_t vy = vector[1];
    // x and y lie below the plane's size (under 2^31), the halved vectors within 2^30 of 0:
    // the unsigned sums are the true positions, or beyond every end when those are negative.
    const uint32_t column = x + static_cast<uint32_t>(vx >> 1);
    const uint32_t row = y + static_cast<uint32_t>(vy >> 1);
    if (column >= frame.referenceColumnEnd || row >= frame.referenceRowEnd) return false;
    // Each part is stored as soon as it is formed, so that few values are held at once.
    reference.plane[0] = SampleAt(frame.plane[0], frame.step[0], column, row);
    reference.lumaMode = ModeOf(vx, vy);
    // The luma vector plus one when negative: halved, the chroma vector (half the luma one,
    // toward zero); quartered, the chroma vector's whole samples.
    const int32_t tx = vx + static_cast<int32_t>(static_cast<uint32_t>(vx) >> 31);
    const int32_t ty = vy + static_cast<int32_t>(static_cast<uint32_t>(vy) >> 31);
    reference.chromaMode = ModeOf(tx >> 1, ty >> 1);
    const uint32_t chromaColumn = x / 2 + static_cast<uint32_t>(tx >> 2);
    const uint32_t chromaRow = y / 2 + static_cast<uint32_t>(ty >> 2);
    const ptrdiff_t chromaOffset =
        static_cast<ptrdiff_t>(frame.step[1]) * chromaRow + static_cast<ptrdiff_t>(chromaColumn);
    reference.plane[1] = frame.plane[1] + chromaOffset;
    reference.plane[2] = frame.plane[2] + chromaOffset;
    return true;
}

namespace {

// The luma rows that the macroblock two to the right reads with the same vector: neighbours
// mostly move alike (skipped ones exactly so), and the rows then arrive in time. A prefetch
// never faults, wherever the addresses lie.
D2U_ALWAYS_INLINE void PrefetchFollowing(const mc::MacroblockReference& reference) {
    PrefetchRowsForRead<17>(reference.plane[0] + 48, reference.step[0]);
}

}  // namespace

bool CMotionCompensator::PredictFrameBlockQuickly(uint32_t directions, const int32_t vectors[2][2],
                                                  const int16_t* residual, int32_t x, int32_t y) {
    const QuickFrame& out = quickFrames[kCurrentPicture];
    const uint32_t column = static_cast<uint32_t>(x);
    const uint32_t row = static_cast<uint32_t>(y);
    // Without units for its macroblocks (no map, or one too small) the full check takes it.
    if (!residual || !quickUnits || ((column | row) & 1) || column >= out.blockColumnEnd ||
        row >= out.blockRowEnd)
        return false;
    const bool both = directions == (kMacroblockMotionForward | kMacroblockMotionBackward);
    const int32_t first = (directions & kMacroblockMotionForward) ? kForward : kBackward;
    mc::MacroblockReference& a = quickReferences[0];
    mc::MacroblockReference& b = quickReferences[1];
    if (!LocateQuickly(first, vectors[first], column, row, a) ||
        (both && !LocateQuickly(kBackward, vectors[kBackward], column, row, b)))
        return false;
    mc::MacroblockTarget& target = quickTarget;
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
    return true;
}

// Out of line: inlined into the quick path's caller, its values took the registers the quick
// path needs.
D2U_NOINLINE int32_t CMotionCompensator::PredictFrameBlockChecked(uint32_t directions,
                                                                  const int32_t vectors[2][2],
                                                                  const int16_t* residual,
                                                                  int32_t x, int32_t y) {
    const GridPlanes& out = *Grid(kCurrentPicture, kFrameGrid);
    const int32_t chromaColumn = x / 2;
    const int32_t chromaRow = y >> 1;
    if (!residual || !Fits(x, y, 16, 16, out.lumaWidth, out.lumaRows) ||
        !Fits(chromaColumn, chromaRow, 8, 8, out.chromaWidth, out.chromaRows))
        return -1;
    // The reference blocks of direction s, or false when one is not wholly inside its plane.
    auto locate = [&](int32_t s, FrameReference& reference) {
        const GridPlanes& grid = *Grid(ReferenceFor(s, kFrameGrid), kFrameGrid);
        const int32_t vx = vectors[s][0];
        const int32_t vy = vectors[s][1];
        reference.lumaMode = ModeOf(vx, vy);
        const int64_t column = static_cast<int64_t>(x) + (vx >> 1);
        const int64_t row = static_cast<int64_t>(y) + (vy >> 1);
        if (!Fits(column, row, 16 + ExtraColumn(reference.lumaMode),
                  16 + ExtraRow(reference.lumaMode), grid.lumaWidth, grid.lumaRows))
            return false;
        const int32_t cx = HalfTowardZero(vx);
        const int32_t cy = HalfTowardZero(vy);
        reference.chromaMode = ModeOf(cx, cy);
        const int64_t referenceColumn = static_cast<int64_t>(chromaColumn) + (cx >> 1);
        const int64_t referenceRow = static_cast<int64_t>(chromaRow) + (cy >> 1);
        if (!Fits(referenceColumn, referenceRow, 8 + ExtraColumn(reference.chromaMode),
                  8 + ExtraRow(reference.chromaMode), grid.chromaWidth, grid.chromaRows))
            return false;
        reference.plane[0] = SampleAt(grid.luma, grid.lumaStep, column, row);
        reference.plane[1] = SampleAt(grid.cb, grid.cbStep, referenceColumn, referenceRow);
        reference.plane[2] = SampleAt(grid.cr, grid.crStep, referenceColumn, referenceRow);
        reference.step[0] = grid.lumaStep;
        reference.step[1] = grid.cbStep;
        reference.step[2] = grid.crStep;
        return true;
    };
    const bool both = directions == (kMacroblockMotionForward | kMacroblockMotionBackward);
    FrameReference a{};
    FrameReference b{};
    if (!locate((directions & kMacroblockMotionForward) ? kForward : kBackward, a) ||
        (both && !locate(kBackward, b)))
        return -1;

    // Areas without coded blocks hold zeros: the prediction alone is stored.
    const int16_t* blockResidual[3] = {(residualAreas & kLumaArea) ? residual : nullptr,
                                       (residualAreas & kCbArea) ? residual + 256 : nullptr,
                                       (residualAreas & kCrArea) ? residual + 320 : nullptr};
    uint8_t* destination[3] = {SampleAt(out.luma, out.lumaStep, x, y),
                               SampleAt(out.cb, out.cbStep, chromaColumn, chromaRow),
                               SampleAt(out.cr, out.crStep, chromaColumn, chromaRow)};
    const int32_t destinationStep[3] = {out.lumaStep, out.cbStep, out.crStep};
    const mc::KernelTable& kernels = mc::InstalledKernels();
    if (!both) {
        kernels.single[mc::k16x16](a.plane[0], a.step[0], blockResidual[0], 32, destination[0],
                                   destinationStep[0], a.lumaMode, 0);
        for (int32_t k = 1; k < 3; ++k)
            kernels.single[mc::k8x8](a.plane[k], a.step[k], blockResidual[k], 16, destination[k],
                                     destinationStep[k], a.chromaMode, 0);
    } else {
        kernels.bidirectional[mc::k16x16](a.plane[0], a.step[0], a.lumaMode, b.plane[0], b.step[0],
                                          b.lumaMode, blockResidual[0], 32, destination[0],
                                          destinationStep[0], 0);
        for (int32_t k = 1; k < 3; ++k)
            kernels.bidirectional[mc::k8x8](a.plane[k], a.step[k], a.chromaMode, b.plane[k],
                                            b.step[k], b.chromaMode, blockResidual[k], 16,
                                            destination[k], destinationStep[k], 0);
    }
    if (coverage) coverage->MarkFrameMacroblock(x, y);
    return 0;
}

namespace {

// Asks for the cache lines of a square block of kSize rows of kSize bytes from p: the first and
// the last sample of each row. Asking once for a row that lies within one line saves
// instructions but measured slower.
template <int kSize>
D2U_ALWAYS_INLINE void PrefetchSquare(const uint8_t* p, ptrdiff_t step) {
    PrefetchRowsForRead<kSize>(p, step);
    PrefetchRowsForRead<kSize>(p + kSize - 1, step);
}

// Asks for the cache lines of a reference block (with its half-sample row and column); blocks
// not wholly inside the plane are left alone, as the prediction refuses them.
void PrefetchBlock(const uint8_t* base, int32_t step, int32_t columnLimit, int32_t rowLimit,
                   int64_t column, int64_t row, int32_t width, int32_t height) {
    if (!Fits(column, row, width + 1, height + 1, columnLimit, rowLimit)) return;
    const uint8_t* p = base + static_cast<ptrdiff_t>(step) * static_cast<ptrdiff_t>(row) +
                       static_cast<ptrdiff_t>(column);
    for (int32_t r = 0; r <= height; ++r, p += step) {
        PrefetchForRead(p);
        PrefetchForRead(p + width);
    }
}

}  // namespace

void CMotionCompensator::PrefetchSource(const Region& region, const Source& source) const {
    const GridPlanes& grid = *source.grid;
    PrefetchBlock(grid.luma, grid.lumaStep, grid.lumaWidth, grid.lumaRows,
                  static_cast<int64_t>(region.x) + (source.vx >> 1),
                  static_cast<int64_t>(region.row) + (source.vy >> 1), 16, region.height);
    const int32_t shift = ChromaRowShift();
    const int32_t cx = HalfTowardZero(source.vx);
    const int32_t cy = ChromaVerticalVector(source.vy);
    const int64_t column = static_cast<int64_t>(region.x / 2) + (cx >> 1);
    const int64_t row = static_cast<int64_t>(region.row >> shift) + (cy >> 1);
    PrefetchBlock(grid.cb, grid.cbStep, grid.chromaWidth, grid.chromaRows, column, row, 8,
                  region.height >> shift);
    PrefetchBlock(grid.cr, grid.crStep, grid.chromaWidth, grid.chromaRows, column, row, 8,
                  region.height >> shift);
}

// The blocks the quick prediction will read for one direction, located as it locates them;
// blocks it leaves to the full check go through PrefetchSource.
D2U_ALWAYS_INLINE void CMotionCompensator::PrefetchFrameDirection(int32_t direction,
                                                                  const int32_t vector[2],
                                                                  int32_t x, int32_t y) const {
    const QuickFrame& out = quickFrames[kCurrentPicture];
    const uint32_t column = static_cast<uint32_t>(x);
    const uint32_t row = static_cast<uint32_t>(y);
    mc::MacroblockReference reference;
    if (((column | row) & 1) || column >= out.blockColumnEnd || row >= out.blockRowEnd ||
        !LocateQuickly(direction, vector, column, row, reference)) {
        PrefetchSource(Region{kFrameGrid, x, y, 16, 0, 0, 1},
                       SourceFor(direction, kFrameGrid, vector[0], vector[1]));
        return;
    }
    // The block with its half-sample row and column whatever the vector: the row below is read
    // by the macroblock below, the column by the one to the right.
    PrefetchSquare<17>(reference.plane[0], out.step[0]);
    PrefetchSquare<9>(reference.plane[1], out.step[1]);
    PrefetchSquare<9>(reference.plane[2], out.step[2]);
}

void CMotionCompensator::PrefetchFrameBlock(uint32_t directions, const int32_t vectors[2][2],
                                            int32_t x, int32_t y) const {
    if (!prefetchAhead) return;
    if (directions & kMacroblockMotionForward)
        PrefetchFrameDirection(kForward, vectors[kForward], x, y);
    if (directions & kMacroblockMotionBackward)
        PrefetchFrameDirection(kBackward, vectors[kBackward], x, y);
}

void CMotionCompensator::PrefetchReferences(const MacroblockMotion& motion, int32_t x,
                                            int32_t y) const {
    // Frame and field prediction with vectors of their own; the rest (no motion in P
    // pictures, dual prime, 16x8) is rare enough to go without.
    if (!prefetchAhead || IsFieldPicture() ||
        (motion.motion_type != kMotionFrame && motion.motion_type != kMotionField))
        return;
    for (int32_t s = 0; s < 2; ++s) {
        const uint32_t flag = s == 0 ? kMacroblockMotionForward : kMacroblockMotionBackward;
        if (!(motion.macroblock_type & flag)) continue;
        if (motion.motion_type == kMotionFrame) {
            PrefetchSource(
                Region{kFrameGrid, x, y, 16, 0, 0, 1},
                SourceFor(s, kFrameGrid, motion.vector[0][s][0], motion.vector[0][s][1]));
            continue;
        }
        for (int32_t r = 0; r < 2; ++r) {
            const int32_t parity = motion.motion_vertical_field_select[r][s] & 1;
            PrefetchSource(
                Region{r, x, y / 2, 8, r, r, 2},
                SourceFor(s, parity, motion.vector[r][s][0], motion.vector[r][s][1] >> 1));
        }
    }
}

int32_t CMotionCompensator::PredictMacroblock(const MacroblockMotion& motion,
                                              const int16_t* residual, int32_t x, int32_t y) {
    const uint32_t directions =
        motion.macroblock_type & (kMacroblockMotionForward | kMacroblockMotionBackward);
    if (directions) {
        PredictDirections(motion, directions, residual, x, y);
        return 0;
    }
    if (picture.picture_coding_type != kPictureP) return -1;
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

int32_t CMotionCompensator::PredictDirections(const MacroblockMotion& motion, uint32_t directions,
                                              const int16_t* residual, int32_t x, int32_t y) {
    const bool framePicture = !IsFieldPicture();
    if (framePicture && motion.motion_type == kMotionFrame) {
        // By far the most common case: one 16x16 frame block from one or two references.
        if (picture.chromaFormat != 2)
            return PredictFrameBlockDirections(directions, motion.vector[0], residual, x, y);
        Source sources[2];
        int32_t count = 0;
        if (directions & kMacroblockMotionForward)
            sources[count++] = SourceFor(kForward, kFrameGrid, motion.vector[0][kForward][0],
                                         motion.vector[0][kForward][1]);
        if (directions & kMacroblockMotionBackward)
            sources[count++] = SourceFor(kBackward, kFrameGrid, motion.vector[0][kBackward][0],
                                         motion.vector[0][kBackward][1]);
        return PredictRegion(Region{kFrameGrid, x, y, 16, 0, 0, 1}, sources, count, residual);
    }
    const bool bidirectional = directions == (kMacroblockMotionForward | kMacroblockMotionBackward);
    if (motion.motion_type == kMotionDualPrime && !bidirectional &&
        picture.picture_coding_type == kPictureP) {
        return PredictDualPrime(motion, residual, x, y);
    }
    if (!framePicture || motion.motion_type == kMotionField) {
        // One direction: the backward one when given, else the forward one.
        const uint32_t used = bidirectional || !(directions & kMacroblockMotionBackward)
                                  ? directions
                                  : kMacroblockMotionBackward;
        return PredictFieldDirections(motion, used, residual, x, y);
    }
    return bidirectional ? PredictFrameBidirectional(motion, residual, x, y)
                         : PredictFrame(motion, residual, x, y);
}

int32_t CMotionCompensator::PredictFrame(const MacroblockMotion& motion, const int16_t* residual,
                                         int32_t x, int32_t y) {
    if (IsFieldPicture()) return PredictField(motion, residual, x, y);
    const int32_t s = (motion.macroblock_type & kMacroblockMotionBackward) ? kBackward : kForward;
    Region region{kFrameGrid, x, y, 16, 0, 0, 1};
    Source source = SourceFor(s, kFrameGrid, motion.vector[0][s][0], motion.vector[0][s][1]);
    return PredictRegion(region, &source, 1, residual);
}

int32_t CMotionCompensator::PredictFrameBidirectional(const MacroblockMotion& motion,
                                                      const int16_t* residual, int32_t x,
                                                      int32_t y) {
    if (IsFieldPicture()) return PredictFieldBidirectional(motion, residual, x, y);
    Region region{kFrameGrid, x, y, 16, 0, 0, 1};
    Source sources[2];
    for (int32_t s = 0; s < 2; ++s)
        sources[s] = SourceFor(s, kFrameGrid, motion.vector[0][s][0], motion.vector[0][s][1]);
    return PredictRegion(region, sources, 2, residual);
}

int32_t CMotionCompensator::PredictField(const MacroblockMotion& motion, const int16_t* residual,
                                         int32_t x, int32_t y) {
    const uint32_t direction = (motion.macroblock_type & kMacroblockMotionBackward)
                                   ? kMacroblockMotionBackward
                                   : kMacroblockMotionForward;
    return PredictFieldDirections(motion, direction, residual, x, y);
}

int32_t CMotionCompensator::PredictFieldBidirectional(const MacroblockMotion& motion,
                                                      const int16_t* residual, int32_t x,
                                                      int32_t y) {
    return PredictFieldDirections(
        motion, motion.macroblock_type & (kMacroblockMotionForward | kMacroblockMotionBackward),
        residual, x, y);
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
    if (blocks == 6 && pattern == kAllBlocks420 &&
        WriteWholeIntraMacroblock420(coefficients, x, y, fieldDct))
        return;
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

// The six blocks of a 4:2:0 macroblock of a frame picture lying wholly inside the picture,
// placed with one check; false, with nothing written, in every other case.
bool CMotionCompensator::WriteWholeIntraMacroblock420(const int16_t* coefficients, int32_t x,
                                                      int32_t y, bool fieldDct) {
    IntraSamples samples;
    if (!coefficients || !PlaceIntraMacroblock420(x, y, fieldDct, samples)) return false;
    for (int32_t b = 0; b < 6; ++b)
        ippiDCT8x8InvIntra_16s8u_C1R(coefficients + 64 * b, samples.at[b], samples.step[b]);
    return true;
}

int32_t CMotionCompensator::WriteIntraBlock(const int16_t* coefficients, int32_t b, int32_t x,
                                            int32_t y, bool fieldDct) {
    if (!current || !coefficients || b < 0) return 0;
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
    if (!BlockInside(view, column, row, 8, 8, 0)) return 0;
    ippiDCT8x8InvIntra_16s8u_C1R(coefficients, At(view, column, row), view.step);
    return 0;
}

}  // namespace d2u
