// Damaged streams (cut anywhere, bytes flipped, garbage) through both ways of feeding a handle:
// every call returns one of its documented codes; the sanitizer build checks memory and leaks.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "api_streams.h"
#include "d2udir.h"

namespace d2u {
namespace test {
namespace {

using Bytes = std::vector<uint8_t>;

// Reads every visible sample so that a bad plane pointer or size shows up.
void TouchEverySample(const D2uFrame& frame) {
    volatile uint32_t sum = 0;
    for (const D2uPlane* plane : {&frame.Y, &frame.U, &frame.V}) {
        ASSERT_NE(plane->data, nullptr);
        ASSERT_LE(plane->width, plane->pitch);
        for (int32_t row = 0; row < plane->height; ++row) {
            for (int32_t column = 0; column < plane->width; ++column) {
                sum = sum + plane->data[static_cast<size_t>(row) * plane->pitch + column];
            }
        }
    }
}

void DecodeAsFile(const Bytes& bytes) {
    std::string path = WriteWorkFile("api_damaged.m2v", bytes);
    D2uHandle handle = 0;
    int32_t opened = D2uDirLoadFile(path.c_str(), &handle);
    ASSERT_TRUE(opened == 0 || opened == -1 || opened == -2008) << opened;
    ASSERT_EQ(handle != 0, opened == 0);
    // Each frame needs a picture start code; a few extra calls cover the repeated last frame.
    const size_t maxCalls = bytes.size() / 4 + 8;
    size_t calls = 0;
    for (D2uFrame* frame = nullptr; handle && calls < maxCalls; ++calls) {
        int32_t result = GetMpegFrame(&frame, handle);
        ASSERT_TRUE(result == 0 || result == -1) << result;
        if (result != 0) break;
        TouchEverySample(*frame);
    }
    EXPECT_LT(calls, maxCalls) << "the stream never ended";
    FinishDecoding(&handle);
}

// Hands the data in as the chunks of its own picture layout, then in random-sized pieces.
void DecodeAsBuffers(const Bytes& bytes, uint32_t seed) {
    D2uHandle handle = 0;
    InitDecoding(&handle);
    for (const CodedPicture& picture : ReadStreamLayout(bytes).pictures) {
        Bytes chunk = PictureChunk(bytes, picture);
        D2uFrame* frame = nullptr;
        int32_t result =
            GetMpegFrame2(&frame, chunk.data(), static_cast<int32_t>(chunk.size()), handle);
        ASSERT_TRUE(result == 0 || result == -1 || result == -2008) << result;
        if (result == 0) TouchEverySample(*frame);
    }
    std::mt19937 random(seed);
    for (size_t at = 0; at < bytes.size();) {
        int32_t size =
            static_cast<int32_t>(std::min<size_t>(bytes.size() - at, 1 + random() % 20000));
        D2uFrame* frame = nullptr;
        if (GetMpegFrame2(&frame, bytes.data() + at, size, handle) == 0) TouchEverySample(*frame);
        SkipFrame2(bytes.data() + at, size, handle);
        at += static_cast<size_t>(size);
    }
    FinishDecoding(&handle);
}

// Cut inside the first headers and anywhere, bytes flipped anywhere or in the headers before
// each picture, and garbage with many zero bytes.
std::vector<Bytes> DamagedCopies(const GeneratedStream& stream) {
    const Bytes& bytes = stream.bytes;
    std::mt19937 random(1234);
    std::vector<Bytes> copies;
    for (size_t size : {1u, 3u, 4u, 7u, 12u, 40u, 100u}) {
        copies.emplace_back(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    }
    for (int k = 0; k < 12; ++k) {
        copies.emplace_back(bytes.begin(), bytes.begin() + random() % bytes.size());
    }
    for (int k = 0; k < 16; ++k) {
        copies.push_back(bytes);
        for (int flips = 1 + random() % 60; flips > 0; --flips) {
            copies.back()[random() % bytes.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        }
    }
    for (int k = 0; k < 10; ++k) {
        copies.push_back(bytes);
        for (const CodedPicture& picture : stream.layout.pictures) {
            copies.back()[picture.chunkStart + 4 + random() % 8] = static_cast<uint8_t>(random());
        }
    }
    copies.emplace_back(200000);
    for (uint8_t& byte : copies.back()) byte = random() % 3 ? static_cast<uint8_t>(random()) : 0;
    return copies;
}

class DamagedStreams : public ::testing::TestWithParam<const GeneratedStream& (*)()> {};

TEST_P(DamagedStreams, NeverCrashHangOrLeak) {
    std::vector<Bytes> copies = DamagedCopies(GetParam()());
    for (size_t k = 0; k < copies.size(); ++k) {
        SCOPED_TRACE("damaged copy " + std::to_string(k));
        DecodeAsFile(copies[k]);
        DecodeAsBuffers(copies[k], static_cast<uint32_t>(k));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, DamagedStreams,
                         ::testing::Values(&SmallMpeg2Stream, &SmallMpeg1Stream));

}  // namespace
}  // namespace test
}  // namespace d2u
