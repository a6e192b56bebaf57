// Whole streams decoded once with the scalar kernels and once with the best kernels the CPU
// has: every picture handed out must be the same, byte for byte. The streams are busy enough
// (noise, interlaced and half-sample prediction, both directions, escapes) to reach every
// kernel in most of its forms.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "decoder/mpeg_decoder_wraper.h"
#include "primitives/kernel_dispatch.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

void AppendPlane(const YUVPlane& plane, std::vector<uint8_t>& out) {
    for (int32_t row = 0; row < plane.height; ++row) {
        const uint8_t* samples = plane.data + static_cast<ptrdiff_t>(row) * plane.pitch;
        out.insert(out.end(), samples, samples + plane.width);
    }
}

// Every picture the wrapper hands out, planes one after the other.
std::vector<std::vector<uint8_t>> DecodeWith(KernelLevel level, const std::string& path) {
    InstallKernels(level);
    std::vector<std::vector<uint8_t>> pictures;
    CMpegDecoderWraper wrapper;
    if (wrapper.LoadFile(path.c_str()) != 0) return pictures;
    for (;;) {
        CYUVFrame* frame = wrapper.GetNextFrame(1);
        if (!frame || wrapper.Ended()) break;
        std::vector<uint8_t> bytes;
        AppendPlane(frame->Y, bytes);
        AppendPlane(frame->U, bytes);
        AppendPlane(frame->V, bytes);
        pictures.push_back(std::move(bytes));
    }
    return pictures;
}

struct KernelStream {
    std::string name;
    std::string size;
    std::string filters;
    std::string options;
};

TEST(KernelLevels, ScalarAndBestKernelsDecodeTheSamePictures) {
    if (!CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    const std::vector<KernelStream> streams = {
        {"kernel_levels_interlaced_v1.m2v", "352x288",
         "tinterlace=mode=interleave_top,setfield=tff,noise=alls=12:allf=t",
         "-c:v mpeg2video -q:v 3 -g 9 -bf 2 -flags +ildct+ilme -top 1 -f mpeg2video"},
        {"kernel_levels_mpeg1_v1.m1v", "200x120", "noise=alls=20:allf=t",
         "-c:v mpeg1video -q:v 2 -g 6 -bf 2 -f mpeg1video"},
    };
    for (const KernelStream& s : streams) {
        GeneratedStream stream = GenerateStream(
            s.name, TestPatternInput(s.size, "25", 14, s.filters) + " " + s.options + " {out}");
        ASSERT_FALSE(stream.path.empty()) << s.name;
        std::vector<std::vector<uint8_t>> scalar = DecodeWith(KernelLevel::kScalar, stream.path);
        std::vector<std::vector<uint8_t>> best = DecodeWith(DetectKernelLevel(), stream.path);
        InstallBestKernels();
        ASSERT_GE(scalar.size(), 10u) << s.name;
        ASSERT_EQ(scalar.size(), best.size()) << s.name;
        for (size_t i = 0; i < scalar.size(); ++i) {
            EXPECT_TRUE(scalar[i] == best[i]) << s.name << ": picture " << i << " differs";
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
