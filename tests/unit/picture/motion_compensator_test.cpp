// The compensator on its own: reference blocks and positions outside the planes. The prediction
// modes are checked through whole streams against ffmpeg (stream_decode_test.cpp).
#include "decoder/motion_compensator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "decoder/frame_coverage.h"
#include "decoder/mpeg_headers.h"
#include "primitives/motion_compensation.h"

namespace d2u {
namespace {

class MotionCompensatorTest : public ::testing::Test {
protected:
    static constexpr int kSize = 64;
    static constexpr uint8_t kUntouched = 11;

    void SetUp() override {
        std::mt19937 rng(7);
        for (CYUVFrame* frame : {&current, &older, &newer}) {
            ASSERT_EQ(frame->Allocate(kSize, kSize), 0);
            for (YUVPlane* plane : {&frame->Y, &frame->U, &frame->V}) {
                for (int i = 0; i < plane->pitch * plane->height; ++i)
                    plane->data[i] = frame == &current ? kUntouched : static_cast<uint8_t>(rng());
            }
        }
        compensator.SetPictures(&current, &older, &newer);
    }

    void Use(uint32_t codingType, uint32_t structure = kFramePicture) {
        PictureGeometry geometry;
        geometry.picture_coding_type = codingType;
        geometry.picture_structure = structure;
        compensator.SetGeometry(geometry);
    }

    // Whether the 16x16 luma and 8x8 chroma blocks at luma position (x, y) kept their samples.
    bool MacroblockUntouched(int x, int y) const {
        for (const YUVPlane* plane : {&current.Y, &current.U, &current.V}) {
            const int size = plane == &current.Y ? 16 : 8;
            const int column = size == 16 ? x : x / 2;
            const int row = size == 16 ? y : y / 2;
            for (int i = 0; i < size; ++i)
                for (int j = 0; j < size; ++j)
                    if (plane->data[(row + i) * plane->pitch + column + j] != kUntouched)
                        return false;
        }
        return true;
    }

    // With a coverage map, 4:2:0 frame prediction takes its quick path first.
    void UseCoverage() {
        ASSERT_EQ(coverage.Allocate(kSize / 16, kSize / 16), 0);
        compensator.SetCoverage(&coverage);
    }

    CYUVFrame current, older, newer;
    CFrameCoverage coverage;
    CMotionCompensator compensator;
    std::vector<int16_t> residual = std::vector<int16_t>(384, 5);
};

MacroblockMotion Motion(uint32_t type, int32_t motionType) {
    MacroblockMotion motion;
    motion.macroblock_type = type;
    motion.motion_type = motionType;
    return motion;
}

// Both ways to a frame prediction: the full check, and the quick one that decodes take.
class ReferenceBoundsTest : public MotionCompensatorTest,
                            public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        MotionCompensatorTest::SetUp();
        if (GetParam()) UseCoverage();
    }
};

TEST_P(ReferenceBoundsTest, ReferenceBlocksOutsideThePlaneAreRefused) {
    struct Case {
        const char* name;
        int32_t motionType;
        int32_t vx, vy, x, y;
    };
    const Case cases[] = {
        {"above row 0", kMotionFrame, 0, -2, 0, 0},
        {"a half sample below the last row", kMotionFrame, 0, 33, 16, 32},
        {"a half sample right of the last column", kMotionFrame, 1, 0, 48, 0},
        {"left of column 0", kMotionFrame, -1, 0, 0, 16},
        // Field vector 17 from field row 24 reads rows 41 on of a 32-row field.
        {"below the bottom field", kMotionField, 0, 2 * 17, 0, 48},
        {"huge", kMotionFrame, 0x7FFFFFFF, -0x7FFFFFFF, 32, 32},
    };
    Use(kPictureP);
    for (const Case& c : cases) {
        MacroblockMotion motion = Motion(kMacroblockMotionForward, c.motionType);
        motion.motion_vertical_field_select[1][0] = 1;
        for (auto& r : motion.vector) {
            r[0][0] = c.vx;
            r[0][1] = c.vy;
        }
        ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), c.x, c.y), 0);
        EXPECT_TRUE(MacroblockUntouched(c.x, c.y)) << c.name;
    }
    // In B pictures a block outside its reference refuses the macroblock, whichever direction
    // it comes from and whether or not the other one is inside.
    Use(kPictureB);
    const uint32_t both = kMacroblockMotionForward | kMacroblockMotionBackward;
    const struct {
        uint32_t type;
        int32_t outside;
    } directions[] = {{both, 0}, {both, 1}, {kMacroblockMotionBackward, 1}};
    for (const auto& d : directions) {
        MacroblockMotion motion = Motion(d.type, kMotionFrame);
        motion.vector[0][d.outside][0] = 1;  // a half sample right of the last column
        ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), 48, 16), 0);
        EXPECT_TRUE(MacroblockUntouched(48, 16))
            << "type " << d.type << ", direction " << d.outside << " outside";
    }
    // Without a direction outside P pictures nothing is predicted; nor at positions outside
    // the picture.
    Use(kPictureB);
    EXPECT_EQ(compensator.PredictMacroblock(Motion(kMacroblockPattern, kMotionFrame),
                                            residual.data(), 16, 16),
              -1);
    EXPECT_TRUE(MacroblockUntouched(16, 16));
    Use(kPictureP);
    EXPECT_EQ(compensator.PredictFrame(Motion(kMacroblockMotionForward, kMotionFrame),
                                       residual.data(), 64, 0),
              -1);
    Use(kPictureP, kTopField);
    EXPECT_EQ(compensator.PredictField(Motion(kMacroblockMotionForward, kMotionField),
                                       residual.data(), 0, 32),
              -1);
}

// Whole-sample blocks that end at the last column or row are inside.
TEST_P(ReferenceBoundsTest, ReferenceBlocksEndingAtTheEdgeArePredicted) {
    Use(kPictureP);
    const struct {
        int32_t vx, vy, x, y;
    } cases[] = {{0, 0, 48, 48}, {2, 0, 32, 0}, {0, 2, 0, 32}, {-2, -2, 48, 48}};
    for (const auto& c : cases) {
        MacroblockMotion motion = Motion(kMacroblockMotionForward, kMotionFrame);
        motion.vector[0][0][0] = c.vx;
        motion.vector[0][0][1] = c.vy;
        ASSERT_EQ(compensator.PredictMacroblock(motion, residual.data(), c.x, c.y), 0);
        EXPECT_FALSE(MacroblockUntouched(c.x, c.y)) << c.vx << "," << c.vy << " at " << c.x;
    }
}

INSTANTIATE_TEST_SUITE_P(FullAndQuickCheck, ReferenceBoundsTest, ::testing::Bool());

// Areas left out of the residual areas are taken as zero whatever they hold: the luma area
// alone, then no area, against the same prediction with zeros in place.
TEST_F(MotionCompensatorTest, AreasWithoutCodedBlocksAddNothing) {
    auto planes = [this] {
        std::vector<uint8_t> samples;
        for (const YUVPlane* plane : {&current.Y, &current.U, &current.V})
            samples.insert(samples.end(), plane->data, plane->data + plane->pitch * plane->height);
        return samples;
    };
    Use(kPictureB);
    MacroblockMotion motion =
        Motion(kMacroblockMotionForward | kMacroblockMotionBackward, kMotionFrame);
    motion.vector[0][0][0] = 3;
    motion.vector[0][0][1] = -5;
    motion.vector[0][1][0] = -2;
    motion.vector[0][1][1] = 7;
    for (int32_t areas : {CMotionCompensator::kLumaArea, 0}) {
        std::vector<int16_t> zeros(384, 0);
        if (areas & CMotionCompensator::kLumaArea) std::fill(zeros.begin(), zeros.begin() + 256, 9);
        std::vector<int16_t> garbage = zeros;
        for (size_t i = (areas ? 256 : 0); i < garbage.size(); ++i) garbage[i] = 300;
        compensator.SetResidualAreas(CMotionCompensator::kAllAreas);
        ASSERT_EQ(compensator.PredictMacroblock(motion, zeros.data(), 16, 16), 0);
        const std::vector<uint8_t> expected = planes();
        compensator.SetResidualAreas(areas);
        ASSERT_EQ(compensator.PredictMacroblock(motion, garbage.data(), 16, 16), 0);
        EXPECT_EQ(planes(), expected) << "areas " << areas;
        EXPECT_FALSE(MacroblockUntouched(16, 16));
    }
}

// Random motion and intra blocks on a small picture, some of them at positions outside it:
// nothing outside the planes is touched (this runs under AddressSanitizer too).
TEST_F(MotionCompensatorTest, RandomMotionNeverLeavesThePlanes) {
    std::mt19937 rng(2024);
    const uint32_t types[] = {kMacroblockMotionForward, kMacroblockMotionBackward,
                              kMacroblockMotionForward | kMacroblockMotionBackward, 0};
    const std::vector<int16_t> flat(64, 800);
    for (int trial = 0; trial < 4000; ++trial) {
        PictureGeometry geometry;
        geometry.picture_coding_type = 1 + rng() % 3;
        geometry.picture_structure = 1 + rng() % 3;
        geometry.secondField = rng() & 1;
        geometry.top_field_first = rng() & 1;
        compensator.SetGeometry(geometry);
        MacroblockMotion motion = Motion(types[rng() % 4], static_cast<int32_t>(rng() % 4));
        for (auto& r : motion.vector)
            for (auto& s : r)
                for (auto& v : s) v = static_cast<int32_t>(rng() % 161) - 80;
        for (auto& r : motion.motion_vertical_field_select)
            for (auto& s : r) s = static_cast<int32_t>(rng() % 3);
        for (auto& v : motion.dmvector) v = static_cast<int32_t>(rng() % 3) - 1;
        const int x = 16 * static_cast<int>(rng() % 5);
        const int y = 16 * static_cast<int>(rng() % 5);
        compensator.PrefetchReferences(motion, x, y);
        compensator.SetResidualAreas(static_cast<int32_t>(rng() % 8));
        compensator.PredictMacroblock(motion, residual.data(), x, y);
        compensator.WriteIntraBlock(flat.data(), static_cast<int32_t>(rng() % 6), x, y, rng() & 1);
    }
}

// An intra macroblock written at once equals its blocks written one by one: frame and field
// DCT, frame and field pictures, every pattern, positions inside, on and past the edges.
TEST_F(MotionCompensatorTest, IntraMacroblockEqualsItsBlocks) {
    std::mt19937 rng(5);
    std::vector<int16_t> coefficients(6 * 64);
    CYUVFrame blockwise;
    ASSERT_EQ(blockwise.Allocate(kSize, kSize), 0);
    CMotionCompensator reference;
    for (int trial = 0; trial < 400; ++trial) {
        for (auto& c : coefficients) c = static_cast<int16_t>(static_cast<int>(rng() % 512) - 256);
        PictureGeometry geometry;
        geometry.picture_coding_type = kPictureI;
        geometry.picture_structure = trial % 4 == 0 ? 1 + rng() % 2 : kFramePicture;
        compensator.SetGeometry(geometry);
        reference.SetGeometry(geometry);
        reference.SetPictures(&blockwise, &older, &newer);
        for (const auto& [to, from] :
             {std::pair{&blockwise.Y, &current.Y}, std::pair{&blockwise.U, &current.U},
              std::pair{&blockwise.V, &current.V}})
            std::copy(from->data, from->data + from->pitch * from->height, to->data);
        const int32_t pattern = trial % 2 ? 0x3F : static_cast<int32_t>(rng() % 64);
        const int x = 16 * static_cast<int>(rng() % 6) - (trial % 7 == 0 ? 16 : 0);
        const int y = 16 * static_cast<int>(rng() % 6);
        const bool fieldDct = rng() & 1;
        compensator.WriteIntraMacroblock(coefficients.data(), pattern, 6, x, y, fieldDct);
        for (int b = 0; b < 6; ++b) {
            if ((pattern >> (5 - b)) & 1)
                reference.WriteIntraBlock(coefficients.data() + 64 * b, b, x, y, fieldDct);
        }
        for (const auto& [a, b] :
             {std::pair{&current.Y, &blockwise.Y}, std::pair{&current.U, &blockwise.U},
              std::pair{&current.V, &blockwise.V}})
            ASSERT_TRUE(std::equal(a->data, a->data + a->pitch * a->height, b->data))
                << "trial " << trial << " at " << x << "," << y;
    }
}

}  // namespace
}  // namespace d2u
