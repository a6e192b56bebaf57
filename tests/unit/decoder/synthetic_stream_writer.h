// Writes small MPEG-2 video elementary streams macroblock by macroblock, for hand-made slice
// layouts: DC-only intra macroblocks, motion-compensated
// macroblocks with chosen vectors (uncoded), skipped runs; PutCode adds raw bits to damage a slice.
// It keeps the motion vector and DC predictors as a decoder does, so that the vectors given are the
// vectors decoded. f_code is 1: vectors stay within -16..15 and within 16 of their predictor.
#pragma once

#include <cstdint>
#include <vector>

#include "streamgen/bit_writer.h"

namespace d2u {
namespace test {

struct MotionMacroblock {
    bool forward = true;
    bool backward = false;
    int fieldSelect[2] = {};  // [s], field pictures (field motion, 16x16)
    int vector[2][2] = {};    // [s][t], half samples, field units in field pictures
};

class SyntheticStreamWriter : public streamgen::BitWriter {
public:
    static constexpr int kTopField = 1;
    static constexpr int kBottomField = 2;
    static constexpr int kFramePicture = 3;

    void SequenceHeader(int width, int height, bool progressiveSequence);
    // Frame pictures have frame_pred_frame_dct set (no motion type or DCT type bits).
    void PictureHeader(int codingType, int temporalReference, int structure,
                       bool topFieldFirst = false);
    // Starts the slice of macroblock row `row` (of the field in field pictures) at `column`.
    void Slice(int row, int column = 0);
    void Skip(int count);
    // DC-only intra macroblock: four luma values, Cb, Cr (0 to 255).
    void Intra(const int luma[4], int cb, int cr);
    void Motion(const MotionMacroblock& macroblock);
    void SequenceEnd() { StartCode(0xB7); }

private:
    void AddressIncrement();
    void MotionVector(int s, const int target[2]);
    void DcDifferential(int difference, bool chroma);
    void ResetVectors();

    int codingType = 1;
    bool progressive = false;
    int structure = kFramePicture;
    int pendingIncrement = 1;
    int pmv[2][2] = {};  // [s][t]
    int dc[3] = {128, 128, 128};
};

}  // namespace test
}  // namespace d2u
