// What the command reads out of the video headers itself: the parts of the sequence and picture
// headers that the library's interface does not report (MPEG-1 or MPEG-2, profile and level,
// interlacing, exact frame rates, per-picture coding types).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d2ucli {

struct Rational {
    int64_t numerator = 0;
    int64_t denominator = 1;
};

struct SequenceFacts {
    bool found = false;
    bool mpeg2 = false;  // a sequence extension follows the sequence header
    int32_t width = 0, height = 0;
    int32_t aspectCode = 0, frameRateCode = 0;
    int32_t frameRateExtensionN = 0, frameRateExtensionD = 0;
    int32_t profileAndLevel = 0;
    bool progressiveSequence = true;
    int32_t chromaFormat = 1;
    int64_t bitRate = 0;  // bits per second, 0 when unknown

    Rational FrameRate() const;  // 0/1 for a reserved code
    // The sample aspect ratio of a picture shown at outWidth x outHeight; 0/1 when unknown.
    Rational SampleAspect(int32_t outWidth, int32_t outHeight) const;
    std::string DisplayAspectText() const;
    std::string ProfileText() const;
};

struct PictureFacts {
    int32_t codingType = 0;  // 1 I, 2 P, 3 B, 4 D
    int32_t temporalReference = 0;
    int32_t structure = 3;  // 1 top field, 2 bottom field, 3 frame
    bool topFieldFirst = false;
    bool progressiveFrame = true;
    size_t codedBytes = 0;  // from the picture start code to the end of its chunk
};

// Reads the headers inside one chunk (headers before a picture, the picture and its slices);
// `sequence` is updated when the chunk holds a sequence header, `pictures` gains an entry per
// picture header in the chunk.
void ReadChunkHeaders(const std::vector<uint8_t>& chunk, SequenceFacts& sequence,
                      std::vector<PictureFacts>& pictures);

char CodingTypeLetter(int32_t codingType);

}  // namespace d2ucli
