// Where the predictions of a macroblock read from its reference pictures, so that the generator
// only writes vectors whose predictions stay inside the coded reference area.
#pragma once

namespace d2u {
namespace streamgen {

struct MotionChoice;

class PredictionGeometry {
public:
    // The coded picture: whole macroblocks, in frame lines.
    PredictionGeometry(int lumaWidth, int lumaHeight, int chromaFormat)
        : width(lumaWidth), height(lumaHeight), chromaFormat(chromaFormat) {}

    // A luma block of a frame (or of a field) at (x, y) read with the vector (half samples,
    // lines of that frame or field), and the chroma block belonging to it.
    bool BlockFits(bool fieldReference, int x, int y, int w, int h, int vx, int vy) const;
    // Every prediction of a macroblock at column mbx and row mby (of the frame, or of the field
    // in field pictures).
    bool MacroblockFits(const MotionChoice& motion, bool fieldPicture, bool bottomField,
                        bool topFieldFirst, int mbx, int mby) const;

    // The vector of a dual-prime prediction from the opposite parity: m is 1 or 3 (the distance
    // in fields over two), e the vertical correction of -1 (top from bottom) or +1.
    static void DerivedDualPrimeVector(const int vector[2], const int dmv[2], int m, int e,
                                       int derived[2]);

private:
    bool DualPrimeFits(const int vector[2], const int dmv[2], int m, int e, int x, int y,
                       int h) const;

    int width;
    int height;
    int chromaFormat;
};

}  // namespace streamgen
}  // namespace d2u
