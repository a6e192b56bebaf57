// Writes a random but valid MPEG-2 video elementary stream from a seed, meant to reach syntax
// the encoders at hand never write: field pictures of every type in both field orders, dual
// prime, 16x8 and field motion, concealment vectors, every macroblock type, skipped
// macroblocks, escaped coefficients, 4:2:2. The picture content is noise; only the syntax is
// the point. Every prediction reads inside the coded reference area.
#pragma once

#include <cstdint>
#include <vector>

namespace d2u {
namespace streamgen {

struct GeneratorOptions {
    uint64_t seed = 1;
    int chromaFormat = 0;  // 1 4:2:0, 2 4:2:2, 0 chosen from the seed
};

// One coded frame (a frame picture or a pair of field pictures), in decoding order.
struct CodedFrame {
    int pictureType = 1;  // of the frame picture or of the first field
    int temporalReference = 0;
    int displayIndex = 0;
    bool fieldPictures = false;
};

struct GeneratedStream {
    std::vector<uint8_t> bytes;
    int width = 0;
    int height = 0;
    int chromaFormat = 1;
    std::vector<CodedFrame> frames;
};

class StreamGenerator {
public:
    explicit StreamGenerator(const GeneratorOptions& options) : options(options) {}
    GeneratedStream Generate() const;

private:
    GeneratorOptions options;
};

}  // namespace streamgen
}  // namespace d2u
