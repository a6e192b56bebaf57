// Writes small MPEG-2 video elementary streams macroblock by macroblock, for hand-made slice
// layouts: DC-only intra macroblocks and uncoded P macroblocks with zero vectors; PutCode adds
// raw bits to damage a slice. It keeps the DC predictors as a decoder does.
#pragma once

#include <cstdint>
#include <vector>

#include "streamgen/bit_writer.h"

namespace d2u {
namespace test {

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
    // DC-only intra macroblock: four luma values, Cb, Cr (0 to 255).
    void Intra(const int luma[4], int cb, int cr);
    void StillMacroblock();
    void SequenceEnd() { StartCode(0xB7); }

private:
    void AddressIncrement();
    void DcDifferential(int difference, bool chroma);

    int codingType = 1;
    bool progressive = false;
    int structure = kFramePicture;
    int pendingIncrement = 1;
    int dc[3] = {128, 128, 128};
};

}  // namespace test
}  // namespace d2u
