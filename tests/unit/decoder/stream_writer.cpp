#include "stream_writer.h"

#include "support/test_env.h"

namespace d2u {
namespace test {

// Raster index of the k-th coefficient in zigzag order, walked along the anti-diagonals.
static std::vector<int> ZigzagByWalking() {
    std::vector<int> order;
    for (int diagonal = 0; diagonal < 15; ++diagonal) {
        std::vector<int> cells;
        for (int row = 0; row < 8; ++row) {
            int column = diagonal - row;
            if (column >= 0 && column < 8) cells.push_back(row * 8 + column);
        }
        // Even diagonals run up-right (from the bottom-left), odd ones down-left.
        if (diagonal % 2 == 0) {
            for (auto it = cells.rbegin(); it != cells.rend(); ++it) order.push_back(*it);
        } else {
            order.insert(order.end(), cells.begin(), cells.end());
        }
    }
    return order;
}

void StreamWriter::Fields(std::initializer_list<uint32_t> valuesAndCounts) {
    for (auto it = valuesAndCounts.begin(); it + 1 < valuesAndCounts.end(); it += 2) {
        Put(it[0], static_cast<int>(it[1]));
    }
}

static void WriteMatrix(StreamWriter& w, const uint16_t* raster) {
    for (int index : ZigzagByWalking()) w.Put(static_cast<uint8_t>(raster[index]), 8);
}

void WriteSequenceHeader(StreamWriter& w, const SequenceFields& f) {
    w.StartCode(0xB3);
    w.Fields({f.horizontal_size, 12, f.vertical_size, 12, f.aspect_ratio_information, 4,
              f.frame_rate_code, 4, f.bit_rate_value, 18, 1, 1, f.vbv_buffer_size_value, 10,
              f.constrained_parameters_flag, 1, f.intraMatrix ? 1u : 0u, 1});
    if (f.intraMatrix) WriteMatrix(w, f.intraMatrix);
    w.Put(f.nonIntraMatrix ? 1 : 0, 1);
    if (f.nonIntraMatrix) WriteMatrix(w, f.nonIntraMatrix);
}

void WriteSequenceExtension(StreamWriter& w, const SequenceExtensionFields& f) {
    w.StartCode(0xB5);
    w.Fields({1, 4, f.profile, 4, f.level, 4, f.progressive_sequence, 1, f.chroma_format, 2,
              f.horizontal_size_extension, 2, f.vertical_size_extension, 2});
    w.Fields({f.bit_rate_extension, 12, 1, 1, f.vbv_buffer_size_extension, 8, f.low_delay, 1,
              f.frame_rate_extension_n, 2, f.frame_rate_extension_d, 5});
}

void WriteGroupHeader(StreamWriter& w, const GopFields& f) {
    w.StartCode(0xB8);
    w.Fields({f.drop_frame_flag, 1, f.time_code_hours, 5, f.time_code_minutes, 6, 1, 1,
              f.time_code_seconds, 6, f.time_code_pictures, 6, f.closed_gop, 1, f.broken_link, 1});
}

void WritePictureHeader(StreamWriter& w, const PictureFields& f) {
    w.StartCode(0x00);
    w.Fields({f.temporal_reference, 10, f.picture_coding_type, 3, f.vbv_delay, 16});
    if (f.picture_coding_type == 2 || f.picture_coding_type == 3) {
        w.Fields({f.full_pel_forward_vector, 1, f.forward_f_code, 3});
    }
    if (f.picture_coding_type == 3) w.Fields({f.full_pel_backward_vector, 1, f.backward_f_code, 3});
    for (uint8_t b : f.extraInformation) w.Fields({1, 1, b, 8});
    w.Put(0, 1);
}

void WritePictureCodingExtension(StreamWriter& w, const PictureCodingFields& f) {
    w.StartCode(0xB5);
    w.Put(8, 4);
    for (auto& direction : f.f_code) {
        for (uint32_t code : direction) w.Put(code, 4);
    }
    w.Fields({f.intra_dc_precision, 2, f.picture_structure, 2, f.top_field_first, 1,
              f.frame_pred_frame_dct, 1, f.concealment_motion_vectors, 1, f.q_scale_type, 1});
    w.Fields({f.intra_vlc_format, 1, f.alternate_scan, 1, f.repeat_first_field, 1,
              f.chroma_420_type, 1, f.progressive_frame, 1, f.composite_display_flag, 1});
    if (f.composite_display_flag) w.Put(0xFFFFF, 20);
}

void WriteUserData(StreamWriter& w, const std::vector<uint8_t>& payload) {
    w.StartCode(0xB2);
    w.PutBytes(payload);
}

void WriteOtherExtension(StreamWriter& w, uint32_t identifier,
                         const std::vector<uint8_t>& payload) {
    w.StartCode(0xB5);
    w.Put(identifier, 4);
    w.Put(0xF, 4);
    w.PutBytes(payload);
}

void WriteSlice(StreamWriter& w, uint8_t sliceValue, uint32_t quantiser_scale_code,
                size_t payloadBytes, uint32_t seed) {
    w.StartCode(sliceValue);
    w.Put(quantiser_scale_code, 5);
    w.Put(0, 1);
    w.Put(3, 2);  // so that the payload bytes, never zero, stay whole
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < payloadBytes; ++i) {
        state = state * 1103515245u + 12345u;
        // Never a zero byte, so the payload holds no start code prefix.
        w.Put(static_cast<uint8_t>(1 + (state >> 16) % 255), 8);
    }
}

bool HeaderRig::LoadBuffer(const std::vector<uint8_t>& bytes) {
    return source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size())) == 0;
}

bool HeaderRig::OpenFile(const std::vector<uint8_t>& bytes, const std::string& name) {
    std::string path = WorkPath(name);
    return WriteFileBytes(path, bytes) && source.Open(path.c_str()) == 0;
}

std::vector<PictureInfo> HeaderRig::ReadAllPictures(int32_t* finalResult) {
    std::vector<PictureInfo> pictures;
    int32_t result;
    // Bounded: a reader that never ends would otherwise hang the test.
    while ((result = reader.getHeader()) == 1 && pictures.size() < 100000) {
        pictures.push_back(headers.picture);
    }
    if (finalResult) *finalResult = result;
    return pictures;
}

}  // namespace test
}  // namespace d2u
