#include "prediction_geometry.h"

#include "macroblock_choice.h"

namespace d2u {
namespace streamgen {
namespace {

// A block of `size` samples starting at `position`, moved by `vector` half samples.
bool SpanFits(int position, int size, int vector, int limit) {
    const int whole = vector >> 1;
    const int half = vector & 1;
    return position + whole >= 0 && position + whole + size - 1 + half <= limit - 1;
}

// Chroma vectors are the luma vectors halved towards zero.
int HalveTowardsZero(int value) {
    return value / 2;
}

}  // namespace

bool PredictionGeometry::BlockFits(bool fieldReference, int x, int y, int w, int h, int vx,
                                   int vy) const {
    const int referenceHeight = fieldReference ? height / 2 : height;
    if (!SpanFits(x, w, vx, width) || !SpanFits(y, h, vy, referenceHeight)) return false;
    const int cx = x / 2, cw = w / 2, cvx = HalveTowardsZero(vx);
    if (!SpanFits(cx, cw, cvx, width / 2)) return false;
    if (chromaFormat == 1) {
        return SpanFits(y / 2, h / 2, HalveTowardsZero(vy), referenceHeight / 2);
    }
    return SpanFits(y, h, vy, referenceHeight);
}

void PredictionGeometry::DerivedDualPrimeVector(const int vector[2], const int dmv[2], int m, int e,
                                                int derived[2]) {
    for (int t = 0; t < 2; ++t) {
        derived[t] = ((vector[t] * m + (vector[t] > 0 ? 1 : 0)) >> 1) + dmv[t];
    }
    derived[1] += e;
}

// The derived vector and its neighbours one half sample away, so that a rounding slip on either
// side still reads inside.
bool PredictionGeometry::DualPrimeFits(const int vector[2], const int dmv[2], int m, int e, int x,
                                       int y, int h) const {
    int derived[2];
    DerivedDualPrimeVector(vector, dmv, m, e, derived);
    for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) {
            if (!BlockFits(true, x, y, 16, h, derived[0] + dx, derived[1] + dy)) return false;
        }
    }
    return true;
}

bool PredictionGeometry::MacroblockFits(const MotionChoice& motion, bool fieldPicture,
                                        bool bottomField, bool topFieldFirst, int mbx,
                                        int mby) const {
    const int x = mbx * 16, y = mby * 16;
    for (int s = 0; s < 2; ++s) {
        if (!(s == 0 ? motion.forward : motion.backward)) continue;
        const int* v0 = motion.vector[0][s];
        const int* v1 = motion.vector[1][s];
        bool fits = true;
        if (!fieldPicture) {
            switch (motion.motionType) {
                case kFrameMotion:
                    fits = BlockFits(false, x, y, 16, 16, v0[0], v0[1]);
                    break;
                case kFieldMotion:
                    fits = BlockFits(true, x, y / 2, 16, 8, v0[0], v0[1]) &&
                           BlockFits(true, x, y / 2, 16, 8, v1[0], v1[1]);
                    break;
                default:
                    fits = BlockFits(true, x, y / 2, 16, 8, v0[0], v0[1]) &&
                           DualPrimeFits(v0, motion.dmv, topFieldFirst ? 1 : 3, -1, x, y / 2, 8) &&
                           DualPrimeFits(v0, motion.dmv, topFieldFirst ? 3 : 1, 1, x, y / 2, 8);
                    break;
            }
        } else {
            switch (motion.motionType) {
                case kFieldMotion:
                    fits = BlockFits(true, x, y, 16, 16, v0[0], v0[1]);
                    break;
                case kSixteenByEight:
                    fits = BlockFits(true, x, y, 16, 8, v0[0], v0[1]) &&
                           BlockFits(true, x, y + 8, 16, 8, v1[0], v1[1]);
                    break;
                default:
                    fits = BlockFits(true, x, y, 16, 16, v0[0], v0[1]) &&
                           DualPrimeFits(v0, motion.dmv, 1, bottomField ? 1 : -1, x, y, 16);
                    break;
            }
        }
        if (!fits) return false;
    }
    return true;
}

}  // namespace streamgen
}  // namespace d2u
