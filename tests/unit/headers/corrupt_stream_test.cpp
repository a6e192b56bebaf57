// Damaged streams through the wrapper, file-driven and buffer-driven: every call returns, and
// nothing is read or written out of bounds (the sanitizer builds check the latter).
#include <gtest/gtest.h>

#include <random>

#include "decoder/mpeg_decoder_wraper.h"
#include "reference_streams.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

enum class Damage { kFlipBytes, kHeaderBytes, kStrayStartCodes, kTruncate };

std::vector<uint8_t> Damaged(std::vector<uint8_t> bytes, Damage damage, std::mt19937& random) {
    auto anywhere = [&]() { return random() % bytes.size(); };
    switch (damage) {
        case Damage::kFlipBytes:
            for (int i = 0, n = 1 + random() % 40; i < n; ++i)
                bytes[anywhere()] ^= 1 + random() % 255;
            break;
        case Damage::kHeaderBytes:
            // The sequence, group and first picture headers with their extensions.
            for (int i = 0, n = 1 + random() % 6; i < n; ++i) {
                bytes[4 + random() % 60] = static_cast<uint8_t>(random());
            }
            break;
        case Damage::kStrayStartCodes:
            for (int i = 0, n = 1 + random() % 12; i < n; ++i) {
                size_t at = anywhere();
                const uint8_t code[4] = {0, 0, 1, static_cast<uint8_t>(random())};
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), code, code + 4);
            }
            break;
        case Damage::kTruncate:
            bytes.resize(anywhere());
            break;
    }
    return bytes;
}

void DecodeFileDriven(const std::vector<uint8_t>& bytes) {
    std::string path = WorkPath("headers_damaged.m2v");
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CMpegDecoderWraper wrapper;
    if (wrapper.LoadFile(path.c_str()) != 0) return;
    for (int call = 0; call < 60; ++call) {
        if (call == 20) wrapper.SkipFrames(3);
        if (call == 30) wrapper.SkipFrame();
        if (call == 40) wrapper.Reset();
        CYUVFrame* frame = wrapper.GetNextFrame(1);
        if (!frame && call < 40) {
            wrapper.Reset();
            call = 40;
        }
    }
    wrapper.CloseDecoder();
}

void DecodeBufferDriven(const std::vector<uint8_t>& bytes) {
    CMpegDecoderWraper wrapper;
    if (bytes.empty()) return;
    const StreamLayout layout = ReadStreamLayout(bytes);
    int32_t length = static_cast<int32_t>(bytes.size());
    if (wrapper.Init(bytes.data(), length) != 0) return;
    for (const CodedPicture& picture : layout.pictures) {
        std::vector<uint8_t> chunk = PictureChunk(bytes, picture);
        wrapper.dataSource.SetDataBuffer(chunk.data(), static_cast<int32_t>(chunk.size()));
        wrapper.ended = 0;
        wrapper.GetNextFrame(1);
    }
    wrapper.dataSource.SetDataBuffer(bytes.data(), length);
    wrapper.ended = 0;
    for (int call = 0; call < 20 && wrapper.GetNextFrame(1); ++call) {
    }
}

TEST(DamagedStreams, EveryCallReturnsAndStaysInBounds) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg not available";
    std::vector<std::string> sources = {FfmpegMpeg2ProgressiveStream(), FfmpegMpeg1Stream()};
    std::mt19937 random(20240611);
    for (const std::string& source : sources) {
        ASSERT_FALSE(source.empty());
        std::vector<uint8_t> original = ReadFileBytes(source);
        for (Damage damage : {Damage::kFlipBytes, Damage::kHeaderBytes, Damage::kStrayStartCodes,
                              Damage::kTruncate}) {
            for (int round = 0; round < 4; ++round) {
                std::vector<uint8_t> bytes = Damaged(original, damage, random);
                SCOPED_TRACE(testing::Message() << source << " damage " << static_cast<int>(damage)
                                                << " round " << round);
                DecodeFileDriven(bytes);
                DecodeBufferDriven(bytes);
            }
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
