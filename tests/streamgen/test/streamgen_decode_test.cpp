// Decodes the generator's streams for a range of seeds through the public interface
// (file-driven) and with ffmpeg, and compares every frame in display order. D2U_STREAMGEN_FIRST
// and D2U_STREAMGEN_SEEDS choose the seeds (scripts/streamgen-soak.sh runs thousands).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "d2udir.h"
#include "stream_generator.h"
#include "support/api_test_host.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

using streamgen::GeneratedStream;
using streamgen::GeneratorOptions;
using streamgen::StreamGenerator;

constexpr double kFramePsnrFloor = 50.0;

int EnvironmentNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

int FirstSeed() {
    return EnvironmentNumber("D2U_STREAMGEN_FIRST", 1);
}
int SeedCount() {
    return EnvironmentNumber("D2U_STREAMGEN_SEEDS", D2U_STREAMGEN_DEFAULT_SEEDS);
}

struct SeedOutcome {
    std::string failure;  // empty when the seed passed
    double minimumPsnr = kIdenticalPsnr;
};

std::string FrameFailure(const HostFrame& decoded, const streamgen::CodedFrame& coded,
                         const YuvImage& reference, double& minimum) {
    if (decoded.record.pictureType != coded.pictureType) return "picture type";
    if (decoded.record.temporalReference != coded.temporalReference) return "temporal reference";
    for (int p = 0; p < 3; ++p) {
        const double psnr = PlanePsnr(decoded.image.planes[p], reference.planes[p]);
        minimum = std::min(minimum, psnr);
        if (psnr < kFramePsnrFloor)
            return "plane " + std::to_string(p) + " PSNR " + std::to_string(psnr);
    }
    return "";
}

SeedOutcome CheckSeed(int seed) {
    SeedOutcome outcome;
    GeneratorOptions options;
    options.seed = static_cast<uint64_t>(seed);
    const GeneratedStream stream = StreamGenerator(options).Generate();
    const std::string base =
        WorkPath("streamgen_" + std::to_string(seed) + "_" + std::to_string(::getpid()));
    const std::string path = base + ".m2v";
    WriteFileBytes(path, stream.bytes);
    // ffmpeg's decoding depends on the stream alone: kept under the stream's hash, so that a
    // rerun (or a run per planted fault) decodes each stream with ffmpeg once.
    const std::string pixelFormat = stream.chromaFormat == 2 ? "yuv422p" : "yuv420p";
    const std::string referencePath = CachedArtifact(
        "streamgen_" + std::to_string(seed) + "_" + ContentHash(stream.bytes) + ".ref.yuv",
        "ffmpeg -nostdin -v error -xerror -y -threads 1 -f mpegvideo -i '" + path +
            "' -f rawvideo -pix_fmt " + pixelFormat + " -vsync passthrough {out} 2>/dev/null");
    const std::vector<YuvImage> reference =
        ReadRawYuv(referencePath, stream.width, stream.height, stream.chromaFormat);
    const std::vector<HostFrame> decoded = DecodeFileDriven(path, stream.frames.size() + 4).frames;
    if (referencePath.empty()) {
        outcome.failure = "ffmpeg refused the stream";
    } else if (reference.size() != stream.frames.size()) {
        outcome.failure = "ffmpeg gave " + std::to_string(reference.size()) + " frames of " +
                          std::to_string(stream.frames.size());
    } else if (decoded.size() != stream.frames.size() + 1) {
        // After the last picture the last frame comes once more.
        outcome.failure = "library gave " + std::to_string(decoded.size()) + " frames of " +
                          std::to_string(stream.frames.size() + 1);
    }
    // A host cutting at every picture start code feeds each field on its own, here to a handle
    // that decodes slices on two threads: the same frames and macroblock tables as the file
    // gives on one thread, none twice.
    const std::vector<HostFrame> fed =
        DecodeBufferDriven(stream.bytes, ReadStreamLayout(stream.bytes), 2).frames;
    if (outcome.failure.empty() && fed.size() != stream.frames.size()) {
        outcome.failure = "fed one picture per call, library gave " + std::to_string(fed.size()) +
                          " frames of " + std::to_string(stream.frames.size());
    }
    for (size_t k = 0; outcome.failure.empty() && k < stream.frames.size(); ++k) {
        if (MinPsnr(fed[k].image, decoded[k].image) < kIdenticalPsnr ||
            fed[k].table != decoded[k].table ||
            fed[k].record.pictureType != decoded[k].record.pictureType ||
            fed[k].record.topFieldFirst != decoded[k].record.topFieldFirst) {
            outcome.failure = "frame " + std::to_string(k) + " fed one picture per call differs";
        }
    }
    for (size_t k = 0; outcome.failure.empty() && k < stream.frames.size(); ++k) {
        const streamgen::CodedFrame& coded = stream.frames[k];
        if (decoded[k].record.chromaFormat != stream.chromaFormat) {
            outcome.failure = "chroma format";
            break;
        }
        std::string failure =
            FrameFailure(decoded[k], coded, reference[coded.displayIndex], outcome.minimumPsnr);
        if (!failure.empty()) outcome.failure = "frame " + std::to_string(k) + ": " + failure;
    }
    if (outcome.failure.empty()) {
        RemoveFile(path);
    } else {
        outcome.failure += " (" + path + ")";
    }
    return outcome;
}

TEST(StreamgenDecodeTest, EverySeedDecodesLikeTheReferenceDecoder) {
    if (!CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const int first = FirstSeed(), count = SeedCount();
    double minimum = kIdenticalPsnr;
    int failures = 0;
    for (int seed = first; seed < first + count; ++seed) {
        const SeedOutcome outcome = CheckSeed(seed);
        minimum = std::min(minimum, outcome.minimumPsnr);
        if (!outcome.failure.empty()) {
            ++failures;
            ADD_FAILURE() << "streamgen seed " << seed << ": " << outcome.failure;
        }
    }
    std::printf("streamgen seeds %d..%d: %d failed, minimum PSNR %.2f dB\n", first,
                first + count - 1, failures, minimum);
}

}  // namespace
}  // namespace test
}  // namespace d2u
