// Intra-only streams made by ffmpeg, decoded with the block layer alone (tables, block
// reconstruction, inverse DCT) by a minimal slice loop written here, and compared with
// ffmpeg's own decoding of the same streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

namespace d2u {
namespace {

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFrames = 4;
constexpr double kMinimumPsnr = 50.0;
// Interlaced sequences code the height in whole macroblock pairs.
constexpr int kCodedHeight = (kHeight + 31) / 32 * 32;
constexpr int kMacroblocks = (kWidth / 16) * (kCodedHeight / 16);

struct Picture {
    std::vector<uint8_t> planes[3];
    int pitch[3] = {kWidth, kWidth / 2, kWidth / 2};
    Picture() {
        planes[0].assign(kWidth * kCodedHeight, 0);
        planes[1].assign(kWidth * kCodedHeight / 4, 0);
        planes[2].assign(kWidth * kCodedHeight / 4, 0);
    }
};

// The slice and macroblock syntax of intra pictures, just enough for the streams below.
class IntraPictureDecoder {
public:
    explicit IntraPictureDecoder(const std::vector<uint8_t>& stream) {
        source.SetDataBuffer(stream.data(), static_cast<int32_t>(stream.size()));
        headerReader.Init(&source, &headers);
        tables.Build();
        tables.SetDataSource(&source);
        blocks.Init(&headers, &tables, &source);
    }

    // Decodes the next picture; false at the end of the stream or on a decoding error.
    bool Next(Picture& picture, std::string& error) {
        if (headerReader.getHeader() != 1) return false;
        if (headers.picture.picture_coding_type != 1) {
            error = "not an intra picture";
            return false;
        }
        for (;;) {
            uint32_t code = CMpegHeaderReader::FindStartCode(source);
            if (code < 0x01 || code > 0xAF) {
                CMpegHeaderReader::UnreadStartCode(source);
                return true;
            }
            headerReader.ReadSliceHeader();
            if (!DecodeSlice(static_cast<int>(code) - 1, picture, error)) return false;
        }
    }

private:
    bool DecodeSlice(int row, Picture& picture, std::string& error) {
        if (row >= kCodedHeight / 16) {
            error = "slice row " + std::to_string(row);
            return false;
        }
        const bool mpeg2 = headers.sequence.mpeg2 == 1;
        int32_t reset = mpeg2 ? 128 << headers.picture.intra_dc_precision : 1024;
        int32_t predictors[3] = {reset, reset, reset};
        int address = row * (kWidth / 16) - 1;
        do {
            int32_t increment = 0;
            int32_t type = 0;
            if (tables.DecodeMacroblockAddressIncrement(&increment) != 0 ||
                tables.Decode(&type, 1) != 0) {
                error = "macroblock header";
                return false;
            }
            address += increment;
            if (increment < 1 || address >= kMacroblocks) {
                error = "macroblock address " + std::to_string(address);
                return false;
            }
            bool fieldDct = false;
            if (mpeg2 && headers.picture.frame_pred_frame_dct == 0) fieldDct = source.GetBit() == 1;
            if (type & 16) headerReader.ReadMacroblockQuantiser();
            alignas(16) int16_t coefficients[6 * 64] = {};
            for (int b = 0; b < 6; ++b) {
                int32_t status =
                    mpeg2 ? blocks.ReconstructIntraMpeg2(b, coefficients + 64 * b, predictors)
                          : blocks.ReconstructIntraMpeg1(b, coefficients + 64 * b, predictors);
                if (status != 0) {
                    error =
                        "block " + std::to_string(b) + " of macroblock " + std::to_string(address);
                    return false;
                }
                Place(picture, coefficients + 64 * b, b, address, fieldDct);
            }
        } while (source.ShowBits(23) != 0);
        return true;
    }

    static void Place(Picture& picture, const int16_t* block, int b, int address, bool fieldDct) {
        int x = (address % (kWidth / 16)) * 16;
        int y = (address / (kWidth / 16)) * 16;
        if (b < 4) {
            int rowStart = fieldDct ? y + (b >> 1) : y + 8 * (b >> 1);
            int step = fieldDct ? 2 * kWidth : kWidth;
            uint8_t* destination = picture.planes[0].data() + rowStart * kWidth + x + 8 * (b & 1);
            ippiDCT8x8InvLSClip_16s8u_C1R(block, destination, step, 0, 0, 255);
        } else {
            int plane = b == 4 ? 1 : 2;
            uint8_t* destination = picture.planes[plane].data() + (y / 2) * (kWidth / 2) + x / 2;
            ippiDCT8x8InvLSClip_16s8u_C1R(block, destination, kWidth / 2, 0, 0, 255);
        }
    }

    MpegHeaders headers{};
    CBitstreamDataSource source;
    CMpegHeaderReader headerReader;
    CMpegVlcTables tables;
    CBlockReconstructor blocks;
};

double Psnr(const uint8_t* a, const uint8_t* b, size_t count) {
    double squares = 0;
    for (size_t i = 0; i < count; ++i) {
        double d = static_cast<double>(a[i]) - b[i];
        squares += d * d;
    }
    if (squares == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / squares);
}

struct StreamCase {
    const char* name;
    const char* options;
};

class IntraPictures : public ::testing::TestWithParam<StreamCase> {};

TEST_P(IntraPictures, MatchFfmpegDecoding) {
    if (!test::CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const StreamCase& c = GetParam();
    const bool mpeg1 = std::string(c.options).find("mpeg1video") != std::string::npos;
    std::string stream = test::CachedArtifact(
        std::string("blocks_") + c.name + (mpeg1 ? ".m1v" : ".m2v"),
        "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v " +
            std::to_string(kFrames) + " -g 1 -pix_fmt yuv420p " + c.options + " -f " +
            (mpeg1 ? "mpeg1video" : "mpeg2video") + " {out}");
    ASSERT_FALSE(stream.empty()) << "ffmpeg could not make the stream";
    std::string reference =
        test::CachedArtifact(std::string("blocks_") + c.name + ".yuv",
                             "ffmpeg -loglevel error -y -f mpegvideo -i '" + stream +
                                 "' -vsync 0 -f rawvideo -pix_fmt yuv420p {out}");
    ASSERT_FALSE(reference.empty()) << "ffmpeg could not decode the stream";
    std::vector<uint8_t> bytes = test::ReadFileBytes(stream);
    std::vector<uint8_t> expected = test::ReadFileBytes(reference);
    const size_t frameBytes = kWidth * kHeight * 3 / 2;
    ASSERT_EQ(expected.size(), frameBytes * kFrames);

    InstallBestKernels();
    IntraPictureDecoder decoder(bytes);
    int frames = 0;
    Picture picture;
    std::string error;
    double lowest = 99.0;
    while (decoder.Next(picture, error)) {
        ASSERT_LT(frames, kFrames);
        const uint8_t* frame = expected.data() + frameBytes * static_cast<size_t>(frames);
        const size_t sizes[3] = {kWidth * kHeight, kWidth * kHeight / 4, kWidth * kHeight / 4};
        const uint8_t* planeStart[3] = {frame, frame + sizes[0], frame + sizes[0] + sizes[1]};
        for (int p = 0; p < 3; ++p) {
            double psnr = Psnr(picture.planes[p].data(), planeStart[p], sizes[p]);
            EXPECT_GE(psnr, kMinimumPsnr) << c.name << " frame " << frames << " plane " << p;
            lowest = std::min(lowest, psnr);
        }
        ++frames;
    }
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(frames, kFrames);
    std::printf("%s: lowest PSNR of any plane and frame %.2f dB\n", c.name, lowest);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, IntraPictures,
    ::testing::Values(
        StreamCase{"mpeg1_fine", "-c:v mpeg1video -qscale:v 1"},
        StreamCase{"mpeg1_coarse", "-c:v mpeg1video -qscale:v 12"},
        StreamCase{"mpeg2_dc8_table_zero", "-c:v mpeg2video -qscale:v 1 -dc 8"},
        StreamCase{"mpeg2_dc9_table_one", "-c:v mpeg2video -qscale:v 3 -dc 9 -intra_vlc 1"},
        StreamCase{"mpeg2_dc10_alternate_field_dct",
                   "-c:v mpeg2video -qscale:v 2 -dc 10 -alternate_scan 1 -flags +ildct"},
        StreamCase{"mpeg2_dc11_non_linear",
                   "-c:v mpeg2video -qscale:v 4 -qmax 28 -dc 11 -non_linear_quant 1 -intra_vlc 1"}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace d2u
