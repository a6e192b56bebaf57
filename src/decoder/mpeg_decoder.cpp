#include "decoder/mpeg_decoder.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_vlc_tables.h"
#include "diag/decoder_log.h"
#include "input/bitstream_data_source.h"
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
struct CMpegDecoder::SliceState {
    int32_t total = 0;  // macroblock positions of the picture
    int32_t rows = 0;   // macroblock rows of the picture (of one field in field pictures)
    int32_t address = 0;
    int32_t increment = 0;
    int32_t dc[3] = {};
    int32_t dcReset = 1024;
    int32_t pattern = 0;
    // The stream's next bits where the coded macroblock at `address` starts, found with its
    // address increment: 31 or 32 of them, more than the 9 its modes take.
    uint32_t window = 0;
    int32_t x = 0;
    int32_t y = 0;
    bool mpeg2 = false;
    // The table entries of the macroblock row at y, and how many of its columns the table has
    // (0 without a table or outside it).
    uint8_t* rowEntries = nullptr;
    uint32_t rowColumns = 0;
    // The byte position of the buffer's start less 4, for the macroblock record's position
    // (the buffer stays where it is while the picture decodes).
    int64_t positionBase = 0;
};

CMpegDecoder::CMpegDecoder() = default;

CMpegDecoder::~CMpegDecoder() {
    Release();
}

int32_t CMpegDecoder::Init(CMpegHeaderReader* reader, CBitstreamDataSource* source,
                           MpegHeaders* record) {
    headerReader = reader;
    dataSource = source;
    headers = record;
    if (!vlcTables) vlcTables = new (std::nothrow) CMpegVlcTables;
    if (!vlcTables || !source || !record) return -1;
    vlcTables->Build();
    motionVectorReader.Init(source, vlcTables);
    vlcTables->SetDataSource(source);
    blockReconstructor.Init(record, vlcTables, source);
    for (CYUVFrame*& picture : pictures) {
        if (!picture) picture = new (std::nothrow) CYUVFrame;
        if (!picture) return -1;
    }
    if (!coefficients) coefficients = new (std::nothrow) int16_t[kCoefficientBytes / 2 + 8]();
    if (!coefficients) return -1;
    olderReference = pictures[0];
    newerReference = pictures[1];
    currentFrame = pictures[2];
    tableHolder = currentFrame;
    lastFrame = nullptr;
    pendingFieldParity = -1;
    configured = SequenceShape();
    return ConfigureGeometry();
}

int32_t CMpegDecoder::Release() {
    if (vlcTables) {
        vlcTables->Free();
        delete vlcTables;
        vlcTables = nullptr;
    }
    for (CYUVFrame*& picture : pictures) {
        delete picture;
        picture = nullptr;
    }
    olderReference = newerReference = currentFrame = lastFrame = tableHolder = nullptr;
    delete[] coefficients;
    coefficients = nullptr;
    coverage.Release();
    configured = SequenceShape();
    return 0;
}

CMpegDecoder::SequenceShape CMpegDecoder::ShapeOfSequence() const {
    const SequenceInfo& sequence = headers->sequence;
    SequenceShape shape;
    shape.width = sequence.horizontal_size;
    shape.height = sequence.vertical_size;
    shape.interlaced = (sequence.mpeg2 && !sequence.progressive_sequence) ? 1 : 0;
    shape.chromaFormat = sequence.chroma_format;
    return shape;
}

bool CMpegDecoder::GeometryMatchesSequence() const {
    return ShapeOfSequence() == configured;
}

// Macroblock counts and picture sizes for the sequence in the record. Interlaced sequences
// decode in pairs of field macroblock rows, so their pictures get the extra row.
int32_t CMpegDecoder::ConfigureGeometry() {
    const SequenceInfo& sequence = headers->sequence;
    // A shape that cannot be set up is not tried again before the sequence changes.
    configured = ShapeOfSequence();
    mb_width = mb_height = lumaWidth = lumaHeight = chromaWidth = chromaHeight = 0;
    if (sequence.horizontal_size == 0 || sequence.vertical_size == 0) {
        PublishFormat("ERROR - CMpegDecoder - picture size %ux%u has no samples",
                      static_cast<unsigned>(sequence.horizontal_size),
                      static_cast<unsigned>(sequence.vertical_size));
        return -1;
    }
    if (sequence.horizontal_size > static_cast<uint32_t>(kMaxDimension) ||
        sequence.vertical_size > static_cast<uint32_t>(kMaxDimension) ||
        static_cast<int64_t>(sequence.horizontal_size) * sequence.vertical_size > kMaxLumaSamples) {
        PublishFormat("ERROR - CMpegDecoder - picture size %ux%u beyond the limit of %d samples",
                      static_cast<unsigned>(sequence.horizontal_size),
                      static_cast<unsigned>(sequence.vertical_size),
                      static_cast<int>(kMaxLumaSamples));
        return -1;
    }
    const int32_t width = static_cast<int32_t>(sequence.horizontal_size);
    const int32_t height = static_cast<int32_t>(sequence.vertical_size);
    const bool interlaced = sequence.mpeg2 && !sequence.progressive_sequence;
    mb_width = (width + 15) / 16;
    mb_height = interlaced ? 2 * ((height + 31) / 32) : (height + 15) / 16;
    lumaWidth = mb_width * 16;
    lumaHeight = mb_height * 16;
    switch (sequence.chroma_format) {
        case kChroma420:
            chromaWidth = lumaWidth / 2;
            chromaHeight = lumaHeight / 2;
            blocksPerMacroblock = 6;
            break;
        case kChroma422:
            chromaWidth = lumaWidth / 2;
            chromaHeight = lumaHeight;
            blocksPerMacroblock = 8;
            break;
        default:
            ReportUnsupportedChromaFormat(sequence.chroma_format);
            mb_width = mb_height = lumaWidth = lumaHeight = 0;
            return -1;
    }
    // One block for all the pictures: their planes share large pages.
    const int32_t status = CYUVFrame::AllocateSet(
        pictures, static_cast<int32_t>(sizeof pictures / sizeof pictures[0]), width, height,
        lumaHeight, static_cast<int32_t>(sequence.chroma_format));
    if (status != 0 || coverage.Allocate(mb_width, mb_height) != 0) {
        PublishFormat("ERROR - CMpegDecoder - no memory for pictures of %dx%d", width, height);
        mb_width = mb_height = 0;
        return -1;
    }
    return 0;
}

// 4:4:4 (and the reserved value 0) are refused rather than decoded into pictures of the
// wrong shape.
void CMpegDecoder::ReportUnsupportedChromaFormat(uint32_t chromaFormat) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "ERROR - CMpegDecoder - chroma_format %u is not supported (only 4:2:0 and "
                  "4:2:2 are decoded) - ERROR",
                  static_cast<unsigned>(chromaFormat));
    if (CDecoderLog* log = CachedLogger()) {
        log->Write(message, 1);
        log->Publish(message);
    }
}

bool CMpegDecoder::IsFieldPicture() const {
    return headers->picture.picture_structure != kFramePicture;
}

int32_t CMpegDecoder::CurrentParity() const {
    return headers->picture.picture_structure == kBottomField ? 1 : 0;
}

int32_t CMpegDecoder::getMacroblocks() {
    if (!dataSource || !headers || !vlcTables || !coefficients || !currentFrame ||
        !dataSource->buffer) {
        return -1;
    }
    completedEarlierFrame = false;
    if (!GeometryMatchesSequence()) {
        ConfigureGeometry();
        pendingFieldParity = -1;
    }
    const uint32_t structure = headers->picture.picture_structure;
    if (structure < kTopField || structure > kFramePicture) return -1;
    if (structure == kFramePicture) {
        pendingFieldParity = -1;
        CYUVFrame* fillSource = BeginFrame();
        int32_t status = DecodePicture(false);
        CompleteFrame(fillSource);
        return status;
    }
    const int32_t parity = CurrentParity();
    if (IsSecondFieldOfPending()) {
        // The second field of a frame whose first field came with an earlier call.
        PictureInfo firstField = headers->picture;
        firstField.startPosition = pendingStartPosition;
        firstField.picture_coding_type = pendingCodingType;
        pendingFieldParity = -1;
        completedEarlierFrame = true;
        const int32_t status = DecodePicture(true);
        DescribeFrameByFirstField(firstField);
        headers->picture.top_field_first = parity == 0 ? 0 : 1;
        return status;
    }
    CYUVFrame* fillSource = BeginFrame();
    int32_t status = DecodePicture(false);
    pendingFieldParity = parity;
    pendingTemporalReference = headers->picture.temporal_reference;
    pendingCodingType = headers->picture.picture_coding_type;
    pendingStartPosition = headers->picture.startPosition;
    const PictureInfo firstField = headers->picture;
    if (!ReadSecondFieldHeader()) {
        CompleteFrame(fillSource);
        return status;
    }
    pendingFieldParity = -1;
    status = DecodePicture(true);
    CompleteFrame(fillSource);
    DescribeFrameByFirstField(firstField);
    headers->picture.top_field_first = parity == 0 ? 1 : 0;
    return status;
}

// A frame of two field pictures is described by its first field: where it starts and its type
// (the second field of an I frame may be a P field).
void CMpegDecoder::DescribeFrameByFirstField(const PictureInfo& firstField) {
    headers->picture.startPosition = firstField.startPosition;
    headers->picture.picture_coding_type = firstField.picture_coding_type;
    currentFrame->pictureType = static_cast<int32_t>(firstField.picture_coding_type);
}

// Moves currentFrame to the picture of the three that is not a reference, and returns the
// picture that fills what the new frame leaves undecoded: the newer reference, which the host
// never writes into (the picture decoded last may be a B frame the host has drawn on). The
// macroblock table goes along from the picture decoded last: it stays in the cache, and the
// entries a damaged picture does not reach keep what they held.
CYUVFrame* CMpegDecoder::BeginFrame() {
    for (int32_t i = 0; i < kHostPicture; ++i) {
        CYUVFrame* picture = pictures[i];
        if (picture && picture != olderReference && picture != newerReference) {
            currentFrame = picture;
            break;
        }
    }
    MoveTableTo(currentFrame);
    coverage.Clear();
    CYUVFrame* fillSource = newerReference != currentFrame ? newerReference : nullptr;
    undecodedFilled = fillSource && coverage.FrameUnits() != nullptr;
    return fillSource;
}

void CMpegDecoder::MoveTableTo(CYUVFrame* holder) {
    if (tableHolder && holder && tableHolder != holder) {
        std::swap(holder->mbInfo, tableHolder->mbInfo);
    }
    tableHolder = holder;
}

void CMpegDecoder::CompleteFrame(CYUVFrame* fillSource) {
    if (fillSource) coverage.FillFrom(*currentFrame, *fillSource);
}

CYUVFrame* CMpegDecoder::ForHost(CYUVFrame* frame) {
    CYUVFrame* copy = pictures[kHostPicture];
    if (!frame || !copy || (frame != olderReference && frame != newerReference)) return frame;
    if (frame == tableHolder) MoveTableTo(copy);
    copy->CopyPicture(*frame);
    return copy;
}

// Reads the next picture header when it is the other field of the frame just decoded;
// otherwise puts the stream and the record back as they were.
bool CMpegDecoder::ReadSecondFieldHeader() {
    if (!headerReader) return false;
    MpegHeaders saved = *headers;
    uint32_t* savedWord = dataSource->wordPtr;
    int32_t savedOffset = dataSource->bitOffset;
    int64_t savedConsumed = dataSource->ConsumedBytes();
    int32_t savedSequenceSeen = headerReader->sequenceHeaderSeen;
    int32_t savedGroupSeen = headerReader->groupHeaderSeen;
    int32_t found = headerReader->getHeader();
    if (found == 1 && IsSecondFieldOfPending() && GeometryMatchesSequence()) return true;
    // A refill moved the buffer: the header just read stays read.
    if (!dataSource->IsBufferedMode() && dataSource->ConsumedBytes() < savedConsumed) {
        return false;
    }
    *headers = saved;
    dataSource->wordPtr = savedWord;
    dataSource->bitOffset = savedOffset;
    headerReader->sequenceHeaderSeen = savedSequenceSeen;
    headerReader->groupHeaderSeen = savedGroupSeen;
    return false;
}

// The other field of the frame whose first field was decoded last: the other parity, the same
// temporal reference, and a type that can follow (the second field of an I frame may be P).
bool CMpegDecoder::IsSecondFieldOfPending() const {
    const PictureInfo& picture = headers->picture;
    if (pendingFieldParity < 0 || picture.picture_structure == kFramePicture ||
        picture.picture_structure < kTopField || CurrentParity() == pendingFieldParity ||
        picture.temporal_reference != pendingTemporalReference) {
        return false;
    }
    if (pendingCodingType == kPictureI)
        return picture.picture_coding_type == kPictureI || picture.picture_coding_type == kPictureP;
    return picture.picture_coding_type == pendingCodingType;
}

void CMpegDecoder::FinishPicture() {
    currentFrame->pictureType = static_cast<int32_t>(headers->picture.picture_coding_type);
    currentFrame->temporalReference = static_cast<int32_t>(headers->picture.temporal_reference);
    currentFrame->isKeyFrame = 0;
}

int32_t CMpegDecoder::DecodePicture(bool secondField) {
    const PictureInfo& picture = headers->picture;
    SliceState state;
    state.mpeg2 = headers->sequence.mpeg2 != 0;
    state.dcReset = state.mpeg2 ? (128 << (picture.intra_dc_precision & 3)) : 1024;
    state.rows = IsFieldPicture() ? mb_height / 2 : mb_height;
    state.total = mb_width * state.rows;
    error = 0;

    PictureGeometry geometry;
    geometry.picture_coding_type = picture.picture_coding_type;
    geometry.picture_structure = picture.picture_structure;
    geometry.top_field_first = picture.top_field_first;
    geometry.secondField = secondField;
    geometry.chromaFormat = headers->sequence.chroma_format;
    compensator.SetGeometry(geometry);
    compensator.SetPictures(currentFrame, olderReference, newerReference);
    compensator.SetCoverage(&coverage);

    // Only pictures of the three coding types that have macroblock tables decode, and only
    // in a geometry that was set up.
    if (picture.picture_coding_type < kPictureI || picture.picture_coding_type > kPictureB ||
        mb_width == 0) {
        FinishPicture();
        return -1;
    }
    SetUpPictureModes();
    StartTableRow(state);
    state.positionBase = dataSource->BufferStartPosition() - 4;
    // The buffer stays where it is while a picture decodes (only header reading refills it):
    // the reader is past its end once beyond the sentinel word.
    const uint32_t* const streamEnd = dataSource->buffer + dataSource->CapacityWords();
    int32_t status = 0;
    for (;;) {
        if (dataSource->wordPtr > streamEnd) {
            status = -1;
            break;
        }
        if (state.increment == 0) {
            if (!state.mpeg2) SkipMacroblockStuffing();
            // The next 32 bits: 23 zeros start a slice; otherwise the address increment.
            const uint32_t window = dataSource->ShowBits(32);
            if ((window >> 9) == 0) {
                int32_t slice = SearchSlice(state);
                if (slice <= 0) {
                    status = slice;
                    break;
                }
            } else if (state.address >= state.total) {
                break;
            } else if (window >> 31) {
                // The commonest increment, 1, is the single bit 1.
                dataSource->SkipBits(1);
                state.increment = 1;
                state.window = window << 1;
            } else {
                const int32_t increment = DecodeAddressIncrement(window);
                if (increment < 1) {
                    int32_t slice = SearchSlice(state);
                    if (slice <= 0) {
                        status = slice;
                        break;
                    }
                } else {
                    state.increment = increment;
                    state.window = dataSource->ShowBits(32);
                }
            }
        }
        if (state.address >= state.total) {
            status = -1;
            break;
        }
        PrefetchNextTarget(state);
        // The stream 256 bytes on, a dozen macroblocks ahead at DVD rates: the coefficient
        // readers' refills otherwise wait for the next line now and then.
        PrefetchForRead(dataSource->wordPtr + 64);
        if (state.increment > 1) {
            PrepareSkippedMacroblock(state);
        } else if (DecodeCodedMacroblock(state) != 0) {
            // The rest of the slice is dropped; what the picture held there stays.
            int32_t slice = SearchSlice(state);
            if (slice <= 0) {
                status = slice;
                break;
            }
            continue;
        }
        OutputMacroblock(state);
        --state.increment;
        ++state.address;
        // The position follows the address without a division per macroblock.
        state.x += 16;
        if (state.x >= lumaWidth) {
            state.x = 0;
            state.y += 16;
            StartTableRow(state);
        }
    }
    FinishPicture();
    return status;
}

// Finds the next slice and starts it: 1 with the first macroblock's address set, 0 when the
// picture is already complete, -1 at a start code that is not a slice (left unread).
int32_t CMpegDecoder::SearchSlice(SliceState& state) {
    error = 0;
    if (state.address >= state.total) return 0;
    for (;;) {
        if (dataSource->IsPastEnd()) return -1;
        uint32_t code = CMpegHeaderReader::FindStartCode(*dataSource);
        if (code < kFirstSliceStartCode || code > kLastSliceStartCode) {
            CMpegHeaderReader::UnreadStartCode(*dataSource);
            return -1;
        }
        uint32_t extension = 0;
        if (state.mpeg2 && headers->sequence.vertical_size > kSliceExtensionHeight) {
            extension = dataSource->GetBits(3);
        }
        // The bit after quantiser_scale_code announces extra slice information.
        bool extraInformation = (dataSource->ShowBits(6) & 1) != 0;
        headerReader->ReadSliceHeader();
        SkipSliceExtraInformation(extraInformation);
        if (!state.mpeg2) SkipMacroblockStuffing();
        int32_t increment = 0;
        if (vlcTables->DecodeMacroblockAddressIncrement(&increment) != 0 || increment < 1) {
            continue;  // the whole slice is dropped
        }
        int64_t row = static_cast<int64_t>(extension << 7) + code - 1;
        int64_t address = row * mb_width + increment - 1;
        if (row >= state.rows || address >= state.total) continue;
        state.address = static_cast<int32_t>(address);
        state.x = (state.address % mb_width) * 16;
        state.y = (state.address / mb_width) * 16;
        StartTableRow(state);
        state.increment = 1;
        state.window = dataSource->ShowBits(32);
        state.dc[0] = state.dc[1] = state.dc[2] = state.dcReset;
        std::memset(PMV, 0, sizeof(PMV));
        return 1;
    }
}

void CMpegDecoder::SkipSliceExtraInformation(bool flagSet) {
    if (!flagSet) return;
    // intra_slice and the reserved bits (MPEG-2), or the first extra byte (MPEG-1), then any
    // further extra bytes, each announced by a 1 bit; a 0 bit ends them.
    dataSource->SkipBits(8);
    while (dataSource->GetBit() == 1 && !dataSource->IsPastEnd()) dataSource->SkipBits(8);
}

void CMpegDecoder::SkipMacroblockStuffing() {
    while (dataSource->ShowBits(11) == kMacroblockStuffing && !dataSource->IsPastEnd()) {
        dataSource->SkipBits(11);
    }
}

// The increment whose codeword starts the 32 bits `window` (the next ones of the stream); 0
// for bits of no codeword or too many escapes.
int32_t CMpegDecoder::DecodeAddressIncrement(uint32_t window) {
    const CMpegVlcTables::DirectCode code =
        modes.incrementCodes[window >> (32 - modes.incrementBits)];
    if (code.length != 0) {
        dataSource->SkipBits(code.length);
        return code.value;
    }
    int32_t increment = 0;
    if (vlcTables->DecodeMacroblockAddressIncrement(&increment) != 0) return 0;
    return increment;
}

void CMpegDecoder::SetUpPictureModes() {
    const PictureInfo& picture = headers->picture;
    blockReconstructor.StartPicture();
    modes.incrementCodes = vlcTables->AddressIncrementLookup(&modes.incrementBits);
    modes.mpeg2 = headers->sequence.mpeg2 != 0;
    for (int32_t s = 0; s < 2; ++s) {
        modes.vectorCodes[s] = CMotionVectorReader::FrameVectorCodesFor(
            static_cast<int32_t>(picture.f_code[s][0]), static_cast<int32_t>(picture.f_code[s][1]));
    }
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
    modes.field = IsFieldPicture();
    SetUpMotionFormats();
    modes.readsMotionType = modes.field || !picture.frame_pred_frame_dct;
    modes.readsDctType = !modes.field && !picture.frame_pred_frame_dct;
    modes.concealment = headers->sequence.mpeg2 && picture.concealment_motion_vectors;
    modes.predicted = picture.picture_coding_type == kPictureP;
    SetUpModeCodes();
    const MacroblockInfoBlock* table = currentFrame->mbInfo;
    modes.table = table ? table->entries : nullptr;
    modes.tableColumns = table && table->columns > 0 ? static_cast<uint32_t>(table->columns) : 0;
    modes.tableRows = table && table->rows > 0 ? static_cast<uint32_t>(table->rows) : 0;
    modes.tableRowShift = modes.field ? 1 : 0;
    modes.tableRowOffset = modes.field ? static_cast<uint32_t>(CurrentParity()) : 0;
}

// The modes that the 32 bits `window` begin with when macroblock_type has a direct code: the
// bits they take, 0 without a direct code, or minus the bits up to a reserved motion type.
int32_t CMpegDecoder::ModesOf(uint32_t window, ModeCode& code) const {
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
void CMpegDecoder::SetUpModeCodes() {
    ModeTable& table = modeTables[headers->picture.picture_coding_type & 3];
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
// increment left in `window`, in one look-up, and the position moves once. It moves in `at`,
// which stays in registers: the reader's own fields, stored, could be any of the members
// written here as far as the compiler knows, and would be loaded again. A failure leaves the
// position in the reader.
int32_t CMpegDecoder::DecodeMacroblockModes(BitPosition& at, uint32_t window) {
    ModeCode code = modes.modeCodes[window >> (32 - modes.modeBits)];
    int32_t used = code.used;
    if (used == 0) used = ModesOf(window, code);  // no direct code, or the reserved motion type
    if (used == 0) {
        // Bits of no codeword: the general decode gives the status.
        SetPosition(at);
        int32_t decoded = 0;
        int32_t status = vlcTables->DecodeMacroblockType(
            &decoded, static_cast<int32_t>(headers->picture.picture_coding_type));
        if (status != 0) {
            error = status;
            return status;
        }
        macroblock_type = static_cast<uint32_t>(decoded);
        status = DecodeMotionAndDctType();
        at = Position();
        return status;
    }
    if (used < 0) {  // the reserved motion type
        Advance(at, -used);
        SetPosition(at);
        macroblock_type = code.type;
        motion_type = kMotionNone;
        error = -1;
        return -1;
    }
    Advance(at, used);
    macroblock_type = code.type;
    motion_type = code.motion;
    dct_type = code.dct;
    SetMotionFormat();
    return 0;
}

// The rest of the modes after a macroblock_type taken by the general decode.
int32_t CMpegDecoder::DecodeMotionAndDctType() {
    if (macroblock_type & (kMacroblockMotionForward | kMacroblockMotionBackward)) {
        if (modes.readsMotionType) {
            motion_type = static_cast<int32_t>(dataSource->GetBits(2));
            if (motion_type == kMotionNone) {  // reserved
                error = -1;
                return -1;
            }
        } else {
            motion_type = kMotionFrame;
        }
    } else if ((macroblock_type & kMacroblockIntra) && modes.concealment) {
        motion_type = modes.field ? kMotionField : kMotionFrame;
    } else {
        motion_type = kMotionNone;
    }
    dct_type = 0;
    if (modes.readsDctType && (macroblock_type & (kMacroblockIntra | kMacroblockPattern))) {
        dct_type = static_cast<int32_t>(dataSource->GetBit());
    }
    SetMotionFormat();
    return 0;
}

// The next 32 bits after a position (the reader's guard words lie behind its end).
uint32_t CMpegDecoder::PeekWord(const BitPosition& at) {
    return (at.word[0] << (31 - at.offset)) + ((at.word[1] >> at.offset) >> 1);
}

// Moves a position on by n bits (0 to 32), without a branch the stream would make
// unpredictable.
void CMpegDecoder::Advance(BitPosition& at, int32_t n) {
    const int32_t left = at.offset - n;
    const int32_t intoNextWord = left >> 31;
    at.word -= intoNextWord;
    at.offset = left + (intoNextWord & 32);
}

CMpegDecoder::BitPosition CMpegDecoder::Position() const {
    return BitPosition{dataSource->wordPtr, dataSource->bitOffset};
}

void CMpegDecoder::SetPosition(const BitPosition& at) {
    dataSource->wordPtr = at.word;
    dataSource->bitOffset = at.offset;
}

void CMpegDecoder::SetMotionFormat() {
    const PictureModes::MotionFormat& format = modes.motionFormats[motion_type & 3];
    motion_vector_count = format.count;
    mv_format = format.format;
    mvscale = format.scale;
}

// The vector count, vector format and scaling of each motion_type in the current picture.
void CMpegDecoder::SetUpMotionFormats() {
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

// A failure leaves the position in the reader.
int32_t CMpegDecoder::ReadVectors(BitPosition& at, int32_t s) {
    int32_t status = 0;
    if (modes.mpeg2 && motion_vector_count == 1 && mv_format == 1) {
        // Frame motion: one vector, the predictor of both rows.
        status = motionVectorReader.ReadFrameVectorAt(at.word, at.offset, PMV[0][s],
                                                      modes.vectorCodes[s], PMV[1][s]);
        if (status != 0) SetPosition(at);
        return status;
    }
    SetPosition(at);
    status = ReadFieldOrMpeg1Vectors(s);
    at = Position();
    return status;
}

// Kept out of ReadVectors, so that the common frame vector needs no saved registers.
D2U_NOINLINE int32_t CMpegDecoder::ReadFieldOrMpeg1Vectors(int32_t s) {
    const PictureInfo& picture = headers->picture;
    if (!headers->sequence.mpeg2) {
        int32_t rSize =
            static_cast<int32_t>(s == 0 ? picture.forward_r_size : picture.backward_r_size);
        int32_t fullPel = static_cast<int32_t>(s == 0 ? picture.full_pel_forward_vector
                                                      : picture.full_pel_backward_vector);
        if (fullPel == 0) return motionVectorReader.ReadFrameVector(PMV[0][s], rSize, rSize);
        return motionVectorReader.ReadMotionVector(PMV[0][s], dmvector, rSize, rSize, 0, 0,
                                                   fullPel);
    }
    if (motion_type == kMotionDualPrime && !(macroblock_type & kMacroblockIntra)) {
        return ReadDualPrimeVector(s);
    }
    if (mv_format == 0) {
        return motionVectorReader.ReadFieldVectors(PMV, motion_vertical_field_select, s,
                                                   motion_vector_count, modes.vectorCodes[s],
                                                   mvscale);
    }
    return motionVectorReader.ReadMotionVectors(
        PMV, dmvector, motion_vertical_field_select, s, motion_vector_count, mv_format,
        static_cast<int32_t>(picture.f_code[s][0]), static_cast<int32_t>(picture.f_code[s][1]), 0,
        mvscale);
}

// dmvector: 0 -> 0, 10 -> +1, 11 -> -1.
int32_t CMpegDecoder::ReadDmvector() {
    if (dataSource->GetBit() == 0) return 0;
    return dataSource->GetBit() ? -1 : 1;
}

// A dual-prime vector: one field vector, each component followed by its dmvector.
int32_t CMpegDecoder::ReadDualPrimeVector(int32_t s) {
    const int32_t sizes[2] = {static_cast<int32_t>(headers->picture.f_code[s][0]),
                              static_cast<int32_t>(headers->picture.f_code[s][1])};
    int32_t* vector = PMV[0][s];
    for (int32_t t = 0; t < 2; ++t) {
        if (sizes[t] > CMotionVectorReader::kMaxRSize) return CMotionVectorReader::kInvalidRSize;
        int32_t code = 0;
        int32_t status = vlcTables->DecodeMotionCode(&code);
        if (status != 0) return status;
        int32_t residual =
            (sizes[t] != 0 && code != 0) ? static_cast<int32_t>(dataSource->GetBits(sizes[t])) : 0;
        // Frame pictures keep field vectors in frame units.
        const bool scaled = t == 1 && mvscale;
        if (scaled) vector[t] >>= 1;
        CMotionVectorReader::DecodeMotionVectorComponent(&vector[t], sizes[t], code, residual, 0);
        if (scaled) vector[t] *= 2;
        dmvector[t] = ReadDmvector();
    }
    PMV[1][s][0] = vector[0];
    PMV[1][s][1] = vector[1];
    return 0;
}

int32_t CMpegDecoder::ReconstructBlocks(SliceState& state) {
    const uint32_t pattern = static_cast<uint32_t>(state.pattern);
    int32_t status = 0;
    if (macroblock_type & kMacroblockIntra) {
        IntraSamples samples;
        intraWritten = PlacesIntraWhileReading(state, samples);
        status = blockReconstructor.ReconstructIntraMacroblock(pattern, coefficients, state.dc,
                                                               intraWritten ? &samples : nullptr);
    } else {
        intraWritten = false;
        status = blockReconstructor.ReconstructNonIntraMacroblock(pattern, coefficients);
    }
    if (status == 0) return 0;
    error = status;
    return -1;
}

// An intra macroblock goes into the picture block by block as it is read, so that each block's
// transform runs while the next is read, when a failure half way would leave no trace: a 4:2:0
// frame macroblock wholly inside the picture, where nothing of this picture is yet, in a frame
// that the picture decoded last completes (CompleteFrame puts back what is left unmarked).
bool CMpegDecoder::PlacesIntraWhileReading(const SliceState& state, IntraSamples& samples) const {
    return undecodedFilled && blocksPerMacroblock == 6 && state.pattern == 0x3F &&
           coverage.FrameMacroblockBlank(state.x, state.y) &&
           compensator.PlaceIntraMacroblock420(state.x, state.y, dct_type == 1, samples);
}

void CMpegDecoder::ResetForwardPredictors() {
    PMV[0][0][0] = PMV[0][0][1] = PMV[1][0][0] = PMV[1][0][1] = 0;
}

// The residual areas (luma, Cb, Cr) that the coded blocks of a pattern write; looked up, as
// the pattern of a 4:2:0 macroblock has six bits.
int32_t CMpegDecoder::AreasOfPattern(int32_t pattern) const {
    if (blocksPerMacroblock != 6) return kAllResidualAreas;
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
void CMpegDecoder::PrepareResidual(int32_t pattern, bool intra) {
    if (intra) {
        residualWritten = residualDirty = kAllResidualAreas;
        return;
    }
    residualWritten = AreasOfPattern(pattern);
    if (blocksPerMacroblock != 6) {
        ZeroResidualBytes(coefficients, static_cast<size_t>(blocksPerMacroblock) * kBlockBytes);
        residualDirty = residualWritten;
        return;
    }
    constexpr int32_t kAllLumaBlocks = 0x3C;
    if ((residualWritten & residualDirty & kLumaResidual) &&
        (pattern & kAllLumaBlocks) != kAllLumaBlocks)
        ZeroResidualBytes(coefficients, 512);
    residualDirty |= residualWritten;
}

// The macroblock's header is read from a position held in registers (see
// DecodeMacroblockModes), which goes back to the reader for the coefficients and for the
// rarer codes read by other classes. Inlined into the macroblock loop: a call cost more than
// the values the two then share.
D2U_ALWAYS_INLINE int32_t CMpegDecoder::DecodeCodedMacroblock(SliceState& state) {
    BitPosition at = Position();
    if (DecodeMacroblockModes(at, state.window) != 0) return -1;
    headers->macroblock.dct_type = static_cast<uint32_t>(dct_type);
    const bool intra = (macroblock_type & kMacroblockIntra) != 0;
    const bool concealment = intra && modes.concealment;
    if (macroblock_type & kMacroblockQuant) {
        SetPosition(at);
        headerReader->ReadMacroblockQuantiser();
        at = Position();
    }
    if ((macroblock_type & kMacroblockMotionForward) || concealment) {
        if (ReadVectors(at, 0) != 0) return -1;
    }
    if (macroblock_type & kMacroblockMotionBackward) {
        if (ReadVectors(at, 1) != 0) return -1;
    }
    if (concealment) Advance(at, 1);  // marker bit
    if (!intra && compensator.PrefetchesAhead()) PrefetchPrediction(state);

    if (macroblock_type & kMacroblockPattern) {
        if (DecodeCodedBlockPattern(state, at) != 0) return -1;
    } else {
        state.pattern = intra ? (1 << blocksPerMacroblock) - 1 : 0;
    }
    SetPosition(at);
    PrepareResidual(state.pattern, intra);
    if (ReconstructBlocks(state) != 0) {
        // A failed macroblock may have written anywhere.
        residualWritten = residualDirty = kAllResidualAreas;
        return -1;
    }

    if (!intra) state.dc[0] = state.dc[1] = state.dc[2] = state.dcReset;
    if (intra && !concealment) std::memset(PMV, 0, sizeof(PMV));
    if (modes.predicted && !intra && !(macroblock_type & kMacroblockMotionForward)) {
        // No motion compensation: a zero vector, frame prediction, or in field pictures field
        // prediction from the field of the same parity.
        ResetForwardPredictors();
        if (modes.field) {
            motion_type = kMotionField;
            motion_vertical_field_select[0][0] = motion_vertical_field_select[1][0] =
                CurrentParity();
        } else {
            motion_type = kMotionFrame;
        }
    }
    return 0;
}

// coded_block_pattern (with coded_block_pattern_1 of 4:2:2, blocks 6 and 7 in its two bits)
// from one look at the next 32 bits. A failure leaves the position in the reader.
int32_t CMpegDecoder::DecodeCodedBlockPattern(SliceState& state, BitPosition& at) {
    const uint32_t window = PeekWord(at);
    const CMpegVlcTables::DirectCode code = modes.patternCodes[window >> (32 - modes.patternBits)];
    int32_t pattern = code.value;
    int32_t used = code.length;
    if (used == 0) {
        // Bits of no codeword: the general decode gives the status.
        SetPosition(at);
        const int32_t status = vlcTables->DecodeCodedBlockPattern(&pattern);
        if (status != 0) {
            error = status;
            return -1;
        }
        if (blocksPerMacroblock == 8) pattern = (pattern << 2) | dataSource->GetBits(2);
        state.pattern = pattern;
        at = Position();
        return 0;
    }
    if (blocksPerMacroblock == 8) {
        pattern = (pattern << 2) | static_cast<int32_t>((window << used) >> 30);
        used += 2;
    }
    Advance(at, used);
    state.pattern = pattern;
    return 0;
}

void CMpegDecoder::PrepareSkippedMacroblock(SliceState& state) {
    residualWritten = 0;
    state.dc[0] = state.dc[1] = state.dc[2] = state.dcReset;
    if (modes.predicted) ResetForwardPredictors();
    // Skipped macroblocks predict with a single vector per direction: frame prediction in
    // frame pictures, and in field pictures from the field of the same parity. B pictures keep
    // the previous macroblock's directions and vectors.
    if (modes.field) {
        motion_type = kMotionField;
        for (auto& r : motion_vertical_field_select) r[0] = r[1] = CurrentParity();
    } else {
        motion_type = kMotionFrame;
    }
    macroblock_type &= ~kMacroblockIntra;
    state.pattern = 0;
}

void CMpegDecoder::OutputMacroblock(SliceState& state) {
    // The table entry is asked for before the samples are formed: the picture's table is too
    // large to stay in cache, and its line is then there by the time it is written.
    uint8_t* entry = TableEntry(state);
#if defined(__GNUC__)
    if (entry) {
        __builtin_prefetch(entry, 1);
        __builtin_prefetch(entry + MacroblockInfoBlock::kEntryBytes - 1, 1);
    }
#endif
    if (macroblock_type & kMacroblockIntra) {
        if (!intraWritten) {
            compensator.WriteIntraMacroblock(coefficients, state.pattern, blocksPerMacroblock,
                                             state.x, state.y, dct_type == 1);
        }
        if (modes.field) {
            coverage.MarkRegion(CurrentParity(), state.x, state.y, 16);
        } else {
            coverage.MarkFrameMacroblock(state.x, state.y);
        }
    } else {
        compensator.SetResidualAreas(residualWritten);
        if (compensator.FramePrediction420() && motion_type == kMotionFrame) {
            compensator.PredictFrameBlock420(
                macroblock_type & (kMacroblockMotionForward | kMacroblockMotionBackward), PMV[0],
                coefficients, state.x, state.y);
        } else {
            PredictMacroblock(coefficients, state.x, state.y);
        }
    }
    // The record and the entry copy the vectors once the samples are formed: read back wide
    // right after the vector reader's narrow stores, they would wait for those to land.
    RecordMacroblock(state);
    if (entry) WriteTableEntry(entry, state.pattern);
}

// The header record's part for the macroblock position. Nothing in the decoding reads it back
// (the table entry and the prediction take the vectors from this object).
void CMpegDecoder::RecordMacroblock(const SliceState& state) {
    MacroblockInfo& info = headers->macroblock;
    info.x = state.x;
    info.y = state.y;
    info.coded_block_pattern = static_cast<uint32_t>(state.pattern);
    info.increment = static_cast<uint32_t>(state.increment);
    info.macroblock_type = macroblock_type;
    info.quantiser = headers->currentQuantiser;
    std::memcpy(info.PMV, PMV, sizeof(PMV));
    static_assert(sizeof(info.PMV) == sizeof(PMV), "the record holds PMV");
    // The header reader's start code position (the byte position less 4), from the picture's
    // base: the full count per macroblock costs a dozen instructions more.
    const int64_t wordBytes = (dataSource->wordPtr - dataSource->buffer) * 4;
    info.startPosition =
        static_cast<uint64_t>(state.positionBase + wordBytes + ((31 - dataSource->bitOffset) >> 3));
}

// The reference blocks of the macroblock's prediction are asked for while its coefficients
// are decoded.
void CMpegDecoder::PrefetchPrediction(const SliceState& state) const {
    if (compensator.FramePrediction420() && motion_type == kMotionFrame) {
        compensator.PrefetchFrameBlock(
            macroblock_type & (kMacroblockMotionForward | kMacroblockMotionBackward), PMV[0],
            state.x, state.y);
    } else {
        compensator.PrefetchReferences(CurrentMotion(), state.x, state.y);
    }
}

// The current picture's lines are written a 64-byte column of macroblocks at a time: the last
// macroblock of a column asks for the lines of the next one, which the prediction then writes
// without waiting for them.
void CMpegDecoder::PrefetchNextTarget(const SliceState& state) const {
    constexpr int32_t kLineWidth = 64;
    if ((state.x & (kLineWidth - 1)) != kLineWidth - 16) return;
    const int32_t x = state.x + 16;
    if (x >= lumaWidth || modes.field) return;
    const YUVPlane& luma = currentFrame->Y;
    if (!luma.data || state.y + 16 > luma.height) return;
    const uint8_t* row = luma.data + static_cast<ptrdiff_t>(state.y) * luma.pitch + x;
    PrefetchRowsForRead<16>(row, luma.pitch);
    if ((x & (2 * kLineWidth - 1)) != 0) return;  // a chroma line holds eight macroblocks
    for (const YUVPlane* plane : {&currentFrame->U, &currentFrame->V}) {
        const int32_t chromaRows = blocksPerMacroblock == 8 ? 16 : 8;
        const int32_t top = blocksPerMacroblock == 8 ? state.y : state.y / 2;
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
void CMpegDecoder::StartTableRow(SliceState& state) const {
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
uint8_t* CMpegDecoder::TableEntry(const SliceState& state) const {
    const uint32_t column = static_cast<uint32_t>(state.x) >> 4;
    if (column >= state.rowColumns) return nullptr;
    return state.rowEntries + static_cast<size_t>(column) * MacroblockInfoBlock::kEntryBytes;
}

// Written whole, word by word straight into the entry (a copy assembled on the stack first
// costs a stalled load): the words not set here are zero in every entry. The vectors were
// stored before the samples were formed, and so can be loaded wide.
void CMpegDecoder::WriteTableEntry(uint8_t* entry, int32_t pattern) const {
    auto word = [entry](int32_t index, int32_t value) {
        std::memcpy(entry + 4 * index, &value, sizeof value);
    };
    word(0, static_cast<int32_t>(macroblock_type));
    word(1, motion_type);
    word(2, dct_type);
    word(3, headers->currentQuantiser);
    word(4, pattern);
    word(5, 0);
    std::memcpy(entry + 24, PMV, sizeof(PMV));
    static_assert(24 + sizeof(PMV) <= MacroblockInfoBlock::kEntryBytes, "PMV fits the entry");
    std::memset(entry + 24 + sizeof(PMV), 0, MacroblockInfoBlock::kEntryBytes - 24 - sizeof(PMV));
}

int32_t CMpegDecoder::PredictMacroblock(const int16_t* residual, int32_t x, int32_t y) {
    return compensator.PredictMacroblock(CurrentMotion(), residual, x, y);
}

MacroblockMotion CMpegDecoder::CurrentMotion() const {
    MacroblockMotion motion;
    motion.macroblock_type = macroblock_type;
    motion.motion_type = motion_type;
    std::memcpy(motion.vector, PMV, sizeof(motion.vector));
    std::memcpy(motion.motion_vertical_field_select, motion_vertical_field_select,
                sizeof(motion.motion_vertical_field_select));
    motion.dmvector[0] = dmvector[0];
    motion.dmvector[1] = dmvector[1];
    return motion;
}

}  // namespace d2u
