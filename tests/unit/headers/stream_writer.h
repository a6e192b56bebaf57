// Writes MPEG video syntax bit by bit, for streams whose every header field the tests choose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace d2u {
namespace test {

// Raster index of the k-th coefficient in zigzag order, walked along the anti-diagonals.
std::vector<int> ZigzagByWalking();

class StreamWriter {
public:
    void Bits(uint32_t value, int count);
    void Byte(uint8_t value) { Bits(value, 8); }
    // Zero bits up to the next byte boundary (the stuffing before a start code).
    void Align();
    void StartCode(uint8_t value);
    void Bytes(const std::vector<uint8_t>& bytes);
    // Where the next byte-aligned item (a start code) will begin.
    size_t BytePosition() const { return bytes_.size() + (pendingBits_ != 0 ? 1 : 0); }
    const std::vector<uint8_t>& bytes();

private:
    std::vector<uint8_t> bytes_;
    uint32_t pending_ = 0;
    int pendingBits_ = 0;
};

struct SequenceFields {
    uint32_t horizontal_size = 176;
    uint32_t vertical_size = 144;
    uint32_t aspect_ratio_information = 2;
    uint32_t frame_rate_code = 3;
    uint32_t bit_rate_value = 0x3FFFF;
    uint32_t vbv_buffer_size_value = 112;
    uint32_t constrained_parameters_flag = 0;
    const uint16_t* intraMatrix = nullptr;     // raster order; null = none loaded
    const uint16_t* nonIntraMatrix = nullptr;  // raster order; null = none loaded
};

struct SequenceExtensionFields {
    uint32_t profile = 4;
    uint32_t level = 8;
    uint32_t progressive_sequence = 1;
    uint32_t chroma_format = 1;
    uint32_t horizontal_size_extension = 0;
    uint32_t vertical_size_extension = 0;
    uint32_t bit_rate_extension = 0;
    uint32_t vbv_buffer_size_extension = 0;
    uint32_t low_delay = 0;
    uint32_t frame_rate_extension_n = 0;
    uint32_t frame_rate_extension_d = 0;
};

struct GopFields {
    uint32_t drop_frame_flag = 0;
    uint32_t time_code_hours = 0;
    uint32_t time_code_minutes = 0;
    uint32_t time_code_seconds = 0;
    uint32_t time_code_pictures = 0;
    uint32_t closed_gop = 1;
    uint32_t broken_link = 0;
};

struct PictureFields {
    uint32_t temporal_reference = 0;
    uint32_t picture_coding_type = 1;
    uint32_t vbv_delay = 0xFFFF;
    uint32_t full_pel_forward_vector = 0;
    uint32_t forward_f_code = 7;
    uint32_t full_pel_backward_vector = 0;
    uint32_t backward_f_code = 7;
    std::vector<uint8_t> extraInformation;  // extra_information_picture bytes
};

struct PictureCodingFields {
    uint32_t f_code[2][2] = {{15, 15}, {15, 15}};  // as coded (r_size + 1)
    uint32_t intra_dc_precision = 0;
    uint32_t picture_structure = 3;
    uint32_t top_field_first = 0;
    uint32_t frame_pred_frame_dct = 1;
    uint32_t concealment_motion_vectors = 0;
    uint32_t q_scale_type = 0;
    uint32_t intra_vlc_format = 0;
    uint32_t alternate_scan = 0;
    uint32_t repeat_first_field = 0;
    uint32_t chroma_420_type = 1;
    uint32_t progressive_frame = 1;
    uint32_t composite_display_flag = 0;
};

void WriteSequenceHeader(StreamWriter& w, const SequenceFields& f);
void WriteSequenceExtension(StreamWriter& w, const SequenceExtensionFields& f);
void WriteGroupHeader(StreamWriter& w, const GopFields& f);
void WritePictureHeader(StreamWriter& w, const PictureFields& f);
void WritePictureCodingExtension(StreamWriter& w, const PictureCodingFields& f);
void WriteUserData(StreamWriter& w, const std::vector<uint8_t>& payload);
// An extension with an identifier and payload bytes that the reader does not parse.
void WriteOtherExtension(StreamWriter& w, uint32_t identifier, const std::vector<uint8_t>& payload);
// A slice: quantiser_scale_code, extra_bit_slice 0, then payload bytes free of start codes.
void WriteSlice(StreamWriter& w, uint8_t sliceValue, uint32_t quantiser_scale_code,
                size_t payloadBytes, uint32_t seed);

}  // namespace test
}  // namespace d2u
