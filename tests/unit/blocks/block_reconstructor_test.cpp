#include "decoder/block_reconstructor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_tables.h"
#include "decoder/mpeg_vlc_tables.h"
#include "input/bitstream_data_source.h"
#include "test_bits.h"

namespace d2u {
namespace {

using test::TestBits;

constexpr int16_t kUntouched = -99;

class BlockReconstructorTest : public ::testing::Test {
protected:
    void SetUp() override {
        headers = MpegHeaders{};
        headers.picture.scan = kZigzagScan;
        for (int i = 0; i < 64; ++i) {
            headers.intra_quantiser_matrix[i] = 16;
            headers.chroma_intra_quantiser_matrix[i] = 16;
            headers.non_intra_quantiser_matrix[i] = 16;
            headers.chroma_non_intra_quantiser_matrix[i] = 255;  // must never be used
        }
        tables.Build();
        tables.SetDataSource(&source);
        reconstructor.Init(&headers, &tables, &source);
    }
    void Load(const TestBits& bits) {
        std::vector<uint8_t> bytes = bits.Bytes();
        bytes.resize(bytes.size() + 8, 0);
        source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    void SetQuantiser(int32_t quantiser) {
        headers.slice.quantiser_scale = quantiser;
        headers.currentQuantiser = quantiser;
    }

    MpegHeaders headers;
    CBitstreamDataSource source;
    CMpegVlcTables tables;
    CBlockReconstructor reconstructor;
};

struct Placement {
    int row;     // luma row 0..15, or chroma row 0..7
    int column;  // luma column 0..15, or chroma column 0..7
};

// Where row r, column c of block b lands in the residual buffer, from the macroblock layout.
int ResidualIndex(int block, bool fieldDct, int r, int c) {
    if (block >= 4) return 64 * block + 8 * r + c;
    Placement p{fieldDct ? 2 * r + block / 2 : 8 * (block / 2) + r, 8 * (block % 2) + c};
    return 16 * p.row + p.column;
}

// A DC-only block transforms into a flat residual; each block of the macroblock must land
// where the frame or field DCT layout puts it, for MPEG-1 and MPEG-2 alike.
TEST_F(BlockReconstructorTest, ResidualBlocksLandInTheirPlaceForFrameAndFieldDct) {
    for (bool mpeg2 : {false, true}) {
        for (uint32_t dctType : {0u, 1u}) {
            for (int block = 0; block < 6; ++block) {
                // First coefficient +1 at the DC position, end of block. MPEG-1: 3 * 16 * 31 / 16
                // = 93; MPEG-2: 3 * 16 * 30 / 32 = 45 (odd, so no mismatch correction).
                SetQuantiser(mpeg2 ? 30 : 31);
                headers.macroblock.dct_type = dctType;
                TestBits bits;
                bits.Put("10 10");
                Load(bits);
                std::vector<int16_t> residual(384, kUntouched);
                int32_t status =
                    mpeg2 ? reconstructor.ReconstructNonIntraMpeg2(block, residual.data())
                          : reconstructor.ReconstructNonIntraMpeg1(block, residual.data());
                ASSERT_EQ(status, 0);
                const int16_t expected = mpeg2 ? (45 + 4) / 8 : (93 + 4) / 8;
                std::vector<bool> covered(384, false);
                for (int r = 0; r < 8; ++r) {
                    for (int c = 0; c < 8; ++c)
                        covered[ResidualIndex(block, dctType == 1, r, c)] = true;
                }
                for (int i = 0; i < 384; ++i) {
                    ASSERT_EQ(residual[i], covered[i] ? expected : kUntouched)
                        << "mpeg2 " << mpeg2 << " dct_type " << dctType << " block " << block
                        << " element " << i;
                }
            }
        }
    }
}

TEST_F(BlockReconstructorTest, FieldDctBlockTwoStartsOnTheSecondRow) {
    EXPECT_EQ(ResidualIndex(2, true, 0, 0), 16);
    EXPECT_EQ(ResidualIndex(2, true, 1, 0), 48);
    EXPECT_EQ(ResidualIndex(2, false, 0, 0), 128);
}

TEST_F(BlockReconstructorTest, IntraBlocksUseTheirTablesMatricesAndPredictors) {
    headers.picture.intra_dc_precision = 2;  // DC shift 1
    headers.picture.intra_vlc_format = 1;
    headers.chroma_intra_quantiser_matrix[kZigzagScan[1]] = 32;
    SetQuantiser(4);
    TestBits bits;
    bits.Put("00").Put("1110 00").Put("0110");  // Cb: DC size 0; table one (0, +4); end
    bits.Put("01 1").Put("0110");               // Cr: DC size 1, +1; end
    bits.Put("0110 10");                        // non-intra, table zero: (1, +1); end
    Load(bits);
    int32_t predictors[3] = {512, 300, 700};
    std::vector<int16_t> cb(64, kUntouched);
    std::vector<int16_t> cr(64, kUntouched);
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg2(4, cb.data(), predictors), 0);
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg2(5, cr.data(), predictors), 0);
    EXPECT_EQ(predictors[0], 512);
    EXPECT_EQ(predictors[1], 300);
    EXPECT_EQ(predictors[2], 701);
    EXPECT_EQ(cb[0], 600);
    EXPECT_EQ(cb[kZigzagScan[1]], 32);  // 2 * 4 * 32 * 4 / 32 with the chroma intra matrix
    EXPECT_EQ(cr[0], 1402);
    // The non-intra block of the same picture keeps table zero.
    SetQuantiser(2);
    std::vector<int16_t> residual(384, 0);
    ASSERT_EQ(reconstructor.ReconstructNonIntraMpeg2(0, residual.data()), 0);
    EXPECT_EQ(source.bitOffset, 31 - static_cast<int32_t>(bits.Size()));
}

TEST_F(BlockReconstructorTest, LumaIntraBlocksUseTheLumaPredictorAndMatrix) {
    headers.picture.intra_dc_precision = 0;  // DC shift 3
    headers.intra_quantiser_matrix[kZigzagScan[1]] = 8;
    headers.chroma_intra_quantiser_matrix[kZigzagScan[1]] = 64;
    SetQuantiser(4);
    TestBits bits;
    bits.Put("101 111").Put("110").Put("10");  // DC size 3, +7; (0, +1); end
    Load(bits);
    int32_t predictors[3] = {128, 128, 128};
    std::vector<int16_t> block(64, kUntouched);
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg2(3, block.data(), predictors), 0);
    EXPECT_EQ(predictors[0], 135);
    EXPECT_EQ(predictors[1], 128);
    EXPECT_EQ(block[0], 135 * 8);
    EXPECT_EQ(block[kZigzagScan[1]], 2);  // 2 * 1 * 8 * 4 / 32
}

TEST_F(BlockReconstructorTest, Mpeg1IntraBlocksAlwaysUseTableZero) {
    headers.picture.intra_vlc_format = 1;
    SetQuantiser(8);
    TestBits bits;
    bits.Put("100").Put("110").Put("10");  // DC size 0; table zero (0, +1); end
    Load(bits);
    int32_t predictors[3] = {1024, 1024, 1024};
    std::vector<int16_t> block(64, kUntouched);
    ASSERT_EQ(reconstructor.ReconstructIntraMpeg1(0, block.data(), predictors), 0);
    EXPECT_EQ(block[0], 1024);
    EXPECT_EQ(block[kZigzagScan[1]], 15);  // 2 * 8 * 16 / 16 = 16, made odd
}

TEST_F(BlockReconstructorTest, CorruptBlocksLeaveTheResidualAlone) {
    SetQuantiser(8);
    TestBits bits;
    bits.Put("0000 0000 0000 0000 0");
    Load(bits);
    std::vector<int16_t> residual(384, kUntouched);
    EXPECT_NE(reconstructor.ReconstructNonIntraMpeg2(1, residual.data()), 0);
    EXPECT_NE(reconstructor.ReconstructNonIntraMpeg1(4, residual.data()), 0);
    for (int16_t value : residual) ASSERT_EQ(value, kUntouched);
    EXPECT_NE(reconstructor.ReconstructNonIntraMpeg2(6, residual.data()), 0);
    EXPECT_NE(reconstructor.ReconstructNonIntraMpeg2(-1, residual.data()), 0);
    CBlockReconstructor unready;
    EXPECT_NE(unready.ReconstructNonIntraMpeg2(0, residual.data()), 0);
    int32_t predictors[3] = {};
    EXPECT_NE(unready.ReconstructIntraMpeg1(0, residual.data(), predictors), 0);
}

}  // namespace
}  // namespace d2u
