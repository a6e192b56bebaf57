// The compensator on its own: reference blocks at and beyond the planes' edges. The prediction
// modes are checked through whole streams against ffmpeg (conformance, streamgen).
#include "decoder/motion_compensator.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decoder/frame_coverage.h"
#include "decoder/mpeg_headers.h"

namespace d2u {
namespace {

constexpr int kSize = 64;
constexpr uint32_t kBoth = kMacroblockMotionForward | kMacroblockMotionBackward;

MacroblockMotion Motion(uint32_t type, int32_t motionType) {
    MacroblockMotion motion;
    motion.macroblock_type = type;
    motion.motion_type = motionType;
    return motion;
}

// The current picture and its two references, kSize square, of random samples, set up as the
// decoder sets them up (with a coverage map).
struct Pictures {
    void Allocate() {
        std::mt19937 rng(7);
        for (CYUVFrame& frame : frames) {
            ASSERT_EQ(frame.Allocate(kSize, kSize, 0, 1), 0);
            for (YUVPlane* plane : {&frame.Y, &frame.U, &frame.V}) {
                for (int row = 0; row < plane->height; ++row)
                    for (int column = 0; column < plane->width; ++column)
                        plane->data[row * plane->pitch + column] = static_cast<uint8_t>(rng());
            }
        }
        compensator.SetPictures(&frames[0], &frames[1], &frames[2]);
        ASSERT_EQ(coverage.Allocate(kSize / 16, kSize / 16), 0);
        compensator.SetCoverage(&coverage);
    }
    // The current picture's samples, plane by plane, row by row.
    std::vector<uint8_t> Samples() const {
        std::vector<uint8_t> samples;
        for (const YUVPlane* plane : {&frames[0].Y, &frames[0].U, &frames[0].V}) {
            for (int row = 0; row < plane->height; ++row)
                samples.insert(samples.end(), plane->data + row * plane->pitch,
                               plane->data + row * plane->pitch + plane->width);
        }
        return samples;
    }

    CYUVFrame frames[3];  // current, older, newer
    CFrameCoverage coverage;
    CMotionCompensator compensator;
};

class MotionCompensatorTest : public ::testing::Test {
protected:
    void SetUp() override { pictures.Allocate(); }
    void Use(uint32_t codingType, uint32_t structure = kFramePicture) {
        pictures.compensator.SetGeometry(PictureGeometry{codingType, structure});
    }
    // Predicts, and tells whether anything of the current picture was written.
    bool Writes(const MacroblockMotion& motion, int32_t x, int32_t y) {
        const std::vector<uint8_t> before = pictures.Samples();
        EXPECT_EQ(pictures.compensator.PredictMacroblock(motion, residual.data(), x, y), 0);
        return pictures.Samples() != before;
    }

    Pictures pictures;
    std::vector<int16_t> residual = std::vector<int16_t>(384, 5);
};

// Whole-sample blocks ending at the last column or row are inside; a half sample beyond, or
// anything outside, refuses the macroblock.
TEST_F(MotionCompensatorTest, ReferenceBlocksAtTheEdges) {
    const struct {
        const char* name;
        int32_t motionType, vx, vy, x, y;
        bool inside;
    } cases[] = {
        {"ending at the last row and column", kMotionFrame, 0, 0, 48, 48, true},
        {"ending at the last column", kMotionFrame, 2, 0, 32, 0, true},
        {"ending at the last row", kMotionFrame, 0, 2, 0, 32, true},
        {"up and left", kMotionFrame, -2, -2, 48, 48, true},
        {"above row 0", kMotionFrame, 0, -2, 0, 0, false},
        {"a half sample below the last row", kMotionFrame, 0, 33, 16, 32, false},
        {"a half sample right of the last column", kMotionFrame, 1, 0, 48, 0, false},
        {"left of column 0", kMotionFrame, -1, 0, 0, 16, false},
        // Field vector 17 from field row 24 reads rows 41 on of a 32-row field.
        {"below the bottom field", kMotionField, 0, 2 * 17, 0, 48, false},
        {"huge", kMotionFrame, 0x7FFFFFFF, -0x7FFFFFFF, 32, 32, false},
    };
    Use(kPictureP);
    for (const auto& c : cases) {
        MacroblockMotion motion = Motion(kMacroblockMotionForward, c.motionType);
        motion.motion_vertical_field_select[1][0] = 1;
        for (auto& r : motion.vector) {
            r[0][0] = c.vx;
            r[0][1] = c.vy;
        }
        EXPECT_EQ(Writes(motion, c.x, c.y), c.inside) << c.name;
    }
    // In B pictures a block outside its reference refuses the macroblock, whichever direction
    // it comes from and whether or not the other one is inside.
    Use(kPictureB);
    for (const auto& [type, outside] :
         {std::pair{kBoth, 0}, std::pair{kBoth, 1}, std::pair{kMacroblockMotionBackward, 1}}) {
        MacroblockMotion motion = Motion(type, kMotionFrame);
        motion.vector[0][outside][0] = 1;  // a half sample right of the last column
        EXPECT_FALSE(Writes(motion, 48, 16)) << "type " << type << ", " << outside << " outside";
    }
    // Without a direction outside P pictures nothing is predicted; nor at positions outside
    // the picture, or between macroblocks.
    EXPECT_EQ(pictures.compensator.PredictMacroblock(Motion(kMacroblockPattern, kMotionFrame),
                                                     residual.data(), 16, 16),
              -1);
    Use(kPictureP);
    const int32_t still[2][2] = {};
    for (int32_t x : {64, 17})
        EXPECT_EQ(pictures.compensator.PredictFrameBlock420(kMacroblockMotionForward, still,
                                                            residual.data(), x, 0),
                  -1);
    Use(kPictureP, kTopField);
    EXPECT_FALSE(Writes(Motion(kMacroblockMotionForward, kMotionField), 0, 32));
}

}  // namespace
}  // namespace d2u
