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
    return d2u::FindStartCode(source.Bits(), source.End());
}

void CMpegHeaderReader::UnreadStartCode(CBitstreamDataSource& source) {
    if (source.Bits().Word() > source.buffer) d2u::UnreadStartCode(source.Bits());
}

bool CMpegHeaderReader::RefillBeforeHeader() {
    // The refill restarts at the first bit of the current word; two words back the start code
    // just read lies wholly ahead and is found again.
    const uint32_t* word = dataSource->Bits().Word();
    const int64_t consumedWords = word - dataSource->buffer;
    dataSource->SetPosition(word - (consumedWords < 2 ? consumedWords : 2), 31);
    return dataSource->FillBuffer() == 0;
}

int32_t CMpegHeaderReader::getHeader() {
    if (!dataSource || !headers || !dataSource->buffer) return -1;
    sequenceHeaderSeen = 0;
    groupHeaderSeen = 0;
    // Where the search starts again when the data read so far ends in the middle of a header.
    BitReader resume = dataSource->Bits();
    // Set once a growing file is read to its end: a picture the end cuts is taken as it is.
    bool atEndOfFile = false;
    for (;;) {
        const BitReader searchStart = dataSource->Bits();
        uint32_t code = FindStartCode();
        if (dataSource->NeedsFill()) {
            if (!RefillBeforeHeader()) return -1;
            resume = dataSource->Bits();
            continue;
        }
        if (PastDataEnd()) {
            // The filler behind the data: the end of the file, unless the file has grown. (A
            // sequence_end_code in the data does not end the stream: streams are often joined.)
            if (sequenceEnded && dataSource->WithinGrowingData() && AtReadLimit()) return 0;
            SetWordPosition(resume);
            if (dataSource->ReadMore() == 1) {
                resume = dataSource->Bits();
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
                    SetWordPosition(searchStart);
                    atEndOfFile = dataSource->ReadMore() == 0;
                    resume = dataSource->Bits();
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
    const BitReader start = source.Bits();
    uint32_t code;
    do {
        code = FindStartCode(source);
    } while (code != kPictureStartCode && code != kSequenceHeaderCode && code != kSequenceEndCode &&
             code != kGroupStartCode);
    const bool within = source.GetBytePosition() <= source.DataEnd();
    source.Bits() = start;
    return within;
}

// Only the word of a position is kept: ReadMore starts again at the first bit of the word it is
// given (and reads into the buffer behind it, which a copy of the reader may have cached).
void CMpegHeaderReader::SetWordPosition(const BitReader& at) {
    dataSource->SetPosition(at.Word(), 31);
}

uint64_t CMpegHeaderReader::StartCodePosition() const {
    return dataSource->GetBytePosition() - 4;
}

void CMpegHeaderReader::LoadQuantiserMatrix(uint16_t* matrix) {
    for (int k = 0; k < 64; ++k) {
        matrix[kZigzagScan[k]] = static_cast<uint16_t>(bits().Get(8));
    }
}

int32_t CMpegHeaderReader::ReadSequenceHeader() {
    SequenceInfo& sequence = headers->sequence;
    MarkStartCodePosition(sequence);
    sequence.mpeg2 = 0;
    sequence.chroma_format = 1;
    sequence.horizontal_size = bits().Get(12);
    sequence.vertical_size = bits().Get(12);
    sequence.aspect_ratio_information = bits().Get(4);
    sequence.frame_rate_code = bits().Get(4);
    sequence.bit_rate_value = bits().Get(18);
    bits().Skip(1);  // marker_bit
    sequence.vbv_buffer_size_value = bits().Get(10);
    sequence.constrained_parameters_flag = bits().GetBit();

    // Matrices are rebuilt from every sequence header, so a repeated header without matrices
    // restores the defaults.
    if (bits().GetBit()) {
        LoadQuantiserMatrix(headers->intra_quantiser_matrix);
    } else {
        for (int i = 0; i < 64; ++i) {
            headers->intra_quantiser_matrix[i] = kDefaultIntraQuantiserMatrix[i];
        }
    }
    if (bits().GetBit()) {
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
    gop.drop_frame_flag = bits().GetBit();
    gop.time_code_hours = bits().Get(5);
    gop.time_code_minutes = bits().Get(6);
    bits().Skip(1);  // marker_bit
    gop.time_code_seconds = bits().Get(6);
    gop.time_code_pictures = bits().Get(6);
    gop.closed_gop = bits().GetBit();
    gop.broken_link = bits().GetBit();
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

    picture.temporal_reference = bits().Get(10);
    picture.picture_coding_type = bits().Get(3);
    picture.vbv_delay = bits().Get(16);
    if (picture.picture_coding_type == kPictureP || picture.picture_coding_type == kPictureB) {
        picture.full_pel_forward_vector = bits().GetBit();
        picture.forward_r_size = RSizeOf(bits().Get(3));
    }
    if (picture.picture_coding_type == kPictureB) {
        picture.full_pel_backward_vector = bits().GetBit();
        picture.backward_r_size = RSizeOf(bits().Get(3));
    }
    SkipExtraPictureInformation();
    return extensionReader.ReadExtensionsAndUserData();
}

int32_t CMpegHeaderReader::SkipExtraPictureInformation() {
    while (bits().GetBit() == 1 && !dataSource->IsPastEnd()) {
        bits().Skip(8);
    }
    return 0;
}

}  // namespace d2u
