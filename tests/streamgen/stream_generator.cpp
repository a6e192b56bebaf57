#include "stream_generator.h"

#include <algorithm>
#include <set>

#include "macroblock_writer.h"

namespace d2u {
namespace streamgen {
namespace {

constexpr int kTopField = 1, kBottomField = 2, kFramePicture = 3;

// A block of `size` samples starting at `position`, moved by `vector` half samples.
bool SpanFits(int position, int size, int vector, int limit) {
    const int start = position + (vector >> 1);
    return start >= 0 && start + size - 1 + (vector & 1) <= limit - 1;
}

class Generator {
public:
    explicit Generator(uint64_t seed) : random(seed) {}

    GeneratedStream Generate(int chromaFormat) {
        result.chromaFormat = chromaFormat ? chromaFormat : (random.Percent(35) ? 2 : 1);
        result.width = random.Between(64, 352);
        result.height = random.Between(48, 288);
        progressiveSequence = random.Percent(15);
        dualPrimeAllowed = !progressiveSequence && random.Percent(40);
        mbWidth = (result.width + 15) / 16;
        mbHeight =
            progressiveSequence ? (result.height + 15) / 16 : 2 * ((result.height + 31) / 32);
        picture.chromaFormat = result.chromaFormat;
        for (int m = 0; m < 2; ++m) {
            if (!random.Percent(25)) continue;
            for (int k = 0; k < 64; ++k) {
                matrices[m].push_back(m == 0 && k == 0 ? 8 : random.Between(8, 40));
            }
            // The intra DC weight scales no coefficient.
            (m == 0 ? picture.maxIntraWeight : picture.maxNonIntraWeight) =
                *std::max_element(matrices[m].begin() + (m == 0 ? 1 : 0), matrices[m].end());
        }
        const bool repeatSequenceHeader = random.Percent(50);

        PlanFrames();
        SequenceHeader();
        for (size_t k = 0; k < result.frames.size(); ++k) {
            const CodedFrame& frame = result.frames[k];
            // I frames open groups of pictures, the first one closed.
            if (frame.pictureType == 1) {
                if (k > 0 && repeatSequenceHeader) SequenceHeader();
                out.StartCode(0xB8);
                // time_code (all zero but its marker bit), closed_gop, broken_link
                out.Put({{0, 1}, {0, 11}, {1, 1}, {0, 12}, {k == 0, 1}, {0, 1}});
            }
            const int first = !frame.fieldPictures ? kFramePicture
                              : random.Percent(50) ? kTopField
                                                   : kBottomField;
            Picture(frame.pictureType, first, frame.temporalReference, false);
            if (frame.fieldPictures) {
                // The second field of an I frame may be a P field, which in the stream's first
                // frame can read only the first field.
                const int type =
                    frame.pictureType == 1 && random.Percent(50) ? 2 : frame.pictureType;
                Picture(type, kTopField + kBottomField - first, frame.temporalReference,
                        type == 2 && k == 0);
            }
        }
        out.StartCode(0xB7);
        result.bytes = out.Bytes();
        return result;
    }

private:
    // Display order: an I frame, then runs of B frames each followed by a reference frame. The
    // first reference after the start is a P frame; later I frames open groups whose leading B
    // frames predict from the group before.
    void PlanFrames() {
        const int frames = random.Between(3, 8);
        const int maxB = dualPrimeAllowed ? 0 : random.Between(0, 2);
        int groupFirst = 0;
        auto add = [&](int type, int display) {
            result.frames.push_back(
                {type, display - groupFirst, display, !progressiveSequence && random.Percent(50)});
        };
        add(1, 0);
        for (int position = 0; position < frames - 1;) {
            const int reference = std::min(position + random.Below(maxB + 1) + 1, frames - 1);
            const bool intra = result.frames.size() > 1 && random.Percent(20);
            if (intra) groupFirst = position + 1;
            add(intra ? 1 : 2, reference);
            for (int b = position + 1; b < reference; ++b) add(3, b);
            position = reference;
        }
    }

    void SequenceHeader() {
        out.StartCode(0xB3);
        // 4:3, 25 frames per second; bit_rate, marker, vbv_buffer_size, constrained_parameters
        out.Put({{result.width, 12}, {result.height, 12}, {2, 4}, {3, 4}});
        out.Put({{20000, 18}, {1, 1}, {112, 10}, {0, 1}});
        for (const std::vector<uint8_t>& matrix : matrices) {
            out.Put(!matrix.empty(), 1);
            for (uint8_t value : matrix) out.Put(value, 8);
        }
        // Sequence extension: 4:2:2 profile or main profile, at main level; then the size and
        // bit rate extensions, marker, VBV size extension, low_delay, frame rate extension.
        out.StartCode(0xB5);
        out.Put({{1, 4}, {result.chromaFormat == 2 ? 0x85 : 0x48, 8}, {progressiveSequence, 1}});
        out.Put({{result.chromaFormat, 2}, {0, 16}, {1, 1}, {0, 16}});
    }

    void Picture(int type, int structure, int temporalReference, bool firstFieldOnly) {
        onlyFirstField = firstFieldOnly;
        picture.pictureType = type;
        picture.structure = structure;
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
        const bool alternateScan = random.Percent(50);

        out.StartCode(0x00);
        // vbv_delay 0xFFFF; full_pel_vector 0 and f_code 7 for each direction; extra_bit_picture
        out.Put({{temporalReference, 10}, {type, 3}, {0xFFFF, 16}, {0x77, 4 * (type - 1)}, {0, 1}});
        out.StartCode(0xB5);  // picture coding extension
        out.Put(8, 4);
        for (int k = 0; k < 4; ++k) out.Put(picture.fCode[k / 2][k % 2], 4);
        out.Put({{picture.intraDcPrecision, 2}, {structure, 2}, {topFieldFirst, 1}});
        out.Put(
            {{picture.framePredFrameDct, 1}, {picture.concealment, 1}, {picture.qScaleType, 1}});
        // ..., repeat_first_field, chroma_420_type, progressive_frame, composite_display_flag
        out.Put({{picture.intraVlcFormat, 1}, {alternateScan, 1}, {0, 1}});
        out.Put({{result.chromaFormat == 1 && progressiveFrame, 1}, {progressiveFrame, 1}, {0, 1}});
        // Each row in one to three slices that together cover it.
        for (int row = 0; row < (frame ? mbHeight : mbHeight / 2); ++row) {
            std::set<int> starts = {0};
            const int extra = random.Percent(25) ? random.Between(1, 2) : 0;
            for (int k = 0; k < extra && mbWidth > 1; ++k) {
                starts.insert(random.Between(1, mbWidth - 1));
            }
            for (auto start = starts.begin(); start != starts.end(); ++start) {
                const auto next = std::next(start);
                Slice(row, *start, next != starts.end() ? *next - 1 : mbWidth - 1);
            }
        }
    }

    void Slice(int row, int first, int last) {
        out.StartCode(static_cast<uint8_t>(row + 1));
        const int quantiserCode = random.Between(1, 16);
        out.Put(quantiserCode, 5);
        // intra_slice_flag, intra_slice, reserved_bits
        if (random.Percent(10)) out.Put({{1, 1}, {0, 1}, {0, 7}});
        out.Put(0, 1);  // extra_bit_slice
        macroblocks.StartSlice(first, quantiserCode);
        previous.flags.intra = true;
        for (int mbx = first; mbx <= last; ++mbx) {
            if (mbx != first && mbx != last && TrySkip(mbx, row)) continue;
            previous = ChooseMacroblock(mbx, row);
            macroblocks.Write(previous);
        }
    }

    // P pictures skip with a zero vector from the same-parity field or the frame. A skipped
    // macroblock of a B picture keeps the previous macroblock's directions and takes its
    // vectors from the predictors, with frame prediction in frame pictures and field prediction
    // from the same-parity field in field pictures. ffmpeg instead repeats the previous
    // macroblock's motion type and field selection, so B pictures skip only where both
    // readings predict alike: after frame motion, or after field motion from the same-parity
    // fields. The prediction must still read inside from here.
    bool TrySkip(int mbx, int mby) {
        if (picture.pictureType == 1 || !random.Percent(15)) return false;
        if (picture.pictureType == 2 ? onlyFirstField
                                     : previous.flags.intra || !SkipPredictsAlike() ||
                                           !MacroblockFits(previous, mbx, mby)) {
            return false;
        }
        macroblocks.Skip();
        return true;
    }

    bool SkipPredictsAlike() const {
        const MotionChoice& m = previous.motion;
        if (!picture.FieldPicture()) return m.motionType == kFrameMotion;
        if (m.motionType != kFieldMotion) return false;
        for (int s = 0; s < 2; ++s) {
            if (previous.flags.Predicts(s) && m.fieldSelect[0][s] != SameParity()) return false;
        }
        return true;
    }

    MacroblockChoice ChooseMacroblock(int mbx, int mby) {
        MacroblockChoice mb;
        MacroblockFlags& f = mb.flags;
        const int roll = random.Below(100);
        if (picture.pictureType == 1 || roll < 12) {
            f.intra = true;
        } else if (picture.pictureType == 2) {
            f.forward = roll >= 25 || onlyFirstField;
            f.pattern = !f.forward || random.Percent(60);
        } else {
            const int direction = random.Below(3);
            f.forward = direction != 1;
            f.backward = direction != 0;
            f.pattern = random.Percent(50);
        }
        f.quant = (f.intra || f.pattern) && random.Percent(15);
        mb.quantiserCode = random.Between(1, 20);
        mb.dctType = random.Below(2);
        mb.pattern = f.pattern ? random.Between(1, (1 << picture.BlocksPerMacroblock()) - 1) : 0;
        if (f.intra && picture.concealment) {
            do {
                for (int t = 0; t < 2; ++t) {
                    const int range = 16 << (picture.fCode[0][t] - 1);
                    mb.motion.vector[0][0][t] = random.Between(-range, range - 1);
                }
                mb.motion.fieldSelect[0][0] = random.Below(2);
            } while (!macroblocks.VectorsWritable(mb));
        }
        if (f.forward || f.backward) ChooseMotion(mb, mbx, mby);
        return mb;
    }

    void ChooseMotion(MacroblockChoice& mb, int mbx, int mby) {
        for (int attempt = 0; attempt < 30; ++attempt) {
            if (RandomMotion(mb, mbx, mby)) return;
        }
        // Zero vectors from the same field or frame always read inside, and field vectors are
        // predicted from within the range.
        const bool field = picture.FieldPicture();
        mb.motion = MotionChoice();
        mb.motion.motionType = field || !picture.framePredFrameDct ? kFieldMotion : kFrameMotion;
        for (int s = 0; s < 2; ++s) {
            mb.motion.fieldSelect[0][s] =
                field ? (onlyFirstField ? !SameParity() : SameParity()) : 0;
            mb.motion.fieldSelect[1][s] = !field;
        }
    }

    bool RandomMotion(MacroblockChoice& mb, int mbx, int mby) {
        MotionChoice& motion = mb.motion;
        const bool field = picture.FieldPicture();
        const bool dualPrimeHere = dualPrimeAllowed && picture.pictureType == 2 && !onlyFirstField;
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
        const int referenceHeight = mbHeight * (fieldLines ? 8 : 16);
        for (int s = 0; s < 2; ++s) {
            if (!mb.flags.Predicts(s)) continue;
            for (int r = 0; r < 2; ++r) {
                int y = mby * 16, size = 16;
                if (!field && fieldLines) {
                    y /= 2;
                    size = 8;
                } else if (field && motion.motionType == kSixteenByEight) {
                    y += 8 * r;
                    size = 8;
                }
                // A second field of the stream's first frame reads the first field alone.
                motion.fieldSelect[r][s] = onlyFirstField ? !SameParity() : random.Below(2);
                motion.vector[r][s][0] = RandomVector(s, 0, mbx * 16, 16, mbWidth * 16);
                motion.vector[r][s][1] = RandomVector(s, 1, y, size, referenceHeight);
            }
        }
        for (int t = 0; t < 2; ++t) motion.dmv[t] = random.Between(-1, 1);
        return MacroblockFits(mb, mbx, mby) && macroblocks.VectorsWritable(mb);
    }

    // Mostly vectors to anywhere in the reference, clamped to the f_code range; otherwise short.
    int RandomVector(int s, int t, int position, int size, int limit) {
        const int range = 16 << (picture.fCode[s][t] - 1);
        int vector = random.Between(-8, 8);
        if (random.Percent(60) && limit >= size) {
            const int target = random.Between(0, limit - size);
            vector = 2 * (target - position) + (target < limit - size ? random.Below(2) : 0);
        }
        return std::min(range - 1, std::max(-range, vector));
    }

    int SameParity() const { return picture.structure == kBottomField ? 1 : 0; }

    // Every prediction of a macroblock at column mbx and row mby (of the frame, or of the field
    // in field pictures) reads inside the coded reference area.
    bool MacroblockFits(const MacroblockChoice& mb, int mbx, int mby) const {
        const MotionChoice& m = mb.motion;
        const int x = mbx * 16, y = mby * 16;
        for (int s = 0; s < 2; ++s) {
            if (!mb.flags.Predicts(s)) continue;
            const int *v0 = m.vector[0][s], *v1 = m.vector[1][s];
            bool fits;
            if (picture.FieldPicture()) {
                const bool halves = m.motionType == kSixteenByEight;
                fits = BlockFits(true, x, y, halves ? 8 : 16, v0[0], v0[1]) &&
                       (m.motionType == kFieldMotion ||
                        (halves ? BlockFits(true, x, y + 8, 8, v1[0], v1[1])
                                : DualPrimeFits(v0, m.dmv, 1, SameParity() ? 1 : -1, x, y, 16)));
            } else if (m.motionType == kFrameMotion) {
                fits = BlockFits(false, x, y, 16, v0[0], v0[1]);
            } else {
                fits = BlockFits(true, x, y / 2, 8, v0[0], v0[1]) &&
                       (m.motionType == kFieldMotion
                            ? BlockFits(true, x, y / 2, 8, v1[0], v1[1])
                            : DualPrimeFits(v0, m.dmv, topFieldFirst ? 1 : 3, -1, x, y / 2, 8) &&
                                  DualPrimeFits(v0, m.dmv, topFieldFirst ? 3 : 1, 1, x, y / 2, 8));
            }
            if (!fits) return false;
        }
        return true;
    }

    // A luma block 16 wide at (x, y) of a frame (or of a field) read with the vector (half
    // samples, lines of that frame or field), and the chroma block belonging to it, whose
    // vector is the luma vector halved towards zero.
    bool BlockFits(bool fieldReference, int x, int y, int h, int vx, int vy) const {
        const int width = mbWidth * 16, height = mbHeight * (fieldReference ? 8 : 16);
        return SpanFits(x, 16, vx, width) && SpanFits(y, h, vy, height) &&
               SpanFits(x / 2, 8, vx / 2, width / 2) &&
               (result.chromaFormat != 1 || SpanFits(y / 2, h / 2, vy / 2, height / 2));
    }

    // The dual-prime vector for the opposite parity, m being the distance in fields over two
    // (1 or 3) and e the vertical correction, and its neighbours one half sample away, so that
    // a rounding slip on either side still reads inside.
    bool DualPrimeFits(const int vector[2], const int dmv[2], int m, int e, int x, int y,
                       int h) const {
        int derived[2];
        for (int t = 0; t < 2; ++t) {
            derived[t] = ((vector[t] * m + (vector[t] > 0 ? 1 : 0)) >> 1) + dmv[t];
        }
        derived[1] += e;
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                if (!BlockFits(true, x, y, h, derived[0] + dx, derived[1] + dy)) return false;
            }
        }
        return true;
    }

    RandomSource random;
    BitWriter out;
    PictureSyntax picture;
    MacroblockWriter macroblocks{out, random, picture};
    GeneratedStream result;
    bool progressiveSequence = false;
    bool dualPrimeAllowed = false;
    int mbWidth = 0;
    int mbHeight = 0;                  // of the frame
    std::vector<uint8_t> matrices[2];  // intra, non-intra; empty when the default is used
    bool onlyFirstField = false;
    bool topFieldFirst = false;
    MacroblockChoice previous;
};

}  // namespace

GeneratedStream StreamGenerator::Generate() const {
    return Generator(options.seed).Generate(options.chromaFormat);
}

}  // namespace streamgen
}  // namespace d2u
