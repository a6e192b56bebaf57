// The header record of one decoder: what the header reader parsed above the slice layer, with
// the quantiser matrices in force.
// Field names follow the MPEG video syntax elements. Every field is a 32-bit unsigned word
// unless noted; a field that a header does not carry keeps its last value. The wrapper zeroes
// the record once; afterwards only the header reader writes it.
#pragma once

#include <cstdint>

namespace d2u {

struct SequenceInfo {
    uint64_t startPosition;    // byte offset of the sequence_header_code
    uint32_t mpeg2;            // 0 after every sequence header, 1 after a sequence extension
    uint32_t horizontal_size;  // includes horizontal_size_extension in bits 12-13
    uint32_t vertical_size;    // includes vertical_size_extension in bits 12-13
    uint32_t aspect_ratio_information;
    uint32_t frame_rate_code;
    uint32_t bit_rate_value;  // the extension is kept apart in bit_rate_extension
    uint32_t vbv_buffer_size_value;
    uint32_t constrained_parameters_flag;
    // Sequence extension. MPEG-1 streams never carry one; the wrapper sets
    // progressive_sequence = 1 for them.
    uint32_t progressive_sequence;
    uint32_t chroma_format;  // every sequence header resets it to 1 (4:2:0)
    uint32_t profile;        // upper nibble of profile_and_level_indication
    uint32_t level;          // lower nibble
    uint32_t horizontal_size_extension;
    uint32_t vertical_size_extension;
    uint32_t bit_rate_extension;
    uint32_t vbv_buffer_size_extension;
    uint32_t low_delay;
    uint32_t frame_rate_extension_n;
    uint32_t frame_rate_extension_d;
};

struct GopInfo {
    uint64_t startPosition;  // byte offset of the group_start_code
    uint32_t drop_frame_flag;
    uint32_t time_code_hours;
    uint32_t time_code_minutes;
    uint32_t time_code_seconds;
    uint32_t time_code_pictures;
    uint32_t closed_gop;
    uint32_t broken_link;
};

struct PictureInfo {
    uint64_t startPosition;  // byte offset of the picture_start_code
    uint32_t temporal_reference;
    uint32_t picture_coding_type;  // 1 I, 2 P, 3 B; other values are kept as read
    uint32_t vbv_delay;
    // MPEG-1 motion vector parameters; every picture header resets them to 0.
    uint32_t full_pel_forward_vector;
    uint32_t full_pel_backward_vector;
    uint32_t forward_r_size;   // forward_f_code - 1
    uint32_t backward_r_size;  // backward_f_code - 1
    // Picture coding extension. f_code holds the r_size of each component (f_code - 1),
    // [s][t]: s 0 forward / 1 backward, t 0 horizontal / 1 vertical. Always 0 to 14: the
    // forbidden f_code 0 is stored as r_size 0.
    uint32_t f_code[2][2];
    uint32_t intra_dc_precision;
    uint32_t picture_structure;  // every picture header resets it to 3 (frame picture)
    uint32_t top_field_first;
    uint32_t frame_pred_frame_dct;  // every picture header resets it to 1
    uint32_t concealment_motion_vectors;
    uint32_t intra_vlc_format;
    uint32_t repeat_first_field;
    uint32_t progressive_frame;
    uint32_t q_scale_type;
    uint32_t alternate_scan;
    // The active scan: entry k is the raster index of the k-th coefficient in scan order.
    // Every picture header points it at the zigzag scan.
    const uint32_t* scan;
};

struct MpegHeaders {
    SequenceInfo sequence;
    GopInfo gop;
    PictureInfo picture;
    // Raster order (row by row), not scan order.
    uint16_t intra_quantiser_matrix[64];
    uint16_t non_intra_quantiser_matrix[64];
    uint16_t chroma_intra_quantiser_matrix[64];
    uint16_t chroma_non_intra_quantiser_matrix[64];
};

// macroblock_type flags.
constexpr uint32_t kMacroblockIntra = 1;
constexpr uint32_t kMacroblockPattern = 2;
constexpr uint32_t kMacroblockMotionBackward = 4;
constexpr uint32_t kMacroblockMotionForward = 8;
constexpr uint32_t kMacroblockQuant = 16;

// picture_coding_type values.
constexpr uint32_t kPictureI = 1;
constexpr uint32_t kPictureP = 2;
constexpr uint32_t kPictureB = 3;

// picture_structure values.
constexpr uint32_t kTopField = 1;
constexpr uint32_t kBottomField = 2;
constexpr uint32_t kFramePicture = 3;

}  // namespace d2u
