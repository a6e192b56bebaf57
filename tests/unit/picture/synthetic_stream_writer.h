// Writes small MPEG-2 video elementary streams macroblock by macroblock, for the cases that
// encoders at hand do not produce (field pictures) and for hand-made slice layouts: DC-only
// intra macroblocks, motion-compensated macroblocks with chosen vectors and modes, skipped
// runs. It keeps the motion vector and DC predictors as a decoder does, so that the vectors
// given are the vectors decoded. f_code is 1: vectors must stay within -16..15 and differ from
// their predictor by at most 16.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

class BitWriter {
public:
    void Put(uint32_t value, int bits);
    // A codeword written as '0' and '1' characters; other characters are ignored.
    void PutCode(const char* code);
    void AlignWithZeros();
    void StartCode(uint8_t value);
    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    std::vector<uint8_t> bytes;
    uint32_t pending = 0;
    int pendingBits = 0;
};

struct MotionMacroblock {
    // In P pictures a macroblock without forward motion is coded without motion
    // compensation (codedLuma must be set).
    bool forward = true;
    bool backward = false;
    // Field pictures: 1 field (16x16), 2 16x8, 3 dual prime. Frame pictures: frame vectors.
    int motionType = 1;
    int fieldSelect[2][2] = {};  // [r][s]
    int vector[2][2][2] = {};    // [r][s][t], half samples, field units in field pictures
    int dmvector[2] = {};
    // Luma blocks coded with a single DC coefficient of +1 (sign 0) or -1 (sign 1); no chroma.
    bool codedLuma = false;
    bool lumaNegative = false;
};

class SyntheticStreamWriter {
public:
    static constexpr int kTopField = 1;
    static constexpr int kBottomField = 2;
    static constexpr int kFramePicture = 3;

    void SequenceHeader(int width, int height, bool progressiveSequence);
    void GroupHeader(bool closedGop);
    // framePredFrameDct 1 for frame pictures (no motion type or DCT type bits).
    void PictureHeader(int codingType, int temporalReference, int structure,
                       bool topFieldFirst = false, bool concealmentVectors = false);
    // Starts the slice of macroblock row `row` (of the field in field pictures); the first
    // macroblock written is at column `column`. extraBytes > 0 sets intra_slice_flag (with
    // intra_slice and the reserved bits) and adds extraBytes - 1 extra_information_slice bytes.
    void Slice(int row, int column = 0, int quantiserCode = 8, int extraBytes = 0);
    // Positions to pass over before the next macroblock: skipped macroblocks.
    void Skip(int count);
    // DC-only intra macroblock: four luma values, Cb, Cr (0 to 255). In pictures with
    // concealment vectors, `concealment` is the forward vector (and field select in field
    // pictures) it carries; they become the predictors of the next macroblock.
    void Intra(const int luma[4], int cb, int cr, const int concealment[2] = nullptr,
               int fieldSelect = 0);
    void Motion(const MotionMacroblock& macroblock);
    // Raw bits, to damage a slice on purpose.
    void Raw(const char* code) { bits.PutCode(code); }
    void SequenceEnd();
    const std::vector<uint8_t>& Bytes() const { return bits.Bytes(); }
    bool Save(const std::string& path) const;

private:
    void AddressIncrement();
    void MotionVector(int r, int s, const int target[2], bool dualPrime, const int dmv[2]);
    void MotionCode(int delta);
    void DcDifferential(int difference, bool chroma);
    void WriteLumaResidual(bool negative);
    void ResetPredictors();

    BitWriter bits;
    int codingType = 1;
    bool concealment = false;
    int pictureHeight = 0;
    bool progressive = false;
    int structure = kFramePicture;
    int pendingIncrement = 1;
    int pmv[2][2][2] = {};
    int dc[3] = {128, 128, 128};
};

}  // namespace test
}  // namespace d2u
