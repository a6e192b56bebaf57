// Forms the picture content of one macroblock: the inverse DCT of intra blocks straight into
// the picture being decoded, and the motion-compensated prediction of every other macroblock
// from the reference pictures with the residual added. Covers frame and field pictures with all
// their prediction modes (frame, field, 16x8, dual prime) for 4:2:0 and 4:2:2 pictures. 4:2:2
// chroma has every row of luma: its blocks are as tall as the luma blocks and its vertical
// vectors are the luma ones, only the horizontal ones are halved.
//
// Reference selection: P pictures predict from `newer` (the most recent I or P picture); B
// pictures forward from `older` and backward from `newer`. The second field of a P frame
// coded as two field pictures also predicts from the first field, which lies in `current`.
//
// Every reference block is checked against its plane before any sample is read: a block that
// is not wholly inside (including the extra row and column of half-sample interpolation) is not
// predicted, and the destination keeps what it held. One check serves every prediction and
// prefetch (Locate): a quick one for blocks well inside, the full one for the rest.
#pragma once

#include <cstdint>

#include "decoder/coefficient_reader.h"
#include "decoder/frame_coverage.h"
#include "picture/yuv_frame.h"
#include "primitives/motion_compensation.h"

namespace d2u {

// Values of motion_type.
constexpr int32_t kMotionNone = 0;
constexpr int32_t kMotionField = 1;  // field-based; in field pictures one 16x16 field block
constexpr int32_t kMotionFrame = 2;  // frame-based; in field pictures 16x8
constexpr int32_t kMotion16x8 = 2;   // field pictures
constexpr int32_t kMotionDualPrime = 3;

// What the macroblock layer decided for one non-intra macroblock.
struct MacroblockMotion {
    uint32_t macroblock_type = 0;
    int32_t motion_type = kMotionNone;
    // [r][s][t], half-sample units. In frame pictures the vertical component of field vectors
    // is in frame units (twice the field vector).
    int32_t vector[2][2][2] = {};
    int32_t motion_vertical_field_select[2][2] = {};
    int32_t dmvector[2] = {};
};

// The picture being decoded, as the compensator needs it.
struct PictureGeometry {
    uint32_t picture_coding_type = 0;
    uint32_t picture_structure = 3;  // 1 top field, 2 bottom field, 3 frame
    uint32_t top_field_first = 1;
    bool secondField = false;   // the second field picture of a frame
    uint32_t chromaFormat = 1;  // 1 4:2:0, 2 4:2:2
};

class CMotionCompensator {
public:
    CMotionCompensator() = default;
    virtual ~CMotionCompensator() = default;

    // Takes the planes' places and sizes as they are now: a picture reallocated later needs
    // another call before the next prediction.
    void SetPictures(CYUVFrame* current, const CYUVFrame* older, const CYUVFrame* newer);
    void SetGeometry(const PictureGeometry& geometry);
    // Where the blocks predicted into the current picture are recorded (none when null). A map
    // allocated again later needs another call before the next prediction.
    void SetCoverage(CFrameCoverage* map);
    // The residual areas of the next predictions that may hold non-zero values (kLumaArea,
    // kCbArea, kCrArea); the others are taken as zero and not read. All of them by default.
    static constexpr int32_t kLumaArea = 1;
    static constexpr int32_t kCbArea = 2;
    static constexpr int32_t kCrArea = 4;
    static constexpr int32_t kAllAreas = 7;
    void SetResidualAreas(int32_t areas) { residualAreas = areas; }

    // Every coded block of an intra macroblock of `blocks` blocks at luma position x, y (y in
    // rows of the field in field pictures): block b (0 to 3 luma, 4 Cb, 5 Cr; in 4:2:2 also 6
    // lower Cb, 7 lower Cr; its 64 coefficients at coefficients + 64 * b) when bit
    // blocks - 1 - b of `pattern` is set. fieldDct: the luma blocks (and the 4:2:2 chroma
    // blocks) hold field rows. Blocks outside the picture are left out.
    void WriteIntraMacroblock(const int16_t* coefficients, int32_t pattern, int32_t blocks,
                              int32_t x, int32_t y, bool fieldDct);
    // Where the six blocks of a 4:2:0 macroblock of a frame picture go when it lies wholly
    // inside the picture; false otherwise.
    bool PlaceIntraMacroblock420(int32_t x, int32_t y, bool fieldDct, IntraSamples& samples) const;

    // residual (not null): 16x16 luma (32-byte rows), then Cb and Cr, 8 wide (16-byte rows): 8 rows
    // each in 4:2:0, 16 rows each in 4:2:2 (the layout of CBlockReconstructor). x and y: the
    // macroblock's luma position (odd ones are refused).
    // 0 after a prediction ran (even if a reference block was refused), -1 when the macroblock
    // has no prediction direction and is not in a P picture.
    int32_t PredictMacroblock(const MacroblockMotion& motion, const int16_t* residual, int32_t x,
                              int32_t y);

    // Asks the cache for the reference blocks that PredictMacroblock will read for this
    // motion (frame and field prediction in frame pictures), so that they arrive while the
    // macroblock's coefficients are decoded. Reads and writes nothing.
    void PrefetchReferences(const MacroblockMotion& motion, int32_t x, int32_t y) const;

    // Whether the prefetches above ask for anything: only in pictures wide enough to gain, on
    // CPUs where it pays.
    bool PrefetchesAhead() const { return prefetchReferences; }

    // The common case on its own, without a MacroblockMotion: frame prediction of a 4:2:0 frame
    // picture (FramePrediction420() true). vectors[s][t]: the macroblock's first vector of each
    // direction. No direction in a P picture predicts the co-located block (as
    // PredictMacroblock does). 0, or -1 when nothing could be predicted.
    bool FramePrediction420() const { return frame420; }
    int32_t PredictFrameBlock420(uint32_t directions, const int32_t vectors[2][2],
                                 const int16_t* residual, int32_t x, int32_t y);
    // PrefetchReferences for the same case.
    void PrefetchFrameBlock(uint32_t directions, const int32_t vectors[2][2], int32_t x,
                            int32_t y) const;

private:
    static constexpr int32_t kFrameGrid = -1;

    // The three planes of one picture seen through one grid (the whole frame, or one field),
    // taken once per picture so that a block needs only a few adds and compares. The limits
    // are those of the block's last column and row plus one; chroma takes the smaller of Cb and
    // Cr. Planes that cannot be read have limits of 0, which refuses every block.
    //
    // The quick check of a reference block (16 luma columns, `height` rows) at even luma column
    // x and row y of the grid (as unsigned): x < quickColumnEnd and y < quickRowEnd + 16 -
    // height put it inside with its half-sample column and row. That puts the chroma blocks
    // inside too: the chroma planes are at least half as wide as luma and, in 4:2:0, half as
    // tall (rounded up), and the chroma block of a vector never reaches beyond half of what the
    // luma block reads. Where that does not hold, or Cb and Cr have different steps, the column
    // end is 0 and every block takes the full check.
    struct GridPlanes {
        uint8_t* plane[3];  // luma, Cb, Cr
        int32_t step[3];
        int32_t lumaWidth;
        int32_t lumaRows;
        int32_t chromaWidth;
        int32_t chromaRows;
        uint32_t quickColumnEnd;
        uint32_t quickRowEnd;
    };
    // Pictures as SetPictures gives them.
    static constexpr int32_t kCurrentPicture = 0;
    static constexpr int32_t kOlderPicture = 1;
    static constexpr int32_t kNewerPicture = 2;

    // One source of a prediction: a reference picture, seen as a frame or as one of its
    // fields, and a luma vector in half samples (vertical in rows of that grid).
    struct Source {
        const GridPlanes* grid;
        int32_t vx;
        int32_t vy;
    };
    // A block of the current picture: luma columns x..x+15, `height` rows (16 or 8) of the
    // grid from `row` on; the residual rows it takes start at residualRow (luma) and
    // chromaResidualRow and step residualRowStep rows at a time.
    struct Region {
        int32_t parity;
        int32_t x;
        int32_t row;
        int32_t height;
        int32_t residualRow;
        int32_t chromaResidualRow;
        int32_t residualRowStep;
    };
    static Region FrameRegion(int32_t x, int32_t y) {
        return Region{kFrameGrid, x, y, 16, 0, 0, 1};
    }

    static GridPlanes GridOf(const CYUVFrame* frame, int32_t parity);
    static void SetQuickEnds(GridPlanes& grid, int32_t chromaRowShift);
    // The quick ends of every grid, and PrepareQuickTarget.
    void PrepareQuickPath();
    void PrepareQuickTarget();
    const GridPlanes* Grid(int32_t pictureIndex, int32_t parity) const {
        return &grids[pictureIndex][parity + 1];
    }

    // The one way to a reference block: the first sample of the block that `source` gives the
    // block of `height` rows at even luma column x and row `row` of its grid, in each plane (at
    // the grid's steps), and the half-sample modes; false when a block is not wholly inside its
    // plane. The quick check first, the full one for what it leaves. shift: ChromaRowShift(),
    // which the 4:2:0 frame path passes as a constant.
    bool Locate(const Source& source, int32_t x, int32_t row, int32_t height, int32_t shift,
                mc::MacroblockReference& reference) const;
    // The full check; sets the steps too.
    bool LocateChecked(const Source& source, int32_t x, int32_t row, int32_t height,
                       mc::MacroblockReference& reference) const;
    // Whether the region lies inside the current picture at an even position.
    bool Placed(const Region& region, int32_t shift) const;

    int32_t PredictRegion(const Region& region, const Source* sources, int32_t count,
                          const int16_t* residual);
    // A 16x16 frame block of a 4:2:0 frame picture, through the macroblock kernels where the
    // current picture allows; at least one direction.
    int32_t PredictFrameMacroblock(uint32_t directions, const int32_t vectors[2][2],
                                   const int16_t* residual, int32_t x, int32_t y);
    int32_t PredictFrameRegion(uint32_t directions, const int32_t vectors[2][2],
                               const int16_t* residual, int32_t x, int32_t y);
    int32_t PredictDirections(const MacroblockMotion& motion, uint32_t directions,
                              const int16_t* residual, int32_t x, int32_t y);
    int32_t PredictFieldDirections(const MacroblockMotion& motion, uint32_t directions,
                                   const int16_t* residual, int32_t x, int32_t y);
    int32_t PredictDualPrime(const MacroblockMotion& motion, const int16_t* residual, int32_t x,
                             int32_t y);
    void PrefetchSource(const Region& region, const Source& source, int32_t shift) const;
    void WriteIntraBlock(const int16_t* coefficients, int32_t b, int32_t x, int32_t y,
                         bool fieldDct);

    int32_t ReferenceFor(int32_t direction, int32_t parity) const;
    Source SourceFor(int32_t direction, int32_t parity, int32_t vx, int32_t vy) const {
        return Source{Grid(ReferenceFor(direction, parity), parity), vx, vy};
    }
    bool IsFieldPicture() const { return picture.picture_structure != 3; }
    // 1 when chroma has half the rows of luma (4:2:0), 0 when it has all of them (4:2:2).
    int32_t ChromaRowShift() const { return picture.chromaFormat == 2 ? 0 : 1; }
    int32_t CurrentParity() const { return picture.picture_structure == 2 ? 1 : 0; }

    CYUVFrame* current = nullptr;
    // [picture][grid]: pictures kCurrentPicture, kOlderPicture, kNewerPicture; grids frame,
    // top field, bottom field.
    GridPlanes grids[3][3] = {};
    // The macroblock kernels' blocks, whose steps (the current picture's, which every readable
    // picture then shares) stay for the picture.
    mc::MacroblockReference quickReferences[2] = {};
    mc::MacroblockTarget quickTarget = {};
    // The frame macroblocks that go through the macroblock kernels: even x below
    // quickTargetColumnEnd and even y below quickTargetRowEnd (both 0 when none do: without a
    // coverage map holding their units, or with pictures of other steps). Their units are
    // marked in quickUnits.
    uint32_t quickTargetColumnEnd = 0;
    uint32_t quickTargetRowEnd = 0;
    uint8_t* quickUnits = nullptr;
    uint32_t quickUnitColumns = 0;
    // The picture forward vectors of frame pictures point into.
    int32_t forwardPicture = kNewerPicture;
    PictureGeometry picture;
    CFrameCoverage* coverage = nullptr;
    int32_t residualAreas = kAllAreas;
    bool frame420 = true;
    // Pictures this wide keep too little of their references in cache: their reference blocks
    // are asked for before the coefficients are read (where that pays), and the quick frame
    // prediction asks ahead for the rows of the macroblocks to its right. Narrower ones gain
    // nothing from it.
    static constexpr int32_t kPrefetchWidth = 1280;
    bool prefetchAhead = false;
    bool prefetchReferences = false;  // before the coefficients (PrefetchReferences)
};

}  // namespace d2u
