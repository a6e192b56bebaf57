// The picture decoder: slices and macroblocks of one coded picture into the current picture,
// with the four picture buffers and the coefficient buffer it owns for a stream.
//
// A picture coded as two field pictures is decoded whole by one getMacroblocks call when the
// second field follows in the input: the frame leaves complete, and the reference pictures
// (which the wrapper rotates after each I or P frame) stay those of the frame. Each new frame
// goes into the one picture of three that is not a reference; what it leaves undecoded is
// taken from the newer reference (see CFrameCoverage). When the input ends after the first
// field (a host buffer holding one field), FrameComplete() is 0 and the next call decodes the
// second field into the same frame; the references must not be rotated in between, since the
// second field predicts from the same ones as the first.
//
// Hosts may write into the frames they are handed. A B frame is handed out as decoded: nothing
// reads it again. A reference frame is handed out as a copy in a fourth picture (ForHost), so
// that what the host writes never reaches the pictures predicted from it.
#pragma once

#include <cstdint>

#include "decoder/block_reconstructor.h"
#include "decoder/frame_coverage.h"
#include "decoder/motion_compensator.h"
#include "decoder/motion_vector_reader.h"
#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_vlc_tables.h"
#include "picture/yuv_frame.h"

namespace d2u {

class CBitstreamDataSource;
class CMpegHeaderReader;

class CMpegDecoder {
public:
    // Bounds of the geometry: the frame record's own limit per side, and at most 16 million
    // luma samples a picture (4096 x 4096; the four pictures then take about 100 MB), so that
    // a damaged or hostile sequence header cannot make the decoder claim gigabytes.
    static constexpr int32_t kMaxDimension = 16384;
#if defined(D2U_MAX_PICTURE_AREA)
    // Builds for fuzzing keep the pictures small enough for the fuzzer's memory limit.
    static constexpr int64_t kMaxLumaSamples = D2U_MAX_PICTURE_AREA;
#else
    static constexpr int64_t kMaxLumaSamples = 4096 * 4096;
#endif
    // Coefficient buffer: 16-bit values, enough for twelve blocks and the residual layouts.
    static constexpr int32_t kCoefficientBytes = 12 * 256 + 276;
    // Bytes of one block's coefficients; a macroblock's blocks are cleared before decoding.
    static constexpr int32_t kBlockBytes = 128;
    // Values of chroma_format that decode. 4:4:4 (3) is refused: Init and getMacroblocks
    // return -1 and the reason is logged and published.
    static constexpr uint32_t kChroma420 = 1;
    static constexpr uint32_t kChroma422 = 2;

    CMpegDecoder();
    virtual ~CMpegDecoder();
    CMpegDecoder(const CMpegDecoder&) = delete;
    CMpegDecoder& operator=(const CMpegDecoder&) = delete;

    // Once per stream, after the first picture header: tables, geometry, pictures. 0, or -1
    // when the pictures could not be allocated (the decoder then decodes nothing).
    int32_t Init(CMpegHeaderReader* reader, CBitstreamDataSource* source, MpegHeaders* record);
    // Decodes the picture whose header was just read. 0 when every macroblock position was
    // passed; -1 without a data source, when a start code other than a slice ended the picture
    // early (left unread), or when the picture cannot be decoded.
    int32_t getMacroblocks();
    int32_t Release();

    // For the macroblock loop; always writes into currentFrame.
    int32_t PredictMacroblock(const int16_t* residual, int32_t x, int32_t y);

    // 1 when the last getMacroblocks left a whole frame: a frame picture, or both fields.
    int32_t FrameComplete() const {
        return pendingFieldParity < 0 ? 1 : 0;
    }
    // Whether the last getMacroblocks decoded the second field of a frame whose first field came
    // with an earlier call.
    bool CompletedEarlierFrame() const {
        return completedEarlierFrame;
    }
    // The frame to give a host for `frame`: a reference picture is copied into the host's
    // picture (with the macroblock table, which moves along), anything else is its own.
    CYUVFrame* ForHost(CYUVFrame* frame);
    // 0 when the current sequence could not be set up (too large, or a chroma format that is
    // not decoded): its pictures are not decoded.
    int32_t GeometryReady() const {
        return mb_width > 0 ? 1 : 0;
    }

    CMpegHeaderReader* headerReader = nullptr;  // not owned
    CMpegVlcTables* vlcTables = nullptr;        // owned
    CBlockReconstructor blockReconstructor;
    CMotionVectorReader motionVectorReader;
    CBitstreamDataSource* dataSource = nullptr;  // not owned
    MpegHeaders* headers = nullptr;              // not owned

    int32_t mb_width = 0;
    int32_t mb_height = 0;
    int32_t lumaWidth = 0;
    int32_t lumaHeight = 0;
    int32_t chromaWidth = 0;
    int32_t chromaHeight = 0;
    int32_t blocksPerMacroblock = 6;

    // Owned: three that take turns as references and decoding target, and the host's copy of
    // references (kHostPicture).
    static constexpr int32_t kHostPicture = 3;
    CYUVFrame* pictures[4] = {};
    // Slots over the first three pictures: the wrapper moves them on after each I or P frame
    // (the newer reference becomes the older, the current picture the newer) and remembers the
    // picture it handed out last.
    CYUVFrame* olderReference = nullptr;
    CYUVFrame* newerReference = nullptr;
    CYUVFrame* currentFrame = nullptr;
    CYUVFrame* lastFrame = nullptr;

    int16_t* coefficients = nullptr;  // owned
    int32_t error = 0;

    // Macroblock state, carried from one macroblock to the next.
    uint32_t macroblock_type = 0;
    int32_t motion_type = 0;
    int32_t motion_vector_count = 1;
    int32_t mv_format = 1;
    int32_t mvscale = 0;
    int32_t dct_type = 0;
    int32_t PMV[2][2][2] = {};
    int32_t motion_vertical_field_select[2][2] = {};
    int32_t dmvector[2] = {};

private:
    struct SliceState;

    int32_t ConfigureGeometry();
    static void ReportUnsupportedChromaFormat(uint32_t chromaFormat);
    bool GeometryMatchesSequence() const;
    int32_t DecodePicture(bool secondField);
    bool ReadSecondFieldHeader();
    bool IsSecondFieldOfPending() const;
    int32_t SearchSlice(SliceState& state);
    int32_t DecodeCodedMacroblock(SliceState& state);
    void PrepareSkippedMacroblock(SliceState& state);
    void RecordMacroblock(const SliceState& state);
    void OutputMacroblock(SliceState& state);
    void StartTableRow(SliceState& state) const;
    uint8_t* TableEntry(const SliceState& state) const;
    MacroblockMotion CurrentMotion() const;
    void PrefetchPrediction(const SliceState& state) const;
    void PrefetchNextTarget(const SliceState& state) const;
    void WriteTableEntry(uint8_t* entry, int32_t pattern) const;
    void SetUpPictureModes();
    // A copy of the reader's position (`wordPtr`, `bitOffset`) for a macroblock's header.
    struct BitPosition {
        uint32_t* word;
        int32_t offset;
    };
    BitPosition Position() const;
    void SetPosition(const BitPosition& at);
    static uint32_t PeekWord(const BitPosition& at);
    static void Advance(BitPosition& at, int32_t n);
    int32_t DecodeMacroblockModes(BitPosition& at, uint32_t window);
    struct ModeCode;
    int32_t ModesOf(uint32_t window, ModeCode& code) const;
    void SetUpModeCodes();
    int32_t DecodeMotionAndDctType();
    int32_t DecodeCodedBlockPattern(SliceState& state, BitPosition& at);
    void SetMotionFormat();
    void SetUpMotionFormats();
    int32_t DecodeAddressIncrement(uint32_t window);
    int32_t ReadVectors(BitPosition& at, int32_t s);
    int32_t ReadFieldOrMpeg1Vectors(int32_t s);
    int32_t ReadDualPrimeVector(int32_t s);
    int32_t ReadDmvector();
    int32_t ReconstructBlocks(SliceState& state);
    bool PlacesIntraWhileReading(const SliceState& state, IntraSamples& samples) const;
    void ResetForwardPredictors();
    void SkipMacroblockStuffing();
    void SkipSliceExtraInformation(bool flagSet);
    bool IsFieldPicture() const;
    int32_t CurrentParity() const;
    void FinishPicture();
    int32_t AreasOfPattern(int32_t pattern) const;
    void PrepareResidual(int32_t pattern, bool intra);
    CYUVFrame* BeginFrame();
    void CompleteFrame(CYUVFrame* fillSource);
    void DescribeFrameByFirstField(const PictureInfo& firstField);
    // Gives `holder` the macroblock table that describes the picture decoded last.
    void MoveTableTo(CYUVFrame* holder);

    // macroblock_type with the motion and DCT types that follow it: `used` bits in all, 0 where
    // the general decode or the reserved motion type takes over.
    struct ModeCode {
        uint8_t type = 0;
        uint8_t motion = 0;
        uint8_t dct = 0;
        uint8_t used = 0;
    };
    // macroblock_type takes at most 6 bits, the motion type 2 and dct_type 1.
    static constexpr int32_t kMostModeBits = 9;

    // What stays the same for every macroblock of the picture being decoded. The look-ups are
    // never null: without a table, one of no codewords.
    struct PictureModes {
        const CMpegVlcTables::DirectCode* typeCodes = nullptr;  // macroblock_type look-up
        int32_t typeBits = 0;
        const CMpegVlcTables::DirectCode* patternCodes = nullptr;  // coded_block_pattern
        int32_t patternBits = 0;
        const CMpegVlcTables::DirectCode* incrementCodes = nullptr;  // address increment
        int32_t incrementBits = 0;
        bool mpeg2 = false;
        CMotionVectorReader::FrameVectorCodes vectorCodes[2] = {};  // by direction
        bool field = false;                                         // a field picture
        // motion_vector_count, mv_format and mvscale by motion_type.
        struct MotionFormat {
            int32_t count;
            int32_t format;
            int32_t scale;
        };
        MotionFormat motionFormats[4] = {};
        bool readsMotionType = false;  // frame/field_motion_type present
        bool readsDctType = false;     // dct_type present (for intra or coded macroblocks)
        bool concealment = false;      // intra macroblocks carry concealment vectors
        bool predicted = false;        // a P picture
        // The modes of a macroblock by the next modeBits bits, in one look-up (ModesOf).
        const ModeCode* modeCodes = nullptr;
        int32_t modeBits = 1;
        // The macroblock table of the current picture, in entries; null without one.
        uint8_t* table = nullptr;
        uint32_t tableColumns = 0;
        uint32_t tableRows = 0;
        uint32_t tableRowShift = 0;   // 1 in field pictures: a field row takes every other row
        uint32_t tableRowOffset = 0;  // the parity of a field picture
    };
    PictureModes modes;
    // Whether CompleteFrame fills what the current frame leaves unmarked (set by BeginFrame).
    bool undecodedFilled = false;
    // The picture whose macroblock table describes the picture decoded last.
    CYUVFrame* tableHolder = nullptr;
    bool completedEarlierFrame = false;
    // Whether the intra macroblock just read went into the picture as it was read.
    bool intraWritten = false;
    // The mode look-ups of recent pictures, one per picture type: a picture whose modes read
    // as those of the last picture of its type takes its look-up as it is.
    // What ModesOf reads of the picture's modes.
    struct ModeKey {
        const CMpegVlcTables::DirectCode* typeCodes;
        int32_t typeBits;
        bool readsMotionType;
        bool readsDctType;
        bool concealment;
        bool field;
        bool operator==(const ModeKey& other) const {
            return typeCodes == other.typeCodes && typeBits == other.typeBits &&
                   readsMotionType == other.readsMotionType && readsDctType == other.readsDctType &&
                   concealment == other.concealment && field == other.field;
        }
    };
    struct ModeTable {
        ModeKey key = {};
        int32_t bits = 0;  // 0: not built
        ModeCode codes[1 << kMostModeBits] = {};
    };
    ModeTable modeTables[4];

    CMotionCompensator compensator;
    CFrameCoverage coverage;
    // Areas of the coefficient buffer that may hold non-zero values.
    // (The compensator's area bits: it skips the areas that hold zeros.)
    static constexpr int32_t kLumaResidual = CMotionCompensator::kLumaArea;
    static constexpr int32_t kCbResidual = CMotionCompensator::kCbArea;
    static constexpr int32_t kCrResidual = CMotionCompensator::kCrArea;
    static constexpr int32_t kAllResidualAreas = CMotionCompensator::kAllAreas;
    // The areas of the current macroblock's residual, and those that may hold non-zero values.
    int32_t residualWritten = kAllResidualAreas;
    int32_t residualDirty = kAllResidualAreas;
    // The first field decoded last, while its pair has not been decoded.
    int32_t pendingFieldParity = -1;
    uint32_t pendingTemporalReference = 0;
    uint32_t pendingCodingType = 0;
    uint64_t pendingStartPosition = 0;
    // The sequence the pictures were last set up for (successfully or not).
    struct SequenceShape {
        uint32_t width = 0xFFFFFFFFu;
        uint32_t height = 0xFFFFFFFFu;
        uint32_t interlaced = 0;
        uint32_t chromaFormat = 0;
        bool operator==(const SequenceShape& other) const {
            return width == other.width && height == other.height &&
                   interlaced == other.interlaced && chromaFormat == other.chromaFormat;
        }
    };
    SequenceShape ShapeOfSequence() const;
    SequenceShape configured;
};

}  // namespace d2u
