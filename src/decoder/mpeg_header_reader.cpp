#include "decoder/mpeg_header_reader.h"

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_tables.h"
#include "input/bitstream_data_source.h"

namespace d2u {

int32_t CMpegHeaderReader::Init(CBitstreamDataSource* source, MpegHeaders* record) {
    dataSource = source;
    headers = record;
    sequenceEnded = 0;
    extensionReader.Init(source, record);
    return 0;
}

uint32_t CMpegHeaderReader::FindStartCode(CBitstreamDataSource& source) {
    if (!source.buffer) return kSequenceEndCode;
    source.AlignToByte();
    int32_t zeros = 0;
    for (;;) {
        if (source.IsPastEnd()) {
            // Only the guard words lie behind the sentinel: take the sentinel itself, a
            // sequence_end_code, as the code found.
            source.wordPtr = source.buffer + source.CapacityWords();
            source.bitOffset = 31;
            zeros = 0;
        }
        uint32_t byte = source.GetBits(8);
        if (byte == 0) {
            ++zeros;
        } else if (byte == 1 && zeros >= 2) {
            return source.GetBits(8);
        } else {
            zeros = 0;
        }
    }
}

void CMpegHeaderReader::UnreadStartCode(CBitstreamDataSource& source) {
    if (source.wordPtr > source.buffer) --source.wordPtr;
}

bool CMpegHeaderReader::RefillBeforeHeader() {
    // The refill restarts at the first bit of the current word; two words back the start code
    // just read lies wholly ahead and is found again.
    int64_t consumedWords = dataSource->wordPtr - dataSource->buffer;
    dataSource->wordPtr -= consumedWords < 2 ? consumedWords : 2;
    return dataSource->FillBuffer() == 0;
}

int32_t CMpegHeaderReader::getHeader() {
    if (!dataSource || !headers || !dataSource->buffer) return -1;
    sequenceHeaderSeen = 0;
    groupHeaderSeen = 0;
    // Where the search starts again when the data read so far ends in the middle of a header.
    uint32_t* resume = dataSource->wordPtr;
    // Set once a growing file is read to its end: a picture the end cuts is taken as it is.
    bool atEndOfFile = false;
    for (;;) {
        uint32_t* searchStart = dataSource->wordPtr;
        uint32_t code = FindStartCode();
        if (dataSource->NeedsFill()) {
            if (!RefillBeforeHeader()) return -1;
            resume = dataSource->wordPtr;
            continue;
        }
        if (PastDataEnd()) {
            // The filler behind the data: the end of the file, unless the file has grown. (A
            // sequence_end_code in the data does not end the stream: streams are often joined.)
            if (sequenceEnded && dataSource->WithinGrowingData() && AtReadLimit()) return 0;
            dataSource->wordPtr = resume;
            if (dataSource->ReadMore() == 1) {
                resume = dataSource->wordPtr;
                continue;
            }
            return 0;
        }
        resume = searchStart;
        sequenceEnded = code == kSequenceEndCode ? 1 : 0;
        switch (code) {
            case kPictureStartCode:
                ReadPictureHeader();
                if (!atEndOfFile && dataSource->WithinGrowingData() && !PictureEndsWithinData()) {
                    // Decoded once it is whole: when the data grows past its end.
                    dataSource->wordPtr = searchStart;
                    atEndOfFile = dataSource->ReadMore() == 0;
                    resume = dataSource->wordPtr;
                    continue;
                }
                return 1;
            case kSequenceHeaderCode:
                ReadSequenceHeader();
                sequenceHeaderSeen = 1;
                break;
            case kGroupStartCode:
                ReadGroupHeader();
                groupHeaderSeen = 1;
                break;
            default:
                break;
        }
    }
}

bool CMpegHeaderReader::PastDataEnd() const {
    return !dataSource->IsBufferedMode() && dataSource->GetBytePosition() > dataSource->DataEnd();
}

bool CMpegHeaderReader::AtReadLimit() const {
    const int64_t limit = dataSource->readLimit.load();
    return limit > 0 && dataSource->DataEnd() >= static_cast<uint64_t>(limit);
}

// Whether the start code that ends the picture just read (the next picture, group, sequence
// header or sequence end) lies within the data.
bool CMpegHeaderReader::PictureEndsWithinData() const {
    CBitstreamDataSource& source = *dataSource;
    uint32_t* word = source.wordPtr;
    const int32_t offset = source.bitOffset;
    uint32_t code;
    do {
        code = FindStartCode(source);
    } while (code != kPictureStartCode && code != kSequenceHeaderCode && code != kSequenceEndCode &&
             code != kGroupStartCode);
    const bool within = source.GetBytePosition() <= source.DataEnd();
    source.wordPtr = word;
    source.bitOffset = offset;
    return within;
}

uint64_t CMpegHeaderReader::StartCodePosition() const {
    return dataSource->GetBytePosition() - 4;
}

void CMpegHeaderReader::LoadQuantiserMatrix(uint16_t* matrix) {
    for (int k = 0; k < 64; ++k) {
        matrix[kZigzagScan[k]] = static_cast<uint16_t>(dataSource->GetBits(8));
    }
}

int32_t CMpegHeaderReader::ReadSequenceHeader() {
    SequenceInfo& sequence = headers->sequence;
    MarkStartCodePosition(sequence);
    sequence.mpeg2 = 0;
    sequence.chroma_format = 1;
    sequence.horizontal_size = dataSource->GetBits(12);
    sequence.vertical_size = dataSource->GetBits(12);
    sequence.aspect_ratio_information = dataSource->GetBits(4);
    sequence.frame_rate_code = dataSource->GetBits(4);
    sequence.bit_rate_value = dataSource->GetBits(18);
    dataSource->SkipBits(1);  // marker_bit
    sequence.vbv_buffer_size_value = dataSource->GetBits(10);
    sequence.constrained_parameters_flag = dataSource->GetBit();

    // Matrices are rebuilt from every sequence header, so a repeated header without matrices
    // restores the defaults.
    if (dataSource->GetBit()) {
        LoadQuantiserMatrix(headers->intra_quantiser_matrix);
    } else {
        for (int i = 0; i < 64; ++i) {
            headers->intra_quantiser_matrix[i] = kDefaultIntraQuantiserMatrix[i];
        }
    }
    if (dataSource->GetBit()) {
        LoadQuantiserMatrix(headers->non_intra_quantiser_matrix);
    } else {
        for (uint16_t& value : headers->non_intra_quantiser_matrix) {
            value = kDefaultNonIntraQuantiserValue;
        }
    }
    for (int i = 0; i < 64; ++i) {
        headers->chroma_intra_quantiser_matrix[i] = headers->intra_quantiser_matrix[i];
        headers->chroma_non_intra_quantiser_matrix[i] = headers->non_intra_quantiser_matrix[i];
    }
    return extensionReader.ReadExtensionsAndUserData();
}

int32_t CMpegHeaderReader::ReadGroupHeader() {
    GopInfo& gop = headers->gop;
    MarkStartCodePosition(gop);
    gop.drop_frame_flag = dataSource->GetBit();
    gop.time_code_hours = dataSource->GetBits(5);
    gop.time_code_minutes = dataSource->GetBits(6);
    dataSource->SkipBits(1);  // marker_bit
    gop.time_code_seconds = dataSource->GetBits(6);
    gop.time_code_pictures = dataSource->GetBits(6);
    gop.closed_gop = dataSource->GetBit();
    gop.broken_link = dataSource->GetBit();
    return extensionReader.ReadExtensionsAndUserData();
}

int32_t CMpegHeaderReader::ReadPictureHeader() {
    PictureInfo& picture = headers->picture;
    MarkStartCodePosition(picture);
    picture.picture_structure = kFramePicture;
    picture.frame_pred_frame_dct = 1;
    picture.full_pel_forward_vector = 0;
    picture.full_pel_backward_vector = 0;
    picture.forward_r_size = 0;
    picture.backward_r_size = 0;
    picture.scan = kZigzagScan;

    picture.temporal_reference = dataSource->GetBits(10);
    picture.picture_coding_type = dataSource->GetBits(3);
    picture.vbv_delay = dataSource->GetBits(16);
    if (picture.picture_coding_type == kPictureP || picture.picture_coding_type == kPictureB) {
        picture.full_pel_forward_vector = dataSource->GetBit();
        picture.forward_r_size = RSizeOf(dataSource->GetBits(3));
    }
    if (picture.picture_coding_type == kPictureB) {
        picture.full_pel_backward_vector = dataSource->GetBit();
        picture.backward_r_size = RSizeOf(dataSource->GetBits(3));
    }
    SkipExtraPictureInformation();
    return extensionReader.ReadExtensionsAndUserData();
}

int32_t CMpegHeaderReader::SkipExtraPictureInformation() {
    while (dataSource->GetBit() == 1 && !dataSource->IsPastEnd()) {
        dataSource->SkipBits(8);
    }
    return 0;
}

int32_t CMpegHeaderReader::MapQuantiserScale(uint32_t quantiser_scale_code) const {
    quantiser_scale_code &= 31;
    if (headers->sequence.mpeg2 == 0) return static_cast<int32_t>(quantiser_scale_code);
    if (headers->picture.q_scale_type == 1) {
        return kNonLinearQuantiserScale[quantiser_scale_code];
    }
    return static_cast<int32_t>(quantiser_scale_code) * 2;
}

void CMpegHeaderReader::StoreQuantiser(int32_t quantiser_scale) {
    headers->slice.quantiser_scale = quantiser_scale;
    headers->currentQuantiser = quantiser_scale;
}

int32_t CMpegHeaderReader::ReadSliceHeader() {
    MarkStartCodePosition(headers->slice);
    StoreQuantiser(MapQuantiserScale(dataSource->GetBits(5)));
    // extra_bit_slice; encoders leave it 0, and what it would announce is not used.
    dataSource->SkipBits(1);
    return 0;
}

int32_t CMpegHeaderReader::ReadMacroblockQuantiser() {
    StoreQuantiser(MapQuantiserScale(dataSource->GetBits(5)));
    return 0;
}

}  // namespace d2u
