// Writes the macroblock layer: address increments, modes, motion vectors coded against their
// predictors, coded block patterns and blocks with random sparse coefficients. It keeps the
// motion vector and DC predictors as a decoder does, so that the vectors chosen are the
// vectors decoded.
#pragma once

#include "bit_writer.h"
#include "macroblock_choice.h"
#include "random_source.h"

namespace d2u {
namespace streamgen {

class MacroblockWriter {
public:
    static constexpr int kDequantisedBudget = 1024;

    MacroblockWriter(BitWriter& out, RandomSource& random)
        : out(&out), stream(&out), random(random) {}

    void StartPicture(const PictureSyntax& picture);
    // The slice's first macroblock is at `column`.
    void StartSlice(int column, int quantiserCode);
    void Skip();
    void Write(const MacroblockChoice& macroblock);
    // False when a vector of the macroblock could only be reached by a zero difference from a
    // predictor outside the f_code range (a field vector kept doubled, predicting a frame
    // vector). Decoders disagree on whether that predictor is wrapped, so such vectors are
    // not written.
    bool VectorsWritable(const MacroblockChoice& macroblock);

private:
    void AddressIncrement();
    void Modes(const MacroblockChoice& macroblock);
    void MotionVectors(const MotionChoice& motion, int s, bool concealmentVector);
    void MotionVector(int r, int s, const int target[2], bool fieldFormat, const int* dmv);
    void MotionDelta(int delta, int fCode);
    void Pattern(int pattern);
    void IntraBlock(int block);
    void NonIntraBlock();
    void Coefficients(bool intra, bool intraTable);
    void Coefficient(bool intraTable, bool first, int run, int level);
    int QuantiserScale() const;
    int DequantisedBound(bool intra, int magnitude) const;
    int LargestLevel(bool intra, int budget) const;
    void ResetVectors();
    void ResetDc();

    BitWriter* out;
    BitWriter* stream;
    bool ambiguous = false;
    RandomSource& random;
    PictureSyntax picture;
    int pendingIncrement = 1;
    int quantiserCode = 1;
    int pmv[2][2][2] = {};  // [r][s][t]
    int dc[3] = {};
};

}  // namespace streamgen
}  // namespace d2u
