// Writes small MPEG-2 video elementary streams macroblock by macroblock, for what the encoders
// at hand do not produce (field pictures, concealment vectors, very tall pictures) and for
// hand-made slice layouts: DC-only intra macroblocks, motion-compensated macroblocks with chosen
// vectors and modes, skipped runs. It keeps the motion vector and DC predictors as a decoder
// does, so that the vectors given are the vectors decoded. f_code is 1: vectors stay within
// -16..15 and within 16 of their predictor.
#pragma once

#include <cstdint>
#include <vector>

namespace d2u {
namespace test {

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
    // Luma blocks coded with a single DC coefficient of +1 or -1; no chroma.
    bool codedLuma = false;
    bool lumaNegative = false;
};

class SyntheticStreamWriter {
public:
    static constexpr int kTopField = 1;
    static constexpr int kBottomField = 2;
    static constexpr int kFramePicture = 3;

    void SequenceHeader(int width, int height, bool progressiveSequence);
    // Frame pictures have frame_pred_frame_dct set (no motion type or DCT type bits).
    void PictureHeader(int codingType, int temporalReference, int structure,
                       bool topFieldFirst = false, bool concealmentVectors = false);
    // Starts the slice of macroblock row `row` (of the field in field pictures) at `column`.
    // extraBytes > 0 sets intra_slice_flag and adds extraBytes - 1 extra_information_slice
    // bytes.
    void Slice(int row, int column = 0, int extraBytes = 0);
    void Skip(int count);
    // DC-only intra macroblock: four luma values, Cb, Cr (0 to 255). In pictures with
    // concealment vectors, `concealment` is the forward vector (and field select in field
    // pictures) it carries.
    void Intra(const int luma[4], int cb, int cr, const int concealment[2] = nullptr,
               int fieldSelect = 0);
    void Motion(const MotionMacroblock& macroblock);
    // Raw bits written as '0' and '1' characters (others ignored), to damage a slice.
    void Raw(const char* code);
    void SequenceEnd() { StartCode(0xB7); }
    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    void Put(uint32_t value, int bits);
    void StartCode(uint8_t value);
    void AddressIncrement();
    void MotionVector(int r, int s, const int target[2], bool dualPrime, const int dmv[2]);
    void DcDifferential(int difference, bool chroma);
    void LumaResidual(bool negative);
    void ResetVectors();

    std::vector<uint8_t> bytes;
    uint32_t pending = 0;
    int pendingBits = 0;
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
