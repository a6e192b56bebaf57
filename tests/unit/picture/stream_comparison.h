// Decodes a whole stream with the header reader and the picture decoder, and compares it frame
// by frame in display order with ffmpeg's decoding of the same stream.
#pragma once

#include <string>
#include <vector>

#include "support/yuv_image.h"

namespace d2u {
namespace test {

struct DecodedStream {
    std::vector<YuvImage> frames;  // display order
    int width = 0;
    int height = 0;
    int fieldFrames = 0;           // frames that began with a field picture
    int dualPrimeMacroblocks = 0;  // in P pictures, summed over the frames
    std::vector<int> statuses;     // getMacroblocks per frame, decoding order
};

// Drives the decoder the way the wrapper does, but keeps every picture (no leading B pictures
// dropped) and puts them into display order.
DecodedStream DecodeStreamFile(const std::string& path);

// ffmpeg's decoding of a stream (cached beside it); "" when ffmpeg failed.
std::string ReferenceDecoding(const std::string& streamPath, const std::string& name);
// What ffmpeg reports as errors while decoding the stream.
std::string ReferenceDecoderErrors(const std::string& streamPath);

constexpr double kMinimumPsnr = 50.0;

// Asserts every frame and plane at kMinimumPsnr or better; prints the lowest figures.
void ExpectMatchesReference(const std::string& name, const std::string& streamPath,
                            DecodedStream* decoded = nullptr);

}  // namespace test
}  // namespace d2u
