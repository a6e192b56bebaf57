#include "decoder/mpeg_tables.h"

#include <gtest/gtest.h>

#include "stream_writer.h"

namespace d2u {
namespace {

TEST(ScanTables, ZigzagWalksTheAntiDiagonals) {
    std::vector<int> walked = test::ZigzagByWalking();
    for (int k = 0; k < 64; ++k) EXPECT_EQ(kZigzagScan[k], static_cast<uint32_t>(walked[k])) << k;
}

TEST(ScanTables, AlternateScanMatchesTheStandardsFigure) {
    // The figure gives, for each raster position (row by row), its place in the scan.
    const int placeInScan[8][8] = {
        {0, 4, 6, 20, 22, 36, 38, 52},    {1, 5, 7, 21, 23, 37, 39, 53},
        {2, 8, 19, 24, 34, 40, 50, 54},   {3, 9, 18, 25, 35, 41, 51, 55},
        {10, 17, 26, 30, 42, 46, 56, 60}, {11, 16, 27, 31, 43, 47, 57, 61},
        {12, 15, 28, 32, 44, 48, 58, 62}, {13, 14, 29, 33, 45, 49, 59, 63},
    };
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            EXPECT_EQ(kAlternateScan[placeInScan[row][column]],
                      static_cast<uint32_t>(row * 8 + column))
                << row << "," << column;
        }
    }
}

TEST(QuantiserTables, DefaultIntraMatrixHasTheStandardsEdgesAndGrowsAwayFromDc) {
    const uint8_t firstRow[8] = {8, 16, 19, 22, 26, 27, 29, 34};
    const uint8_t firstColumn[8] = {8, 16, 19, 22, 22, 26, 26, 27};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(kDefaultIntraQuantiserMatrix[i], firstRow[i]);
        EXPECT_EQ(kDefaultIntraQuantiserMatrix[i * 8], firstColumn[i]);
    }
    EXPECT_EQ(kDefaultIntraQuantiserMatrix[63], 83);
    // Not symmetric (row 1 holds 24 where column 1 holds 22), but never falling along a row
    // or a column.
    EXPECT_EQ(kDefaultIntraQuantiserMatrix[1 * 8 + 3], 24);
    EXPECT_EQ(kDefaultIntraQuantiserMatrix[3 * 8 + 1], 22);
    for (int a = 0; a < 8; ++a) {
        for (int b = 1; b < 8; ++b) {
            EXPECT_GE(kDefaultIntraQuantiserMatrix[a * 8 + b],
                      kDefaultIntraQuantiserMatrix[a * 8 + b - 1]);
            EXPECT_GE(kDefaultIntraQuantiserMatrix[b * 8 + a],
                      kDefaultIntraQuantiserMatrix[(b - 1) * 8 + a]);
        }
    }
}

TEST(QuantiserTables, NonLinearScaleDoublesItsStepEveryEightCodes) {
    // Codes 1-8 step 1, 9-16 step 2, 17-24 step 4, 25-31 step 8; code 0 is forbidden (0).
    EXPECT_EQ(kNonLinearQuantiserScale[0], 0);
    int expected = 0;
    for (int code = 1; code < 32; ++code) {
        expected += 1 << ((code - 1) / 8);
        EXPECT_EQ(kNonLinearQuantiserScale[code], expected) << code;
    }
    EXPECT_EQ(kNonLinearQuantiserScale[31], 112);
}

}  // namespace
}  // namespace d2u
