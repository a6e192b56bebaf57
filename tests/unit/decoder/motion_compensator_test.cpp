// The compensator on its own: reference blocks at and beyond the planes' edges, and the quick
// check of a reference block against the full one. The prediction modes are checked through
// whole streams against ffmpeg (stream_decode_test.cpp).
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

// A random number below n.
int Below(std::mt19937& rng, int n) {
    return static_cast<int>(rng() % static_cast<uint32_t>(n));
}

MacroblockMotion Motion(uint32_t type, int32_t motionType) {
    MacroblockMotion motion;
    motion.macroblock_type = type;
    motion.motion_type = motionType;
    return motion;
}

// The current picture and its two references, kSize square, of random samples, set up as the
// decoder sets them up (with a coverage map). `spread`: the same samples in pictures whose Cr
// rows lie twice as far apart as their Cb rows, which the quick check leaves to the full one.
struct Pictures {
    void Allocate(int32_t format, bool spread) {
        std::mt19937 rng(7);
        for (CYUVFrame& frame : frames) {
            ASSERT_EQ(frame.Allocate(kSize, spread ? 2 * kSize : kSize, 0, format), 0);
            if (spread) {
                frame.Y.height = kSize;
                frame.U.height = frame.V.height = format == 2 ? kSize : kSize / 2;
                frame.V.pitch *= 2;
            }
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
    void SetUp() override { pictures.Allocate(1, false); }
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

// Areas left out of the residual areas are taken as zero whatever they hold: the luma area
// alone, then no area, against the same prediction with zeros in place.
TEST_F(MotionCompensatorTest, AreasWithoutCodedBlocksAddNothing) {
    Use(kPictureB);
    MacroblockMotion motion = Motion(kBoth, kMotionFrame);
    motion.vector[0][0][0] = 3;
    motion.vector[0][0][1] = -5;
    motion.vector[0][1][0] = -2;
    motion.vector[0][1][1] = 7;
    CMotionCompensator& compensator = pictures.compensator;
    for (int32_t areas : {CMotionCompensator::kLumaArea, 0}) {
        std::vector<int16_t> zeros(384, 0);
        if (areas & CMotionCompensator::kLumaArea) std::fill(zeros.begin(), zeros.begin() + 256, 9);
        std::vector<int16_t> garbage = zeros;
        for (size_t i = (areas ? 256 : 0); i < garbage.size(); ++i) garbage[i] = 300;
        compensator.SetResidualAreas(CMotionCompensator::kAllAreas);
        ASSERT_EQ(compensator.PredictMacroblock(motion, zeros.data(), 16, 16), 0);
        const std::vector<uint8_t> expected = pictures.Samples();
        compensator.SetResidualAreas(areas);
        ASSERT_EQ(compensator.PredictMacroblock(motion, garbage.data(), 16, 16), 0);
        EXPECT_EQ(pictures.Samples(), expected) << "areas " << areas;
    }
}

// A half-sample vector from `position` whose block starts within a few samples of an edge of a
// grid of `size` (the bottom edges of 16- and of 8-row blocks too), or anywhere.
int32_t NearAnEdge(std::mt19937& rng, int position, int size) {
    const int start = Below(rng, 4) == 0 ? Below(rng, size)
                      : Below(rng, 2)    ? Below(rng, 6) - 3
                                         : size - 19 + Below(rng, 14);
    return 2 * (start - position) + Below(rng, 2);
}

// The quick check and the full one agree: the same motion predicted from pictures that the
// quick check (and the macroblock kernels) take and from the same samples laid out for the
// full check, with vectors that put reference blocks at and beyond the planes' edges; frame
// and field pictures, every motion type, 4:2:0 and 4:2:2. Under AddressSanitizer this also
// shows that nothing outside the planes is read or written.
TEST(MotionCompensatorPathsTest, QuickAndFullCheckAgreeAtTheEdges) {
    std::mt19937 rng(2024);
    const uint32_t types[] = {kMacroblockMotionForward, kMacroblockMotionBackward, kBoth, 0};
    std::vector<int16_t> residual(512);
    for (uint32_t format : {1, 2}) {
        Pictures quick, full;
        quick.Allocate(format, false);
        full.Allocate(format, true);
        for (int trial = 0; trial < 3000; ++trial) {
            const PictureGeometry geometry{2u + Below(rng, 2), 1u + Below(rng, 3),
                                           Below(rng, 2) ? 1u : 0u, Below(rng, 2) == 0, format};
            const bool fieldPicture = geometry.picture_structure != kFramePicture;
            MacroblockMotion motion = Motion(types[Below(rng, 4)], Below(rng, 4));
            const int x = 16 * Below(rng, 4);
            const int y = 16 * Below(rng, fieldPicture ? 2 : 4);
            // Field vectors of frame pictures hold frame rows.
            const int fieldRows = !fieldPicture && motion.motion_type != kMotionFrame ? 2 : 1;
            for (auto& r : motion.vector) {
                for (auto& v : r) {
                    v[0] = NearAnEdge(rng, x, kSize);
                    v[1] =
                        fieldRows * NearAnEdge(rng, y / fieldRows,
                                               fieldPicture || fieldRows == 2 ? kSize / 2 : kSize);
                }
            }
            for (auto& r : motion.motion_vertical_field_select)
                for (auto& s : r) s = Below(rng, 2);
            for (auto& v : motion.dmvector) v = Below(rng, 3) - 1;
            for (auto& value : residual) value = static_cast<int16_t>(Below(rng, 601) - 300);
            const int32_t areas = Below(rng, 8);
            for (Pictures* pictures : {&quick, &full}) {
                pictures->compensator.SetGeometry(geometry);
                pictures->compensator.SetResidualAreas(areas);
            }
            // The quick side goes as the decoder goes.
            CMotionCompensator& fast = quick.compensator;
            if (fast.FramePrediction420() && motion.motion_type == kMotionFrame)
                fast.PredictFrameBlock420(motion.macroblock_type & kBoth, motion.vector[0],
                                          residual.data(), x, y);
            else
                fast.PredictMacroblock(motion, residual.data(), x, y);
            full.compensator.PredictMacroblock(motion, residual.data(), x, y);
            ASSERT_EQ(quick.Samples(), full.Samples())
                << "format " << format << ", trial " << trial << " at " << x << "," << y;
        }
    }
}

// An intra macroblock written at once equals its blocks written in two parts: frame and field
// DCT, frame and field pictures, positions inside, on and past the edges.
TEST(IntraMacroblockTest, WholeMacroblockEqualsItsParts) {
    std::mt19937 rng(5);
    std::vector<int16_t> coefficients(6 * 64);
    Pictures whole, parts;
    whole.Allocate(1, false);
    parts.Allocate(1, false);
    for (int trial = 0; trial < 400; ++trial) {
        for (auto& c : coefficients) c = static_cast<int16_t>(Below(rng, 512) - 256);
        const PictureGeometry geometry{kPictureI,
                                       trial % 4 == 0 ? 1u + Below(rng, 2) : kFramePicture};
        whole.compensator.SetGeometry(geometry);
        parts.compensator.SetGeometry(geometry);
        const int32_t part = 1 + Below(rng, 62);
        const int x = 16 * Below(rng, 6) - (trial % 7 == 0 ? 16 : 0);
        const int y = 16 * Below(rng, 6);
        const bool fieldDct = Below(rng, 2);
        whole.compensator.WriteIntraMacroblock(coefficients.data(), 0x3F, 6, x, y, fieldDct);
        for (int32_t pattern : {part, 0x3F ^ part})
            parts.compensator.WriteIntraMacroblock(coefficients.data(), pattern, 6, x, y, fieldDct);
        ASSERT_EQ(whole.Samples(), parts.Samples()) << "trial " << trial << " at " << x << "," << y;
    }
}

}  // namespace
}  // namespace d2u
