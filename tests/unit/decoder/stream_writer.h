// Writes MPEG video syntax bit by bit, for streams whose every header field the tests choose, and
// a header reader over its own data source to read them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"
#include "streamgen/bit_writer.h"

namespace d2u {
namespace test {

// Header fields are written as pairs of a value and its bit count, in order.
class StreamWriter : public streamgen::BitWriter {
public:
    void Fields(std::initializer_list<uint32_t> valuesAndCounts);
    // The bytes with the last one completed by zero bits.
    const std::vector<uint8_t>& bytes() {
        AlignWithZeros();
        return Bytes();
    }
};

struct SequenceFields {
    uint32_t horizontal_size = 176, vertical_size = 144, aspect_ratio_information = 2;
    uint32_t frame_rate_code = 3, bit_rate_value = 0x3FFFF, vbv_buffer_size_value = 112;
    uint32_t constrained_parameters_flag = 0;
    const uint16_t* intraMatrix = nullptr;     // raster order; null = none loaded
    const uint16_t* nonIntraMatrix = nullptr;  // raster order; null = none loaded
};

struct SequenceExtensionFields {
    uint32_t profile = 4, level = 8, progressive_sequence = 1, chroma_format = 1;
    uint32_t horizontal_size_extension = 0, vertical_size_extension = 0, bit_rate_extension = 0;
    uint32_t vbv_buffer_size_extension = 0, low_delay = 0;
    uint32_t frame_rate_extension_n = 0, frame_rate_extension_d = 0;
};

struct GopFields {
    uint32_t drop_frame_flag = 0, time_code_hours = 0, time_code_minutes = 0;
    uint32_t time_code_seconds = 0, time_code_pictures = 0, closed_gop = 1, broken_link = 0;
};

struct PictureFields {
    uint32_t temporal_reference = 0, picture_coding_type = 1, vbv_delay = 0xFFFF;
    uint32_t full_pel_forward_vector = 0, forward_f_code = 7;
    uint32_t full_pel_backward_vector = 0, backward_f_code = 7;
    std::vector<uint8_t> extraInformation;  // extra_information_picture bytes
};

struct PictureCodingFields {
    uint32_t f_code[2][2] = {{15, 15}, {15, 15}};  // as coded (r_size + 1)
    uint32_t intra_dc_precision = 0, picture_structure = 3, top_field_first = 0;
    uint32_t frame_pred_frame_dct = 1, concealment_motion_vectors = 0, q_scale_type = 0;
    uint32_t intra_vlc_format = 0, alternate_scan = 0, repeat_first_field = 0;
    uint32_t chroma_420_type = 1, progressive_frame = 1, composite_display_flag = 0;
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

struct HeaderRig {
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;

    HeaderRig() { reader.Init(&source, &headers); }
    bool LoadBuffer(const std::vector<uint8_t>& bytes);
    // Writes the bytes to a work file of this name and opens it.
    bool OpenFile(const std::vector<uint8_t>& bytes, const std::string& name);
    // getHeader until it returns something other than 1; the pictures read, in order.
    std::vector<PictureInfo> ReadAllPictures(int32_t* finalResult = nullptr);
};

}  // namespace test
}  // namespace d2u
