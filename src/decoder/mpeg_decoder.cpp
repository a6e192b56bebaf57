#include "decoder/mpeg_decoder.h"

#include <new>

#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_vlc_tables.h"
#include "diag/decoder_log.h"
#include "input/bitstream_data_source.h"

namespace d2u {

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
    if (sliceDecoder.Init(vlcTables) != 0 || store.Create() != 0) return -1;
    configured = SequenceShape();
    return ConfigureGeometry();
}

int32_t CMpegDecoder::Release() {
    if (vlcTables) {
        vlcTables->Free();
        delete vlcTables;
        vlcTables = nullptr;
    }
    store.Release();
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
    if (store.Allocate(width, height, lumaHeight, static_cast<int32_t>(sequence.chroma_format),
                       mb_width, mb_height) != 0) {
        PublishFormat("ERROR - CMpegDecoder - no memory for pictures of %dx%d", width, height);
        mb_width = mb_height = 0;
        return -1;
    }
    return 0;
}

// 4:4:4 (and the reserved value 0) are refused rather than decoded into pictures of the
// wrong shape.
void CMpegDecoder::ReportUnsupportedChromaFormat(uint32_t chromaFormat) {
    static constexpr char kMessage[] =
        "ERROR - CMpegDecoder - chroma_format %u is not supported (only 4:2:0 and 4:2:2 are "
        "decoded) - ERROR";
    LogFormat(1, kMessage, static_cast<unsigned>(chromaFormat));
    PublishFormat(kMessage, static_cast<unsigned>(chromaFormat));
}

bool CMpegDecoder::IsFieldPicture() const {
    return headers->picture.picture_structure != kFramePicture;
}

int32_t CMpegDecoder::getMacroblocks() {
    if (!dataSource || !headers || !vlcTables || !store.Current() || !dataSource->buffer) {
        return -1;
    }
    completedEarlierFrame = false;
    if (!GeometryMatchesSequence()) {
        ConfigureGeometry();
        store.ForgetFirstField();
    }
    const uint32_t structure = headers->picture.picture_structure;
    if (structure < kTopField || structure > kFramePicture) return -1;
    if (!store.IsSecondField(headers->picture)) return DecodeNewFrame();
    // The second field of a frame whose first field came with an earlier call.
    completedEarlierFrame = true;
    return DecodeSecondField();
}

// A frame picture, or a first field and its second when that follows in the input.
int32_t CMpegDecoder::DecodeNewFrame() {
    store.ForgetFirstField();
    store.BeginFrame();
    int32_t status = DecodePicture(false);
    if (IsFieldPicture()) {
        store.CompleteField(headers->picture.picture_structure);
        store.AwaitSecondField(headers->picture);
        if (ReadSecondFieldHeader()) status = DecodeSecondField();
    }
    store.CompleteFrame();
    return status;
}

// The frame is described by its first field: where it starts, its type (the second field of
// an I frame may be a P field) and which field comes first.
int32_t CMpegDecoder::DecodeSecondField() {
    const PictureInfo firstField = store.TakeFirstField();
    const int32_t status = DecodePicture(true);
    headers->picture.startPosition = firstField.startPosition;
    headers->picture.picture_coding_type = firstField.picture_coding_type;
    headers->picture.top_field_first = firstField.picture_structure == kTopField ? 1 : 0;
    store.Current()->pictureType = static_cast<int32_t>(firstField.picture_coding_type);
    return status;
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
    if (found == 1 && store.IsSecondField(headers->picture) && GeometryMatchesSequence()) {
        return true;
    }
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

void CMpegDecoder::FinishPicture() {
    store.Current()->pictureType = static_cast<int32_t>(headers->picture.picture_coding_type);
    store.Current()->temporalReference = static_cast<int32_t>(headers->picture.temporal_reference);
    store.Current()->isKeyFrame = 0;
}

int32_t CMpegDecoder::DecodePicture(bool secondField) {
    SliceTargets targets;
    targets.current = store.Current();
    targets.older = store.Older();
    targets.newer = store.Newer();
    targets.coverage = &store.Coverage();
    targets.fillsUndecoded = store.FillsUndecoded();
    targets.secondField = secondField;
    targets.spareTable = store.SpareTable();
    targets.mbWidth = mb_width;
    targets.mbHeight = mb_height;
    // Only pictures of the three coding types that have macroblock tables decode, and only
    // in a geometry that was set up.
    int32_t status = -1;
    if (sliceDecoder.StartPicture(*headers, targets)) {
        status = sliceThreads.DecodeSlices(sliceDecoder, vlcTables, *headers, targets,
                                           dataSource->Bits(), dataSource->End());
    }
    FinishPicture();
    return status;
}

}  // namespace d2u
