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
// predicted, and the destination keeps what it held.
#pragma once

#include <cstdint>

#include "decoder/coefficient_reader.h"
#include "decoder/frame_coverage.h"
#include "decoder/yuv_frame.h"
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
    void SetCoverage(CFrameCoverage* map) {
        coverage = map;
        ShareQuickCoverage();
    }
    // The residual areas of the next predictions that may hold non-zero values (kLumaArea,
    // kCbArea, kCrArea); the others are taken as zero and not read. All of them by default.
    static constexpr int32_t kLumaArea = 1;
    static constexpr int32_t kCbArea = 2;
    static constexpr int32_t kCrArea = 4;
    static constexpr int32_t kAllAreas = 7;
    void SetResidualAreas(int32_t areas) { residualAreas = areas; }

    // Block b (0 to 3 luma, 4 Cb, 5 Cr; in 4:2:2 also 6 lower Cb, 7 lower Cr) of an intra
    // macroblock at luma position x, y (y in rows of the field in field pictures). fieldDct:
    // the luma blocks (and the 4:2:2 chroma blocks) hold field rows.
    int32_t WriteIntraBlock(const int16_t* coefficients, int32_t b, int32_t x, int32_t y,
                            bool fieldDct);
    // Every coded block of an intra macroblock of `blocks` blocks: block b (its 64 coefficients
    // at coefficients + 64 * b) when bit blocks - 1 - b of `pattern` is set. The same as
    // WriteIntraBlock for each.
    void WriteIntraMacroblock(const int16_t* coefficients, int32_t pattern, int32_t blocks,
                              int32_t x, int32_t y, bool fieldDct);
    // Where the six blocks of a 4:2:0 macroblock of a frame picture go when it lies wholly
    // inside the picture (what WriteIntraBlock works out for each block); false otherwise.
    bool PlaceIntraMacroblock420(int32_t x, int32_t y, bool fieldDct, IntraSamples& samples) const;

    // residual: 16x16 luma (32-byte rows), then Cb and Cr, 8 wide (16-byte rows): 8 rows
    // each in 4:2:0, 16 rows each in 4:2:2 (the layout of CBlockReconstructor).
    // 0 after a prediction ran (even if a reference block was refused), -1 when the macroblock
    // has no prediction direction and is not in a P picture.
    int32_t PredictMacroblock(const MacroblockMotion& motion, const int16_t* residual, int32_t x,
                              int32_t y);

    // Asks the cache for the reference blocks that PredictMacroblock will read for this
    // motion (frame and field prediction in frame pictures), so that they arrive while the
    // macroblock's coefficients are decoded. Reads and writes nothing.
    void PrefetchReferences(const MacroblockMotion& motion, int32_t x, int32_t y) const;

    // Whether the prefetches above ask for anything: only in pictures wide enough to gain.
    bool PrefetchesAhead() const { return prefetchAhead; }

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

    // The variants; 0, or -1 when a reference block lies outside its plane.
    int32_t PredictFrame(const MacroblockMotion& motion, const int16_t* residual, int32_t x,
                         int32_t y);
    int32_t PredictField(const MacroblockMotion& motion, const int16_t* residual, int32_t x,
                         int32_t y);
    int32_t PredictFrameBidirectional(const MacroblockMotion& motion, const int16_t* residual,
                                      int32_t x, int32_t y);
    int32_t PredictFieldBidirectional(const MacroblockMotion& motion, const int16_t* residual,
                                      int32_t x, int32_t y);
    int32_t PredictDualPrime(const MacroblockMotion& motion, const int16_t* residual, int32_t x,
                             int32_t y);

    // Dual prime: the vector that predicts a field from the field of opposite parity, derived
    // from the same-parity field vector (vx, vy) and dmvector. m is the distance factor (1 or
    // 3), e the parity correction (-1 when predicting a top field from a bottom one, else +1).
    static void DeriveDualPrimeVector(int32_t vx, int32_t vy, const int32_t dmvector[2], int32_t m,
                                      int32_t e, int32_t out[2]);

private:
    bool WriteWholeIntraMacroblock420(const int16_t* coefficients, int32_t x, int32_t y,
                                      bool fieldDct);
    static constexpr int32_t kFrameGrid = -1;

    // The three planes of one picture seen through one grid (the whole frame, or one field),
    // taken once per picture so that a block needs only a few adds and compares. The limits
    // are those of the block's last column and row plus one; chroma takes the smaller of Cb and
    // Cr. Planes that cannot be read have limits of 0, which refuses every block.
    struct GridPlanes {
        uint8_t* luma;
        uint8_t* cb;
        uint8_t* cr;
        int32_t lumaStep;
        int32_t cbStep;
        int32_t crStep;
        int32_t lumaWidth;
        int32_t lumaRows;
        int32_t chromaWidth;
        int32_t chromaRows;
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

    // One picture as a frame of 4:2:0 macroblocks, taken once per picture for the quick check
    // of a 16x16 block at even luma column x and row y (as unsigned): x < blockColumnEnd and
    // y < blockRowEnd put the block inside, x < referenceColumnEnd and y < referenceRowEnd also
    // its half-sample column and row. Either puts the chroma blocks inside too: the chroma
    // planes are at least half as wide and tall as luma (rounded up), and the chroma block of
    // a vector never reaches beyond half of what the luma block reads. Where that does not hold
    // (or a plane cannot be read) the ends are 0 and every block takes the full check.
    struct QuickFrame {
        uint8_t* plane[3];
        int32_t step[3];
        uint32_t blockColumnEnd;
        uint32_t blockRowEnd;
        uint32_t referenceColumnEnd;
        uint32_t referenceRowEnd;
    };
    static QuickFrame QuickFrameOf(const GridPlanes& grid);
    void ShareQuickSteps();
    void ShareQuickCoverage();

    static GridPlanes GridOf(const CYUVFrame* frame, int32_t parity);
    const GridPlanes* Grid(int32_t pictureIndex, int32_t parity) const {
        return &grids[pictureIndex][parity + 1];
    }
    int32_t PredictRegion(const Region& region, const Source* sources, int32_t count,
                          const int16_t* residual);
    // PredictRegion for a 16x16 frame block of a 4:2:0 frame picture, without the cases it
    // does not need; at least one direction. The quick check first, the full one for what it
    // leaves.
    int32_t PredictFrameBlockDirections(uint32_t directions, const int32_t vectors[2][2],
                                        const int16_t* residual, int32_t x, int32_t y) {
        if (PredictFrameBlockQuickly(directions, vectors, residual, x, y)) return 0;
        return PredictFrameBlockChecked(directions, vectors, residual, x, y);
    }
    int32_t PredictFrameBlockChecked(uint32_t directions, const int32_t vectors[2][2],
                                     const int16_t* residual, int32_t x, int32_t y);
    // The macroblock when the quick check of QuickFrame takes it (then true); false leaves
    // everything as it was, for the full check to decide.
    bool PredictFrameBlockQuickly(uint32_t directions, const int32_t vectors[2][2],
                                  const int16_t* residual, int32_t x, int32_t y);
    bool LocateQuickly(int32_t direction, const int32_t vector[2], uint32_t x, uint32_t y,
                       mc::MacroblockReference& reference) const;
    void PrefetchSource(const Region& region, const Source& source) const;
    void PrefetchFrameDirection(int32_t direction, const int32_t vector[2], int32_t x,
                                int32_t y) const;
    int32_t PredictDirections(const MacroblockMotion& motion, uint32_t directions,
                              const int16_t* residual, int32_t x, int32_t y);
    int32_t PredictFieldDirections(const MacroblockMotion& motion, uint32_t directions,
                                   const int16_t* residual, int32_t x, int32_t y);
    int32_t ReferenceFor(int32_t direction, int32_t parity) const;
    Source SourceFor(int32_t direction, int32_t parity, int32_t vx, int32_t vy) const {
        return Source{Grid(ReferenceFor(direction, parity), parity), vx, vy};
    }
    bool IsFieldPicture() const { return picture.picture_structure != 3; }
    // 1 when chroma has half the rows of luma (4:2:0), 0 when it has all of them (4:2:2).
    int32_t ChromaRowShift() const { return picture.chromaFormat == 2 ? 0 : 1; }
    int32_t ChromaVerticalVector(int32_t vy) const {
        return ChromaRowShift() ? HalfTowardZero(vy) : vy;
    }
    // Chroma vectors are half the luma ones, truncated toward zero: v / 2, written with shifts
    // as the compiler may otherwise divide.
    static int32_t HalfTowardZero(int32_t v) {
        return (v + static_cast<int32_t>(static_cast<uint32_t>(v) >> 31)) >> 1;
    }
    int32_t CurrentParity() const { return picture.picture_structure == 2 ? 1 : 0; }

    CYUVFrame* current = nullptr;
    // [picture][grid]: pictures kCurrentPicture, kOlderPicture, kNewerPicture; grids frame,
    // top field, bottom field.
    GridPlanes grids[3][3] = {};
    QuickFrame quickFrames[3] = {};
    // The blocks of the quick prediction, whose steps stay for the picture.
    mc::MacroblockReference quickReferences[2] = {};
    mc::MacroblockTarget quickTarget = {};
    // The coverage units of the quick prediction's macroblocks, when the map holds every
    // position it takes (else null, and every macroblock takes the full check).
    uint8_t* quickUnits = nullptr;
    uint32_t quickUnitColumns = 0;
    // The picture forward vectors of frame pictures point into.
    int32_t forwardPicture = kNewerPicture;
    PictureGeometry picture;
    CFrameCoverage* coverage = nullptr;
    int32_t residualAreas = kAllAreas;
    bool frame420 = true;
    // Pictures this wide keep too little of their references in cache: their reference blocks
    // are asked for before the coefficients are read, and the quick frame prediction asks
    // ahead for the rows of the macroblocks to its right. Narrower ones gain nothing from it.
    static constexpr int32_t kPrefetchWidth = 1280;
    bool prefetchAhead = false;
};

}  // namespace d2u
