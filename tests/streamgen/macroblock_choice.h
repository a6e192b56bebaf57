// What the generator decided for one macroblock, before it is written.
#pragma once

#include "vlc_codes.h"

namespace d2u {
namespace streamgen {

// Motion type values as coded: frame pictures 1 field, 2 frame, 3 dual prime; field pictures
// 1 field, 2 16x8, 3 dual prime.
constexpr int kFieldMotion = 1;
constexpr int kFrameMotion = 2;
constexpr int kSixteenByEight = 2;
constexpr int kDualPrime = 3;

struct MotionChoice {
    bool forward = false;
    bool backward = false;
    int motionType = kFrameMotion;
    int fieldSelect[2][2] = {};  // [r][s]
    int vector[2][2][2] = {};    // [r][s][t]: half samples; field lines for field vectors
    int dmv[2] = {};
};

// The picture-level values that shape the macroblock layer.
struct PictureSyntax {
    int pictureType = 1;  // 1 I, 2 P, 3 B
    int structure = 3;    // 1 top field, 2 bottom field, 3 frame
    bool framePredFrameDct = true;
    bool concealment = false;
    int fCode[2][2] = {{15, 15}, {15, 15}};  // [s][t]
    int intraDcPrecision = 0;
    bool intraVlcFormat = false;
    int chromaFormat = 1;
    bool qScaleType = false;
    // The largest weights of the quantiser matrices in use.
    int maxIntraWeight = 83;
    int maxNonIntraWeight = 16;
    bool FieldPicture() const { return structure != 3; }
    int BlocksPerMacroblock() const { return chromaFormat == 2 ? 8 : 6; }
};

struct MacroblockChoice {
    MacroblockFlags flags;
    // Intra macroblocks with concealment vectors carry motion.vector[0][0] (and
    // motion.fieldSelect[0][0] in field pictures).
    MotionChoice motion;
    int quantiserCode = 0;
    int dctType = 0;
    // Coded blocks, block 0 in the highest of the picture's 6 or 8 bits.
    int pattern = 0;
};

}  // namespace streamgen
}  // namespace d2u
