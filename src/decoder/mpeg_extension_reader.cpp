#include "decoder/mpeg_extension_reader.h"

#include <cstring>

#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_tables.h"
#include "input/bitstream_data_source.h"

namespace d2u {

namespace {

constexpr uint32_t kSequenceExtensionId = 1;
constexpr uint32_t kSequenceDisplayExtensionId = 2;
constexpr uint32_t kQuantMatrixExtensionId = 3;
constexpr uint32_t kPictureDisplayExtensionId = 7;
constexpr uint32_t kPictureCodingExtensionId = 8;

}  // namespace

int32_t CMpegExtensionReader::Init(CBitstreamDataSource* source, MpegHeaders* record) {
    dataSource = source;
    headers = record;
    return 0;
}

int32_t CMpegExtensionReader::ReadExtensionsAndUserData() {
    if (!dataSource || !headers || !dataSource->buffer) return 0;
    for (;;) {
        uint32_t code = CMpegHeaderReader::FindStartCode(*dataSource);
        CMpegHeaderReader::UnreadStartCode(*dataSource);
        if (code == kExtensionStartCode) {
            dataSource->Bits().Skip(32);  // the start code
            switch (dataSource->Bits().Get(4)) {
                case kSequenceExtensionId:
                    ReadSequenceExtension();
                    break;
                case kSequenceDisplayExtensionId:
                    ReadSequenceDisplayExtension();
                    break;
                case kQuantMatrixExtensionId:
                    ReadQuantMatrixExtension();
                    break;
                case kPictureDisplayExtensionId:
                    ReadPictureDisplayExtension();
                    break;
                case kPictureCodingExtensionId:
                    ReadPictureCodingExtension();
                    break;
                default:
                    break;
            }
        } else if (code == kUserDataStartCode) {
            dataSource->Bits().Skip(32);  // the start code
        } else {
            return 0;
        }
    }
}

int32_t CMpegExtensionReader::ReadSequenceExtension() {
    SequenceInfo& sequence = headers->sequence;
    sequence.mpeg2 = 1;
    sequence.profile = dataSource->Bits().Get(4);
    sequence.level = dataSource->Bits().Get(4);
    sequence.progressive_sequence = dataSource->Bits().GetBit();
    sequence.chroma_format = dataSource->Bits().Get(2);
    sequence.horizontal_size_extension = dataSource->Bits().Get(2);
    sequence.vertical_size_extension = dataSource->Bits().Get(2);
    sequence.bit_rate_extension = dataSource->Bits().Get(12);
    dataSource->Bits().Skip(1);  // marker_bit
    sequence.vbv_buffer_size_extension = dataSource->Bits().Get(8);
    sequence.low_delay = dataSource->Bits().GetBit();
    sequence.frame_rate_extension_n = dataSource->Bits().Get(2);
    sequence.frame_rate_extension_d = dataSource->Bits().Get(5);
    sequence.horizontal_size =
        (sequence.horizontal_size & 0xFFF) | (sequence.horizontal_size_extension << 12);
    sequence.vertical_size =
        (sequence.vertical_size & 0xFFF) | (sequence.vertical_size_extension << 12);
    return 0;
}

// False when a value is 0: matrices hold no zeros, while any start code met on the way
// (damage, or an extension cut short) makes at least one.
bool CMpegExtensionReader::LoadMatrix(uint16_t* matrix) {
    bool valid = true;
    for (int k = 0; k < 64; ++k) {
        uint16_t value = static_cast<uint16_t>(dataSource->Bits().Get(8));
        matrix[kZigzagScan[k]] = value;
        valid = valid && value != 0;
    }
    return valid && !dataSource->IsPastEnd();
}

// The matrices are read aside and take effect only when the whole extension is sound;
// otherwise the stream goes back to where the extension's fields began, so that the next
// start code is still found.
int32_t CMpegExtensionReader::ReadQuantMatrixExtension() {
    const BitReader saved = dataSource->Bits();
    uint16_t read[4][64];
    bool loaded[4] = {};
    bool valid = true;
    for (int m = 0; m < 4 && valid; ++m) {
        loaded[m] = dataSource->Bits().GetBit() == 1;
        if (loaded[m]) valid = LoadMatrix(read[m]);
    }
    if (!valid || dataSource->IsPastEnd()) {
        dataSource->Bits() = saved;
        return -1;
    }
    // Intra, non-intra, chroma intra, chroma non-intra; a luma matrix also becomes the chroma
    // one of its kind unless the chroma one is loaded too.
    uint16_t* const matrices[4] = {
        headers->intra_quantiser_matrix, headers->non_intra_quantiser_matrix,
        headers->chroma_intra_quantiser_matrix, headers->chroma_non_intra_quantiser_matrix};
    for (int m = 0; m < 4; ++m) {
        if (!loaded[m]) continue;
        std::memcpy(matrices[m], read[m], sizeof read[m]);
        if (m < 2) std::memcpy(matrices[m + 2], read[m], sizeof read[m]);
    }
    return 0;
}

int32_t CMpegExtensionReader::ReadPictureCodingExtension() {
    PictureInfo& picture = headers->picture;
    for (int s = 0; s < 2; ++s) {
        for (int t = 0; t < 2; ++t)
            picture.f_code[s][t] = CMpegHeaderReader::RSizeOf(dataSource->Bits().Get(4));
    }
    picture.intra_dc_precision = dataSource->Bits().Get(2);
    picture.picture_structure = dataSource->Bits().Get(2);
    picture.top_field_first = dataSource->Bits().GetBit();
    picture.frame_pred_frame_dct = dataSource->Bits().GetBit();
    picture.concealment_motion_vectors = dataSource->Bits().GetBit();
    picture.q_scale_type = dataSource->Bits().GetBit();
    picture.intra_vlc_format = dataSource->Bits().GetBit();
    picture.alternate_scan = dataSource->Bits().GetBit();
    // A 0 keeps the zigzag scan that the picture header chose.
    if (picture.alternate_scan == 1) picture.scan = kAlternateScan;
    picture.repeat_first_field = dataSource->Bits().GetBit();
    dataSource->Bits().Skip(1);  // chroma_420_type
    picture.progressive_frame = dataSource->Bits().GetBit();
    if (dataSource->Bits().GetBit() == 1) {  // composite_display_flag
        // v_axis, field_sequence, sub_carrier, burst_amplitude, sub_carrier_phase
        dataSource->Bits().Skip(20);
    }
    return 0;
}

}  // namespace d2u
