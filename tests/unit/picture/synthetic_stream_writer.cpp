#include "synthetic_stream_writer.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace d2u {
namespace test {
namespace {

// Table B.1, macroblock_address_increment 1 to 15.
const char* const kAddressIncrement[] = {"",          "1",         "011",       "010",
                                         "0011",      "0010",      "0001 1",    "0001 0",
                                         "0000 111",  "0000 110",  "0000 1011", "0000 1010",
                                         "0000 1001", "0000 1000", "0000 0111", "0000 0110"};

// Table B.10, motion_code 0 to 16 without the sign bit (the sign follows, 1 for negative).
const char* const kMotionCode[] = {"1",
                                   "01",
                                   "001",
                                   "0001",
                                   "0000 11",
                                   "0000 101",
                                   "0000 100",
                                   "0000 011",
                                   "0000 0101 1",
                                   "0000 0101 0",
                                   "0000 0100 1",
                                   "0000 0100 01",
                                   "0000 0100 00",
                                   "0000 0011 11",
                                   "0000 0011 10",
                                   "0000 0011 01",
                                   "0000 0011 00"};

// Tables B.12 and B.13, dct_dc_size 0 to 8.
const char* const kLumaDcSize[] = {"100",  "00",     "01",      "101",     "110",
                                   "1110", "1111 0", "1111 10", "1111 110"};
const char* const kChromaDcSize[] = {"00",     "01",      "10",       "110",      "1110",
                                     "1111 0", "1111 10", "1111 110", "1111 1110"};

void Require(bool condition, const char* what) {
    if (!condition) throw std::logic_error(what);
}

}  // namespace

void BitWriter::Put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        pending = (pending << 1) | ((value >> i) & 1u);
        if (++pendingBits == 8) {
            bytes.push_back(static_cast<uint8_t>(pending));
            pending = 0;
            pendingBits = 0;
        }
    }
}

void BitWriter::PutCode(const char* code) {
    for (const char* c = code; *c; ++c) {
        if (*c == '0' || *c == '1') Put(*c == '1' ? 1u : 0u, 1);
    }
}

void BitWriter::AlignWithZeros() {
    while (pendingBits != 0) Put(0, 1);
}

void BitWriter::StartCode(uint8_t value) {
    AlignWithZeros();
    Put(0x000001, 24);
    Put(value, 8);
}

void SyntheticStreamWriter::SequenceHeader(int width, int height, bool progressiveSequence) {
    pictureHeight = height;
    progressive = progressiveSequence;
    bits.StartCode(0xB3);
    bits.Put(static_cast<uint32_t>(width), 12);
    bits.Put(static_cast<uint32_t>(height), 12);
    bits.Put(2, 4);       // 4:3
    bits.Put(3, 4);       // 25 frames per second
    bits.Put(20000, 18);  // bit_rate_value
    bits.Put(1, 1);       // marker
    bits.Put(112, 10);    // vbv_buffer_size_value
    bits.Put(0, 1);       // constrained_parameters_flag
    bits.Put(0, 1);       // default intra matrix
    bits.Put(0, 1);       // default non-intra matrix
    bits.StartCode(0xB5);
    bits.Put(1, 4);     // sequence extension
    bits.Put(0x48, 8);  // main profile, main level
    bits.Put(progressiveSequence ? 1 : 0, 1);
    bits.Put(1, 2);  // 4:2:0
    bits.Put(0, 2);
    bits.Put(0, 2);
    bits.Put(0, 12);
    bits.Put(1, 1);  // marker
    bits.Put(0, 8);
    bits.Put(0, 1);  // low_delay
    bits.Put(0, 2);
    bits.Put(0, 5);
}

void SyntheticStreamWriter::GroupHeader(bool closedGop) {
    bits.StartCode(0xB8);
    bits.Put(0, 1);  // drop_frame_flag
    bits.Put(0, 5);
    bits.Put(0, 6);
    bits.Put(1, 1);  // marker
    bits.Put(0, 6);
    bits.Put(0, 6);
    bits.Put(closedGop ? 1 : 0, 1);
    bits.Put(0, 1);  // broken_link
}

void SyntheticStreamWriter::PictureHeader(int type, int temporalReference, int pictureStructure,
                                          bool topFieldFirst, bool concealmentVectors) {
    codingType = type;
    concealment = concealmentVectors;
    structure = pictureStructure;
    bits.StartCode(0x00);
    bits.Put(static_cast<uint32_t>(temporalReference), 10);
    bits.Put(static_cast<uint32_t>(type), 3);
    bits.Put(0xFFFF, 16);                          // vbv_delay
    if (type == 2 || type == 3) bits.Put(0x7, 4);  // full_pel_forward_vector 0, f_code 7
    if (type == 3) bits.Put(0x7, 4);
    bits.Put(0, 1);  // extra_bit_picture
    bits.StartCode(0xB5);
    bits.Put(8, 4);  // picture coding extension
    const uint32_t forward = (type == 1 && !concealmentVectors) ? 15 : 1;
    const uint32_t backward = type == 3 ? 1 : 15;
    bits.Put(forward, 4);
    bits.Put(forward, 4);
    bits.Put(backward, 4);
    bits.Put(backward, 4);
    bits.Put(0, 2);  // intra_dc_precision: 8 bits
    bits.Put(static_cast<uint32_t>(pictureStructure), 2);
    bits.Put(topFieldFirst ? 1 : 0, 1);
    bits.Put(pictureStructure == kFramePicture ? 1 : 0, 1);  // frame_pred_frame_dct
    bits.Put(concealmentVectors ? 1 : 0, 1);                 // concealment_motion_vectors
    bits.Put(0, 1);                                          // q_scale_type
    bits.Put(0, 1);                                          // intra_vlc_format
    bits.Put(0, 1);                                          // alternate_scan
    bits.Put(0, 1);                                          // repeat_first_field
    bits.Put(progressive ? 1 : 0, 1);                        // chroma_420_type
    bits.Put(progressive ? 1 : 0, 1);                        // progressive_frame
    bits.Put(0, 1);                                          // composite_display_flag
}

void SyntheticStreamWriter::ResetPredictors() {
    dc[0] = dc[1] = dc[2] = 128;
    for (auto& r : pmv)
        for (auto& s : r)
            for (auto& t : s) t = 0;
}

void SyntheticStreamWriter::Slice(int row, int column, int quantiserCode, int extraBytes) {
    if (pictureHeight > 2800) {
        // slice_vertical_position_extension holds the upper bits of the row.
        bits.StartCode(static_cast<uint8_t>((row & 127) + 1));
        bits.Put(static_cast<uint32_t>(row >> 7), 3);
    } else {
        bits.StartCode(static_cast<uint8_t>(row + 1));
    }
    bits.Put(static_cast<uint32_t>(quantiserCode), 5);
    if (extraBytes > 0) {
        bits.Put(1, 1);  // intra_slice_flag
        bits.Put(0, 1);  // intra_slice
        bits.Put(0, 7);  // reserved_bits
        for (int i = 1; i < extraBytes; ++i) {
            bits.Put(1, 1);  // extra_bit_slice
            bits.Put(0xA5, 8);
        }
    }
    bits.Put(0, 1);  // extra_bit_slice
    ResetPredictors();
    pendingIncrement = column + 1;
}

void SyntheticStreamWriter::Skip(int count) {
    pendingIncrement += count;
    // Skipped macroblocks reset the DC predictors, and in P pictures the forward vectors.
    dc[0] = dc[1] = dc[2] = 128;
    if (codingType == 2) {
        for (auto& r : pmv) r[0][0] = r[0][1] = 0;
    }
}

void SyntheticStreamWriter::AddressIncrement() {
    Require(pendingIncrement >= 1 && pendingIncrement <= 15, "address increment out of range");
    bits.PutCode(kAddressIncrement[pendingIncrement]);
    pendingIncrement = 1;
}

void SyntheticStreamWriter::DcDifferential(int difference, bool chroma) {
    int size = 0;
    while ((std::abs(difference) >> size) != 0) ++size;
    Require(size <= 8, "DC difference too large");
    bits.PutCode(chroma ? kChromaDcSize[size] : kLumaDcSize[size]);
    if (size == 0) return;
    int value = difference > 0 ? difference : difference + (1 << size) - 1;
    bits.Put(static_cast<uint32_t>(value), size);
}

void SyntheticStreamWriter::Intra(const int luma[4], int cb, int cr, const int vector[2],
                                  int fieldSelect) {
    AddressIncrement();
    bits.PutCode(codingType == 1 ? "1" : "00011");
    if (concealment) {
        const int zero[2] = {0, 0};
        if (structure != kFramePicture) bits.Put(static_cast<uint32_t>(fieldSelect), 1);
        MotionVector(0, 0, vector ? vector : zero, false, zero);
        pmv[1][0][0] = pmv[0][0][0];
        pmv[1][0][1] = pmv[0][0][1];
        bits.Put(1, 1);  // marker_bit
    }
    const int values[6] = {luma[0], luma[1], luma[2], luma[3], cb, cr};
    for (int block = 0; block < 6; ++block) {
        int predictor = block < 4 ? 0 : block - 3;
        DcDifferential(values[block] - dc[predictor], block >= 4);
        dc[predictor] = values[block];
        bits.PutCode("10");  // end of block
    }
    if (concealment) return;
    for (auto& r : pmv)
        for (auto& s : r)
            for (auto& t : s) t = 0;
}

void SyntheticStreamWriter::MotionCode(int delta) {
    Require(delta >= -16 && delta <= 16, "vector too far from its predictor");
    bits.PutCode(kMotionCode[std::abs(delta)]);
    if (delta != 0) bits.Put(delta < 0 ? 1 : 0, 1);
}

void SyntheticStreamWriter::MotionVector(int r, int s, const int target[2], bool dualPrime,
                                         const int dmv[2]) {
    for (int t = 0; t < 2; ++t) {
        Require(target[t] >= -16 && target[t] <= 15, "vector out of range for f_code 1");
        MotionCode(target[t] - pmv[r][s][t]);
        pmv[r][s][t] = target[t];
        if (dualPrime) bits.PutCode(dmv[t] == 0 ? "0" : (dmv[t] > 0 ? "10" : "11"));
    }
}

void SyntheticStreamWriter::Motion(const MotionMacroblock& mb) {
    AddressIncrement();
    const bool coded = mb.codedLuma;
    if (codingType == 2 && !mb.forward) {
        // No motion compensation: the co-located block (same parity field) plus residual.
        Require(coded && !mb.backward, "a P macroblock without motion must be coded");
        bits.PutCode("01");
        for (auto& r : pmv) r[0][0] = r[0][1] = 0;
        WriteLumaResidual(mb.lumaNegative);
        dc[0] = dc[1] = dc[2] = 128;
        return;
    }
    if (codingType == 2) {
        Require(!mb.backward, "P macroblocks predict forward");
        bits.PutCode(coded ? "1" : "001");
    } else {
        Require(mb.forward || mb.backward, "B macroblocks need a direction");
        if (mb.forward && mb.backward)
            bits.PutCode(coded ? "11" : "10");
        else if (mb.backward)
            bits.PutCode(coded ? "011" : "010");
        else
            bits.PutCode(coded ? "0011" : "0010");
    }
    const bool field = structure != kFramePicture;
    if (field) bits.Put(static_cast<uint32_t>(mb.motionType), 2);
    const bool sixteenByEight = field && mb.motionType == 2;
    const bool dualPrime = field && mb.motionType == 3;
    for (int s = 0; s < 2; ++s) {
        if ((s == 0 && !mb.forward) || (s == 1 && !mb.backward)) continue;
        if (sixteenByEight) {
            for (int r = 0; r < 2; ++r) {
                bits.Put(static_cast<uint32_t>(mb.fieldSelect[r][s]), 1);
                MotionVector(r, s, mb.vector[r][s], false, mb.dmvector);
            }
        } else {
            if (field && !dualPrime) bits.Put(static_cast<uint32_t>(mb.fieldSelect[0][s]), 1);
            MotionVector(0, s, mb.vector[0][s], dualPrime, mb.dmvector);
            pmv[1][s][0] = pmv[0][s][0];
            pmv[1][s][1] = pmv[0][s][1];
        }
    }
    if (coded) WriteLumaResidual(mb.lumaNegative);
    dc[0] = dc[1] = dc[2] = 128;
}

void SyntheticStreamWriter::WriteLumaResidual(bool negative) {
    bits.PutCode("111");  // coded_block_pattern 60: the four luma blocks
    for (int block = 0; block < 4; ++block) {
        bits.PutCode(negative ? "11" : "10");  // run 0, level -1 or +1
        bits.PutCode("10");                    // end of block
    }
}

void SyntheticStreamWriter::SequenceEnd() {
    bits.StartCode(0xB7);
}

bool SyntheticStreamWriter::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Bytes().data()),
              static_cast<std::streamsize>(Bytes().size()));
    return static_cast<bool>(out);
}

}  // namespace test
}  // namespace d2u
