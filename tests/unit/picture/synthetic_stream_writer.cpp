#include "synthetic_stream_writer.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace d2u {
namespace test {
namespace {

// Variable-length codes: macroblock_address_increment 1 to 15, motion_code 0 to 16 (the sign
// bit follows), dct_dc_size 0 to 8 of luma and of chroma.
const char* const kAddressIncrement[] = {"",          "1",         "011",       "010",
                                         "0011",      "0010",      "0001 1",    "0001 0",
                                         "0000 111",  "0000 110",  "0000 1011", "0000 1010",
                                         "0000 1001", "0000 1000", "0000 0111", "0000 0110"};
const char* const kMotionCode[] = {
    "1",          "01",         "001",        "0001",       "000011",    "0000101",
    "0000100",    "0000011",    "000001011",  "000001010",  "000001001", "0000010001",
    "0000010000", "0000001111", "0000001110", "0000001101", "0000001100"};
const char* const kLumaDcSize[] = {"100",  "00",     "01",      "101",     "110",
                                   "1110", "1111 0", "1111 10", "1111 110"};
const char* const kChromaDcSize[] = {"00",     "01",      "10",       "110",      "1110",
                                     "1111 0", "1111 10", "1111 110", "1111 1110"};

void Require(bool condition, const char* what) {
    if (!condition) throw std::logic_error(what);
}

}  // namespace

void SyntheticStreamWriter::Put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        pending = (pending << 1) | ((value >> i) & 1u);
        if (++pendingBits == 8) {
            bytes.push_back(static_cast<uint8_t>(pending));
            pending = 0;
            pendingBits = 0;
        }
    }
}

void SyntheticStreamWriter::Raw(const char* code) {
    for (const char* c = code; *c; ++c) {
        if (*c == '0' || *c == '1') Put(*c == '1' ? 1u : 0u, 1);
    }
}

void SyntheticStreamWriter::StartCode(uint8_t value) {
    while (pendingBits != 0) Put(0, 1);
    Put(0x000001, 24);
    Put(value, 8);
}

void SyntheticStreamWriter::SequenceHeader(int width, int height, bool progressiveSequence) {
    pictureHeight = height;
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
                                          bool topFieldFirst, bool concealmentVectors) {
    codingType = type;
    concealment = concealmentVectors;
    structure = pictureStructure;
    StartCode(0x00);
    Put(static_cast<uint32_t>(temporalReference << 3 | type), 13);
    Put(0xFFFF, 16);             // vbv_delay
    if (type >= 2) Put(0x7, 4);  // full_pel_forward_vector 0, forward_f_code 7
    if (type == 3) Put(0x7, 4);
    Put(0, 1);
    StartCode(0xB5);
    const uint32_t forward = (type == 1 && !concealmentVectors) ? 15 : 1;
    const uint32_t backward = type == 3 ? 1 : 15;
    Put(8, 4);  // picture coding extension
    Put(forward * 0x11, 8);
    Put(backward * 0x11, 8);
    Put(static_cast<uint32_t>(pictureStructure), 4);  // intra_dc_precision 8 bits
    Put((topFieldFirst ? 4 : 0) | (pictureStructure == kFramePicture ? 2 : 0) |
            (concealmentVectors ? 1 : 0),
        3);     // top_field_first, frame_pred_frame_dct, concealment_motion_vectors
    Put(0, 4);  // linear quantiser, VLC table zero, zigzag, no repeat
    Put(progressive ? 6 : 0, 3);  // chroma_420_type, progressive_frame, no composite
}

void SyntheticStreamWriter::ResetVectors() {
    std::fill(&pmv[0][0][0], &pmv[0][0][0] + 8, 0);
}

void SyntheticStreamWriter::Slice(int row, int column, int extraBytes) {
    // Above 2800 lines slice_vertical_position_extension holds the upper bits of the row.
    StartCode(static_cast<uint8_t>((pictureHeight > 2800 ? row & 127 : row) + 1));
    if (pictureHeight > 2800) Put(static_cast<uint32_t>(row >> 7), 3);
    Put(8, 5);                           // quantiser_scale_code
    if (extraBytes > 0) Put(1 << 8, 9);  // intra_slice_flag, intra_slice, reserved_bits
    for (int i = 1; i < extraBytes; ++i) Put(0x1A5, 9);  // extra_bit_slice, a byte
    Put(0, 1);
    ResetVectors();
    dc[0] = dc[1] = dc[2] = 128;
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
    Raw(kAddressIncrement[pendingIncrement]);
    pendingIncrement = 1;
}

void SyntheticStreamWriter::DcDifferential(int difference, bool chroma) {
    int size = 0;
    while ((std::abs(difference) >> size) != 0) ++size;
    Require(size <= 8, "DC difference too large");
    Raw(chroma ? kChromaDcSize[size] : kLumaDcSize[size]);
    if (size > 0)
        Put(static_cast<uint32_t>(difference > 0 ? difference : difference + (1 << size) - 1),
            size);
}

void SyntheticStreamWriter::Intra(const int luma[4], int cb, int cr, const int vector[2],
                                  int fieldSelect) {
    AddressIncrement();
    Raw(codingType == 1 ? "1" : "00011");
    if (concealment) {
        const int zero[2] = {0, 0};
        if (structure != kFramePicture) Put(static_cast<uint32_t>(fieldSelect), 1);
        MotionVector(0, 0, vector ? vector : zero, false, zero);
        pmv[1][0][0] = pmv[0][0][0];
        pmv[1][0][1] = pmv[0][0][1];
        Put(1, 1);  // marker_bit
    } else {
        ResetVectors();
    }
    const int values[6] = {luma[0], luma[1], luma[2], luma[3], cb, cr};
    for (int block = 0; block < 6; ++block) {
        int predictor = block < 4 ? 0 : block - 3;
        DcDifferential(values[block] - dc[predictor], block >= 4);
        dc[predictor] = values[block];
        Raw("10");  // end of block
    }
}

void SyntheticStreamWriter::MotionVector(int r, int s, const int target[2], bool dualPrime,
                                         const int dmv[2]) {
    for (int t = 0; t < 2; ++t) {
        Require(target[t] >= -16 && target[t] <= 15, "vector out of range for f_code 1");
        const int delta = target[t] - pmv[r][s][t];
        Require(delta >= -16 && delta <= 16, "vector too far from its predictor");
        Raw(kMotionCode[std::abs(delta)]);
        if (delta != 0) Put(delta < 0 ? 1 : 0, 1);
        pmv[r][s][t] = target[t];
        if (dualPrime) Raw(dmv[t] == 0 ? "0" : (dmv[t] > 0 ? "10" : "11"));
    }
}

void SyntheticStreamWriter::Motion(const MotionMacroblock& mb) {
    AddressIncrement();
    const bool coded = mb.codedLuma;
    dc[0] = dc[1] = dc[2] = 128;
    if (codingType == 2 && !mb.forward) {
        // No motion compensation: the co-located block (same parity field) plus residual.
        Require(coded && !mb.backward, "a P macroblock without motion must be coded");
        Raw("01");
        for (auto& r : pmv) r[0][0] = r[0][1] = 0;
        LumaResidual(mb.lumaNegative);
        return;
    }
    Require(codingType == 3 || !mb.backward, "P macroblocks predict forward");
    Require(mb.forward || mb.backward, "B macroblocks need a direction");
    if (codingType == 2)
        Raw(coded ? "1" : "001");
    else if (mb.forward && mb.backward)
        Raw(coded ? "11" : "10");
    else
        Raw(mb.backward ? (coded ? "011" : "010") : (coded ? "0011" : "0010"));
    const bool field = structure != kFramePicture;
    if (field) Put(static_cast<uint32_t>(mb.motionType), 2);
    const bool sixteenByEight = field && mb.motionType == 2;
    const bool dualPrime = field && mb.motionType == 3;
    for (int s = 0; s < 2; ++s) {
        if (!(s == 0 ? mb.forward : mb.backward)) continue;
        for (int r = 0; r < (sixteenByEight ? 2 : 1); ++r) {
            if (field && !dualPrime) Put(static_cast<uint32_t>(mb.fieldSelect[r][s]), 1);
            MotionVector(r, s, mb.vector[r][s], dualPrime, mb.dmvector);
        }
        if (!sixteenByEight) {
            pmv[1][s][0] = pmv[0][s][0];
            pmv[1][s][1] = pmv[0][s][1];
        }
    }
    if (coded) LumaResidual(mb.lumaNegative);
}

void SyntheticStreamWriter::LumaResidual(bool negative) {
    Raw("111");  // coded_block_pattern 60: the four luma blocks
    for (int block = 0; block < 4; ++block) Raw(negative ? "1110" : "1010");  // +-1, end
}

}  // namespace test
}  // namespace d2u
