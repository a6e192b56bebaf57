#include "decoder/slice_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_tables.h"
#include "input/start_codes.h"
#include "platform/inline_hints.h"
#include "primitives/prefetch.h"

namespace d2u {
namespace {

// MPEG-2 pictures taller than this carry slice_vertical_position_extension in their slice
// headers.
constexpr uint32_t kSliceExtensionHeight = 2800;
constexpr uint32_t kMacroblockStuffing = 0x00F;  // 0000 0001 111, MPEG-1 only

// Zeroes a few hundred bytes of the coefficient buffer (a multiple of 64 bytes
// long) with plain vector stores: the string instruction a library memset picks for such sizes
// costs more to start than the stores themselves.
void ZeroResidualBytes(int16_t* area, size_t bytes) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i* out = reinterpret_cast<__m128i*>(area);
    for (size_t i = 0; i < bytes / 16; i += 4) {
        _mm_storeu_si128(out + i, zero);
        _mm_storeu_si128(out + i + 1, zero);
        _mm_storeu_si128(out + i + 2, zero);
        _mm_storeu_si128(out + i + 3, zero);
    }
#else
    std::memset(area, 0, bytes);
#endif
}

}  // namespace

// Locals of one picture's macroblock loop.
struct CSliceDecoder::SliceState {
    int32_t address = 0;
    int32_t increment = 0;
    int32_t dc[3] = {};
    // The stream's next bits where the coded macroblock at `address` starts, found with its
    // address increment: 31 or 32 of them, more than the 9 its modes take.
    uint32_t window = 0;
    int32_t x = 0;
    int32_t y = 0;
    // The table entries of the macroblock row at y, and how many of its columns the table has
    // (0 without a table or outside it).
    uint8_t* rowEntries = nullptr;
    uint32_t rowColumns = 0;
    // The first address the slice may not write: the picture's end, or the next slice's
    // first macroblock when slices are decoded apart.
    int32_t limit = 0;
};

CSliceDecoder::~CSliceDecoder() {
    delete[] coefficients;
}

int32_t CSliceDecoder::Init(CMpegVlcTables* tables) {
    vlcTables = tables;
    motionVectorReader.Init(tables);
    blockReconstructor.Init(tables);
    if (!coefficients) coefficients = new (std::nothrow) int16_t[kCoefficientBytes / 2 + 8]();
    return coefficients ? 0 : -1;
}

bool CSliceDecoder::StartPicture(const MpegHeaders& headers, const SliceTargets& pictureTargets) {
    targets = pictureTargets;
    const PictureInfo& picture = headers.picture;
    if (!vlcTables || !coefficients || !targets.current || !targets.coverage ||
        picture.picture_coding_type < kPictureI || picture.picture_coding_type > kPictureB ||
        targets.mbWidth <= 0) {
        return false;
    }
    PictureGeometry geometry;
    geometry.picture_coding_type = picture.picture_coding_type;
    geometry.picture_structure = picture.picture_structure;
    geometry.top_field_first = picture.top_field_first;
    geometry.secondField = targets.secondField;
    geometry.chromaFormat = headers.sequence.chroma_format;
    compensator.SetGeometry(geometry);
    compensator.SetPictures(targets.current, targets.older, targets.newer);
    compensator.SetCoverage(targets.coverage);
    blockReconstructor.StartPicture(headers);

    modes.mpeg2 = headers.sequence.mpeg2 != 0;
    modes.codingType = picture.picture_coding_type;
    modes.field = picture.picture_structure != kFramePicture;
    modes.parity = picture.picture_structure == kBottomField ? 1 : 0;
    modes.dcReset = modes.mpeg2 ? (128 << (picture.intra_dc_precision & 3)) : 1024;
    modes.rows = modes.field ? targets.mbHeight / 2 : targets.mbHeight;
    modes.total = targets.mbWidth * modes.rows;
    modes.lumaWidth = targets.mbWidth * 16;
    modes.blocks = headers.sequence.chroma_format == 2 ? 8 : 6;
    modes.nonLinearQuantiser = modes.mpeg2 && picture.q_scale_type == 1;
    modes.sliceExtension = modes.mpeg2 && headers.sequence.vertical_size > kSliceExtensionHeight;
    modes.incrementCodes = vlcTables->AddressIncrementLookup(&modes.incrementBits);
    for (int32_t s = 0; s < 2; ++s) {
        modes.rSize[s][0] = static_cast<int32_t>(picture.f_code[s][0]);
        modes.rSize[s][1] = static_cast<int32_t>(picture.f_code[s][1]);
        modes.vectorCodes[s] =
            CMotionVectorReader::FrameVectorCodesFor(modes.rSize[s][0], modes.rSize[s][1]);
    }
    if (!modes.mpeg2) {
        // MPEG-1 keeps one r_size per direction in the picture header.
        const int32_t sizes[2] = {static_cast<int32_t>(picture.forward_r_size),
                                  static_cast<int32_t>(picture.backward_r_size)};
        for (int32_t s = 0; s < 2; ++s) modes.rSize[s][0] = modes.rSize[s][1] = sizes[s];
    }
    modes.fullPel[0] = static_cast<int32_t>(picture.full_pel_forward_vector);
    modes.fullPel[1] = static_cast<int32_t>(picture.full_pel_backward_vector);
    modes.patternCodes = vlcTables->CodedBlockPatternLookup(&modes.patternBits);
    modes.typeCodes = vlcTables->MacroblockTypeLookup(
        static_cast<int32_t>(picture.picture_coding_type), &modes.typeBits);
    // Without a look-up, one of no codewords: every code then takes the general decode.
    static constexpr CMpegVlcTables::DirectCode kNoCodes[2] = {};
    for (auto lookup : {std::make_pair(&modes.typeCodes, &modes.typeBits),
                        std::make_pair(&modes.patternCodes, &modes.patternBits),
                        std::make_pair(&modes.incrementCodes, &modes.incrementBits)}) {
        if (*lookup.first) continue;
        *lookup.first = kNoCodes;
        *lookup.second = 1;
    }
    SetUpMotionFormats();
    modes.readsMotionType = modes.field || !picture.frame_pred_frame_dct;
    modes.readsDctType = !modes.field && !picture.frame_pred_frame_dct;
    modes.concealment = modes.mpeg2 && picture.concealment_motion_vectors;
    modes.predicted = picture.picture_coding_type == kPictureP;
    SetUpModeCodes(picture.picture_coding_type);
    UseTable(targets.current->mbInfo);
    return true;
}

void CSliceDecoder::UseTable(const MacroblockInfoBlock* table) {
    modes.table = table ? table->entries : nullptr;
    modes.tableColumns = table && table->columns > 0 ? static_cast<uint32_t>(table->columns) : 0;
    modes.tableRows = table && table->rows > 0 ? static_cast<uint32_t>(table->rows) : 0;
    modes.tableRowShift = modes.field ? 1 : 0;
    modes.tableRowOffset = modes.field ? static_cast<uint32_t>(modes.parity) : 0;
}

int32_t CSliceDecoder::DecodeSlices(BitReader& bits, const uint32_t* end) {
    SliceState state;
    state.limit = modes.total;
    Macroblock mb;
    return DecodeSlicesFrom(bits, end, state, mb, true);
}

int32_t CSliceDecoder::DecodeSlicesFrom(BitReader& bits, const uint32_t* end, SliceState& state,
                                        Macroblock& mb, bool stopWhenFull) {
    for (;;) {
        if (stopWhenFull && state.address >= modes.total) return 0;
        stopWhenFull = true;
        const int32_t found = FindSlice(bits, end, state, mb);
        if (found <= 0) return found;
        switch (DecodeSlice(bits, end, state, mb)) {
            case SliceEnd::kStartCode:
            case SliceEnd::kDropped:
                break;
            case SliceEnd::kPictureFull:
                return 0;
            case SliceEnd::kFailed:
            case SliceEnd::kOverrun:
                return -1;
        }
    }
}

void CSliceDecoder::DecodeListedSlice(const ListedSlice& slice, const uint32_t* end, int32_t limit,
                                      SliceOutcome& outcome) {
    outcome.end = slice.data;
    outcome.endAddress = slice.address;
    if (slice.address < 0) {
        outcome.how = SliceEnd::kDropped;
        return;
    }
    SliceState state;
    state.limit = limit;
    Macroblock mb;
    mb.quantiser = slice.quantiser;
    StartSlice(outcome.end, state, mb, slice.address);
    outcome.how = DecodeSlice(outcome.end, end, state, mb);
    outcome.endAddress = state.address;
}

int32_t CSliceDecoder::FinishSlices(BitReader& bits, const uint32_t* end,
                                    const SliceOutcome& last) {
    SliceState state;
    state.limit = modes.total;
    state.address = last.endAddress;
    Macroblock mb;
    switch (last.how) {
        case SliceEnd::kPictureFull:
            return 0;
        case SliceEnd::kFailed:
        case SliceEnd::kOverrun:
            return -1;
        case SliceEnd::kStartCode:
            return DecodeSlicesFrom(bits, end, state, mb, true);
        case SliceEnd::kDropped:
            break;
    }
    // A dropped slice leaves the search going on without a look at the address.
    return DecodeSlicesFrom(bits, end, state, mb, false);
}

void CSliceDecoder::CopyTableEntries(int32_t from, int32_t to, const uint8_t* source) const {
    if (!modes.table || from < 0 || to > modes.total) return;
    const int32_t width = targets.mbWidth;
    for (int32_t address = from; address < to;) {
        const int32_t row = address / width;
        const int32_t column = address % width;
        const int32_t columns = std::min(to - address, width - column);
        address += columns;
        const uint32_t tableRow =
            (static_cast<uint32_t>(row) << modes.tableRowShift) + modes.tableRowOffset;
        if (tableRow >= modes.tableRows || static_cast<uint32_t>(column) >= modes.tableColumns)
            continue;
        const uint32_t kept = std::min(static_cast<uint32_t>(columns),
                                       modes.tableColumns - static_cast<uint32_t>(column));
        const size_t offset =
            (static_cast<size_t>(tableRow) * modes.tableColumns + static_cast<uint32_t>(column)) *
            MacroblockInfoBlock::kEntryBytes;
        std::memcpy(modes.table + offset, source + offset,
                    static_cast<size_t>(kept) * MacroblockInfoBlock::kEntryBytes);
    }
}

void CSliceDecoder::CopyOtherFieldRows(const uint8_t* source) const {
    if (!modes.table || !modes.field) return;
    const size_t rowBytes =
        static_cast<size_t>(modes.tableColumns) * MacroblockInfoBlock::kEntryBytes;
    for (uint32_t row = modes.tableRowOffset ^ 1; row < modes.tableRows; row += 2)
        std::memcpy(modes.table + row * rowBytes, source + row * rowBytes, rowBytes);
}

int64_t CSliceDecoder::SearchByte(const BitReader& bits, const uint32_t* origin) {
    const int64_t bit = static_cast<int64_t>(bits.Word() - origin) * 32 + (31 - bits.Offset());
    return (bit + 7) >> 3;
}

int64_t CSliceDecoder::StartListing(BitReader bits, const uint32_t** origin) {
    bits.AlignToByte();
    *origin = bits.Word();
    return (31 - bits.Offset()) / 8;
}

bool CSliceDecoder::ListNextSlice(const uint32_t* origin, int64_t& from, const uint32_t* end,
                                  ListedSlice& slice) const {
    const int64_t prefix = NextStartCodePrefix(origin, from, end);
    const uint32_t code = StreamByte(origin, prefix + 3);
    if (code < kFirstSliceStartCode || code > kLastSliceStartCode) return false;
    slice.prefixByte = prefix;
    const int64_t header = prefix + 4;
    slice.data.Seek(origin + (header >> 2), 31 - 8 * static_cast<int32_t>(header & 3));
    slice.address = ReadSliceHeader(slice.data, end, code, slice.quantiser);
    from = header;
    return true;
}

// The macroblocks of the slice just started, up to the next start code or to bits that decode
// to no macroblock (the rest of the slice is then dropped, and what the picture held there
// stays).
D2U_NOINLINE CSliceDecoder::SliceEnd CSliceDecoder::DecodeSlice(BitReader& bits,
                                                                const uint32_t* end,
                                                                SliceState& state, Macroblock& mb) {
    for (;;) {
        if (bits.Word() > end) return SliceEnd::kFailed;
        if (state.increment == 0) {
            if (!modes.mpeg2) SkipMacroblockStuffing(bits, end);
            // The next 32 bits: 23 zeros start a slice; otherwise the address increment.
            const uint32_t window = bits.Peek32();
            if ((window >> 9) == 0) return SliceEnd::kStartCode;
            if (state.address >= state.limit) {
                return state.limit == modes.total ? SliceEnd::kPictureFull : SliceEnd::kOverrun;
            }
            if (window >> 31) {
                // The commonest increment, 1, is the single bit 1.
                bits.Skip(1);
                state.increment = 1;
                state.window = window << 1;
            } else {
                const int32_t increment = DecodeAddressIncrement(bits, window);
                if (increment < 1) return SliceEnd::kStartCode;
                state.increment = increment;
                state.window = bits.Peek32();
            }
        }
        if (state.address >= state.limit) {
            return state.limit == modes.total ? SliceEnd::kFailed : SliceEnd::kOverrun;
        }
        PrefetchNextTarget(state);
        // The stream 256 bytes on, a dozen macroblocks ahead at DVD rates: the coefficient
        // reader's refills otherwise wait for the next line now and then.
        PrefetchForRead(bits.Word() + 64);
        if (state.increment > 1) {
            PrepareSkippedMacroblock(state, mb);
        } else if (DecodeCodedMacroblock(bits, state, mb) != 0) {
            return SliceEnd::kStartCode;
        }
        OutputMacroblock(state, mb);
        --state.increment;
        ++state.address;
        // The position follows the address without a division per macroblock.
        state.x += 16;
        if (state.x >= modes.lumaWidth) {
            state.x = 0;
            state.y += 16;
            StartTableRow(state);
        }
    }
}

// Finds the next slice and starts it: 1 with the first macroblock's address set, -1 at a start
// code that is not a slice (left unread).
int32_t CSliceDecoder::FindSlice(BitReader& bits, const uint32_t* end, SliceState& state,
                                 Macroblock& mb) {
    for (;;) {
        if (bits.Word() > end) return -1;
        const uint32_t code = FindStartCode(bits, end);
        if (code < kFirstSliceStartCode || code > kLastSliceStartCode) {
            UnreadStartCode(bits);
            return -1;
        }
        const int32_t address = ReadSliceHeader(bits, end, code, mb.quantiser);
        if (address < 0) continue;  // the whole slice is dropped
        StartSlice(bits, state, mb, address);
        return 1;
    }
}

// The header of the slice with start code `code`, up to its first address increment: the first
// macroblock's address, or -1 when the header drops the slice.
int32_t CSliceDecoder::ReadSliceHeader(BitReader& bits, const uint32_t* end, uint32_t code,
                                       int32_t& quantiser) const {
    const uint32_t extension = modes.sliceExtension ? bits.Get(3) : 0;
    // The bit after quantiser_scale_code announces extra slice information.
    const bool extraInformation = (bits.Peek(6) & 1) != 0;
    quantiser = ReadQuantiser(bits);
    bits.Skip(1);  // extra_bit_slice
    if (extraInformation) SkipSliceExtraInformation(bits, end);
    if (!modes.mpeg2) SkipMacroblockStuffing(bits, end);
    int32_t increment = 0;
    if (vlcTables->DecodeMacroblockAddressIncrement(bits, &increment) != 0 || increment < 1)
        return -1;
    const int64_t row = static_cast<int64_t>(extension << 7) + code - 1;
    const int64_t address = row * targets.mbWidth + increment - 1;
    if (row >= modes.rows || address >= modes.total) return -1;
    return static_cast<int32_t>(address);
}

void CSliceDecoder::StartSlice(BitReader& bits, SliceState& state, Macroblock& mb,
                               int32_t address) {
    state.address = address;
    state.x = (address % targets.mbWidth) * 16;
    state.y = (address / targets.mbWidth) * 16;
    StartTableRow(state);
    state.increment = 1;
    state.window = bits.Peek32();
    state.dc[0] = state.dc[1] = state.dc[2] = modes.dcReset;
    std::memset(mb.motion.vector, 0, sizeof mb.motion.vector);
}

// quantiser_scale_code, mapped to the quantiser scale.
int32_t CSliceDecoder::ReadQuantiser(BitReader& bits) const {
    const uint32_t code = bits.Get(5);
    if (!modes.mpeg2) return static_cast<int32_t>(code);
    return modes.nonLinearQuantiser ? kNonLinearQuantiserScale[code]
                                    : static_cast<int32_t>(2 * code);
}

void CSliceDecoder::SkipSliceExtraInformation(BitReader& bits, const uint32_t* end) {
    // intra_slice and the reserved bits (MPEG-2), or the first extra byte (MPEG-1), then any
    // further extra bytes, each announced by a 1 bit; a 0 bit ends them.
    bits.Skip(8);
    while (bits.GetBit() == 1 && bits.Word() <= end) bits.Skip(8);
}

void CSliceDecoder::SkipMacroblockStuffing(BitReader& bits, const uint32_t* end) {
    while (bits.Peek(11) == kMacroblockStuffing && bits.Word() <= end) bits.Skip(11);
}

// The increment whose codeword starts the 32 bits `window` (the next ones of the stream); 0
// for bits of no codeword or too many escapes.
int32_t CSliceDecoder::DecodeAddressIncrement(BitReader& bits, uint32_t window) {
    const CMpegVlcTables::DirectCode code =
        modes.incrementCodes[window >> (32 - modes.incrementBits)];
    if (code.length != 0) {
        bits.Skip(code.length);
        return code.value;
    }
    int32_t increment = 0;
    if (vlcTables->DecodeMacroblockAddressIncrement(bits, &increment) != 0) return 0;
    return increment;
}

// The modes that the 32 bits `window` begin with when macroblock_type has a direct code: the
// bits they take, 0 without a direct code, or minus the bits up to a reserved motion type.
int32_t CSliceDecoder::ModesOf(uint32_t window, ModeCode& code) const {
    code = ModeCode{};
    const CMpegVlcTables::DirectCode type = modes.typeCodes[window >> (32 - modes.typeBits)];
    if (type.length == 0) return 0;
    const uint32_t flags = static_cast<uint32_t>(type.value);
    int32_t used = type.length;
    uint32_t rest = window << used;
    code.type = static_cast<uint8_t>(flags);
    code.motion = kMotionNone;
    if (flags & (kMacroblockMotionForward | kMacroblockMotionBackward)) {
        if (modes.readsMotionType) {
            code.motion = static_cast<uint8_t>(rest >> 30);
            rest <<= 2;
            used += 2;
            if (code.motion == kMotionNone) return -used;
        } else {
            code.motion = kMotionFrame;
        }
    } else if ((flags & kMacroblockIntra) && modes.concealment) {
        code.motion = modes.field ? kMotionField : kMotionFrame;
    }
    if (modes.readsDctType && (flags & (kMacroblockIntra | kMacroblockPattern))) {
        code.dct = static_cast<uint8_t>(rest >> 31);
        used += 1;
    }
    return used;
}

// The modes of every value of the next modeBits bits, which hold them all; built again only
// when they read otherwise than for the last picture of the same type.
void CSliceDecoder::SetUpModeCodes(uint32_t codingType) {
    ModeTable& table = modeTables[codingType & 3];
    modes.modeCodes = table.codes;
    const ModeKey key = {modes.typeCodes,    modes.typeBits,    modes.readsMotionType,
                         modes.readsDctType, modes.concealment, modes.field};
    if (table.bits != 0 && table.key == key) {
        modes.modeBits = table.bits;
        return;
    }
    table.key = key;
    modes.modeBits = modes.typeBits + 3;
    if (modes.modeBits > kMostModeBits) {
        // Longer type codes than MPEG has: every macroblock takes the general decode.
        modes.modeBits = 1;
        table.codes[0] = table.codes[1] = ModeCode{};
    } else {
        for (uint32_t i = 0; i < (1u << modes.modeBits); ++i) {
            ModeCode& code = table.codes[i];
            const int32_t used = ModesOf(i << (32 - modes.modeBits), code);
            code.used = static_cast<uint8_t>(used > 0 ? used : 0);
        }
    }
    table.bits = modes.modeBits;
}

// macroblock_type, the motion type and dct_type are taken from the next bits the address
// increment left in `window`, in one look-up, and the position moves once.
int32_t CSliceDecoder::DecodeMacroblockModes(BitReader& bits, uint32_t window, Macroblock& mb) {
    ModeCode code = modes.modeCodes[window >> (32 - modes.modeBits)];
    int32_t used = code.used;
    if (used == 0) used = ModesOf(window, code);  // no direct code, or the reserved motion type
    if (used == 0) {
        // Bits of no codeword: the general decode gives the status.
        int32_t decoded = 0;
        const int32_t status =
            vlcTables->DecodeMacroblockType(bits, &decoded, static_cast<int32_t>(modes.codingType));
        if (status != 0) return status;
        mb.motion.macroblock_type = static_cast<uint32_t>(decoded);
        return DecodeMotionAndDctType(bits, mb);
    }
    if (used < 0) {  // the reserved motion type
        bits.Skip(-used);
        mb.motion.macroblock_type = code.type;
        mb.motion.motion_type = kMotionNone;
        return -1;
    }
    bits.Skip(used);
    mb.motion.macroblock_type = code.type;
    mb.motion.motion_type = code.motion;
    mb.dctType = code.dct;
    SetMotionFormat(mb);
    return 0;
}

// The rest of the modes after a macroblock_type taken by the general decode.
int32_t CSliceDecoder::DecodeMotionAndDctType(BitReader& bits, Macroblock& mb) {
    const uint32_t type = mb.Type();
    int32_t& motionType = mb.motion.motion_type;
    if (type & (kMacroblockMotionForward | kMacroblockMotionBackward)) {
        if (modes.readsMotionType) {
            motionType = static_cast<int32_t>(bits.Get(2));
            if (motionType == kMotionNone) return -1;  // reserved
        } else {
            motionType = kMotionFrame;
        }
    } else if ((type & kMacroblockIntra) && modes.concealment) {
        motionType = modes.field ? kMotionField : kMotionFrame;
    } else {
        motionType = kMotionNone;
    }
    mb.dctType = 0;
    if (modes.readsDctType && (type & (kMacroblockIntra | kMacroblockPattern))) {
        mb.dctType = static_cast<int32_t>(bits.GetBit());
    }
    SetMotionFormat(mb);
    return 0;
}

void CSliceDecoder::SetMotionFormat(Macroblock& mb) const {
    const PictureModes::MotionFormat& format = modes.motionFormats[mb.motion.motion_type & 3];
    mb.vectorCount = format.count;
    mb.vectorFormat = format.format;
    mb.vectorScale = format.scale;
}

// The vector count, vector format and scaling of each motion_type in the current picture.
void CSliceDecoder::SetUpMotionFormats() {
    for (int32_t type = 0; type < 4; ++type) {
        PictureModes::MotionFormat& format = modes.motionFormats[type];
        if (modes.field) {
            format.format = 0;
            format.count = type == kMotion16x8 ? 2 : 1;
        } else {
            format.count = type == kMotionField ? 2 : 1;
            format.format = type == kMotionFrame ? 1 : 0;
        }
        format.scale = (!modes.field && format.format == 0) ? 1 : 0;
    }
}

int32_t CSliceDecoder::ReadVectors(BitReader& bits, Macroblock& mb, int32_t s) {
    if (modes.mpeg2 && mb.vectorCount == 1 && mb.vectorFormat == 1) {
        // Frame motion: one vector, the predictor of both rows.
        int32_t(&vector)[2][2][2] = mb.motion.vector;
        return motionVectorReader.ReadFrameVector(bits, vector[0][s], modes.vectorCodes[s],
                                                  vector[1][s]);
    }
    return ReadFieldOrMpeg1Vectors(bits, mb, s);
}

// Kept out of ReadVectors, so that the common frame vector needs no saved registers.
D2U_NOINLINE int32_t CSliceDecoder::ReadFieldOrMpeg1Vectors(BitReader& bits, Macroblock& mb,
                                                            int32_t s) {
    int32_t(&vector)[2][2][2] = mb.motion.vector;
    const int32_t* sizes = modes.rSize[s];
    if (!modes.mpeg2) {
        if (modes.fullPel[s] == 0)
            return motionVectorReader.ReadFrameVector(bits, vector[0][s], sizes[0], sizes[1]);
        return motionVectorReader.ReadMotionVector(bits, vector[0][s], sizes[0], sizes[1], 0,
                                                   modes.fullPel[s]);
    }
    if (mb.motion.motion_type == kMotionDualPrime && !(mb.Type() & kMacroblockIntra)) {
        return motionVectorReader.ReadDualPrimeVector(bits, vector, mb.motion.dmvector, s, sizes[0],
                                                      sizes[1], mb.vectorScale);
    }
    return motionVectorReader.ReadFieldVectors(bits, vector, mb.motion.motion_vertical_field_select,
                                               s, mb.vectorCount, modes.vectorCodes[s],
                                               mb.vectorScale);
}

int32_t CSliceDecoder::ReconstructBlocks(BitReader& bits, SliceState& state, const Macroblock& mb) {
    const uint32_t pattern = static_cast<uint32_t>(mb.pattern);
    if (mb.Type() & kMacroblockIntra) {
        IntraSamples samples;
        intraWritten = PlacesIntraWhileReading(state, mb, samples);
        return blockReconstructor.ReadIntraMacroblock(bits, pattern, mb.quantiser, coefficients,
                                                      state.dc, intraWritten ? &samples : nullptr);
    }
    intraWritten = false;
    return blockReconstructor.ReadNonIntraMacroblock(bits, pattern, mb.dctType == 1, mb.quantiser,
                                                     coefficients);
}

// An intra macroblock goes into the picture block by block as it is read, so that each block's
// transform runs while the next is read, when a failure half way would leave no trace: a 4:2:0
// frame macroblock wholly inside the picture, where nothing of this picture is yet, in a frame
// whose undecoded parts are filled in afterwards. (In a field picture the coverage unit at the
// macroblock's position belongs to another macroblock row, which another thread may write.)
bool CSliceDecoder::PlacesIntraWhileReading(const SliceState& state, const Macroblock& mb,
                                            IntraSamples& samples) const {
    return targets.fillsUndecoded && !modes.field && modes.blocks == 6 && mb.pattern == 0x3F &&
           targets.coverage->FrameMacroblockBlank(state.x, state.y) &&
           compensator.PlaceIntraMacroblock420(state.x, state.y, mb.dctType == 1, samples);
}

// The residual areas (luma, Cb, Cr) that the coded blocks of a pattern write; looked up, as
// the pattern of a 4:2:0 macroblock has six bits.
int32_t CSliceDecoder::AreasOfPattern(int32_t pattern) const {
    if (modes.blocks != 6) return kAllResidualAreas;
    struct AreaTable {
        uint8_t areas[64];
    };
    static constexpr AreaTable kAreasOf = [] {
        AreaTable table{};
        for (int32_t bits = 0; bits < 64; ++bits) {
            table.areas[bits] = static_cast<uint8_t>(((bits & 0x3C) ? kLumaResidual : 0) |
                                                     ((bits & 2) ? kCbResidual : 0) |
                                                     ((bits & 1) ? kCrResidual : 0));
        }
        return table;
    }();
    return kAreasOf.areas[pattern & 63];
}

// Makes the residual of a coded macroblock start from zero where its coded blocks leave
// values unwritten, and records the areas it covers. Zeroing waits until an area is used
// again: skipped macroblocks use none, a coded chroma block overwrites its whole area, and so
// do four coded luma blocks; intra macroblocks write every block whole.
void CSliceDecoder::PrepareResidual(int32_t pattern, bool intra) {
    if (intra) {
        residualWritten = residualDirty = kAllResidualAreas;
        return;
    }
    residualWritten = AreasOfPattern(pattern);
    if (modes.blocks != 6) {
        ZeroResidualBytes(coefficients, static_cast<size_t>(modes.blocks) * kBlockBytes);
        residualDirty = residualWritten;
        return;
    }
    constexpr int32_t kAllLumaBlocks = 0x3C;
    if ((residualWritten & residualDirty & kLumaResidual) &&
        (pattern & kAllLumaBlocks) != kAllLumaBlocks)
        ZeroResidualBytes(coefficients, 512);
    residualDirty |= residualWritten;
}

// Inlined into the macroblock loop: a call cost more than the values the two then share.
D2U_ALWAYS_INLINE int32_t CSliceDecoder::DecodeCodedMacroblock(BitReader& bits, SliceState& state,
                                                               Macroblock& mb) {
    if (DecodeMacroblockModes(bits, state.window, mb) != 0) return -1;
    const uint32_t type = mb.Type();
    const bool intra = (type & kMacroblockIntra) != 0;
    const bool concealment = intra && modes.concealment;
    if (type & kMacroblockQuant) mb.quantiser = ReadQuantiser(bits);
    if ((type & kMacroblockMotionForward) || concealment) {
        if (ReadVectors(bits, mb, 0) != 0) return -1;
    }
    if (type & kMacroblockMotionBackward) {
        if (ReadVectors(bits, mb, 1) != 0) return -1;
    }
    if (concealment) bits.Skip(1);  // marker bit
    if (!intra && compensator.PrefetchesAhead()) PrefetchPrediction(state, mb);

    if (type & kMacroblockPattern) {
        if (DecodeCodedBlockPattern(bits, mb) != 0) return -1;
    } else {
        mb.pattern = intra ? (1 << modes.blocks) - 1 : 0;
    }
    PrepareResidual(mb.pattern, intra);
    if (ReconstructBlocks(bits, state, mb) != 0) {
        // A failed macroblock may have written anywhere.
        residualWritten = residualDirty = kAllResidualAreas;
        return -1;
    }

    int32_t(&vector)[2][2][2] = mb.motion.vector;
    if (!intra) state.dc[0] = state.dc[1] = state.dc[2] = modes.dcReset;
    if (intra && !concealment) std::memset(vector, 0, sizeof vector);
    if (modes.predicted && !intra && !(type & kMacroblockMotionForward)) {
        // No motion compensation: a zero vector, frame prediction, or in field pictures field
        // prediction from the field of the same parity.
        vector[0][0][0] = vector[0][0][1] = vector[1][0][0] = vector[1][0][1] = 0;
        if (modes.field) {
            mb.motion.motion_type = kMotionField;
            mb.motion.motion_vertical_field_select[0][0] =
                mb.motion.motion_vertical_field_select[1][0] = modes.parity;
        } else {
            mb.motion.motion_type = kMotionFrame;
        }
    }
    return 0;
}

// coded_block_pattern (with coded_block_pattern_1 of 4:2:2, blocks 6 and 7 in its two bits).
int32_t CSliceDecoder::DecodeCodedBlockPattern(BitReader& bits, Macroblock& mb) {
    const uint32_t window = bits.Peek32();
    const CMpegVlcTables::DirectCode code = modes.patternCodes[window >> (32 - modes.patternBits)];
    int32_t pattern = code.value;
    int32_t used = code.length;
    if (used == 0) {
        // Bits of no codeword: the general decode gives the status.
        const int32_t status = vlcTables->DecodeCodedBlockPattern(bits, &pattern);
        if (status != 0) return status;
        if (modes.blocks == 8) pattern = (pattern << 2) | static_cast<int32_t>(bits.Get(2));
        mb.pattern = pattern;
        return 0;
    }
    if (modes.blocks == 8) {
        pattern = (pattern << 2) | static_cast<int32_t>((window << used) >> 30);
        used += 2;
    }
    bits.Skip(used);
    mb.pattern = pattern;
    return 0;
}

void CSliceDecoder::PrepareSkippedMacroblock(SliceState& state, Macroblock& mb) {
    residualWritten = 0;
    state.dc[0] = state.dc[1] = state.dc[2] = modes.dcReset;
    int32_t(&vector)[2][2][2] = mb.motion.vector;
    if (modes.predicted) vector[0][0][0] = vector[0][0][1] = vector[1][0][0] = vector[1][0][1] = 0;
    // Skipped macroblocks predict with a single vector per direction: frame prediction in
    // frame pictures, and in field pictures from the field of the same parity. B pictures keep
    // the previous macroblock's directions and vectors.
    if (modes.field) {
        mb.motion.motion_type = kMotionField;
        for (auto& r : mb.motion.motion_vertical_field_select) r[0] = r[1] = modes.parity;
    } else {
        mb.motion.motion_type = kMotionFrame;
    }
    mb.motion.macroblock_type &= ~kMacroblockIntra;
    mb.pattern = 0;
}

void CSliceDecoder::OutputMacroblock(SliceState& state, const Macroblock& mb) {
    // The table entry is asked for before the samples are formed: the picture's table is too
    // large to stay in cache, and its line is then there by the time it is written.
    uint8_t* entry = TableEntry(state);
#if defined(__GNUC__)
    if (entry) {
        __builtin_prefetch(entry, 1);
        __builtin_prefetch(entry + MacroblockInfoBlock::kEntryBytes - 1, 1);
    }
#endif
    if (mb.Type() & kMacroblockIntra) {
        if (!intraWritten) {
            compensator.WriteIntraMacroblock(coefficients, mb.pattern, modes.blocks, state.x,
                                             state.y, mb.dctType == 1);
        }
        if (modes.field) {
            targets.coverage->MarkRegion(modes.parity, state.x, state.y, 16);
        } else {
            targets.coverage->MarkFrameMacroblock(state.x, state.y);
        }
    } else {
        compensator.SetResidualAreas(residualWritten);
        if (compensator.FramePrediction420() && mb.motion.motion_type == kMotionFrame) {
            compensator.PredictFrameBlock420(
                mb.Type() & (kMacroblockMotionForward | kMacroblockMotionBackward),
                mb.motion.vector[0], coefficients, state.x, state.y);
        } else {
            compensator.PredictMacroblock(mb.motion, coefficients, state.x, state.y);
        }
    }
    if (entry) WriteTableEntry(entry, mb);
}

// The reference blocks of the macroblock's prediction are asked for while its coefficients
// are decoded.
void CSliceDecoder::PrefetchPrediction(const SliceState& state, const Macroblock& mb) const {
    if (compensator.FramePrediction420() && mb.motion.motion_type == kMotionFrame) {
        compensator.PrefetchFrameBlock(
            mb.Type() & (kMacroblockMotionForward | kMacroblockMotionBackward), mb.motion.vector[0],
            state.x, state.y);
    } else {
        compensator.PrefetchReferences(mb.motion, state.x, state.y);
    }
}

// The current picture's lines are written a 64-byte column of macroblocks at a time: the last
// macroblock of a column asks for the lines of the next one, which the prediction then writes
// without waiting for them.
void CSliceDecoder::PrefetchNextTarget(const SliceState& state) const {
    constexpr int32_t kLineWidth = 64;
    if ((state.x & (kLineWidth - 1)) != kLineWidth - 16) return;
    const int32_t x = state.x + 16;
    if (x >= modes.lumaWidth || modes.field) return;
    const CYUVFrame& current = *targets.current;
    const YUVPlane& luma = current.Y;
    if (!luma.data || state.y + 16 > luma.height) return;
    const uint8_t* row = luma.data + static_cast<ptrdiff_t>(state.y) * luma.pitch + x;
    PrefetchRowsForRead<16>(row, luma.pitch);
    if ((x & (2 * kLineWidth - 1)) != 0) return;  // a chroma line holds eight macroblocks
    for (const YUVPlane* plane : {&current.U, &current.V}) {
        const int32_t chromaRows = modes.blocks == 8 ? 16 : 8;
        const int32_t top = modes.blocks == 8 ? state.y : state.y / 2;
        if (!plane->data || top + chromaRows > plane->height) continue;
        const uint8_t* chroma = plane->data + static_cast<ptrdiff_t>(top) * plane->pitch + x / 2;
        if (chromaRows == 16) {
            PrefetchRowsForRead<16>(chroma, plane->pitch);
        } else {
            PrefetchRowsForRead<8>(chroma, plane->pitch);
        }
    }
}

// The picture's table: frame macroblock rows; a field macroblock row r of parity p takes
// row 2r + p, so that the two fields of a frame fill the table together. Taken when a row
// starts, so that a macroblock's entry is one compare and add away.
void CSliceDecoder::StartTableRow(SliceState& state) const {
    state.rowEntries = nullptr;
    state.rowColumns = 0;
    if (!modes.table) return;
    // Positions are never negative: shifts instead of signed divisions.
    const uint32_t row =
        ((static_cast<uint32_t>(state.y) >> 4) << modes.tableRowShift) + modes.tableRowOffset;
    if (row >= modes.tableRows) return;
    state.rowEntries = modes.table + static_cast<size_t>(row) * modes.tableColumns *
                                         MacroblockInfoBlock::kEntryBytes;
    state.rowColumns = modes.tableColumns;
}

// Null without a table or outside it.
uint8_t* CSliceDecoder::TableEntry(const SliceState& state) const {
    const uint32_t column = static_cast<uint32_t>(state.x) >> 4;
    if (column >= state.rowColumns) return nullptr;
    return state.rowEntries + static_cast<size_t>(column) * MacroblockInfoBlock::kEntryBytes;
}

// Written whole, word by word straight into the entry (a copy assembled on the stack first
// costs a stalled load): the words not set here are zero in every entry.
void CSliceDecoder::WriteTableEntry(uint8_t* entry, const Macroblock& mb) {
    auto word = [entry](int32_t index, int32_t value) {
        std::memcpy(entry + 4 * index, &value, sizeof value);
    };
    word(0, static_cast<int32_t>(mb.Type()));
    word(1, mb.motion.motion_type);
    word(2, mb.dctType);
    word(3, mb.quantiser);
    word(4, mb.pattern);
    word(5, 0);
    constexpr size_t kVectorBytes = sizeof mb.motion.vector;
    std::memcpy(entry + 24, mb.motion.vector, kVectorBytes);
    static_assert(24 + kVectorBytes <= MacroblockInfoBlock::kEntryBytes, "PMV fits the entry");
    std::memset(entry + 24 + kVectorBytes, 0, MacroblockInfoBlock::kEntryBytes - 24 - kVectorBytes);
}

}  // namespace d2u
