#include "decoder/mpeg_decoder.h"

#include <cstdio>
#include <new>
#include <utility>

#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_vlc_tables.h"
#include "diag/decoder_log.h"
#include "input/bitstream_data_source.h"

namespace d2u {

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
    if (sliceDecoder.Init(vlcTables) != 0) return -1;
    for (CYUVFrame*& picture : pictures) {
        if (!picture) picture = new (std::nothrow) CYUVFrame;
        if (!picture) return -1;
    }
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

            break;
        case kChroma422:
            chromaWidth = lumaWidth / 2;
            chromaHeight = lumaHeight;

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

int32_t CMpegDecoder::CurrentParity() const {
    return headers->picture.picture_structure == kBottomField ? 1 : 0;
}

int32_t CMpegDecoder::getMacroblocks() {
    if (!dataSource || !headers || !vlcTables || !currentFrame || !dataSource->buffer) {
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
    const BitReader savedPosition = dataSource->Bits();
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
    dataSource->SetPosition(savedPosition.Word(), savedPosition.Offset());
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
    SliceTargets targets;
    targets.current = currentFrame;
    targets.older = olderReference;
    targets.newer = newerReference;
    targets.coverage = &coverage;
    targets.fillsUndecoded = undecodedFilled;
    targets.secondField = secondField;
    targets.mbWidth = mb_width;
    targets.mbHeight = mb_height;
    // Only pictures of the three coding types that have macroblock tables decode, and only
    // in a geometry that was set up.
    int32_t status = -1;
    if (sliceDecoder.StartPicture(*headers, targets))
        status = sliceDecoder.DecodeSlices(dataSource->Bits(), dataSource->End());
    FinishPicture();
    return status;
}

}  // namespace d2u
