// Reads the motion vectors of one macroblock (MPEG-2 motion_vectors(s) and the single vector
// per direction of MPEG-1) and updates the motion vector predictors in place. The predictors
// hold the vectors of the current macroblock in half-sample units.
//
// Dual prime: no dmvector bits are read; both dmvector values are set to 0 and the vectors
// are decoded as single vectors.
#pragma once

#include <cstdint>

#include "input/bitstream_data_source.h"

namespace d2u {

class CMpegVlcTables;

class CMotionVectorReader {
public:
    // Status of an r_size outside 0 to 14 (a forbidden or reserved f_code): the macroblock
    // cannot be decoded.
    static constexpr int32_t kInvalidRSize = -1;
    static constexpr int32_t kMaxRSize = 14;

    CMotionVectorReader() = default;
    virtual ~CMotionVectorReader() = default;

    int32_t Init(CBitstreamDataSource* source, CMpegVlcTables* tables);

    // motion_vectors(s): PMV[r][s][t], field_select[r][s]; mv_format 1 frame, 0 field.
    int32_t ReadMotionVectors(int32_t PMV[2][2][2], int32_t* dmvector, int32_t field_select[2][2],
                              int32_t s, int32_t motion_vector_count, int32_t mv_format,
                              int32_t h_r_size, int32_t v_r_size, int32_t dmv, int32_t mvscale);

    // The vector of a frame-format macroblock with one vector per direction (the common case of
    // MPEG-2 frame pictures). Statuses as ReadMotionVector. copy (when not null) also receives
    // the vector once it is read. Small f_codes, which nearly every stream uses, are decoded
    // here from one bit window without a call; the rest, and bits of no codeword, take
    // ReadFrameVectorGenerally.
    int32_t ReadFrameVector(int32_t* vector, int32_t h_r_size, int32_t v_r_size,
                            int32_t* copy = nullptr) {
        if (!dataSource || static_cast<uint32_t>(h_r_size | v_r_size) > kWindowRSize || !vector)
            return ReadFrameVectorGenerally(vector, h_r_size, v_r_size, copy);
        const uint32_t* word = dataSource->wordPtr;
        const int32_t offset = dataSource->bitOffset;
        // 33 or more stream bits, the next one in the top bit (the reader's guard words lie
        // behind its end): room for both codes and residuals.
        uint64_t window = ((static_cast<uint64_t>(word[0]) << 32) | word[1]) << (31 - offset);
        int32_t used = 0;
        int32_t horizontal = vector[0];
        int32_t vertical = vector[1];
        if (!ReadWindowComponent(window, used, h_r_size, horizontal) ||
            !ReadWindowComponent(window, used, v_r_size, vertical))
            return ReadFrameVectorGenerally(vector, h_r_size, v_r_size, copy);
        // The position moves on by at most 32 bits: into the next word or not, without a
        // branch the stream would make unpredictable.
        const int32_t left = offset - used;
        const int32_t intoNextWord = left >> 31;
        dataSource->wordPtr -= intoNextWord;
        dataSource->bitOffset = left + (intoNextWord & 32);
        vector[0] = horizontal;
        vector[1] = vertical;
        if (copy) {
            copy[0] = horizontal;
            copy[1] = vertical;
        }
        return 0;
    }

    // One vector: vector[0] horizontal, vector[1] vertical.
    int32_t ReadMotionVector(int32_t* vector, int32_t* dmvector, int32_t h_r_size, int32_t v_r_size,
                             int32_t dmv, int32_t mvscale, int32_t full_pel_vector);

    // Prediction with wrap-around of one component (ISO/IEC 13818-2, 7.6.3.1).
    static int32_t DecodeMotionVectorComponent(int32_t* predictor, int32_t r_size,
                                               int32_t motion_code, int32_t motion_residual,
                                               int32_t full_pel_vector);

    // One motion_code of the window look-up, by the 11 bits that start it.
    struct WindowCode {
        uint8_t length;         // 0: no codeword
        int8_t magnitudeLess1;  // -1 for motion_code 0
        int8_t sign;            // -1 for negative codes, else 0
        uint8_t residualMask;   // 0 for motion_code 0, which has no motion_residual
    };
    // Indexed by the 11 bits that start a motion_code.
    struct WindowTable {
        WindowCode codes[1 << 11];
    };

    // A component wrapped back into the range of r_size, [-16 << r_size, 16 << r_size): what
    // adding or subtracting the range's width once gives for any value less than one width
    // outside the range, which takes in every predictor the decoder holds (field vectors of
    // frame pictures are kept doubled) plus any difference.
    static int32_t WrapComponent(int32_t value, int32_t r_size) {
        const int32_t unused = 27 - r_size;
        return static_cast<int32_t>(static_cast<uint32_t>(value) << unused) >> unused;
    }

private:
    // The largest r_size of the window path: two codes of up to 11 bits and two residuals fit
    // the 33 bits a window is sure to hold.
    static constexpr uint32_t kWindowRSize = 3;
    static const WindowTable windowTable;

    // One component from the top of the window: false when the bits are no codeword (nothing
    // is then used). Without branches on the code, which the stream makes unpredictable.
    static bool ReadWindowComponent(uint64_t& window, int32_t& used, int32_t r_size,
                                    int32_t& component) {
        const WindowCode code = windowTable.codes[window >> 53];
        if (code.length == 0) return false;
        const int32_t residualBits = r_size & code.residualMask;
        const uint64_t rest = window << code.length;
        // Two shifts keep the count below 64 when there is no residual.
        const uint32_t residual = static_cast<uint32_t>((rest >> 1) >> (63 - residualBits));
        // Zero for motion_code 0: (-1 << 0) + 0 + 1.
        const int32_t delta = static_cast<int32_t>(
            (static_cast<uint32_t>(static_cast<int32_t>(code.magnitudeLess1)) << residualBits) +
            residual + 1u);
        component = WrapComponent(component + ((delta ^ code.sign) - code.sign), r_size);
        window = rest << residualBits;
        used += code.length + residualBits;
        return true;
    }

    int32_t ReadFrameVectorGenerally(int32_t* vector, int32_t h_r_size, int32_t v_r_size,
                                     int32_t* copy);
    int32_t ReadComponent(int32_t* component, int32_t r_size, int32_t full_pel_vector,
                          int32_t mvscale);

    CBitstreamDataSource* dataSource = nullptr;
    CMpegVlcTables* vlcTables = nullptr;
};

}  // namespace d2u
