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
        if (!dataSource) return ReadFrameVectorGenerally(vector, h_r_size, v_r_size, copy);
        uint32_t* word = dataSource->wordPtr;
        int32_t offset = dataSource->bitOffset;
        const int32_t status = ReadFrameVectorAt(word, offset, vector, h_r_size, v_r_size, copy);
        dataSource->wordPtr = word;
        dataSource->bitOffset = offset;
        return status;
    }
    // The same from a position the caller holds (word and offset as the data source's
    // `wordPtr` and `bitOffset`), which it moves on; only the general path also sets the data
    // source's own position.
    int32_t ReadFrameVectorAt(uint32_t*& word, int32_t& offset, int32_t* vector, int32_t h_r_size,
                              int32_t v_r_size, int32_t* copy = nullptr) {
        if (!dataSource || static_cast<uint32_t>(h_r_size | v_r_size) >= kWindowRSizes || !vector)
            return ReadFrameVectorGenerallyAt(word, offset, vector, h_r_size, v_r_size, copy);
        // 33 or more stream bits, the next one in the top bit (the reader's guard words lie
        // behind its end): room for both codes and residuals.
        uint64_t window = ((static_cast<uint64_t>(word[0]) << 32) | word[1]) << (31 - offset);
        int32_t horizontal = vector[0];
        int32_t vertical = vector[1];
        // Both components are formed before either is checked: fewer values to keep at once.
        const int32_t horizontalLength = ReadWindowComponent(window, h_r_size, horizontal);
        const int32_t verticalLength = ReadWindowComponent(window, v_r_size, vertical);
        if ((horizontalLength == 0) | (verticalLength == 0))
            return ReadFrameVectorGenerallyAt(word, offset, vector, h_r_size, v_r_size, copy);
        const int32_t used = horizontalLength + verticalLength;
        // The position moves on by at most 32 bits: into the next word or not, without a
        // branch the stream would make unpredictable.
        const int32_t left = offset - used;
        const int32_t intoNextWord = left >> 31;
        word -= intoNextWord;
        offset = left + (intoNextWord & 32);
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

    // The r_sizes of the window path, 0 to 3: two codes of up to 11 bits and their residuals
    // fit the 33 bits a window is sure to hold.
    static constexpr int32_t kWindowRSizes = 4;
    // A motion_code with its sign bit; one table for every r_size, which the residual then
    // joins arithmetically. The codes of up to 8 bits (all whose first five bits are not all
    // zero) come from a table of 8 bits, the longer ones from 11 bits whose first five are
    // zero: 640 bytes together stay in the data cache, where tables of 11 bits for every code
    // (and r_size) did not.
    struct WindowCode {
        int8_t length;  // of the code and its sign bit; 0: no codeword
        int8_t code;    // motion_code, -16 to 16
    };
    struct WindowTable {
        WindowCode shortCodes[1 << 8];
        WindowCode longCodes[1 << 6];  // by the 11 bits, of which the first five are zero
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
    static const WindowTable windowTable;

    // One component from the top of the window: the bits it takes, or 0 when they are no
    // codeword (the component and window then hold no meaning). Without branches on the code,
    // which the stream makes unpredictable.
    static int32_t ReadWindowComponent(uint64_t& window, int32_t r_size, int32_t& component) {
        // Codes of 10 and 11 bits are motion_codes of 7 and more, which few vectors take.
        const WindowCode entry = (window >> 59) != 0 ? windowTable.shortCodes[window >> 56]
                                                     : windowTable.longCodes[window >> 53];
        const int32_t code = entry.code;
        // All ones for a non-zero code, which alone carries a residual.
        const uint32_t coded = 0u - static_cast<uint32_t>(code != 0);
        const int32_t length = entry.length + static_cast<int32_t>(r_size & coded);
        // A length of 0 shifts by 64, taken as 0 (as the processor does); its residual is
        // masked off.
        const uint32_t residual =
            static_cast<uint32_t>(window >> ((64 - length) & 63)) & (((1u << r_size) - 1u) & coded);
        const int32_t sign = code >> 31;
        const uint32_t magnitude = static_cast<uint32_t>((code ^ sign) - sign);
        // ((|motion_code| - 1) << r_size) + residual + 1, and 0 for motion_code 0.
        const int32_t difference =
            static_cast<int32_t>((((magnitude - 1u) << r_size) + residual + 1u) & coded);
        component = WrapComponent(component + ((difference ^ sign) - sign), r_size);
        window <<= length;
        return length;
    }

    int32_t ReadFrameVectorGenerally(int32_t* vector, int32_t h_r_size, int32_t v_r_size,
                                     int32_t* copy);
    // The general path from the caller's position: the data source's position is set to it
    // and read back after (only values pass, so that the caller's copy stays in registers).
    int32_t ReadFrameVectorGenerallyAt(uint32_t*& word, int32_t& offset, int32_t* vector,
                                       int32_t h_r_size, int32_t v_r_size, int32_t* copy) {
        if (!dataSource) return ReadFrameVectorGenerally(vector, h_r_size, v_r_size, copy);
        dataSource->wordPtr = word;
        dataSource->bitOffset = offset;
        const int32_t status = ReadFrameVectorGenerally(vector, h_r_size, v_r_size, copy);
        word = dataSource->wordPtr;
        offset = dataSource->bitOffset;
        return status;
    }
    int32_t ReadComponent(int32_t* component, int32_t r_size, int32_t full_pel_vector,
                          int32_t mvscale);

    CBitstreamDataSource* dataSource = nullptr;
    CMpegVlcTables* vlcTables = nullptr;
};

}  // namespace d2u
