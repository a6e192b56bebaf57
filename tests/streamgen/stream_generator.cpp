#include "stream_generator.h"

#include <algorithm>

namespace d2u {
namespace streamgen {
namespace {

constexpr int kTopField = 1, kBottomField = 2, kFramePicture = 3;

}  // namespace

StreamGenerator::StreamGenerator(const GeneratorOptions& options)
    : options(options), random(options.seed), macroblocks(out, random) {}

GeneratedStream StreamGenerator::Generate() {
    result.chromaFormat =
        options.chromaFormat ? options.chromaFormat : (random.Percent(35) ? 2 : 1);
    result.width = random.Between(64, 352);
    result.height = random.Between(48, 288);
    progressiveSequence = random.Percent(15);
    dualPrimeAllowed = !progressiveSequence && random.Percent(40);
    mbWidth = (result.width + 15) / 16;
    mbHeight = progressiveSequence ? (result.height + 15) / 16 : 2 * ((result.height + 31) / 32);
    geometry = PredictionGeometry(mbWidth * 16, mbHeight * 16, result.chromaFormat);
    if (random.Percent(25)) {
        intraMatrix.push_back(8);
        for (int k = 1; k < 64; ++k)
            intraMatrix.push_back(static_cast<uint8_t>(random.Between(8, 40)));
    }
    if (random.Percent(25)) {
        for (int k = 0; k < 64; ++k)
            nonIntraMatrix.push_back(static_cast<uint8_t>(random.Between(8, 40)));
    }
    const bool repeatSequenceHeader = random.Percent(50);

    std::vector<PlannedFrame> plan = PlanFrames();
    SequenceHeader();
    for (size_t k = 0; k < plan.size(); ++k) {
        if (plan[k].groupStart) {
            if (k > 0 && repeatSequenceHeader) SequenceHeader();
            GroupHeader(k == 0);
        }
        Frame(plan[k]);
        result.frames.push_back(plan[k].frame);
    }
    out.StartCode(0xB7);
    result.bytes = out.Bytes();
    return result;
}

// Display order: an I frame, then runs of B frames each followed by a reference frame. The
// first reference after the start is a P frame; later I frames open groups whose leading B
// frames predict from the group before.
std::vector<StreamGenerator::PlannedFrame> StreamGenerator::PlanFrames() {
    const int frames = random.Between(3, 8);
    const int maxB = dualPrimeAllowed ? 0 : random.Between(0, 2);
    std::vector<PlannedFrame> plan;
    auto add = [&](int type, int display, int groupFirst, bool groupStart) {
        PlannedFrame planned;
        planned.frame.pictureType = type;
        planned.frame.displayIndex = display;
        planned.frame.temporalReference = display - groupFirst;
        planned.frame.fieldPictures = !progressiveSequence && random.Percent(50);
        planned.groupStart = groupStart;
        plan.push_back(planned);
    };
    int groupFirst = 0;
    add(1, 0, 0, true);
    for (int position = 0; position < frames - 1;) {
        const int reference = std::min(position + random.Below(maxB + 1) + 1, frames - 1);
        const bool intra = plan.size() > 1 && random.Percent(20);
        if (intra) groupFirst = position + 1;
        add(intra ? 1 : 2, reference, groupFirst, intra);
        for (int b = position + 1; b < reference; ++b) add(3, b, groupFirst, false);
        position = reference;
    }
    return plan;
}

void StreamGenerator::SequenceHeader() {
    out.StartCode(0xB3);
    out.Put(static_cast<uint32_t>(result.width), 12);
    out.Put(static_cast<uint32_t>(result.height), 12);
    out.Put(2, 4);  // 4:3
    out.Put(3, 4);  // 25 frames per second
    out.Put(20000, 18);
    out.Put(1, 1);
    out.Put(112, 10);
    out.Put(0, 1);
    out.Put(intraMatrix.empty() ? 0 : 1, 1);
    for (uint8_t value : intraMatrix) out.Put(value, 8);
    out.Put(nonIntraMatrix.empty() ? 0 : 1, 1);
    for (uint8_t value : nonIntraMatrix) out.Put(value, 8);
    out.StartCode(0xB5);
    out.Put(1, 4);
    out.Put(result.chromaFormat == 2 ? 0x85 : 0x48, 8);  // 4:2:2 or main profile, main level
    out.Put(progressiveSequence ? 1 : 0, 1);
    out.Put(static_cast<uint32_t>(result.chromaFormat), 2);
    out.Put(0, 4);   // size extensions
    out.Put(0, 12);  // bit_rate_extension
    out.Put(1, 1);
    out.Put(0, 8);  // vbv_buffer_size_extension
    out.Put(0, 1);  // low_delay
    out.Put(0, 7);  // frame rate extension
}

void StreamGenerator::GroupHeader(bool closed) {
    out.StartCode(0xB8);
    out.Put(0, 1);   // drop_frame_flag
    out.Put(0, 11);  // hours, minutes
    out.Put(1, 1);
    out.Put(0, 12);  // seconds, pictures
    out.Put(closed ? 1 : 0, 1);
    out.Put(0, 1);  // broken_link
}

void StreamGenerator::Frame(const PlannedFrame& planned) {
    const CodedFrame& frame = planned.frame;
    FieldReferences refs;
    if (!frame.fieldPictures) {
        Picture(frame.pictureType, kFramePicture, frame.temporalReference, refs);
    } else {
        const int first = random.Percent(50) ? kTopField : kBottomField;
        const int second = first == kTopField ? kBottomField : kTopField;
        refs.field = true;
        refs.bottom = first == kBottomField;
        Picture(frame.pictureType, first, frame.temporalReference, refs);
        int secondType = frame.pictureType;
        if (secondType == 1 && random.Percent(50)) {
            secondType = 2;
        }
        refs.bottom = second == kBottomField;
        refs.firstFieldParity = first == kBottomField ? 1 : 0;
        refs.onlyFirstField = secondType == 2 && referenceFrames == 0;
        Picture(secondType, second, frame.temporalReference, refs);
    }
    if (frame.pictureType != 3) ++referenceFrames;
}

void StreamGenerator::Picture(int type, int structure, int temporalReference,
                              const FieldReferences& refs) {
    references = refs;
    picture = PictureSyntax();
    picture.pictureType = type;
    picture.structure = structure;
    picture.chromaFormat = result.chromaFormat;
    picture.concealment = random.Percent(type == 1 ? 50 : 15);
    for (int s = 0; s < 2; ++s) {
        const bool used = s == 0 ? (type != 1 || picture.concealment) : type == 3;
        for (int t = 0; t < 2; ++t) picture.fCode[s][t] = used ? random.Between(1, 4) : 15;
    }
    picture.intraDcPrecision = random.Between(0, result.chromaFormat == 2 ? 3 : 2);
    picture.intraVlcFormat = random.Percent(50);
    const bool frame = structure == kFramePicture;
    picture.framePredFrameDct = frame && (progressiveSequence || random.Percent(30));
    topFieldFirst = frame && !progressiveSequence && random.Percent(50);
    const bool progressiveFrame =
        progressiveSequence || (picture.framePredFrameDct && random.Percent(30));
    picture.qScaleType = random.Percent(50);
    if (!intraMatrix.empty()) {
        picture.maxIntraWeight = *std::max_element(intraMatrix.begin() + 1, intraMatrix.end());
    }
    if (!nonIntraMatrix.empty()) {
        picture.maxNonIntraWeight = *std::max_element(nonIntraMatrix.begin(), nonIntraMatrix.end());
    }
    PictureHeader(picture, temporalReference, topFieldFirst, progressiveFrame, random.Percent(50));
    macroblocks.StartPicture(picture);
    Slices(frame ? mbHeight : mbHeight / 2);
}

void StreamGenerator::PictureHeader(const PictureSyntax& syntax, int temporalReference, bool tff,
                                    bool progressiveFrame, bool alternateScan) {
    out.StartCode(0x00);
    out.Put(static_cast<uint32_t>(temporalReference), 10);
    out.Put(static_cast<uint32_t>(syntax.pictureType), 3);
    out.Put(0xFFFF, 16);
    if (syntax.pictureType >= 2) out.Put(0x7, 4);  // full_pel_forward_vector 0, f_code 7
    if (syntax.pictureType == 3) out.Put(0x7, 4);
    out.Put(0, 1);
    out.StartCode(0xB5);
    out.Put(8, 4);
    for (int s = 0; s < 2; ++s) {
        for (int t = 0; t < 2; ++t) out.Put(static_cast<uint32_t>(syntax.fCode[s][t]), 4);
    }
    out.Put(static_cast<uint32_t>(syntax.intraDcPrecision), 2);
    out.Put(static_cast<uint32_t>(syntax.structure), 2);
    out.Put(tff ? 1 : 0, 1);
    out.Put(syntax.framePredFrameDct ? 1 : 0, 1);
    out.Put(syntax.concealment ? 1 : 0, 1);
    out.Put(syntax.qScaleType ? 1 : 0, 1);
    out.Put(syntax.intraVlcFormat ? 1 : 0, 1);
    out.Put(alternateScan ? 1 : 0, 1);
    out.Put(0, 1);                                                     // repeat_first_field
    out.Put(syntax.chromaFormat == 1 && progressiveFrame ? 1 : 0, 1);  // chroma_420_type
    out.Put(progressiveFrame ? 1 : 0, 1);
    out.Put(0, 1);  // composite_display_flag
}

// Each row in one to three slices that together cover it.
void StreamGenerator::Slices(int rows) {
    for (int row = 0; row < rows; ++row) {
        std::vector<int> starts = {0};
        const int extra = random.Percent(25) ? random.Between(1, 2) : 0;
        for (int k = 0; k < extra && mbWidth > 1; ++k)
            starts.push_back(random.Between(1, mbWidth - 1));
        std::sort(starts.begin(), starts.end());
        starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
        for (size_t k = 0; k < starts.size(); ++k) {
            const int last = k + 1 < starts.size() ? starts[k + 1] - 1 : mbWidth - 1;
            Slice(row, starts[k], last);
        }
    }
}

void StreamGenerator::Slice(int row, int first, int last) {
    out.StartCode(static_cast<uint8_t>(row + 1));
    const int quantiserCode = random.Between(1, 16);
    out.Put(static_cast<uint32_t>(quantiserCode), 5);
    if (random.Percent(10)) {
        out.Put(1, 1);  // intra_slice_flag
        out.Put(0, 1);  // intra_slice
        out.Put(0, 7);  // reserved_bits
    }
    out.Put(0, 1);  // extra_bit_slice
    macroblocks.StartSlice(first, quantiserCode);
    lastIntra = true;
    for (int mbx = first; mbx <= last; ++mbx) {
        if (mbx != first && mbx != last && TrySkip(mbx, row)) continue;
        MacroblockChoice mb = ChooseMacroblock(mbx, row);
        macroblocks.Write(mb);
        lastIntra = mb.flags.intra;
        lastMotion = mb.motion;
    }
}

// P pictures skip with a zero vector from the same-parity field or the frame. A skipped
// macroblock of a B picture keeps the previous macroblock's directions and takes its vectors
// from the predictors, with frame prediction in frame pictures and field prediction from the
// same-parity field in field pictures. ffmpeg instead repeats the previous macroblock's motion
// type and field selection, so B pictures skip only where both readings predict alike: after
// frame motion, or after field motion from the same-parity fields. The prediction must still
// read inside from here.
bool StreamGenerator::TrySkip(int mbx, int mby) {
    if (picture.pictureType == 1 || !random.Percent(15)) return false;
    if (picture.pictureType == 2 && references.onlyFirstField) return false;
    if (picture.pictureType == 3 &&
        (lastIntra || !SkipPredictsAlike() ||
         !geometry.MacroblockFits(lastMotion, references.field, references.bottom, topFieldFirst,
                                  mbx, mby))) {
        return false;
    }
    macroblocks.Skip();
    return true;
}

bool StreamGenerator::SkipPredictsAlike() const {
    if (!references.field) return lastMotion.motionType == kFrameMotion;
    if (lastMotion.motionType != kFieldMotion) return false;
    const int parity = references.bottom ? 1 : 0;
    for (int s = 0; s < 2; ++s) {
        const bool used = s == 0 ? lastMotion.forward : lastMotion.backward;
        if (used && lastMotion.fieldSelect[0][s] != parity) return false;
    }
    return true;
}

MacroblockFlags StreamGenerator::ChooseFlags() {
    MacroblockFlags f;
    const int roll = random.Below(100);
    if (picture.pictureType == 1 || roll < 12) {
        f.intra = true;
    } else if (picture.pictureType == 2) {
        f.forward = roll >= 25 || references.onlyFirstField;
        f.pattern = !f.forward || random.Percent(60);
    } else {
        const int direction = random.Below(3);
        f.forward = direction != 1;
        f.backward = direction != 0;
        f.pattern = random.Percent(50);
    }
    f.quant = (f.intra || f.pattern) && random.Percent(15);
    return f;
}

MacroblockChoice StreamGenerator::ChooseMacroblock(int mbx, int mby) {
    MacroblockChoice mb;
    mb.flags = ChooseFlags();
    mb.quantiserCode = random.Between(1, 20);
    mb.dctType = random.Below(2);
    const int blocks = picture.BlocksPerMacroblock();
    mb.pattern = mb.flags.pattern ? random.Between(1, (1 << blocks) - 1) : 0;
    if (mb.flags.intra && picture.concealment) {
        do {
            for (int t = 0; t < 2; ++t) {
                const int f = 1 << (picture.fCode[0][t] - 1);
                mb.motion.vector[0][0][t] = random.Between(-16 * f, 16 * f - 1);
            }
            mb.motion.fieldSelect[0][0] = random.Below(2);
        } while (!macroblocks.VectorsWritable(mb));
    }
    if (mb.flags.forward || mb.flags.backward) ChooseMotion(mb, mbx, mby);
    return mb;
}

int StreamGenerator::FieldSelect() {
    return references.onlyFirstField ? references.firstFieldParity : random.Below(2);
}

void StreamGenerator::ChooseMotion(MacroblockChoice& mb, int mbx, int mby) {
    MotionChoice& motion = mb.motion;
    motion.forward = mb.flags.forward;
    motion.backward = mb.flags.backward;
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (RandomMotion(mb, mbx, mby)) return;
    }
    // Zero vectors from the same field or frame always read inside, and field vectors are
    // predicted from within the range.
    MotionChoice zero;
    zero.forward = motion.forward;
    zero.backward = motion.backward;
    zero.motionType = references.field || !picture.framePredFrameDct ? kFieldMotion : kFrameMotion;
    for (int s = 0; s < 2; ++s) {
        if (references.field) {
            zero.fieldSelect[0][s] = references.onlyFirstField ? references.firstFieldParity
                                                               : (references.bottom ? 1 : 0);
        } else {
            zero.fieldSelect[0][s] = 0;
            zero.fieldSelect[1][s] = 1;
        }
    }
    motion = zero;
}

bool StreamGenerator::RandomMotion(MacroblockChoice& candidate, int mbx, int mby) {
    MotionChoice& motion = candidate.motion;
    const bool field = references.field;
    const bool dualPrimeHere =
        dualPrimeAllowed && picture.pictureType == 2 && !references.onlyFirstField;
    const int roll = random.Below(100);
    if (!field && picture.framePredFrameDct) {
        motion.motionType = kFrameMotion;
    } else if (dualPrimeHere && roll < 25) {
        motion.motionType = kDualPrime;
    } else {
        motion.motionType = roll < 62 ? (field ? kFieldMotion : kFrameMotion)
                                      : (field ? kSixteenByEight : kFieldMotion);
    }
    const bool fieldLines = field || motion.motionType != kFrameMotion;
    const int x = mbx * 16;
    const int lumaHeight = mbHeight * 16;
    const int referenceHeight = fieldLines ? lumaHeight / 2 : lumaHeight;
    for (int s = 0; s < 2; ++s) {
        if (!(s == 0 ? motion.forward : motion.backward)) continue;
        for (int r = 0; r < 2; ++r) {
            int y = mby * 16, size = 16;
            if (!field && fieldLines) {
                y /= 2;
                size = 8;
            } else if (field && motion.motionType == kSixteenByEight) {
                y += 8 * r;
                size = 8;
            }
            motion.fieldSelect[r][s] = FieldSelect();
            motion.vector[r][s][0] = RandomVector(s, 0, x, 16, mbWidth * 16);
            motion.vector[r][s][1] = RandomVector(s, 1, y, size, referenceHeight);
        }
    }
    for (int t = 0; t < 2; ++t) motion.dmv[t] = random.Between(-1, 1);
    return geometry.MacroblockFits(motion, field, references.bottom, topFieldFirst, mbx, mby) &&
           macroblocks.VectorsWritable(candidate);
}

// Mostly vectors to anywhere in the reference, clamped to the f_code range; otherwise short.
int StreamGenerator::RandomVector(int s, int t, int position, int size, int limit) {
    const int f = 1 << (picture.fCode[s][t] - 1);
    int vector = random.Between(-8, 8);
    if (random.Percent(60) && limit >= size) {
        const int target = random.Between(0, limit - size);
        vector = 2 * (target - position) + (target < limit - size ? random.Below(2) : 0);
    }
    return std::min(16 * f - 1, std::max(-16 * f, vector));
}

}  // namespace streamgen
}  // namespace d2u
