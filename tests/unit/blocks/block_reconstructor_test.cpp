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

// Corrupt data, a block number outside 0 to 5 and a reconstructor without tables: an error,
// and the residual as it was.
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
