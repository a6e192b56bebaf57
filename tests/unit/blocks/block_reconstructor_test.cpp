#include "decoder/block_reconstructor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_tables.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::SourceOverBits;
using test::TestBits;

constexpr int16_t kUntouched = -99;

class BlockReconstructorTest : public ::testing::Test {
protected:
    void SetUp() override {
        headers.picture.scan = kZigzagScan;
        for (int i = 0; i < 64; ++i) {
            headers.intra_quantiser_matrix[i] = 16;
            headers.chroma_intra_quantiser_matrix[i] = 16;
            headers.non_intra_quantiser_matrix[i] = 16;
            headers.chroma_non_intra_quantiser_matrix[i] = 255;  // must never be used
        }
    }
    // Makes the reconstructor read the given bits.
    void Load(const TestBits& bits) {
        reader.reset(new SourceOverBits(bits));
        reconstructor.Init(&headers, &reader->tables, &reader->source);
    }

    MpegHeaders headers{};
    std::unique_ptr<SourceOverBits> reader;
    CBlockReconstructor reconstructor;
};

// Where row r, column c of block b lands in the residual: luma 16 per row, with field DCT
// blocks 0 and 1 on the even rows and 2 and 3 on the odd rows; chroma block b at 64 * b.
int ResidualIndex(int block, bool fieldDct, int r, int c) {
    if (block >= 4) return 64 * block + 8 * r + c;
    int row = fieldDct ? 2 * r + block / 2 : 8 * (block / 2) + r;
    return 16 * row + 8 * (block % 2) + c;
}

// A DC-only block transforms into a flat residual, which must land where the frame or field
// DCT layout puts it, for MPEG-1 and MPEG-2 alike.
TEST_F(BlockReconstructorTest, ResidualBlocksLandInTheirPlaceForFrameAndFieldDct) {
    for (bool mpeg2 : {false, true}) {
        // First coefficient +1 at the DC position: MPEG-1 3 * 16 * 31 / 16 = 93, MPEG-2
        // 3 * 16 * 30 / 32 = 45 (odd, so no mismatch correction); an eighth of it, rounded.
        headers.currentQuantiser = mpeg2 ? 30 : 31;
        const int16_t expected = mpeg2 ? 6 : 12;
        for (uint32_t dctType : {0u, 1u}) {
            headers.macroblock.dct_type = dctType;
            for (int block = 0; block < 6; ++block) {
                Load(TestBits().Put("10 10"));
                std::vector<int16_t> residual(384, kUntouched);
                ASSERT_EQ(mpeg2 ? reconstructor.ReconstructNonIntraMpeg2(block, residual.data())
                                : reconstructor.ReconstructNonIntraMpeg1(block, residual.data()),
                          0);
                std::vector<int16_t> want(384, kUntouched);
                for (int i = 0; i < 64; ++i)
                    want[ResidualIndex(block, dctType, i / 8, i % 8)] = expected;
                ASSERT_EQ(residual, want)
                    << "mpeg2 " << mpeg2 << " dct_type " << dctType << " block " << block;
            }
        }
    }
}

// Luma blocks take the luma matrix and predictor, Cb and Cr their own predictors and the
// chroma matrix; intra_vlc_format picks table one for MPEG-2 intra blocks only.
TEST_F(BlockReconstructorTest, IntraBlocksUseTheirTablesMatricesAndPredictors) {
    headers.picture.intra_dc_precision = 2;  // DC shift 1
    headers.picture.intra_vlc_format = 1;
    headers.intra_quantiser_matrix[kZigzagScan[1]] = 8;
    headers.chroma_intra_quantiser_matrix[kZigzagScan[1]] = 32;
    headers.currentQuantiser = 4;
    TestBits bits;
    bits.Put("101 111 100 0110");  // luma: DC size 3, +7; table one (0, +1); end
    bits.Put("00 1110 00 0110");   // Cb: DC size 0; table one (0, +4); end
    bits.Put("01 1 0110");         // Cr: DC size 1, +1; end
    bits.Put("0110 10");           // non-intra, table zero: (1, +1); end
    Load(bits);
    int32_t predictors[3] = {512, 300, 700};
    std::vector<int16_t> luma(64, kUntouched), cb(64, kUntouched), cr(64, kUntouched);
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg2(3, luma.data(), predictors), 0);
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg2(4, cb.data(), predictors), 0);
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg2(5, cr.data(), predictors), 0);
    EXPECT_EQ(predictors[0], 519);
    EXPECT_EQ(predictors[1], 300);
    EXPECT_EQ(predictors[2], 701);
    EXPECT_EQ(luma[0], 1038);
    EXPECT_EQ(luma[kZigzagScan[1]], 2);  // 2 * 1 * 8 * 4 / 32
    EXPECT_EQ(cb[0], 600);
    EXPECT_EQ(cb[kZigzagScan[1]], 32);  // 2 * 4 * 32 * 4 / 32
    EXPECT_EQ(cr[0], 1402);
    std::vector<int16_t> residual(384, 0);
    ASSERT_EQ(reconstructor.ReconstructNonIntraMpeg2(0, residual.data()), 0);
    EXPECT_EQ(reader->BitsRead(), bits.Size());

    Load(TestBits().Put("100 110 10"));  // MPEG-1: DC size 0; table zero (0, +1); end
    headers.currentQuantiser = 8;
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg1(0, luma.data(), predictors), 0);
    EXPECT_EQ(luma[0], 519);
    EXPECT_EQ(luma[kZigzagScan[1]], 7);  // 2 * 8 * 8 / 16 = 8, made odd
}

TEST_F(BlockReconstructorTest, CorruptBlocksAndBadArgumentsLeaveTheResidualAlone) {
    headers.currentQuantiser = 8;
    std::vector<int16_t> residual(384, kUntouched);
    Load(TestBits().Put("0000 0000 0000 0000 0"));
    EXPECT_NE(reconstructor.ReconstructNonIntraMpeg2(1, residual.data()), 0);
    EXPECT_NE(reconstructor.ReconstructNonIntraMpeg1(4, residual.data()), 0);
    for (int32_t block : {-1, 6}) {
        Load(TestBits().Put("10 10"));  // a valid block
        EXPECT_NE(reconstructor.ReconstructNonIntraMpeg2(block, residual.data()), 0);
        EXPECT_NE(reconstructor.ReconstructNonIntraMpeg1(block, residual.data()), 0);
    }
    EXPECT_EQ(residual, std::vector<int16_t>(384, kUntouched));
    CBlockReconstructor unready;
    EXPECT_NE(unready.ReconstructNonIntraMpeg2(0, residual.data()), 0);
    int32_t predictors[3] = {};
    EXPECT_NE(unready.ReconstructIntraMpeg1(0, residual.data(), predictors), 0);
}

}  // namespace
}  // namespace d2u
