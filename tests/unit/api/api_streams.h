// Streams shared by the export tests, made once with ffmpeg and cached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/elementary_stream.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {

struct ApiStream {
    std::string path;
    std::vector<uint8_t> bytes;
    StreamLayout layout;
};

// MPEG-2, 352x288 at 25 frames/s, groups of 12 with two B pictures: I0 P3 B1 B2 P6 ...
const ApiStream& IpbStream();
// MPEG-2, 720x576 at 25 frames/s, 16:9.
const ApiStream& PalStream();
// MPEG-2 with noise, well over the file buffer's refill point (about 1.5 MB).
const ApiStream& LargeStream();
// Small streams for the damage tests: MPEG-2 (interlaced coding tools) and MPEG-1, 176x144,
// B pictures, a few groups.
const ApiStream& SmallMpeg2Stream();
const ApiStream& SmallMpeg1Stream();
// ffmpeg's decoding of a stream, in display order.
std::vector<YuvImage> ReferenceFrames(const ApiStream& stream);

// A copy of the stream with every sequence header's aspect ratio and frame rate codes replaced.
std::vector<uint8_t> WithSequenceCodes(const std::vector<uint8_t>& stream, int aspectCode,
                                       int frameRateCode);
// Writes bytes to a file in the work directory and returns its path.
std::string WriteWorkFile(const std::string& name, const std::vector<uint8_t>& bytes);

}  // namespace test
}  // namespace d2u
