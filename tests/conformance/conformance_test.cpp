// Decodes generated MPEG-1 and MPEG-2 streams through the public interface, file-driven and
// buffer-driven, and compares every frame in display order with ffmpeg's decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/api_test_host.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {
namespace {

constexpr double kFramePsnrFloor = 50.0;
constexpr double kStreamMeanPsnrFloor = 60.0;

struct StreamRecipe {
    std::string name;          // also the cached file's name
    std::string command;       // shell command writing the stream to {out}
    bool quick;                // part of the reduced set that emulated builds may choose
    int32_t chromaFormat = 1;  // 1 4:2:0, 2 4:2:2: the frames' chromaFormat and the reference's
    // Rewrites the encoder's stream before both decoders read it (none: used as made).
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> rewrite;
    std::string rewrittenName;
};

// Bumped whenever a recipe changes, so that cached streams are made again.
const std::string kRecipeVersion = "_v1";

// Encoded by ffmpeg's MPEG-1 ("mpeg1_...") or MPEG-2 video encoder.
StreamRecipe Ffmpeg(const std::string& name, const std::string& input, const std::string& options,
                    bool quick = false) {
    bool mpeg1 = name.rfind("mpeg1_", 0) == 0;
    std::string codec = mpeg1 ? "mpeg1video" : "mpeg2video";
    return {name + kRecipeVersion + (mpeg1 ? ".m1v" : ".m2v"),
            input + " -c:v " + codec + " -sc_threshold 1000000000 " + options + " -f " + codec +
                " {out}",
            quick,
            1,
            nullptr,
            ""};
}

// Encoded by ffmpeg's MPEG-2 video encoder from 4:2:2 pictures (the 4:2:2 profile).
StreamRecipe Ffmpeg422(const std::string& name, const std::string& input,
                       const std::string& options, bool quick = false) {
    StreamRecipe recipe = Ffmpeg(name, input, "-pix_fmt yuv422p " + options, quick);
    recipe.chromaFormat = 2;
    return recipe;
}

// A quant matrix extension loading the intra matrix and both chroma matrices, each different.
std::vector<uint8_t> QuantMatrixExtension() {
    std::vector<uint8_t> bytes = {0x00, 0x00, 0x01, 0xB5};
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](uint32_t value, int width) {
        for (int b = width - 1; b >= 0; --b) {
            bits = (bits << 1) | ((value >> b) & 1);
            if (++count == 8) {
                bytes.push_back(static_cast<uint8_t>(bits));
                bits = 0;
                count = 0;
            }
        }
    };
    put(3, 4);  // quant matrix extension
    const int firsts[3] = {8, 12, 20}, steps[3] = {3, 5, 7}, spreads[3] = {37, 41, 29};
    const bool loaded[4] = {true, false, true, true};  // intra, non-intra, chroma ones
    for (int m = 0, values = 0; m < 4; ++m) {
        put(loaded[m] ? 1 : 0, 1);
        if (!loaded[m]) continue;
        for (int k = 0; k < 64; ++k)
            put(static_cast<uint32_t>(firsts[values] + (k * steps[values]) % spreads[values]), 8);
        ++values;
    }
    if (count) put(0, 8 - count);
    return bytes;
}

// The extension after every picture coding extension, before the next start code.
std::vector<uint8_t> WithQuantMatrixExtension(const std::vector<uint8_t>& stream) {
    const std::vector<uint8_t> extension = QuantMatrixExtension();
    std::vector<uint8_t> out;
    bool pending = false;
    for (size_t i = 0; i < stream.size(); ++i) {
        bool startCode =
            i + 4 < stream.size() && stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1;
        if (startCode && pending) {
            out.insert(out.end(), extension.begin(), extension.end());
            pending = false;
        }
        if (startCode && stream[i + 3] == 0xB5 && (stream[i + 4] >> 4) == 8) pending = true;
        out.push_back(stream[i]);
    }
    return out;
}

// The stream with chroma matrices of its own, in a file of its own.
StreamRecipe QuantMatrixRewrite(StreamRecipe recipe, const std::string& name) {
    recipe.rewrite = WithQuantMatrixExtension;
    recipe.rewrittenName = name + kRecipeVersion + "_rewritten.m2v";
    return recipe;
}

// Encoded by mjpegtools' mpeg2enc (-f 0 MPEG-1, -f 8 MPEG-2) from a yuv4mpeg pipe.
StreamRecipe Mpeg2enc(const std::string& name, const std::string& input, const std::string& options,
                      bool quick = false) {
    bool mpeg1 = options.find("-f 0") != std::string::npos;
    return {name + kRecipeVersion + (mpeg1 ? ".m1v" : ".m2v"),
            input + " -f yuv4mpegpipe - | mpeg2enc -v 0 " + options + " -o {out}",
            quick,
            1,
            nullptr,
            ""};
}

// A quantiser matrix of 64 values in the encoder's comma-separated form.
std::string Matrix(int first, int step, int spread) {
    std::ostringstream text;
    for (int k = 0; k < 64; ++k) text << (k ? "," : "") << first + (k ? (k * step) % spread : 0);
    return text.str();
}

std::string Cif(int frames, const std::string& filters = "") {
    return TestPatternInput("352x288", "25", frames, filters);
}

std::vector<StreamRecipe> ConformanceRecipes() {
    const std::string noise = "noise=alls=8:allf=t";
    const std::string topFirstNoisy = "tinterlace=mode=interleave_top,setfield=tff," + noise;
    const std::string bottomFirst = "tinterlace=mode=interleave_bottom,setfield=bff";
    const std::string matrices =
        "-intra_matrix " + Matrix(8, 3, 41) + " -inter_matrix " + Matrix(16, 7, 29);
    return {
        Ffmpeg("mpeg1_cif_ipb", Cif(40), "-q:v 4 -g 12 -bf 2", true),
        Ffmpeg("mpeg1_odd_200x120", TestPatternInput("200x120", "25", 30), "-b:v 400k -g 15 -bf 2"),
        Ffmpeg("mpeg1_custom_matrices", Cif(25, noise), "-q:v 3 -g 12 -bf 1 " + matrices),
        Ffmpeg("mpeg1_intra_only", Cif(10, noise), "-q:v 2 -g 1"),
        Ffmpeg("mpeg2_cif_progressive", Cif(40), "-q:v 3 -g 12 -bf 2", true),
        Ffmpeg("mpeg2_pal_interlaced", TestPatternInput("720x576", "50", 24, topFirstNoisy),
               "-q:v 4 -g 12 -bf 2 -flags +ildct+ilme -top 1", true),
        Ffmpeg("mpeg2_ntsc_interlaced_alternate_scan",
               TestPatternInput("720x480", "60000/1001", 20, bottomFirst),
               "-q:v 4 -g 15 -bf 2 -flags +ildct+ilme -top 0 -alternate_scan 1 -aspect 16:9"),
        Ffmpeg("mpeg2_intra_vlc_nonlinear_quant", Cif(30, noise),
               "-q:v 6 -qmax 28 -g 12 -bf 2 -intra_vlc 1 -non_linear_quant 1"),
        Ffmpeg("mpeg2_custom_matrices", Cif(25, noise), "-q:v 3 -g 12 -bf 2 " + matrices),
        Ffmpeg("mpeg2_dc8", Cif(12), "-q:v 2 -g 6 -bf 2 -dc 8"),
        Ffmpeg("mpeg2_dc9", Cif(12), "-q:v 2 -g 6 -bf 2 -dc 9"),
        Ffmpeg("mpeg2_dc10", Cif(12), "-q:v 2 -g 6 -bf 2 -dc 10", true),
        Ffmpeg("mpeg2_dc11", Cif(12, noise), "-q:v 2 -g 6 -bf 2 -dc 11"),
        Ffmpeg("mpeg2_short_gop_without_p", Cif(20), "-q:v 3 -g 3 -bf 2"),
        Ffmpeg("mpeg2_long_gop", Cif(50), "-q:v 4 -g 300 -bf 2"),
        Ffmpeg("mpeg2_closed_gops_ip", Cif(30), "-q:v 4 -g 10 -bf 0 -flags +cgop"),
        Ffmpeg("mpeg2_odd_200x120", TestPatternInput("200x120", "25", 30), "-b:v 600k -g 12 -bf 2",
               true),
        Ffmpeg("mpeg2_hd_1080_20mbit", TestPatternInput("1920x1080", "50", 8, topFirstNoisy),
               "-b:v 20M -maxrate 20M -bufsize 8M -g 12 -bf 2 -flags +ildct+ilme -top 1"),
        Mpeg2enc("mpeg2enc_mpeg1", Cif(30), "-f 0 -R 2 -g 6 -G 12", true),
        Mpeg2enc("mpeg2enc_dvd", TestPatternInput("720x576", "25", 25), "-f 8 -R 2 -a 3"),
        Mpeg2enc("mpeg2enc_dvd_interlaced", TestPatternInput("720x576", "50", 20, topFirstNoisy),
                 "-f 8 -R 2 -I 1"),
        // Taller than 2,800 lines: slices below row 175 carry slice_vertical_position_extension.
        Ffmpeg("mpeg2_tall_2896", TestPatternInput("96x2896", "25", 6, noise),
               "-q:v 4 -g 6 -bf 2 -strict -1"),
        Ffmpeg422("mpeg2_422_cif_ipb", Cif(30), "-q:v 3 -g 12 -bf 2", true),
        Ffmpeg422("mpeg2_422_odd_200x120", TestPatternInput("200x120", "25", 30, noise),
                  "-b:v 1M -g 12 -bf 2"),
        Ffmpeg422("mpeg2_422_pal_interlaced", TestPatternInput("720x576", "50", 16, topFirstNoisy),
                  "-q:v 4 -g 12 -bf 2 -flags +ildct+ilme -top 1", true),
        Ffmpeg422("mpeg2_422_ntsc_alternate_scan_intra_vlc",
                  TestPatternInput("720x480", "60000/1001", 12, bottomFirst),
                  "-q:v 5 -g 15 -bf 2 -flags +ildct+ilme -top 0 -alternate_scan 1 -intra_vlc 1 "
                  "-non_linear_quant 1 -qmax 28"),
        Ffmpeg422("mpeg2_422_custom_matrices_dc10", Cif(20, noise),
                  "-q:v 3 -g 12 -bf 2 -dc 10 " + matrices),
        Ffmpeg422("mpeg2_422_hd_1080", TestPatternInput("1920x1080", "50", 6, topFirstNoisy),
                  "-b:v 30M -maxrate 30M -bufsize 9M -g 12 -bf 2 -flags +ildct+ilme -top 1"),
        QuantMatrixRewrite(
            Ffmpeg422("mpeg2_422_quant_matrix_extension", Cif(20, noise), "-q:v 3 -g 12 -bf 2"),
            "mpeg2_422_quant_matrix_extension"),
    };
}

// Worst and mean PSNR per plane of the frames compared, printed as the stream's summary line.
struct Comparison {
    void Add(const YuvImage& decoded, const YuvImage& reference, const std::string& what) {
        bool exact = true;
        for (int p = 0; p < 3; ++p) {
            double psnr = PlanePsnr(decoded.planes[p], reference.planes[p]);
            EXPECT_GE(psnr, kFramePsnrFloor) << what << " plane " << p;
            minimum[p] = std::min(minimum[p], psnr);
            sum[p] += psnr;
            exact = exact && decoded.planes[p].samples == reference.planes[p].samples;
        }
        exactFrames += exact;
        ++frames;
    }

    void CheckAndPrint(const std::string& stream, const char* mode) const {
        std::printf("PSNR %-40s %-6s frames %3d exact %3d", stream.c_str(), mode, frames,
                    exactFrames);
        for (int p = 0; p < 3; ++p) {
            double mean = frames ? sum[p] / frames : 0;
            std::printf("  %c min %6.2f mean %6.2f", "YUV"[p], minimum[p], mean);
            EXPECT_GE(mean, kStreamMeanPsnrFloor) << stream << " " << mode << " plane " << p;
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    double minimum[3] = {kIdenticalPsnr, kIdenticalPsnr, kIdenticalPsnr};
    double sum[3] = {0, 0, 0};
    int exactFrames = 0;
    int frames = 0;
};

// Checks each frame of a run against the picture it should show, in order. A B picture decoded
// before a second reference picture has nothing to predict from and is not compared.
void CompareFrames(const HostRun& run, const std::vector<CodedPicture>& expected,
                   const GeneratedStream& stream, const std::vector<YuvImage>& reference,
                   int32_t chromaFormat, const char* mode) {
    Comparison comparison;
    int referencesDecoded = 0;
    for (size_t k = 0; k < expected.size(); ++k) {
        const D2uFrame& frame = run.frames[k].record;
        const CodedPicture& picture = expected[k];
        std::string what = stream.path + " " + mode + " frame " + std::to_string(k);
        EXPECT_EQ(frame.temporalReference, picture.temporalReference) << what;
        EXPECT_EQ(frame.pictureType, picture.pictureType) << what;
        EXPECT_EQ(frame.isKeyFrame, picture.pictureType == 1 ? 1 : 0) << what;
        EXPECT_EQ(frame.hostWord, 0) << what;
        EXPECT_EQ(frame.width, stream.layout.width) << what;
        EXPECT_EQ(frame.height, stream.layout.height) << what;
        EXPECT_EQ(frame.chromaFormat, chromaFormat) << what;
        EXPECT_EQ(frame.chromaHeight, chromaFormat == 2 ? frame.height : frame.height / 2) << what;
        EXPECT_GE(frame.U.height, chromaFormat == 2 ? frame.height : frame.height / 2) << what;
        if (picture.pictureType != 3) ++referencesDecoded;
        if (picture.pictureType != 3 || referencesDecoded >= 2) {
            comparison.Add(run.frames[k].image, reference[picture.displayIndex], what);
        }
    }
    comparison.CheckAndPrint(stream.path.substr(stream.path.rfind('/') + 1), mode);
}

class ConformanceTest : public ::testing::TestWithParam<StreamRecipe> {};

TEST_P(ConformanceTest, DecodesLikeTheReferenceDecoder) {
    const StreamRecipe& recipe = GetParam();
    const char* quick = std::getenv("D2U_CONFORMANCE_QUICK");
    if (quick && *quick && std::string(quick) != "0" && !recipe.quick) GTEST_SKIP();
    GeneratedStream stream = GenerateStream(recipe.name, recipe.command);
    if (recipe.rewrite && !stream.path.empty()) {
        stream.bytes = recipe.rewrite(stream.bytes);
        stream.path = WorkPath(recipe.rewrittenName);
        ASSERT_TRUE(WriteFileBytes(stream.path, stream.bytes));
        stream.layout = ReadStreamLayout(stream.bytes);
    }
    const std::vector<CodedPicture>& pictures = stream.layout.pictures;
    ASSERT_FALSE(pictures.empty()) << "could not make " << recipe.name;
    std::vector<YuvImage> reference = ReferenceDecoding(stream.path, stream.layout.width,
                                                        stream.layout.height, recipe.chromaFormat);
    // The reference decoder gives every coded picture; display indices address its frames.
    ASSERT_EQ(reference.size(), pictures.size());

    // File-driven: every picture but the leading B pictures, then the last frame once more at
    // the end of the file, then nothing.
    std::vector<CodedPicture> handedOut;
    std::vector<bool> kept = HandedOutAfterStart(stream.layout);
    for (size_t k = 0; k < pictures.size(); ++k) {
        if (kept[k]) handedOut.push_back(pictures[k]);
    }
    HostRun file = DecodeFileDriven(stream.path, pictures.size() + 8);
    ASSERT_EQ(file.openResult, 0);
    ASSERT_EQ(file.frames.size(), handedOut.size() + 1);
    EXPECT_EQ(file.results.back(), -1);
    CompareFrames(file, handedOut, stream, reference, recipe.chromaFormat, "file");
    const HostFrame& last = file.frames[handedOut.size() - 1];
    EXPECT_EQ(file.frames.back().record.temporalReference, last.record.temporalReference);
    EXPECT_TRUE(file.frames.back().image.planes[0].samples == last.image.planes[0].samples);

    // Buffer-driven: one frame per picture, none held back.
    HostRun buffer = DecodeBufferDriven(stream.bytes, stream.layout);
    EXPECT_EQ(buffer.results, std::vector<int32_t>(pictures.size(), 0));
    ASSERT_EQ(buffer.frames.size(), pictures.size());
    CompareFrames(buffer, pictures, stream, reference, recipe.chromaFormat, "buffer");
}

std::string RecipeName(const ::testing::TestParamInfo<StreamRecipe>& info) {
    std::string name = info.param.name.substr(0, info.param.name.find('.'));
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Streams, ConformanceTest, ::testing::ValuesIn(ConformanceRecipes()),
                         RecipeName);

}  // namespace
}  // namespace test
}  // namespace d2u
