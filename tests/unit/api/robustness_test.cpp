// Damaged streams (cut anywhere, bytes flipped, garbage) through both ways of feeding a handle:
// every call returns one of its documented codes; the sanitizer build checks memory and leaks.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "api_streams.h"
#include "d2udir.h"
#include "support/api_test_host.h"

namespace d2u {
namespace test {
namespace {

using Bytes = std::vector<uint8_t>;

// Touches every visible sample so that a bad plane pointer or size shows up.
uint32_t Checksum(const D2uFrame& frame) {
    uint32_t sum = 0;
    const D2uPlane* planes[3] = {&frame.Y, &frame.U, &frame.V};
    for (const D2uPlane* plane : planes) {
        EXPECT_NE(plane->data, nullptr);
        if (!plane->data) continue;
        EXPECT_LE(plane->width, plane->pitch);
        for (int32_t row = 0; row < plane->height; ++row) {
            for (int32_t column = 0; column < plane->width; ++column) {
                sum += plane->data[static_cast<size_t>(row) * plane->pitch + column];
            }
        }
    }
    return sum;
}

void DecodeAsFile(const Bytes& bytes, const std::string& name, size_t maxCalls) {
    std::string path = WriteWorkFile(name, bytes);
    D2uHandle handle = 0;
    int32_t opened = D2uDirLoadFile(path.c_str(), &handle);
    EXPECT_TRUE(opened == 0 || opened == -1 || opened == -2008) << opened;
    if (opened != 0) {
        EXPECT_EQ(handle, 0u);
        return;
    }
    size_t calls = 0;
    for (D2uFrame* frame = nullptr; calls < maxCalls; ++calls) {
        int32_t result = GetMpegFrame(&frame, handle);
        ASSERT_TRUE(result == 0 || result == -1) << result;
        if (result != 0) break;
        Checksum(*frame);
    }
    EXPECT_LT(calls, maxCalls) << "the stream never ended";
    FinishDecoding(&handle);
}

// Hands the data in as the chunks of its own picture layout, then in fixed-size pieces.
void DecodeAsBuffers(const Bytes& bytes, uint32_t seed) {
    StreamLayout layout = ReadStreamLayout(bytes);
    D2uHandle handle = 0;
    InitDecoding(&handle);
    for (const CodedPicture& picture : layout.pictures) {
        Bytes chunk = PictureChunk(bytes, picture);
        if (chunk.empty()) continue;
        D2uFrame* frame = nullptr;
        int32_t result =
            GetMpegFrame2(&frame, chunk.data(), static_cast<int32_t>(chunk.size()), handle);
        ASSERT_TRUE(result == 0 || result == -1 || result == -2008) << result;
        if (result == 0) Checksum(*frame);
    }
    std::mt19937 random(seed);
    for (size_t at = 0; at < bytes.size();) {
        size_t size = std::min(bytes.size() - at, static_cast<size_t>(1 + random() % 20000));
        D2uFrame* frame = nullptr;
        int32_t result =
            GetMpegFrame2(&frame, bytes.data() + at, static_cast<int32_t>(size), handle);
        if (result == 0) Checksum(*frame);
        SkipFrame2(bytes.data() + at, static_cast<int32_t>(size), handle);
        at += size;
    }
    FinishDecoding(&handle);
}

Bytes FlipBytes(Bytes bytes, std::mt19937& random, int flips) {
    for (int k = 0; k < flips; ++k) {
        bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    }
    return bytes;
}

Bytes Truncate(const Bytes& bytes, size_t size) {
    return Bytes(bytes.begin(), bytes.begin() + size);
}

class DamagedStreams : public ::testing::TestWithParam<const ApiStream* (*)()> {};

TEST_P(DamagedStreams, CutAnywhere) {
    const ApiStream& stream = *GetParam()();
    std::mt19937 random(1234);
    for (int k = 0; k < 12; ++k) {
        size_t size = random() % stream.bytes.size();
        Bytes cut = Truncate(stream.bytes, size);
        SCOPED_TRACE("cut at " + std::to_string(size));
        DecodeAsFile(cut, "api_damaged_cut.m2v", stream.layout.pictures.size() + 8);
        DecodeAsBuffers(cut, static_cast<uint32_t>(k));
    }
    // Cut inside the very first headers.
    for (size_t size : {1u, 3u, 4u, 7u, 12u, 40u, 100u}) {
        Bytes cut = Truncate(stream.bytes, size);
        DecodeAsFile(cut, "api_damaged_head.m2v", 8);
        DecodeAsBuffers(cut, static_cast<uint32_t>(size));
    }
}

TEST_P(DamagedStreams, BytesFlipped) {
    const ApiStream& stream = *GetParam()();
    std::mt19937 random(99);
    for (int k = 0; k < 16; ++k) {
        int flips = 1 + static_cast<int>(random() % 60);
        SCOPED_TRACE("variant " + std::to_string(k) + " with " + std::to_string(flips) + " flips");
        Bytes damaged = FlipBytes(stream.bytes, random, flips);
        // Flipped bytes may make new picture start codes; a few extra pictures are allowed.
        DecodeAsFile(damaged, "api_damaged_flip.m2v", stream.layout.pictures.size() + 64);
        DecodeAsBuffers(damaged, static_cast<uint32_t>(k));
    }
}

TEST_P(DamagedStreams, DamagedHeadersAndGarbage) {
    const ApiStream& stream = *GetParam()();
    std::mt19937 random(7);
    for (int k = 0; k < 10; ++k) {
        // Damage concentrated on the sequence, group and picture headers.
        Bytes damaged = stream.bytes;
        for (const CodedPicture& picture : stream.layout.pictures) {
            size_t at = picture.chunkStart + 4 + random() % 8;
            if (at < damaged.size()) damaged[at] = static_cast<uint8_t>(random());
        }
        SCOPED_TRACE("variant " + std::to_string(k));
        DecodeAsFile(damaged, "api_damaged_headers.m2v", stream.layout.pictures.size() + 64);
        DecodeAsBuffers(damaged, static_cast<uint32_t>(k));
    }
    Bytes garbage(200000);
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>(random() % 3 == 0 ? 0 : random());
    DecodeAsFile(garbage, "api_damaged_garbage.m2v", 10000);
    DecodeAsBuffers(garbage, 5);
}

const ApiStream* Mpeg2() {
    return &SmallMpeg2Stream();
}
const ApiStream* Mpeg1() {
    return &SmallMpeg1Stream();
}

INSTANTIATE_TEST_SUITE_P(Streams, DamagedStreams, ::testing::Values(&Mpeg2, &Mpeg1));

}  // namespace
}  // namespace test
}  // namespace d2u
