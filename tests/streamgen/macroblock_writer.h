// Writes the macroblock layer: address increments, modes, motion vectors coded against their
// predictors, coded block patterns and blocks with random sparse coefficients. It keeps the
// motion vector and DC predictors as a decoder does, so that the vectors chosen are the
// vectors decoded.
#pragma once

#include <algorithm>
#include <cstdlib>

#include "bit_writer.h"
#include "random_source.h"
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
    // Coded blocks, block 0 in the highest of the picture's 6 or 8 bits; 0 without pattern.
    int pattern = 0;
};

class MacroblockWriter {
public:
    // `picture` is the current picture's, kept up to date by the caller.
    MacroblockWriter(BitWriter& out, RandomSource& random, const PictureSyntax& picture)
        : out(&out), random(random), picture(picture) {}

    // The slice's first macroblock is at `column`.
    void StartSlice(int column, int sliceQuantiserCode) {
        quantiserCode = sliceQuantiserCode;
        ResetVectors();
        ResetDc();
        pendingIncrement = column + 1;
    }
    void Skip() {
        ++pendingIncrement;
        ResetDc();
        if (picture.pictureType == 2) ResetVectors();
    }
    void Write(const MacroblockChoice& mb) {
        const MacroblockFlags& f = mb.flags;
        for (; pendingIncrement > 33; pendingIncrement -= 33) out->PutCode(kAddressEscapeCode);
        out->PutCode(AddressIncrementCode(pendingIncrement));
        pendingIncrement = 1;
        out->PutCode(MacroblockTypeCode(picture.pictureType, f));
        // Field pictures never set frame_pred_frame_dct.
        if ((f.forward || f.backward) && !picture.framePredFrameDct) {
            out->Put(mb.motion.motionType, 2);
        }
        if (!picture.FieldPicture() && !picture.framePredFrameDct && (f.intra || f.pattern)) {
            out->Put(mb.dctType, 1);
        }
        if (f.quant) out->Put(quantiserCode = mb.quantiserCode, 5);
        if (!f.intra) ResetDc();
        if (f.intra ? !picture.concealment : picture.pictureType == 2 && !f.forward) ResetVectors();
        MotionVectors(mb);
        if (f.intra && picture.concealment) out->Put(1, 1);  // marker_bit
        if (f.pattern) {
            out->PutCode(
                CodedBlockPatternCode(picture.chromaFormat == 2 ? mb.pattern >> 2 : mb.pattern));
            if (picture.chromaFormat == 2) out->Put(mb.pattern & 3, 2);
        }
        const int blocks = picture.BlocksPerMacroblock();
        for (int b = 0; b < blocks; ++b) {
            if (f.intra) {
                IntraBlock(b);
            } else if ((mb.pattern >> (blocks - 1 - b)) & 1) {
                Coefficients(false, false);
            }
        }
    }
    // False when a vector of the macroblock could only be reached by a zero difference from a
    // predictor outside the f_code range (a field vector kept doubled, predicting a frame
    // vector). Decoders disagree on whether that predictor is wrapped, so such vectors are
    // not written.
    bool VectorsWritable(const MacroblockChoice& mb) const {
        MacroblockWriter trial = *this;
        BitWriter scratch;
        trial.out = &scratch;
        trial.ambiguous = false;
        trial.MotionVectors(mb);
        return !trial.ambiguous;
    }

private:
    void MotionVectors(const MacroblockChoice& mb) {
        const MotionChoice& m = mb.motion;
        const bool field = picture.FieldPicture();
        // A concealment vector is a single vector of the picture's structure.
        const int type = mb.flags.intra ? (field ? kFieldMotion : kFrameMotion) : m.motionType;
        const int count = (field ? type == kSixteenByEight : type == kFieldMotion) ? 2 : 1;
        const bool fieldFormat = field || type != kFrameMotion;
        const bool dualPrime = type == kDualPrime;
        for (int s = 0; s < 2; ++s) {
            if (!mb.flags.Predicts(s) && !(s == 0 && mb.flags.intra && picture.concealment)) {
                continue;
            }
            for (int r = 0; r < count; ++r) {
                if (fieldFormat && !dualPrime) out->Put(m.fieldSelect[r][s], 1);
                MotionVector(r, s, m.vector[r][s], fieldFormat && !field,
                             dualPrime ? m.dmv : nullptr);
            }
            if (count == 1) std::copy_n(pmv[0][s], 2, pmv[1][s]);
        }
    }
    // Vertical field vectors of frame pictures are predicted from, and kept as, frame lines.
    void MotionVector(int r, int s, const int target[2], bool halvedVertical, const int* dmv) {
        for (int t = 0; t < 2; ++t) {
            const bool halved = t == 1 && halvedVertical;
            const int prediction = halved ? pmv[r][s][t] >> 1 : pmv[r][s][t];
            // The difference wraps into the f_code range [-16f, 16f - 1].
            const int rSize = picture.fCode[s][t] - 1, f = 1 << rSize;
            const int delta = (target[t] - prediction + 48 * f) % (32 * f) - 16 * f;
            if (delta == 0 && prediction != target[t]) ambiguous = true;
            const int magnitude = std::abs(delta) - 1;
            out->PutCode(MotionCode(delta == 0 ? 0 : (magnitude >> rSize) + 1));
            if (delta != 0) out->Put({{delta < 0, 1}, {magnitude & (f - 1), rSize}});
            if (dmv) out->PutCode(DualPrimeCode(dmv[t]));
            pmv[r][s][t] = halved ? target[t] * 2 : target[t];
        }
    }
    void IntraBlock(int block) {
        const int cc = block < 4 ? 0 : 1 + block % 2;
        const int step = 1 << picture.intraDcPrecision;
        const int low = 24 * step, high = 232 * step;
        int value = random.Percent(60) ? dc[cc] + random.Between(-4, 4) * random.Between(1, step)
                                       : random.Between(low, high);
        value = std::min(high, std::max(low, value));
        const int difference = value - dc[cc];
        dc[cc] = value;
        int size = 0;
        while ((std::abs(difference) >> size) != 0) ++size;
        out->PutCode(DcSizeCode(size, cc != 0));
        out->Put(difference > 0 ? difference : difference + (1 << size) - 1, size);
        Coefficients(true, picture.intraVlcFormat);
    }
    // The coefficients of a block together stay within a budget of dequantised magnitude (at
    // the largest weight of the matrix in use), so that no sample of the inverse DCT leaves
    // about [-256, 255]: the range where transforms are held to accuracy. Beyond it decoders
    // differ on saturation and transform overflow, and a stream would test nothing but that.
    void Coefficients(bool intra, bool intraTable) {
        static const int kNonLinearScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10, 12,
                                                14, 16, 18, 20, 22, 24, 28, 32, 36,  40, 44,
                                                48, 52, 56, 64, 72, 80, 88, 96, 104, 112};
        const int step = (intra ? picture.maxIntraWeight : picture.maxNonIntraWeight) *
                         (picture.qScaleType ? kNonLinearScale[quantiserCode] : 2 * quantiserCode);
        int index = intra ? 1 : 0;
        int count = intra ? random.Below(4) : 1 + random.Below(3);
        if (random.Percent(5)) count += random.Below(8);
        int budget = 1024;
        for (int k = 0; k < count && index <= 63; ++k) {
            // The largest level whose dequantised bound fits the budget.
            const int largest =
                intra ? budget * 16 / step : std::max(0, (budget * 32 / step - 1) / 2);
            if (largest < 1) break;
            const int room = 63 - index;
            int run =
                random.Percent(70) ? random.Below(std::min(4, room + 1)) : random.Below(room + 1);
            const int kind = random.Below(100);
            int magnitude = kind < 75 ? random.Between(1, 3)
                                      : (kind < 90 ? random.Between(4, 12)
                                                   : (kind < 97 ? random.Between(13, 40)
                                                                : random.Between(1, largest)));
            magnitude = std::min(magnitude, largest);
            budget -= intra ? magnitude * step / 16 : (2 * magnitude + 1) * step / 32;
            Coefficient(intraTable, !intra && k == 0, run,
                        random.Percent(50) ? -magnitude : magnitude);
            index += run + 1;
        }
        out->PutCode(EndOfBlockCode(intraTable));
    }
    void Coefficient(bool intraTable, bool first, int run, int level) {
        const int magnitude = std::abs(level);
        const std::string code = CoefficientCode(intraTable, run, magnitude);
        if (first && run == 0 && magnitude == 1) {
            out->Put({{1, 1}, {level < 0, 1}});
        } else if (!code.empty() && !random.Percent(8)) {
            out->PutCode(code);
            out->Put(level < 0, 1);
        } else {
            out->PutCode(kCoefficientEscapeCode);
            out->Put({{run, 6}, {level & 0xFFF, 12}});
        }
    }
    void ResetVectors() { std::fill_n(&pmv[0][0][0], 8, 0); }
    void ResetDc() { dc[0] = dc[1] = dc[2] = 128 << picture.intraDcPrecision; }

    BitWriter* out;
    RandomSource& random;
    const PictureSyntax& picture;
    bool ambiguous = false;
    int pendingIncrement = 1;
    int quantiserCode = 1;
    int pmv[2][2][2] = {};  // [r][s][t]
    int dc[3] = {};
};

}  // namespace streamgen
}  // namespace d2u
