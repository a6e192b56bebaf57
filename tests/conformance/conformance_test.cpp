// Decodes generated MPEG-1 and MPEG-2 streams through the public interface, file-driven and
// buffer-driven, and compares every frame in display order with ffmpeg's decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "stream_recipes.h"
#include "support/api_test_host.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {
namespace {

constexpr double kFramePsnrFloor = 50.0;
constexpr double kStreamMeanPsnrFloor = 60.0;

// Emulated builds set this to run only the recipes marked quick.
bool QuickSetOnly() {
    const char* value = std::getenv("D2U_CONFORMANCE_QUICK");
    return value && *value && std::string(value) != "0";
}

struct PlaneSummary {
    double minimum = kIdenticalPsnr;
    double sum = 0;
    int frames = 0;
    double Mean() const { return frames ? sum / frames : 0; }
};

struct Comparison {
    PlaneSummary planes[3];
    int exactFrames = 0;
    int frames = 0;

    void Add(const YuvImage& decoded, const YuvImage& reference, const std::string& what) {
        bool exact = true;
        for (int p = 0; p < 3; ++p) {
            double psnr = PlanePsnr(decoded.planes[p], reference.planes[p]);
            EXPECT_GE(psnr, kFramePsnrFloor) << what << " plane " << p;
            planes[p].minimum = std::min(planes[p].minimum, psnr);
            planes[p].sum += psnr;
            ++planes[p].frames;
            exact = exact && decoded.planes[p].samples == reference.planes[p].samples;
        }
        exactFrames += exact;
        ++frames;
    }

    void CheckAndPrint(const std::string& stream, const char* path) const {
        std::printf("PSNR %-40s %-6s frames %3d exact %3d", stream.c_str(), path, frames,
                    exactFrames);
        const char* names[3] = {"Y", "U", "V"};
        for (int p = 0; p < 3; ++p) {
            std::printf("  %s min %6.2f mean %6.2f", names[p], planes[p].minimum, planes[p].Mean());
            EXPECT_GE(planes[p].Mean(), kStreamMeanPsnrFloor) << stream << " " << path;
        }
        std::printf("\n");
        std::fflush(stdout);
    }
};

struct PreparedStream {
    std::string path;
    std::vector<uint8_t> bytes;
    StreamLayout layout;
    std::vector<YuvImage> reference;  // display order
};

// Makes (or reuses) the stream and ffmpeg's decoding of it.
bool Prepare(const StreamRecipe& recipe, PreparedStream& stream) {
    stream.path = CachedArtifact(recipe.name, recipe.command);
    if (stream.path.empty()) return false;
    std::string referencePath = CachedArtifact(
        recipe.name + ".ref.yuv", "ffmpeg -nostdin -v error -y -threads 1 -i '" + stream.path +
                                      "' -f rawvideo -pix_fmt yuv420p -vsync passthrough {out}");
    if (referencePath.empty()) return false;
    stream.bytes = ReadFileBytes(stream.path);
    stream.layout = ReadStreamLayout(stream.bytes);
    stream.reference = ReadRawYuv420(referencePath, stream.layout.width, stream.layout.height);
    return true;
}

void ExpectDescribes(const HostFrame& frame, const CodedPicture& picture,
                     const StreamLayout& layout, const std::string& what) {
    EXPECT_EQ(frame.temporalReference, picture.temporalReference) << what;
    EXPECT_EQ(frame.pictureType, picture.pictureType) << what;
    EXPECT_EQ(frame.isKeyFrame, picture.pictureType == 1 ? 1 : 0) << what;
    EXPECT_EQ(frame.hostWord, 0) << what;
    EXPECT_EQ(frame.width, layout.width) << what;
    EXPECT_EQ(frame.height, layout.height) << what;
}

void CheckFileDriven(const StreamRecipe& recipe, const PreparedStream& stream) {
    const auto& pictures = stream.layout.pictures;
    std::vector<bool> handedOut = HandedOutAfterStart(stream.layout);
    std::vector<const CodedPicture*> expected;
    for (size_t k = 0; k < pictures.size(); ++k) {
        if (handedOut[k]) expected.push_back(&pictures[k]);
    }
    HostRun run = DecodeFileDriven(stream.path, pictures.size() + 8);
    ASSERT_EQ(run.openResult, 0);
    // Every picture, then the last frame once more at the end of the file, then nothing.
    ASSERT_EQ(run.frames.size(), expected.size() + 1);
    ASSERT_EQ(run.results.back(), -1);
    Comparison comparison;
    for (size_t k = 0; k < expected.size(); ++k) {
        std::string what = recipe.name + " file frame " + std::to_string(k);
        ExpectDescribes(run.frames[k], *expected[k], stream.layout, what);
        comparison.Add(run.frames[k].image, stream.reference[expected[k]->displayIndex], what);
    }
    const HostFrame& repeated = run.frames.back();
    const HostFrame& last = run.frames[expected.size() - 1];
    EXPECT_EQ(repeated.temporalReference, last.temporalReference);
    EXPECT_TRUE(repeated.image.planes[0].samples == last.image.planes[0].samples);
    comparison.CheckAndPrint(recipe.name, "file");
}

void CheckBufferDriven(const StreamRecipe& recipe, const PreparedStream& stream) {
    const auto& pictures = stream.layout.pictures;
    HostRun run = DecodeBufferDriven(stream.bytes, stream.layout);
    // One frame per picture: buffers are not held back.
    ASSERT_EQ(run.frames.size(), pictures.size());
    Comparison comparison;
    int referencesDecoded = 0;
    for (size_t k = 0; k < pictures.size(); ++k) {
        std::string what = recipe.name + " buffer frame " + std::to_string(k);
        EXPECT_EQ(run.results[k], 0) << what;
        ExpectDescribes(run.frames[k], pictures[k], stream.layout, what);
        // A B picture before the second reference picture has nothing to predict from.
        bool predictable = pictures[k].pictureType != 3 || referencesDecoded >= 2;
        if (pictures[k].pictureType != 3) ++referencesDecoded;
        if (predictable) {
            comparison.Add(run.frames[k].image, stream.reference[pictures[k].displayIndex], what);
        }
    }
    comparison.CheckAndPrint(recipe.name, "buffer");
}

class ConformanceTest : public ::testing::TestWithParam<StreamRecipe> {};

TEST_P(ConformanceTest, DecodesLikeTheReferenceDecoder) {
    const StreamRecipe& recipe = GetParam();
    if (QuickSetOnly() && !recipe.quick) GTEST_SKIP() << "reduced set";
    PreparedStream stream;
    ASSERT_TRUE(Prepare(recipe, stream)) << "could not make " << recipe.name;
    ASSERT_FALSE(stream.layout.pictures.empty());
    // The reference decoder gives every coded picture; display indices address its frames.
    ASSERT_EQ(stream.reference.size(), stream.layout.pictures.size());
    CheckFileDriven(recipe, stream);
    CheckBufferDriven(recipe, stream);
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
