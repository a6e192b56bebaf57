#include "macroblock_writer.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace d2u {
namespace streamgen {
namespace {

void Require(bool condition, const char* what) {
    if (!condition) throw std::logic_error(what);
}

// A vector value of the picture's range for f_code: [-16f, 16f - 1] half samples.
struct VectorRange {
    explicit VectorRange(int fCode) : f(1 << (fCode - 1)), low(-16 * f), high(16 * f - 1) {}
    int Wrap(int value) const {
        if (value < low) value += 32 * f;
        if (value > high) value -= 32 * f;
        return value;
    }
    int f, low, high;
};

}  // namespace

void MacroblockWriter::StartPicture(const PictureSyntax& syntax) {
    picture = syntax;
}

void MacroblockWriter::ResetVectors() {
    std::fill(&pmv[0][0][0], &pmv[0][0][0] + 8, 0);
}

void MacroblockWriter::ResetDc() {
    dc[0] = dc[1] = dc[2] = 128 << picture.intraDcPrecision;
}

void MacroblockWriter::StartSlice(int column, int sliceQuantiserCode) {
    quantiserCode = sliceQuantiserCode;
    ResetVectors();
    ResetDc();
    pendingIncrement = column + 1;
}

void MacroblockWriter::Skip() {
    ++pendingIncrement;
    ResetDc();
    if (picture.pictureType == 2) ResetVectors();
}

void MacroblockWriter::AddressIncrement() {
    for (; pendingIncrement > 33; pendingIncrement -= 33) out->PutCode(kAddressEscapeCode);
    out->PutCode(AddressIncrementCode(pendingIncrement));
    pendingIncrement = 1;
}

void MacroblockWriter::Modes(const MacroblockChoice& mb) {
    const std::string type = MacroblockTypeCode(picture.pictureType, mb.flags);
    Require(!type.empty(), "macroblock type not allowed in this picture");
    out->PutCode(type);
    const bool motion = mb.flags.forward || mb.flags.backward;
    if (motion && (picture.FieldPicture() || !picture.framePredFrameDct)) {
        out->Put(static_cast<uint32_t>(mb.motion.motionType), 2);
    }
    if (!picture.FieldPicture() && !picture.framePredFrameDct &&
        (mb.flags.intra || mb.flags.pattern)) {
        out->Put(static_cast<uint32_t>(mb.dctType), 1);
    }
}

void MacroblockWriter::Write(const MacroblockChoice& mb) {
    AddressIncrement();
    Modes(mb);
    const MacroblockFlags& f = mb.flags;
    if (f.quant) {
        Require(mb.quantiserCode >= 1 && mb.quantiserCode <= 31, "quantiser_scale_code");
        out->Put(static_cast<uint32_t>(mb.quantiserCode), 5);
        quantiserCode = mb.quantiserCode;
    }
    const bool concealmentVector = f.intra && picture.concealment;
    if (!f.intra) ResetDc();
    if (f.intra && !concealmentVector) ResetVectors();
    if (picture.pictureType == 2 && !f.intra && !f.forward) ResetVectors();
    if (f.forward || concealmentVector) MotionVectors(mb.motion, 0, concealmentVector);
    if (f.backward) MotionVectors(mb.motion, 1, false);
    if (concealmentVector) out->Put(1, 1);  // marker_bit
    if (f.pattern) Pattern(mb.pattern);
    const int blocks = picture.BlocksPerMacroblock();
    for (int b = 0; b < blocks; ++b) {
        if (f.intra) {
            IntraBlock(b);
        } else if (f.pattern && ((mb.pattern >> (blocks - 1 - b)) & 1)) {
            NonIntraBlock();
        }
    }
}

bool MacroblockWriter::VectorsWritable(const MacroblockChoice& mb) {
    const bool concealmentVector = mb.flags.intra && picture.concealment;
    if (!mb.flags.forward && !mb.flags.backward && !concealmentVector) return true;
    int saved[2][2][2];
    std::copy(&pmv[0][0][0], &pmv[0][0][0] + 8, &saved[0][0][0]);
    BitWriter scratch;
    out = &scratch;
    ambiguous = false;
    if (mb.flags.forward || concealmentVector) MotionVectors(mb.motion, 0, concealmentVector);
    if (mb.flags.backward) MotionVectors(mb.motion, 1, false);
    out = stream;
    std::copy(&saved[0][0][0], &saved[0][0][0] + 8, &pmv[0][0][0]);
    return !ambiguous;
}

void MacroblockWriter::MotionVectors(const MotionChoice& motion, int s, bool concealmentVector) {
    const bool field = picture.FieldPicture();
    int count = 1;
    bool fieldFormat = field;
    bool dualPrime = false;
    if (!concealmentVector) {
        if (field) {
            count = motion.motionType == kSixteenByEight ? 2 : 1;
            dualPrime = motion.motionType == kDualPrime;
        } else if (!picture.framePredFrameDct) {
            count = motion.motionType == kFieldMotion ? 2 : 1;
            fieldFormat = motion.motionType != kFrameMotion;
            dualPrime = motion.motionType == kDualPrime;
        }
    }
    for (int r = 0; r < count; ++r) {
        if (fieldFormat && !dualPrime) out->Put(static_cast<uint32_t>(motion.fieldSelect[r][s]), 1);
        MotionVector(r, s, motion.vector[r][s], fieldFormat, dualPrime ? motion.dmv : nullptr);
    }
    if (count == 1) {
        pmv[1][s][0] = pmv[0][s][0];
        pmv[1][s][1] = pmv[0][s][1];
    }
}

// Vertical field vectors of frame pictures are predicted from, and kept as, frame lines.
void MacroblockWriter::MotionVector(int r, int s, const int target[2], bool fieldFormat,
                                    const int* dmv) {
    const bool halvedVertical = fieldFormat && !picture.FieldPicture();
    for (int t = 0; t < 2; ++t) {
        const VectorRange range(picture.fCode[s][t]);
        Require(target[t] >= range.low && target[t] <= range.high, "vector outside f_code range");
        const int prediction = (t == 1 && halvedVertical) ? pmv[r][s][t] >> 1 : pmv[r][s][t];
        int delta = target[t] - prediction;
        for (int k = -1; k <= 1; ++k) {
            const int candidate = target[t] - prediction + k * 32 * range.f;
            if (candidate >= -16 * range.f && candidate <= 16 * range.f &&
                range.Wrap(prediction + candidate) == target[t]) {
                delta = candidate;
                break;
            }
        }
        Require(range.Wrap(prediction + delta) == target[t], "vector not reachable");
        if (delta == 0 && prediction != target[t]) ambiguous = true;
        MotionDelta(delta, picture.fCode[s][t]);
        if (dmv) out->PutCode(DualPrimeCode(dmv[t]));
        pmv[r][s][t] = (t == 1 && halvedVertical) ? target[t] * 2 : target[t];
    }
}

void MacroblockWriter::MotionDelta(int delta, int fCode) {
    const int rSize = fCode - 1;
    if (delta == 0) {
        out->PutCode(MotionCode(0));
        return;
    }
    const int magnitude = std::abs(delta);
    const int code = ((magnitude - 1) >> rSize) + 1;
    out->PutCode(MotionCode(code));
    out->Put(delta < 0 ? 1 : 0, 1);
    if (rSize > 0) out->Put(static_cast<uint32_t>((magnitude - 1) & ((1 << rSize) - 1)), rSize);
}

void MacroblockWriter::Pattern(int pattern) {
    if (picture.chromaFormat == 2) {
        out->PutCode(CodedBlockPatternCode(pattern >> 2));
        out->Put(static_cast<uint32_t>(pattern & 3), 2);
    } else {
        Require(pattern != 0, "empty pattern in 4:2:0");
        out->PutCode(CodedBlockPatternCode(pattern));
    }
}

void MacroblockWriter::IntraBlock(int block) {
    const int cc = block < 4 ? 0 : (block % 2 == 0 ? 1 : 2);
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
    if (size > 0) {
        const int bits = difference > 0 ? difference : difference + (1 << size) - 1;
        out->Put(static_cast<uint32_t>(bits), size);
    }
    Coefficients(true, picture.intraVlcFormat);
}

void MacroblockWriter::NonIntraBlock() {
    Coefficients(false, false);
}

// The coefficients of a block together stay within a budget of dequantised magnitude (at the
// largest weight of the matrix in use), so that no sample of the inverse DCT leaves about
// [-256, 255]: the range where transforms are held to accuracy. Beyond it decoders differ on
// saturation and transform overflow, and a stream would test nothing but that.
void MacroblockWriter::Coefficients(bool intra, bool intraTable) {
    int index = intra ? 1 : 0;
    int count = intra ? random.Below(4) : 1 + random.Below(3);
    if (random.Percent(5)) count += random.Below(8);
    int budget = kDequantisedBudget;
    for (int k = 0; k < count && index <= 63; ++k) {
        const int largest = LargestLevel(intra, budget);
        if (largest < 1) break;
        const int room = 63 - index;
        int run = random.Percent(70) ? random.Below(std::min(4, room + 1)) : random.Below(room + 1);
        const int kind = random.Below(100);
        int magnitude =
            kind < 75
                ? random.Between(1, 3)
                : (kind < 90 ? random.Between(4, 12)
                             : (kind < 97 ? random.Between(13, 40) : random.Between(1, largest)));
        magnitude = std::min(magnitude, largest);
        budget -= DequantisedBound(intra, magnitude);
        Coefficient(intraTable, !intra && k == 0, run, random.Percent(50) ? -magnitude : magnitude);
        index += run + 1;
    }
    out->PutCode(EndOfBlockCode(intraTable));
}

int MacroblockWriter::QuantiserScale() const {
    static const int kNonLinearScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10, 12,
                                            14, 16, 18, 20, 22, 24, 28, 32, 36,  40, 44,
                                            48, 52, 56, 64, 72, 80, 88, 96, 104, 112};
    return picture.qScaleType ? kNonLinearScale[quantiserCode] : 2 * quantiserCode;
}

int MacroblockWriter::DequantisedBound(bool intra, int magnitude) const {
    if (intra) return magnitude * picture.maxIntraWeight * QuantiserScale() / 16;
    return (2 * magnitude + 1) * picture.maxNonIntraWeight * QuantiserScale() / 32;
}

// The largest level whose bound fits the budget; 0 when none does.
int MacroblockWriter::LargestLevel(bool intra, int budget) const {
    const int step =
        (intra ? picture.maxIntraWeight : picture.maxNonIntraWeight) * QuantiserScale();
    if (intra) return budget * 16 / step;
    return std::max(0, (budget * 32 / step - 1) / 2);
}

void MacroblockWriter::Coefficient(bool intraTable, bool first, int run, int level) {
    const int magnitude = std::abs(level);
    const uint32_t sign = level < 0 ? 1 : 0;
    if (first && run == 0 && magnitude == 1) {
        out->Put(1, 1);
        out->Put(sign, 1);
        return;
    }
    const std::string code = CoefficientCode(intraTable, run, magnitude);
    if (!code.empty() && !random.Percent(8)) {
        out->PutCode(code);
        out->Put(sign, 1);
        return;
    }
    out->PutCode(kCoefficientEscapeCode);
    out->Put(static_cast<uint32_t>(run), 6);
    out->Put(static_cast<uint32_t>(level) & 0xFFF, 12);
}

}  // namespace streamgen
}  // namespace d2u
