// The slice and macroblock layers: the slices of one coded picture, read from a reading position,
// into the picture being decoded, predicted from the reference pictures. Everything a slice
// carries over from one macroblock to the next (vectors, DC predictors, quantiser) lives in the
// slice's own loop; what stays for the picture is set by StartPicture.
#pragma once

#include <cstdint>

#include "decoder/block_reconstructor.h"
#include "decoder/frame_coverage.h"
#include "decoder/macroblock.h"
#include "decoder/motion_compensator.h"
#include "decoder/motion_vector_reader.h"
#include "decoder/mpeg_vlc_tables.h"
#include "input/bit_reader.h"
#include "picture/yuv_frame.h"

namespace d2u {

struct MpegHeaders;

// What the slices of one picture decode into and predict from.
struct SliceTargets {
    CYUVFrame* current = nullptr;
    const CYUVFrame* older = nullptr;
    const CYUVFrame* newer = nullptr;
    CFrameCoverage* coverage = nullptr;
    // Whether what the picture leaves undecoded is filled in afterwards: intra macroblocks may
    // then go into the picture while they are read.
    bool fillsUndecoded = false;
    bool secondField = false;  // the second field picture of a frame
    // A macroblock table of the current frame's shape that describes no picture (or null), for
    // slices decoded on several threads.
    MacroblockInfoBlock* spareTable = nullptr;
    int32_t mbWidth = 0;
    int32_t mbHeight = 0;  // macroblock rows of the frame
};

class CSliceDecoder {
public:
    // Coefficient buffer: 16-bit values, enough for twelve blocks and the residual layouts.
    static constexpr int32_t kCoefficientBytes = 12 * 256 + 276;
    // Bytes of one block's coefficients; a macroblock's blocks are cleared before decoding.
    static constexpr int32_t kBlockBytes = 128;

    CSliceDecoder() = default;
    virtual ~CSliceDecoder();
    CSliceDecoder(const CSliceDecoder&) = delete;
    CSliceDecoder& operator=(const CSliceDecoder&) = delete;

    // The code tables (built) stay the caller's. -1 without memory for the coefficients.
    int32_t Init(CMpegVlcTables* tables);
    // Sets up the picture whose headers are in `headers`. False when it cannot be decoded: a
    // coding type other than I, P or B, or no geometry.
    bool StartPicture(const MpegHeaders& headers, const SliceTargets& targets);
    // Decodes every slice of the picture from `bits` up to the next start code that is not a
    // slice's (left unread), or to `end`, the sentinel behind the data. 0 when every
    // macroblock position was passed; -1 when a start code other than a slice's ended the
    // picture early or the data ended.
    int32_t DecodeSlices(BitReader& bits, const uint32_t* end);

    // Slices decoded apart from one another (on several threads), which give the picture
    // DecodeSlices gives when each begins where the one before it ended and writes only
    // macroblocks before the next one's.
    //
    // How a slice ended: at a start code or bits of no macroblock (the next slice is searched
    // for), with every macroblock of the picture decoded, past the data or the picture, at the
    // first macroblock of the slice after it, or at once (a slice header that drops the slice).
    enum class SliceEnd { kStartCode, kPictureFull, kFailed, kOverrun, kDropped };
    // A slice found by ListNextSlice.
    struct ListedSlice {
        BitReader data;      // behind its header; for a dropped slice, where the header ended
        int64_t prefixByte;  // the stream byte of its start code's 00 00 01
        int32_t address;     // of its first macroblock; -1 when the header drops the slice
        int32_t quantiser;
    };
    struct SliceOutcome {
        BitReader end;  // where the search for the next slice begins
        int32_t endAddress;
        SliceEnd how;
    };
    // Listing the slices from `bits` to the first start code that is not a slice's: byte
    // positions count from `*origin`, set here; returns the byte the search starts from.
    static int64_t StartListing(BitReader bits, const uint32_t** origin);
    // The next slice from byte `from` on, its header read, with `from` moved behind its start
    // code; false at a start code that is not a slice's.
    bool ListNextSlice(const uint32_t* origin, int64_t& from, const uint32_t* end,
                       ListedSlice& slice) const;
    // Decodes one listed slice; `limit` is the first address it may not write.
    void DecodeListedSlice(const ListedSlice& slice, const uint32_t* end, int32_t limit,
                           SliceOutcome& outcome);
    // Goes on as DecodeSlices after the last listed slice ended as `last`, from `bits` there.
    int32_t FinishSlices(BitReader& bits, const uint32_t* end, const SliceOutcome& last);
    // The macroblock table the picture's macroblocks are written into, in place of the current
    // frame's: one of the same shape, or null for none.
    void UseTable(const MacroblockInfoBlock* table);
    // Copies into the table in use, from `source` (a table of its shape), the entries of
    // addresses [from, to) and, in a field picture, the rows of the other field: what the
    // picture leaves as the table held it.
    void CopyTableEntries(int32_t from, int32_t to, const uint8_t* source) const;
    void CopyOtherFieldRows(const uint8_t* source) const;
    // The stream byte from which a search for a start code at `bits` reads.
    static int64_t SearchByte(const BitReader& bits, const uint32_t* origin);
    int32_t PictureMacroblocks() const { return modes.total; }

private:
    struct SliceState;
    struct ModeCode;

    SliceEnd DecodeSlice(BitReader& bits, const uint32_t* end, SliceState& state, Macroblock& mb);

    int32_t DecodeSlicesFrom(BitReader& bits, const uint32_t* end, SliceState& state,
                             Macroblock& mb, bool stopWhenFull);
    int32_t FindSlice(BitReader& bits, const uint32_t* end, SliceState& state, Macroblock& mb);
    int32_t ReadSliceHeader(BitReader& bits, const uint32_t* end, uint32_t code,
                            int32_t& quantiser) const;
    void StartSlice(BitReader& bits, SliceState& state, Macroblock& mb, int32_t address);
    int32_t ReadQuantiser(BitReader& bits) const;
    int32_t DecodeCodedMacroblock(BitReader& bits, SliceState& state, Macroblock& mb);
    int32_t DecodeMacroblockModes(BitReader& bits, uint32_t window, Macroblock& mb);
    int32_t DecodeMotionAndDctType(BitReader& bits, Macroblock& mb);
    int32_t DecodeCodedBlockPattern(BitReader& bits, Macroblock& mb);
    int32_t DecodeAddressIncrement(BitReader& bits, uint32_t window);
    int32_t ReadVectors(BitReader& bits, Macroblock& mb, int32_t s);
    int32_t ReadFieldOrMpeg1Vectors(BitReader& bits, Macroblock& mb, int32_t s);
    int32_t ReconstructBlocks(BitReader& bits, SliceState& state, const Macroblock& mb);
    bool PlacesIntraWhileReading(const SliceState& state, const Macroblock& mb,
                                 IntraSamples& samples) const;
    void PrepareSkippedMacroblock(SliceState& state, Macroblock& mb);
    void PrepareResidual(int32_t pattern, bool intra);
    int32_t AreasOfPattern(int32_t pattern) const;
    void OutputMacroblock(SliceState& state, const Macroblock& mb);
    void PrefetchPrediction(const SliceState& state, const Macroblock& mb) const;
    void PrefetchNextTarget(const SliceState& state) const;
    void StartTableRow(SliceState& state) const;
    uint8_t* TableEntry(const SliceState& state) const;
    static void WriteTableEntry(uint8_t* entry, const Macroblock& mb);
    void SetMotionFormat(Macroblock& mb) const;
    void SetUpMotionFormats();
    int32_t ModesOf(uint32_t window, ModeCode& code) const;
    void SetUpModeCodes(uint32_t codingType);
    static void SkipMacroblockStuffing(BitReader& bits, const uint32_t* end);
    static void SkipSliceExtraInformation(BitReader& bits, const uint32_t* end);

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
        uint32_t codingType = 0;
        CMotionVectorReader::FrameVectorCodes vectorCodes[2] = {};  // by direction
        int32_t rSize[2][2] = {};                                   // [s][t]
        int32_t fullPel[2] = {};  // MPEG-1 full_pel_forward/backward_vector
        bool field = false;       // a field picture
        int32_t parity = 0;       // of a field picture: 1 bottom
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
        bool nonLinearQuantiser = false;
        bool sliceExtension = false;  // slices carry slice_vertical_position_extension
        int32_t dcReset = 1024;
        int32_t rows = 0;   // macroblock rows of the picture (of one field in field pictures)
        int32_t total = 0;  // macroblock positions of the picture
        int32_t lumaWidth = 0;
        int32_t blocks = 6;  // per macroblock
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
    // The mode look-ups of recent pictures, one per picture type: a picture whose modes read
    // as those of the last picture of its type takes its look-up as it is.
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

    CMpegVlcTables* vlcTables = nullptr;  // not owned
    CBlockReconstructor blockReconstructor;
    CMotionVectorReader motionVectorReader;
    CMotionCompensator compensator;
    SliceTargets targets;
    int16_t* coefficients = nullptr;  // owned
    // Areas of the coefficient buffer that may hold non-zero values.
    // (The compensator's area bits: it skips the areas that hold zeros.)
    static constexpr int32_t kLumaResidual = CMotionCompensator::kLumaArea;
    static constexpr int32_t kCbResidual = CMotionCompensator::kCbArea;
    static constexpr int32_t kCrResidual = CMotionCompensator::kCrArea;
    static constexpr int32_t kAllResidualAreas = CMotionCompensator::kAllAreas;
    // The areas of the current macroblock's residual, and those that may hold non-zero values.
    int32_t residualWritten = kAllResidualAreas;
    int32_t residualDirty = kAllResidualAreas;
    // Whether the intra macroblock just read went into the picture as it was read.
    bool intraWritten = false;
};

}  // namespace d2u
