#include "stream_headers.h"

#include <cstdio>

namespace d2ucli {
namespace {

const int32_t kRateNumerators[] = {0, 24000, 24, 25, 30000, 30, 50, 60000, 60};
const int32_t kRateDenominators[] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1};
// Display aspect ratios of MPEG-2 codes 2 to 4.
const int32_t kAspectWidths[] = {0, 0, 4, 16, 221};
const int32_t kAspectHeights[] = {0, 0, 3, 9, 100};
// MPEG-1 pel aspect ratios (height / width of a pel) x 10000, codes 1 to 14.
const int32_t kMpeg1PelAspects[] = {0,    10000, 6735,  7031,  7615,  8055,  8437, 8935,
                                    9157, 9815,  10255, 10695, 10950, 11575, 12015};

int64_t GreatestCommonDivisor(int64_t a, int64_t b) {
    while (b != 0) {
        int64_t rest = a % b;
        a = b;
        b = rest;
    }
    return a < 0 ? -a : a;
}

Rational Reduced(int64_t numerator, int64_t denominator) {
    Rational value;
    int64_t divisor = GreatestCommonDivisor(numerator, denominator);
    if (divisor == 0 || denominator == 0) return value;
    value.numerator = numerator / divisor;
    value.denominator = denominator / divisor;
    return value;
}

// Bytes after a start code; `available` says how many of them the chunk holds.
struct HeaderBytes {
    const uint8_t* data;
    size_t available;
    uint32_t At(size_t index) const { return index < available ? data[index] : 0u; }
};

void ReadSequenceHeader(HeaderBytes bytes, SequenceFacts& sequence) {
    if (bytes.available < 8) return;
    sequence.found = true;
    sequence.mpeg2 = false;
    sequence.width = static_cast<int32_t>((bytes.At(0) << 4) | (bytes.At(1) >> 4));
    sequence.height = static_cast<int32_t>(((bytes.At(1) & 0x0F) << 8) | bytes.At(2));
    sequence.aspectCode = static_cast<int32_t>(bytes.At(3) >> 4);
    sequence.frameRateCode = static_cast<int32_t>(bytes.At(3) & 0x0F);
    uint32_t rate = (bytes.At(4) << 10) | (bytes.At(5) << 2) | (bytes.At(6) >> 6);
    sequence.bitRate = rate == 0x3FFFF ? 0 : static_cast<int64_t>(rate) * 400;
    sequence.progressiveSequence = true;
    sequence.frameRateExtensionN = sequence.frameRateExtensionD = 0;
    sequence.profileAndLevel = 0;
}

void ReadSequenceExtension(HeaderBytes bytes, SequenceFacts& sequence) {
    if (bytes.available < 6 || !sequence.found) return;
    sequence.mpeg2 = true;
    sequence.profileAndLevel =
        static_cast<int32_t>(((bytes.At(0) & 0x0F) << 4) | (bytes.At(1) >> 4));
    sequence.progressiveSequence = ((bytes.At(1) >> 3) & 1) != 0;
    sequence.chromaFormat = static_cast<int32_t>((bytes.At(1) >> 1) & 3);
    sequence.width |= static_cast<int32_t>((((bytes.At(1) & 1) << 1) | (bytes.At(2) >> 7)) << 12);
    sequence.height |= static_cast<int32_t>(((bytes.At(2) >> 5) & 3) << 12);
    uint32_t rateExtension = ((bytes.At(2) & 0x1F) << 7) | (bytes.At(3) >> 1);
    if (sequence.bitRate != 0) {
        sequence.bitRate =
            static_cast<int64_t>(sequence.bitRate / 400 + (int64_t{rateExtension} << 18)) * 400;
    }
    sequence.frameRateExtensionN = static_cast<int32_t>((bytes.At(5) >> 5) & 3);
    sequence.frameRateExtensionD = static_cast<int32_t>(bytes.At(5) & 0x1F);
}

void ReadPictureHeader(HeaderBytes bytes, size_t bytesToChunkEnd,
                       std::vector<PictureFacts>& pictures) {
    PictureFacts picture;
    picture.temporalReference = static_cast<int32_t>((bytes.At(0) << 2) | (bytes.At(1) >> 6));
    picture.codingType = static_cast<int32_t>((bytes.At(1) >> 3) & 7);
    picture.codedBytes = bytesToChunkEnd;
    pictures.push_back(picture);
}

void ReadPictureCodingExtension(HeaderBytes bytes, std::vector<PictureFacts>& pictures) {
    if (pictures.empty() || bytes.available < 5) return;
    PictureFacts& picture = pictures.back();
    picture.structure = static_cast<int32_t>(bytes.At(2) & 3);
    picture.topFieldFirst = (bytes.At(3) >> 7) != 0;
    picture.progressiveFrame = (bytes.At(4) >> 7) != 0;
}

}  // namespace

Rational SequenceFacts::FrameRate() const {
    if (frameRateCode < 1 || frameRateCode > 8) return Rational();
    return Reduced(int64_t{kRateNumerators[frameRateCode]} * (frameRateExtensionN + 1),
                   int64_t{kRateDenominators[frameRateCode]} * (frameRateExtensionD + 1));
}

Rational SequenceFacts::SampleAspect(int32_t outWidth, int32_t outHeight) const {
    if (outWidth <= 0 || outHeight <= 0) return Rational();
    if (!mpeg2) {
        if (aspectCode < 1 || aspectCode > 14) return Rational();
        // Scaling to another size changes the shape of a sample too.
        return Reduced(int64_t{10000} * outHeight * width,
                       int64_t{kMpeg1PelAspects[aspectCode]} * outWidth * height);
    }
    if (aspectCode == 1) return Reduced(int64_t{outHeight} * width, int64_t{outWidth} * height);
    if (aspectCode < 2 || aspectCode > 4) return Rational();
    return Reduced(int64_t{kAspectWidths[aspectCode]} * outHeight,
                   int64_t{kAspectHeights[aspectCode]} * outWidth);
}

std::string SequenceFacts::DisplayAspectText() const {
    if (mpeg2) {
        const char* names[] = {"unknown", "square samples", "4:3", "16:9", "2.21:1"};
        return aspectCode >= 1 && aspectCode <= 4 ? names[aspectCode] : "unknown";
    }
    if (aspectCode < 1 || aspectCode > 14) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "pel aspect %.4f", kMpeg1PelAspects[aspectCode] / 10000.0);
    return text;
}

std::string SequenceFacts::ProfileText() const {
    if (!mpeg2) return "";
    if (profileAndLevel & 0x80) return "escape " + std::to_string(profileAndLevel);
    const char* profiles[] = {"?", "High", "Spatially scalable", "SNR scalable", "Main", "Simple",
                              "?", "?"};
    std::string level = "?";
    switch (profileAndLevel & 0x0F) {
        case 4:
            level = "High";
            break;
        case 6:
            level = "High 1440";
            break;
        case 8:
            level = "Main";
            break;
        case 10:
            level = "Low";
            break;
    }
    return std::string(profiles[(profileAndLevel >> 4) & 7]) + " profile, " + level + " level";
}

void ReadChunkHeaders(const std::vector<uint8_t>& chunk, SequenceFacts& sequence,
                      std::vector<PictureFacts>& pictures) {
    size_t firstNew = pictures.size();
    for (size_t at = 0; at + 4 <= chunk.size(); ++at) {
        if (chunk[at] != 0 || chunk[at + 1] != 0 || chunk[at + 2] != 1) continue;
        uint8_t code = chunk[at + 3];
        HeaderBytes bytes{chunk.data() + at + 4, chunk.size() - at - 4};
        if (code == 0xB3) {
            ReadSequenceHeader(bytes, sequence);
        } else if (code == 0x00) {
            // The second field of a pair ends the first one.
            if (pictures.size() > firstNew) pictures.back().codedBytes -= chunk.size() - at;
            ReadPictureHeader(bytes, chunk.size() - at, pictures);
        } else if (code == 0xB5 && bytes.available > 0) {
            uint32_t identifier = bytes.At(0) >> 4;
            if (identifier == 1) ReadSequenceExtension(bytes, sequence);
            if (identifier == 8) ReadPictureCodingExtension(bytes, pictures);
        } else if (code >= 0x01 && code <= 0xAF) {
            // Slice data: no further headers of interest before the next picture.
            continue;
        }
        at += 3;
    }
}

char CodingTypeLetter(int32_t codingType) {
    const char letters[] = "?IPBD???";
    return letters[codingType & 7];
}

}  // namespace d2ucli
