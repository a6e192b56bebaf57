// Intra-only streams made by ffmpeg, decoded with the block layer alone (tables, block
// reconstruction, inverse DCT) by a minimal slice loop written here, and compared with
// ffmpeg's own decoding of the same streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/block_reconstructor.h"
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_vlc_tables.h"
#include "input/bitstream_data_source.h"
#include "primitives/inverse_dct.h"
#include "primitives/kernel_dispatch.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace {

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kColumns = kWidth / 16;
constexpr int kRows = (kHeight + 31) / 32 * 2;  // interlaced: whole macroblock pairs

// The slice and macroblock syntax of intra pictures, just enough for the streams below.
class IntraPictureDecoder {
public:
    explicit IntraPictureDecoder(const std::vector<uint8_t>& stream) {
        source.SetDataBuffer(stream.data(), static_cast<int32_t>(stream.size()));
        headerReader.Init(&source, &headers);
        tables.Build();
        tables.SetDataSource(&source);
        blocks.Init(&headers, &tables, &source);
        for (int p = 0; p < 3; ++p) planes[p].assign(kWidth * kRows * (p ? 4 : 16), 0);
    }

    // Decodes the next picture; false at the end of the stream or on an error.
    bool Next() {
        if (headerReader.getHeader() != 1) return false;
        if (headers.picture.picture_coding_type != 1) return Fail("not an intra picture");
        for (;;) {
            const int code = static_cast<int>(CMpegHeaderReader::FindStartCode(source));
            if (code < 0x01 || code > 0xAF) break;
            if (code > kRows) return Fail("slice row " + std::to_string(code - 1));
            headerReader.ReadSliceHeader();
            if (!DecodeSlice(code - 1)) return false;
        }
        CMpegHeaderReader::UnreadStartCode(source);
        return true;
    }

    test::PlaneImage Plane(int p) const {
        const int width = p ? kWidth / 2 : kWidth;
        return test::CopyPlane(planes[p].data(), width, width, p ? kHeight / 2 : kHeight);
    }
    std::string error;

private:
    bool Fail(const std::string& what) {
        error = what;
        return false;
    }

    bool DecodeSlice(int row) {
        const bool mpeg2 = headers.sequence.mpeg2 == 1;
        const int32_t reset = mpeg2 ? 128 << headers.picture.intra_dc_precision : 1024;
        int32_t predictors[3] = {reset, reset, reset};
        int address = row * kColumns - 1;
        do {
            int32_t increment = 0;
            int32_t type = 0;
            if (tables.DecodeMacroblockAddressIncrement(&increment) != 0 ||
                tables.Decode(&type, CMpegVlcTables::kMacroblockTypeI) != 0) {
                return Fail("macroblock header");
            }
            address += increment;
            if (increment < 1 || address >= kColumns * kRows) return Fail("macroblock address");
            bool fieldDct =
                mpeg2 && headers.picture.frame_pred_frame_dct == 0 && source.GetBit() == 1;
            if (type & 16) headerReader.ReadMacroblockQuantiser();
            for (int b = 0; b < 6; ++b) {
                alignas(16) int16_t block[64];
                if ((mpeg2 ? blocks.ReconstructIntraMpeg2(b, block, predictors)
                           : blocks.ReconstructIntraMpeg1(b, block, predictors)) != 0) {
                    return Fail("block " + std::to_string(b) + " at " + std::to_string(address));
                }
                Place(block, b, address % kColumns * 16, address / kColumns * 16, fieldDct);
            }
        } while (source.ShowBits(23) != 0);
        return true;
    }

    // Luma blocks 0 and 1 on the upper half, 2 and 3 on the lower, or, with field DCT, 0 and 1
    // on the even rows and 2 and 3 on the odd rows.
    void Place(const int16_t* block, int b, int x, int y, bool fieldDct) {
        if (b >= 4) {
            uint8_t* at = &planes[b - 3][y / 2 * kWidth / 2 + x / 2];
            ippiDCT8x8InvLSClip_16s8u_C1R(block, at, kWidth / 2, 0, 0, 255);
            return;
        }
        int top = fieldDct ? y + b / 2 : y + 8 * (b / 2);
        uint8_t* at = &planes[0][top * kWidth + x + 8 * (b % 2)];
        ippiDCT8x8InvLSClip_16s8u_C1R(block, at, (fieldDct ? 2 : 1) * kWidth, 0, 0, 255);
    }

    MpegHeaders headers{};
    CBitstreamDataSource source;
    CMpegHeaderReader headerReader;
    CMpegVlcTables tables;
    CBlockReconstructor blocks;
    std::vector<uint8_t> planes[3];
};

struct StreamCase {
    const char* name;
    const char* format;
    const char* options;
};

class IntraPictures : public ::testing::TestWithParam<StreamCase> {};

TEST_P(IntraPictures, MatchFfmpegDecoding) {
    if (!test::CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const StreamCase& c = GetParam();
    const std::string name = std::string("blocks_intra_") + c.name;
    const std::string make =
        "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=176x144 "
        "-frames:v 4 -g 1 -pix_fmt yuv420p ";
    std::string stream = test::CachedArtifact(name + "." + c.format,
                                              make + c.options + " -f " + c.format + " {out}");
    std::string reference =
        test::CachedArtifact(name + ".yuv", "ffmpeg -loglevel error -y -f mpegvideo -i '" + stream +
                                                "' -vsync 0 -f rawvideo {out}");
    std::vector<test::YuvImage> expected = test::ReadRawYuv420(reference, kWidth, kHeight);
    ASSERT_EQ(expected.size(), 4u) << "ffmpeg could not make or decode the stream";

    InstallBestKernels();
    IntraPictureDecoder decoder(test::ReadFileBytes(stream));
    for (size_t frame = 0; frame < expected.size(); ++frame) {
        ASSERT_TRUE(decoder.Next()) << decoder.error;
        for (int p = 0; p < 3; ++p) {
            EXPECT_GE(test::PlanePsnr(decoder.Plane(p), expected[frame].planes[p]), 50.0)
                << c.name << " frame " << frame << " plane " << p;
        }
    }
    EXPECT_FALSE(decoder.Next());
    EXPECT_EQ(decoder.error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Streams, IntraPictures,
    ::testing::Values(StreamCase{"mpeg1_fine", "mpeg1video", "-qscale:v 1"},
                      StreamCase{"mpeg1_coarse", "mpeg1video", "-qscale:v 12"},
                      StreamCase{"mpeg2_dc8_table_zero", "mpeg2video", "-qscale:v 1 -dc 8"},
                      StreamCase{"mpeg2_dc9_table_one", "mpeg2video",
                                 "-qscale:v 3 -dc 9 -intra_vlc 1"},
                      StreamCase{"mpeg2_dc10_alternate_field_dct", "mpeg2video",
                                 "-qscale:v 2 -dc 10 -alternate_scan 1 -flags +ildct"},
                      StreamCase{"mpeg2_dc11_non_linear", "mpeg2video",
                                 "-qscale:v 4 -qmax 28 -dc 11 -non_linear_quant 1 -intra_vlc 1"}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace d2u
