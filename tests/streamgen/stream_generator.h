// Writes a random but valid MPEG-2 video elementary stream from a seed, meant to reach syntax
// the encoders at hand never write: field pictures of every type in both field orders, dual
// prime, 16x8 and field motion, concealment vectors, every macroblock type, skipped
// macroblocks, escaped coefficients, 4:2:2. The picture content is noise; only the syntax is
// the point. Every prediction reads inside the coded reference area.
#pragma once

#include <cstdint>
#include <vector>

#include "bit_writer.h"
#include "macroblock_choice.h"
#include "macroblock_writer.h"
#include "prediction_geometry.h"
#include "random_source.h"

namespace d2u {
namespace streamgen {

struct GeneratorOptions {
    uint64_t seed = 1;
    int chromaFormat = 0;  // 1 4:2:0, 2 4:2:2, 0 chosen from the seed
};

// One coded frame (a frame picture or a pair of field pictures), in decoding order.
struct CodedFrame {
    int pictureType = 1;  // of the frame picture or of the first field
    int temporalReference = 0;
    int displayIndex = 0;
    bool fieldPictures = false;
};

struct GeneratedStream {
    std::vector<uint8_t> bytes;
    int width = 0;
    int height = 0;
    int chromaFormat = 1;
    std::vector<CodedFrame> frames;
};

class StreamGenerator {
public:
    explicit StreamGenerator(const GeneratorOptions& options);
    GeneratedStream Generate();

private:
    struct PlannedFrame {
        CodedFrame frame;
        bool groupStart = false;
    };
    // Which reference fields a field picture may read from.
    struct FieldReferences {
        bool field = false;
        bool bottom = false;
        int firstFieldParity = 0;     // second fields: parity of the first field
        bool onlyFirstField = false;  // second field of the stream's first frame
    };

    std::vector<PlannedFrame> PlanFrames();
    void SequenceHeader();
    void GroupHeader(bool closed);
    void Frame(const PlannedFrame& planned);
    void Picture(int type, int structure, int temporalReference, const FieldReferences& refs);
    void PictureHeader(const PictureSyntax& syntax, int temporalReference, bool topFieldFirst,
                       bool progressiveFrame, bool alternateScan);
    void Slices(int rows);
    void Slice(int row, int first, int last);
    bool TrySkip(int mbx, int mby);
    bool SkipPredictsAlike() const;
    MacroblockChoice ChooseMacroblock(int mbx, int mby);
    MacroblockFlags ChooseFlags();
    void ChooseMotion(MacroblockChoice& mb, int mbx, int mby);
    bool RandomMotion(MacroblockChoice& candidate, int mbx, int mby);
    int RandomVector(int s, int t, int position, int size, int limit);
    int FieldSelect();

    GeneratorOptions options;
    RandomSource random;
    BitWriter out;
    MacroblockWriter macroblocks;
    GeneratedStream result;

    bool progressiveSequence = false;
    bool dualPrimeAllowed = false;
    int mbWidth = 0;
    int mbHeight = 0;  // of the frame
    PredictionGeometry geometry{0, 0, 1};
    std::vector<uint8_t> intraMatrix, nonIntraMatrix;
    int referenceFrames = 0;

    PictureSyntax picture;
    FieldReferences references;
    bool topFieldFirst = false;
    MotionChoice lastMotion;
    bool lastIntra = true;
};

}  // namespace streamgen
}  // namespace d2u
