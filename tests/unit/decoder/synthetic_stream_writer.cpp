#include "synthetic_stream_writer.h"

#include <cstdlib>
#include <stdexcept>

#include "streamgen/vlc_codes.h"

namespace d2u {
namespace test {
namespace {

void Require(bool condition, const char* what) {
    if (!condition) throw std::logic_error(what);
}

}  // namespace

void SyntheticStreamWriter::SequenceHeader(int width, int height, bool progressiveSequence) {
    progressive = progressiveSequence;
    StartCode(0xB3);
    Put(static_cast<uint32_t>(width << 12 | height), 24);
    Put(0x23, 8);             // 4:3, 25 frames per second
    Put(20000 << 1 | 1, 19);  // bit_rate_value, marker
    Put(112 << 3, 13);        // vbv_buffer_size_value; default matrices
    StartCode(0xB5);
    Put(0x148, 12);                       // sequence extension: main profile, main level
    Put(progressiveSequence ? 5 : 1, 3);  // progressive_sequence, 4:2:0
    Put(0, 16);
    Put(1 << 16, 17);  // marker, then no low_delay
}

void SyntheticStreamWriter::PictureHeader(int type, int temporalReference, int pictureStructure,
                                          bool topFieldFirst) {
    codingType = type;
    structure = pictureStructure;
    StartCode(0x00);
    Put(static_cast<uint32_t>(temporalReference << 3 | type), 13);
    Put(0xFFFF, 16);             // vbv_delay
    if (type >= 2) Put(0x7, 4);  // full_pel_forward_vector 0, forward_f_code 7
    if (type == 3) Put(0x7, 4);
    Put(0, 1);
    StartCode(0xB5);
    const uint32_t forward = type == 1 ? 15 : 1;
    const uint32_t backward = type == 3 ? 1 : 15;
    Put(8, 4);  // picture coding extension
    Put(forward * 0x11, 8);
    Put(backward * 0x11, 8);
    Put(static_cast<uint32_t>(pictureStructure), 4);  // intra_dc_precision 8 bits
    Put((topFieldFirst ? 4 : 0) | (pictureStructure == kFramePicture ? 2 : 0),
        3);     // top_field_first, frame_pred_frame_dct, concealment_motion_vectors
    Put(0, 4);  // linear quantiser, VLC table zero, zigzag, no repeat
    Put(progressive ? 6 : 0, 3);  // chroma_420_type, progressive_frame, no composite
}

void SyntheticStreamWriter::Slice(int row, int column) {
    StartCode(static_cast<uint8_t>(row + 1));
    Put(8 << 1, 6);  // quantiser_scale_code, no extra_bit_slice
    dc[0] = dc[1] = dc[2] = 128;
    pendingIncrement = column + 1;
}

void SyntheticStreamWriter::AddressIncrement() {
    Require(pendingIncrement >= 1 && pendingIncrement <= 33, "address increment out of range");
    PutCode(streamgen::AddressIncrementCode(pendingIncrement));
    pendingIncrement = 1;
}

void SyntheticStreamWriter::DcDifferential(int difference, bool chroma) {
    int size = 0;
    while ((std::abs(difference) >> size) != 0) ++size;
    Require(size <= 8, "DC difference too large");
    PutCode(streamgen::DcSizeCode(size, chroma));
    if (size > 0)
        Put(static_cast<uint32_t>(difference > 0 ? difference : difference + (1 << size) - 1),
            size);
}

void SyntheticStreamWriter::Intra(const int luma[4], int cb, int cr) {
    AddressIncrement();
    PutCode(codingType == 1 ? "1" : "00011");
    const int values[6] = {luma[0], luma[1], luma[2], luma[3], cb, cr};
    for (int block = 0; block < 6; ++block) {
        int predictor = block < 4 ? 0 : block - 3;
        DcDifferential(values[block] - dc[predictor], block >= 4);
        dc[predictor] = values[block];
        PutCode("10");  // end of block
    }
}

// An uncoded P macroblock with a zero vector: frame motion in frame pictures, field motion
// (16x16, from the top field) in field pictures.
void SyntheticStreamWriter::StillMacroblock() {
    Require(codingType == 2, "still macroblocks are P macroblocks");
    AddressIncrement();
    dc[0] = dc[1] = dc[2] = 128;
    PutCode("001");
    if (structure != kFramePicture) PutCode("01 0");  // field motion, field_select 0
    PutCode("1 1");                                   // motion codes 0
}

}  // namespace test
}  // namespace d2u
