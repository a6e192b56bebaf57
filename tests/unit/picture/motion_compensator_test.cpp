#include "decoder/motion_compensator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "decoder/mpeg_headers.h"

namespace d2u {
namespace {

constexpr int kTop = 0;
constexpr int kBottom = 1;
constexpr int kFrame = -1;

// Sample (column, row) of a plane seen as a frame (parity -1) or as one of its fields.
int Sample(const YUVPlane& plane, int parity, int column, int row) {
    int frameRow = parity < 0 ? row : 2 * row + parity;
    return plane.data[frameRow * plane.pitch + column];
}

// MPEG half-sample interpolation at an integer position and mode, straight from the
// definition: averages of two or four neighbours, rounding up.
int Interpolate(const YUVPlane& plane, int parity, int column, int row, int mode) {
    int a = Sample(plane, parity, column, row);
    bool h = (mode & 8) != 0;
    bool v = (mode & 4) != 0;
    if (h && v) {
        return (a + Sample(plane, parity, column + 1, row) +
                Sample(plane, parity, column, row + 1) +
                Sample(plane, parity, column + 1, row + 1) + 2) >>
               2;
    }
    if (h) return (a + Sample(plane, parity, column + 1, row) + 1) >> 1;
    if (v) return (a + Sample(plane, parity, column, row + 1) + 1) >> 1;
    return a;
}

int Clip(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

class MotionCompensatorTest : public ::testing::Test {
protected:
    static constexpr int kSize = 64;

    void SetUp() override {
        for (CYUVFrame* frame : {&current, &older, &newer}) {
            ASSERT_EQ(frame->Allocate(kSize, kSize), 0);
        }
        std::mt19937 rng(7);
        for (CYUVFrame* frame : {&older, &newer}) {
            for (YUVPlane* plane : {&frame->Y, &frame->U, &frame->V}) {
                for (int i = 0; i < plane->pitch * plane->height; ++i)
                    plane->data[i] = static_cast<uint8_t>(rng());
            }
        }
        std::memset(current.Y.data, 11, static_cast<size_t>(current.Y.pitch) * current.Y.height);
        std::memset(current.U.data, 22, static_cast<size_t>(current.U.pitch) * current.U.height);
        std::memset(current.V.data, 33, static_cast<size_t>(current.V.pitch) * current.V.height);
        compensator.SetPictures(&current, &older, &newer);
        residual.assign(384, 0);
    }

    void Use(uint32_t codingType, uint32_t structure = kFramePicture, bool secondField = false,
             uint32_t topFieldFirst = 1) {
        PictureGeometry geometry;
        geometry.picture_coding_type = codingType;
        geometry.picture_structure = structure;
        geometry.secondField = secondField;
        geometry.top_field_first = topFieldFirst;
        compensator.SetGeometry(geometry);
    }

    // Distinct residual values per plane, so that a wrong layout shows.
    void PatternResidual() {
        for (int i = 0; i < 256; ++i) residual[i] = static_cast<int16_t>((i % 16) - (i / 16));
        for (int i = 256; i < 320; ++i) residual[i] = 5;
        for (int i = 320; i < 384; ++i) residual[i] = -7;
    }
    int LumaResidual(int row, int column) const { return residual[row * 16 + column]; }
    int ChromaResidual(int plane, int row, int column) const {
        return residual[256 + 64 * plane + row * 8 + column];
    }

    int Out(const YUVPlane& plane, int column, int row) const {
        return plane.data[row * plane.pitch + column];
    }

    // Checks the 16 luma rows of the macroblock at (x, y) of a frame picture against an
    // expectation per frame row of the macroblock.
    template <class Expect>
    void ExpectLuma(int x, int y, Expect expect) {
        for (int i = 0; i < 16; ++i)
            for (int j = 0; j < 16; ++j)
                ASSERT_EQ(Out(current.Y, x + j, y + i), expect(i, j))
                    << "row " << i << " col " << j;
    }
    template <class Expect>
    void ExpectChroma(int plane, int x, int y, Expect expect) {
        const YUVPlane& out = plane == 0 ? current.U : current.V;
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 8; ++j)
                ASSERT_EQ(Out(out, x / 2 + j, y / 2 + i), expect(i, j))
                    << "plane " << plane << " row " << i << " col " << j;
    }

    CYUVFrame current, older, newer;
    CMotionCompensator compensator;
    std::vector<int16_t> residual;
};

MacroblockMotion Motion(uint32_t type, int32_t motionType) {
    MacroblockMotion motion;
    motion.macroblock_type = type;
    motion.motion_type = motionType;
    return motion;
}

TEST_F(MotionCompensatorTest, FrameVectorsChooseBlockPositionAndHalfSampleModes) {
    Use(kPictureB);
    // Forward (-1, 0): luma from column x - 1 with a horizontal half sample; the chroma vector
    // -1 / 2 is 0, so chroma is co-located with no half sample. From the older reference.
    MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionFrame);
    motion.vector[0][0][0] = -1;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 16), 0);
    ExpectLuma(16, 16,
               [&](int i, int j) { return Interpolate(older.Y, kFrame, 15 + j, 16 + i, 8); });
    ExpectChroma(0, 16, 16, [&](int i, int j) { return Sample(older.U, kFrame, 8 + j, 8 + i); });
    ExpectChroma(1, 16, 16, [&](int i, int j) { return Sample(older.V, kFrame, 8 + j, 8 + i); });

    // Vertical -5: luma rows from y - 3 with a vertical half sample; chroma vector -2, rows
    // from y / 2 - 1 without.
    motion.vector[0][0][0] = 0;
    motion.vector[0][0][1] = -5;
    PatternResidual();
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 32, 16), 0);
    ExpectLuma(32, 16, [&](int i, int j) {
        return Clip(Interpolate(older.Y, kFrame, 32 + j, 13 + i, 4) + LumaResidual(i, j));
    });
    ExpectChroma(0, 32, 16, [&](int i, int j) {
        return Clip(Sample(older.U, kFrame, 16 + j, 7 + i) + ChromaResidual(0, i, j));
    });
    ExpectChroma(1, 32, 16, [&](int i, int j) {
        return Clip(Sample(older.V, kFrame, 16 + j, 7 + i) + ChromaResidual(1, i, j));
    });

    // Chroma vectors truncate toward zero: -3 gives -1 (offset -1, half sample).
    motion.vector[0][0][0] = -3;
    motion.vector[0][0][1] = 3;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 32), 0);
    ExpectLuma(16, 32, [&](int i, int j) {
        return Clip(Interpolate(older.Y, kFrame, 14 + j, 33 + i, 12) + LumaResidual(i, j));
    });
    ExpectChroma(0, 16, 32, [&](int i, int j) {
        return Clip(Interpolate(older.U, kFrame, 7 + j, 16 + i, 12) + ChromaResidual(0, i, j));
    });
}

TEST_F(MotionCompensatorTest, ReferenceChoiceFollowsPictureTypeAndDirection) {
    PatternResidual();
    // P picture without motion: the co-located blocks of the newer reference plus residual.
    Use(kPictureP);
    ASSERT_EQ(compensator.PredictMacroblock(Motion(kMacroblockPattern, kMotionFrame),
                                            residual.data(), 0, 0),
              0);
    ExpectLuma(0, 0, [&](int i, int j) {
        return Clip(Sample(newer.Y, kFrame, j, i) + LumaResidual(i, j));
    });
    ExpectChroma(1, 0, 0, [&](int i, int j) {
        return Clip(Sample(newer.V, kFrame, j, i) + ChromaResidual(1, i, j));
    });
    // B picture, backward only: newer reference with the backward vector.
    Use(kPictureB);
    MacroblockMotion motion = Motion(kMacroblockMotionBackward, kMotionFrame);
    motion.vector[0][0][0] = 8;  // forward vector, must be ignored
    motion.vector[0][1][1] = 2;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 48, 0), 0);
    ExpectLuma(48, 0, [&](int i, int j) {
        return Clip(Sample(newer.Y, kFrame, 48 + j, 1 + i) + LumaResidual(i, j));
    });
    // Both directions: the average of the older and the newer prediction, rounding up.
    motion = Motion(kMacroblockMotionForward | kMacroblockMotionBackward, kMotionFrame);
    motion.vector[0][0][0] = 1;
    motion.vector[0][1][1] = -2;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 16), 0);
    ExpectLuma(16, 16, [&](int i, int j) {
        int f = Interpolate(older.Y, kFrame, 16 + j, 16 + i, 8);
        int b = Sample(newer.Y, kFrame, 16 + j, 15 + i);
        return Clip(((f + b + 1) >> 1) + LumaResidual(i, j));
    });
    ExpectChroma(0, 16, 16, [&](int i, int j) {
        int f = Sample(older.U, kFrame, 8 + j, 8 + i);          // chroma vector 1 / 2 = 0
        int b = Interpolate(newer.U, kFrame, 8 + j, 7 + i, 4);  // chroma -1: up, half
        return Clip(((f + b + 1) >> 1) + ChromaResidual(0, i, j));
    });
}

TEST_F(MotionCompensatorTest, NoDirectionOutsidePPicturesWritesNothing) {
    Use(kPictureB);
    EXPECT_EQ(compensator.PredictMacroblock(Motion(kMacroblockPattern, kMotionFrame),
                                            residual.data(), 0, 0),
              -1);
    Use(kPictureI);
    EXPECT_EQ(compensator.PredictMacroblock(Motion(0, kMotionNone), residual.data(), 0, 0), -1);
    ExpectLuma(0, 0, [](int, int) { return 11; });
}

TEST_F(MotionCompensatorTest, FieldPredictionInFramePictures) {
    Use(kPictureP);
    PatternResidual();
    // Zero vectors with field selects 1 (top rows) and 0 (bottom rows): the top-field rows of
    // the macroblock come from the bottom field of the reference and the other way round.
    MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionField);
    motion.motion_vertical_field_select[0][0] = 1;
    motion.motion_vertical_field_select[1][0] = 0;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 32), 0);
    ExpectLuma(16, 32, [&](int i, int j) {
        int source = (i & 1) ? 32 + i - 1 : 32 + i + 1;
        return Clip(Sample(newer.Y, kFrame, 16 + j, source) + LumaResidual(i, j));
    });
    ExpectChroma(0, 16, 32, [&](int i, int j) {
        int source = (i & 1) ? 16 + i - 1 : 16 + i + 1;
        return Clip(Sample(newer.U, kFrame, 8 + j, source) + ChromaResidual(0, i, j));
    });
    // A stored vertical component of 6 is field vector 3: one field row down with a vertical
    // half sample; its chroma vector 1 is no row down with a half sample.
    motion.motion_vertical_field_select[0][0] = 0;
    motion.motion_vertical_field_select[1][0] = 1;
    motion.vector[0][0][1] = 6;
    motion.vector[1][0][1] = -4;  // bottom rows: field vector -2, one field row up
    motion.vector[1][0][0] = 2;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 16), 0);
    ExpectLuma(16, 16, [&](int i, int j) {
        int fieldRow = 8 + i / 2;
        int predicted = (i & 1) ? Sample(newer.Y, kBottom, 17 + j, fieldRow - 1)
                                : Interpolate(newer.Y, kTop, 16 + j, fieldRow + 1, 4);
        return Clip(predicted + LumaResidual(i, j));
    });
    ExpectChroma(1, 16, 16, [&](int i, int j) {
        int fieldRow = 4 + i / 2;
        // Bottom rows: chroma vector (1, -1): half sample horizontally, offset -1 vertically
        // with a half sample.
        int predicted = (i & 1) ? Interpolate(newer.V, kBottom, 8 + j, fieldRow - 1, 12)
                                : Interpolate(newer.V, kTop, 8 + j, fieldRow, 4);
        return Clip(predicted + ChromaResidual(1, i, j));
    });
}

TEST_F(MotionCompensatorTest, ReferenceBlocksOutsideThePlaneAreRefused) {
    Use(kPictureP);
    MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionFrame);
    // Above row 0.
    motion.vector[0][0][1] = -2;
    EXPECT_EQ(compensator.PredictFrame(motion, residual.data(), 0, 0), -1);
    EXPECT_EQ(compensator.PredictMacroblock(motion, residual.data(), 0, 0), 0);
    ExpectLuma(0, 0, [](int, int) { return 11; });
    ExpectChroma(0, 0, 0, [](int, int) { return 22; });
    // Ending exactly on the last row: fine. One half sample more reads a row too far.
    motion.vector[0][0][1] = 32;
    EXPECT_EQ(compensator.PredictFrame(motion, residual.data(), 0, 32), 0);
    ExpectLuma(0, 32, [&](int i, int j) { return Sample(newer.Y, kFrame, j, 48 + i); });
    motion.vector[0][0][1] = 33;
    EXPECT_EQ(compensator.PredictFrame(motion, residual.data(), 16, 32), -1);
    // Right edge, horizontally: the half-sample column beyond the width is refused.
    motion.vector[0][0][1] = 0;
    motion.vector[0][0][0] = 1;
    EXPECT_EQ(compensator.PredictFrame(motion, residual.data(), 48, 0), -1);
    motion.vector[0][0][0] = -1;
    EXPECT_EQ(compensator.PredictFrame(motion, residual.data(), 0, 16), -1);
    // Field vectors: the bottom field has half as many rows.
    motion = Motion(kMacroblockMotionForward, kMotionField);
    motion.motion_vertical_field_select[1][0] = 1;
    motion.vector[1][0][1] = 2 * 17;  // field vector 17 from field row 24: rows 41.. > 31
    EXPECT_EQ(compensator.PredictField(motion, residual.data(), 0, 48), -1);
    // Huge vectors do not overflow the position arithmetic.
    motion = Motion(kMacroblockMotionForward, kMotionFrame);
    motion.vector[0][0][0] = 0x7FFFFFFF;
    motion.vector[0][0][1] = -0x7FFFFFFF;
    EXPECT_EQ(compensator.PredictFrame(motion, residual.data(), 0, 0), -1);
}

TEST_F(MotionCompensatorTest, FieldPicturesWriteOnlyTheirOwnField) {
    PatternResidual();
    // Bottom field picture, P, 16x16 field prediction from the top field of the reference with
    // vector (0, 2): field row + 1.
    Use(kPictureP, kBottomField);
    MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionField);
    motion.motion_vertical_field_select[0][0] = 0;
    motion.vector[0][0][1] = 2;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 0), 0);
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 16; ++j) {
            ASSERT_EQ(Sample(current.Y, kBottom, 16 + j, i),
                      Clip(Sample(newer.Y, kTop, 16 + j, i + 1) + LumaResidual(i, j)));
            ASSERT_EQ(Sample(current.Y, kTop, 16 + j, i), 11);
        }
    }
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 8; ++j) {
            // Chroma vector 1: a vertical half sample.
            ASSERT_EQ(Sample(current.U, kBottom, 8 + j, i),
                      Clip(Interpolate(newer.U, kTop, 8 + j, i, 4) + ChromaResidual(0, i, j)));
            ASSERT_EQ(Sample(current.U, kTop, 8 + j, i), 22);
        }
    }
}

TEST_F(MotionCompensatorTest, SixteenByEightPredictionUsesOneVectorPerHalf) {
    PatternResidual();
    Use(kPictureB, kTopField);
    MacroblockMotion motion = Motion(kMacroblockMotionBackward, kMotion16x8);
    motion.motion_vertical_field_select[0][1] = 1;
    motion.motion_vertical_field_select[1][1] = 0;
    motion.vector[0][1][0] = 2;
    motion.vector[1][1][1] = -1;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 16), 0);
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 16; ++j) {
            int predicted = i < 8 ? Sample(newer.Y, kBottom, 17 + j, 16 + i)
                                  : Interpolate(newer.Y, kTop, 16 + j, 15 + i, 4);
            ASSERT_EQ(Sample(current.Y, kTop, 16 + j, 16 + i), Clip(predicted + LumaResidual(i, j)))
                << i << "," << j;
        }
    }
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 8; ++j) {
            // Upper half: chroma vector (1, 0); lower half: (0, 0) since -1 / 2 is 0.
            int predicted = i < 4 ? Interpolate(newer.V, kBottom, 8 + j, 8 + i, 8)
                                  : Sample(newer.V, kTop, 8 + j, 8 + i);
            ASSERT_EQ(Sample(current.V, kTop, 8 + j, 8 + i),
                      Clip(predicted + ChromaResidual(1, i, j)));
        }
    }
}

TEST_F(MotionCompensatorTest, SecondFieldOfAPFramePredictsFromTheFirstField) {
    // The first (top) field is already in the current picture.
    for (int row = 0; row < kSize; row += 2)
        for (int c = 0; c < kSize; ++c)
            current.Y.data[row * current.Y.pitch + c] = static_cast<uint8_t>(row + c);
    Use(kPictureP, kBottomField, true);
    MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionField);
    motion.motion_vertical_field_select[0][0] = 0;  // the other parity: the first field
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 0, 0), 0);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) ASSERT_EQ(Sample(current.Y, kBottom, j, i), 2 * i + j);
    // Same parity: the bottom field of the newer reference.
    motion.motion_vertical_field_select[0][0] = 1;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 0), 0);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            ASSERT_EQ(Sample(current.Y, kBottom, 16 + j, i), Sample(newer.Y, kBottom, 16 + j, i));
    // A first field never looks into the current picture.
    Use(kPictureP, kBottomField, false);
    motion.motion_vertical_field_select[0][0] = 0;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 32, 0), 0);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            ASSERT_EQ(Sample(current.Y, kBottom, 32 + j, i), Sample(newer.Y, kTop, 32 + j, i));
}

TEST_F(MotionCompensatorTest, DualPrimeVectorsFollowTheStandardFormula) {
    int32_t out[2];
    const int32_t noDmv[2] = {0, 0};
    // (v * m) // 2 rounds halves away from zero.
    CMotionCompensator::DeriveDualPrimeVector(3, -3, noDmv, 3, 1, out);
    EXPECT_EQ(out[0], 5);   // 9 // 2
    EXPECT_EQ(out[1], -4);  // -9 // 2 = -5, plus e = 1
    CMotionCompensator::DeriveDualPrimeVector(1, -1, noDmv, 1, -1, out);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], -2);
    const int32_t dmv[2] = {-1, 1};
    CMotionCompensator::DeriveDualPrimeVector(4, 6, dmv, 1, 1, out);
    EXPECT_EQ(out[0], 1);  // 2 - 1
    EXPECT_EQ(out[1], 5);  // 3 + 1 + 1
}

TEST_F(MotionCompensatorTest, DualPrimeInFramePicturesAveragesBothFields) {
    PatternResidual();
    Use(kPictureP, kFramePicture, false, 1);
    MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionDualPrime);
    motion.vector[0][0][0] = 2;  // one sample right
    motion.vector[0][0][1] = 4;  // field vector 2: one field row down
    motion.dmvector[0] = 0;
    motion.dmvector[1] = 1;
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 16, 16), 0);
    // Top field first: top rows from the bottom field with m = 1, e = -1: (1, 1 - 1 + 1) =
    // (1, 1); bottom rows from the top field with m = 3, e = +1: (3, 3 + 1 + 1) = (3, 5).
    ExpectLuma(16, 16, [&](int i, int j) {
        int fieldRow = 8 + i / 2;
        int parity = i & 1;
        int same = Sample(newer.Y, parity, 17 + j, fieldRow + 1);
        int other = parity == 0 ? Interpolate(newer.Y, kBottom, 16 + j, fieldRow, 12)
                                : Interpolate(newer.Y, kTop, 17 + j, fieldRow + 2, 12);
        return Clip(((same + other + 1) >> 1) + LumaResidual(i, j));
    });
}

TEST_F(MotionCompensatorTest, DualPrimeInFieldPicturesUsesTheOtherFieldOnePeriodAway) {
    Use(kPictureP, kTopField, false);
    MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionDualPrime);
    motion.vector[0][0][1] = 2;  // one field row down
    ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 0, 0), 0);
    // Opposite parity vector: (0, 1 - 1) = (0, 0).
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 16; ++j) {
            int same = Sample(newer.Y, kTop, j, 1 + i);
            int other = Sample(newer.Y, kBottom, j, i);
            ASSERT_EQ(Sample(current.Y, kTop, j, i), (same + other + 1) >> 1);
        }
    }
}

// A DC-only block transforms to a flat block of DC / 8.
std::vector<int16_t> FlatBlock(int value) {
    std::vector<int16_t> block(64, 0);
    block[0] = static_cast<int16_t>(8 * value);
    return block;
}

TEST_F(MotionCompensatorTest, IntraBlocksLandOnTheirRowsAndAreClipped) {
    Use(kPictureI);
    // Frame DCT: block 3 is the bottom-right quarter.
    compensator.WriteIntraBlock(FlatBlock(100).data(), 3, 16, 16, false);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            ASSERT_EQ(Out(current.Y, 16 + j, 16 + i), (i >= 8 && j >= 8) ? 100 : 11);
    // Field DCT: block 2 fills rows y+1, y+3, ... y+15 of columns x to x+7.
    compensator.WriteIntraBlock(FlatBlock(50).data(), 2, 32, 16, true);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            ASSERT_EQ(Out(current.Y, 32 + j, 16 + i), ((i & 1) && j < 8) ? 50 : 11);
    // Out of range values are clipped; chroma blocks 4 and 5 go to Cb and Cr.
    compensator.WriteIntraBlock(FlatBlock(300).data(), 4, 16, 32, false);
    compensator.WriteIntraBlock(FlatBlock(-100).data(), 5, 16, 32, false);
    ExpectChroma(0, 16, 32, [](int, int) { return 255; });
    ExpectChroma(1, 16, 32, [](int, int) { return 0; });
    EXPECT_EQ(Out(current.U, 7, 16), 22);
    EXPECT_EQ(Out(current.V, 16, 16), 33);
}

TEST_F(MotionCompensatorTest, IntraBlocksOfFieldPicturesFillOneField) {
    Use(kPictureI, kBottomField);
    compensator.WriteIntraBlock(FlatBlock(70).data(), 1, 0, 16, false);
    compensator.WriteIntraBlock(FlatBlock(90).data(), 4, 0, 16, false);
    for (int row = 16; row < 48; ++row) {
        for (int j = 0; j < 16; ++j) {
            bool inBlock = (row & 1) && row >= 33 && row < 48 && j >= 8;
            ASSERT_EQ(Out(current.Y, j, row), inBlock ? 70 : 11) << row << "," << j;
        }
    }
    for (int row = 0; row < 32; ++row)
        ASSERT_EQ(Out(current.U, 0, row), ((row & 1) && row >= 17) ? 90 : 22) << row;
    // Blocks that would fall outside the picture are not written.
    Use(kPictureI, kTopField);
    compensator.WriteIntraBlock(FlatBlock(70).data(), 2, 0, 32, false);
    compensator.WriteIntraBlock(FlatBlock(70).data(), 0, 64, 0, false);
}

// Random motion on a small picture: whatever the vectors, nothing outside the planes is
// touched (run under AddressSanitizer) and refused blocks leave the picture as it was.
TEST_F(MotionCompensatorTest, RandomMotionNeverLeavesThePlanes) {
    std::mt19937 rng(2024);
    const uint32_t types[] = {kMacroblockMotionForward, kMacroblockMotionBackward,
                              kMacroblockMotionForward | kMacroblockMotionBackward, 0};
    for (int trial = 0; trial < 4000; ++trial) {
        Use(1 + rng() % 3, 1 + rng() % 3, rng() & 1, rng() & 1);
        MacroblockMotion motion = Motion(types[rng() % 4], static_cast<int32_t>(rng() % 4));
        for (auto& v : motion.vector[0][0]) v = static_cast<int32_t>(rng() % 161) - 80;
        for (auto& v : motion.vector[0][1]) v = static_cast<int32_t>(rng() % 161) - 80;
        for (auto& v : motion.vector[1][0]) v = static_cast<int32_t>(rng() % 161) - 80;
        for (auto& v : motion.vector[1][1]) v = static_cast<int32_t>(rng() % 161) - 80;
        for (auto& r : motion.motion_vertical_field_select)
            for (auto& s : r) s = static_cast<int32_t>(rng() % 3);
        motion.dmvector[0] = static_cast<int32_t>(rng() % 3) - 1;
        motion.dmvector[1] = static_cast<int32_t>(rng() % 3) - 1;
        int x = 16 * static_cast<int>(rng() % 4);
        int y = 16 * static_cast<int>(rng() % 4);
        compensator.PredictMacroblock(motion, residual.data(), x, y);
    }
    // Positions outside the picture are refused too.
    Use(kPictureP);
    EXPECT_EQ(compensator.PredictFrame(Motion(kMacroblockMotionForward, kMotionFrame),
                                       residual.data(), 64, 0),
              -1);
    Use(kPictureP, kTopField);
    EXPECT_EQ(compensator.PredictField(Motion(kMacroblockMotionForward, kMotionField),
                                       residual.data(), 0, 32),
              -1);
}

}  // namespace
}  // namespace d2u
