// Reads the motion vectors of one macroblock (MPEG-2 motion_vectors(s) and the single vector
// per direction of MPEG-1) and updates the motion vector predictors in place. The predictors
// hold the vectors of the current macroblock in half-sample units.
//
// Every read takes the reading position it moves on.
#pragma once

#include <cstdint>

#include "input/bit_reader.h"

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

    int32_t Init(CMpegVlcTables* tables);

    // A dual-prime vector of direction s: one field vector, each component followed by its
    // dmvector (0, +1 or -1).
    int32_t ReadDualPrimeVector(BitReader& bits, int32_t PMV[2][2][2], int32_t dmvector[2],
                                int32_t s, int32_t h_r_size, int32_t v_r_size, int32_t mvscale);

    // The vector of a frame-format macroblock with one vector per direction (the common case of
    // MPEG-2 frame pictures, and MPEG-1 vectors without full_pel). Statuses as ReadMotionVector.
    // copy (when not null) also receives the vector once it is read. Small f_codes, which nearly
    // every stream uses, are decoded from the reader's cache: short codes here without a call,
    // longer ones by ReadFrameVectorWindow; larger f_codes, and bits of no codeword, take
    // ReadFrameVectorGenerally.
    int32_t ReadFrameVector(BitReader& bits, int32_t* vector, int32_t h_r_size, int32_t v_r_size,
                            int32_t* copy = nullptr) {
        if (!vector) return kInvalidRSize;
        return ReadFrameVector(bits, vector, FrameVectorCodesFor(h_r_size, v_r_size), copy);
    }

    // A component whose code, sign and residual take at most 8 bits, by those 8 bits for one
    // r_size: 512 bytes an r_size.
    struct QuickCode {
        int8_t length;      // 0: a longer code, or no codeword
        int8_t difference;  // what the component adds
    };
    // What the frame vectors of one direction need for a picture, found once for it.
    struct FrameVectorCodes {
        const QuickCode* table[2];  // by component; for large r_sizes one without codes
        int32_t rSize[2];
        int32_t wrapShift[2];  // see WrapComponent
    };
    static FrameVectorCodes FrameVectorCodesFor(int32_t h_r_size, int32_t v_r_size);
    // ReadFrameVector with those; vector is not null.
    int32_t ReadFrameVector(BitReader& bits, int32_t* vector, const FrameVectorCodes& codes,
                            int32_t* copy) {
        // 32 or more stream bits: room for both codes and residuals.
        const uint64_t window = bits.Cache();
        // Most components take 8 bits or fewer with their residual: one look-up each.
        const QuickCode quickHorizontal = codes.table[0][window >> 56];
        const QuickCode quickVertical = codes.table[1][(window << quickHorizontal.length) >> 56];
        if ((quickHorizontal.length != 0) & (quickVertical.length != 0)) {
            const int32_t horizontal =
                Wrap(vector[0] + quickHorizontal.difference, codes.wrapShift[0]);
            const int32_t vertical = Wrap(vector[1] + quickVertical.difference, codes.wrapShift[1]);
            bits.Skip(quickHorizontal.length + quickVertical.length);
            StoreVector(vector, copy, horizontal, vertical);
            return 0;
        }
        return ReadFrameVectorWindow(bits, vector, codes.rSize[0], codes.rSize[1], copy);
    }

    // motion_vectors(s) of field vectors without dual prime (motion_vector_count 2, or 1 with
    // field format), with the codes of direction s: as ReadMotionVectors with dmv 0.
    int32_t ReadFieldVectors(BitReader& bits, int32_t PMV[2][2][2], int32_t field_select[2][2],
                             int32_t s, int32_t motion_vector_count, const FrameVectorCodes& codes,
                             int32_t mvscale);

    // One vector: vector[0] horizontal, vector[1] vertical.
    int32_t ReadMotionVector(BitReader& bits, int32_t* vector, int32_t h_r_size, int32_t v_r_size,
                             int32_t mvscale, int32_t full_pel_vector);

    // Prediction with wrap-around of one component.
    static int32_t DecodeMotionVectorComponent(int32_t* predictor, int32_t r_size,
                                               int32_t motion_code, int32_t motion_residual,
                                               int32_t full_pel_vector);

    // The r_sizes of the window path, 0 to 3: two codes of up to 11 bits and their residuals
    // fit the 32 bits a refill leaves.
    static constexpr int32_t kWindowRSizes = 4;
    // A motion_code with its sign bit and residual, for one r_size, as the difference it adds:
    // base + ((residual & mask) ^ sign), so that a component takes no branch and no arithmetic
    // on the code itself. The codes of up to 8 bits (all whose first five bits are not all
    // zero) are looked up by 8 bits, the longer ones by 11 bits whose first five are zero:
    // 1280 bytes an r_size, of which a stream mostly uses one or two.
    struct WindowEntry {
        int8_t length;  // of the code, its sign bit and its residual; 0: no codeword
        int8_t sign;    // -1 for a negative motion_code, else 0
        uint8_t mask;   // the residual's bits; 0 for motion_code 0, which has none
        int8_t base;    // what the difference is without the residual's bits
    };
    static constexpr int32_t kShortWindowCodes = 1 << 8;
    static constexpr int32_t kWindowCodes = kShortWindowCodes + (1 << 6);
    using WindowTable = WindowEntry[kWindowCodes];
    struct WindowTables {
        WindowTable tables[kWindowRSizes];
    };
    struct QuickTables {
        QuickCode tables[kWindowRSizes + 1][1 << 8];  // the last one without codes
    };

    // A component wrapped back into the range of r_size, [-16 << r_size, 16 << r_size): what
    // adding or subtracting the range's width once gives for any value less than one width
    // outside the range, which takes in every predictor the decoder holds (field vectors of
    // frame pictures are kept doubled) plus any difference.
    static int32_t WrapComponent(int32_t value, int32_t r_size) { return Wrap(value, 27 - r_size); }
    static int32_t Wrap(int32_t value, int32_t unused) {
        return static_cast<int32_t>(static_cast<uint32_t>(value) << unused) >> unused;
    }

private:
    static const WindowTables windowTables;
    static const QuickTables quickTables;

    // motion_vertical_field_select and one field vector, whose vertical component is kept
    // doubled when mvscale is 1; from one bit window when both codes are quick ones.
    int32_t ReadFieldVector(BitReader& bits, int32_t* vector, int32_t* select,
                            const FrameVectorCodes& codes, int32_t mvscale);
    // ReadFrameVector for codes longer than the quick ones, out of line so that the quick
    // path keeps its values in registers.
    int32_t ReadFrameVectorWindow(BitReader& bits, int32_t* vector, int32_t h_r_size,
                                  int32_t v_r_size, int32_t* copy);
    static void StoreVector(int32_t* vector, int32_t* copy, int32_t horizontal, int32_t vertical) {
        vector[0] = horizontal;
        vector[1] = vertical;
        if (copy) {
            copy[0] = horizontal;
            copy[1] = vertical;
        }
    }

    // One component from the top of the window: the bits it takes, or 0 when they are no
    // codeword (the component and window then hold no meaning). Without branches on the code,
    // which the stream makes unpredictable.
    static int32_t ReadWindowComponent(uint64_t& window, const WindowTable& table, int32_t r_size,
                                       int32_t& component) {
        // Codes of 10 and 11 bits are motion_codes of 7 and more, which few vectors take.
        const WindowEntry entry =
            (window >> 59) != 0 ? table[window >> 56] : table[kShortWindowCodes + (window >> 53)];
        const int32_t length = entry.length;
        // The code and residual end at bit `length` of the window; a length of 0 shifts by 0
        // (its result is not used).
        const uint32_t bits = static_cast<uint32_t>(window >> ((64 - length) & 63));
        const int32_t difference =
            entry.base +
            static_cast<int32_t>((bits & entry.mask) ^ static_cast<uint32_t>(entry.sign));
        component = WrapComponent(component + difference, r_size);
#if defined(__GNUC__)
        // Formed here, while the entry is at hand: moved behind the check of both lengths, the
        // two entries outlive the registers.
        asm volatile("" : "+r"(component));
#endif
        window <<= length;
        return length;
    }

    int32_t ReadFrameVectorGenerally(BitReader& bits, int32_t* vector, int32_t h_r_size,
                                     int32_t v_r_size, int32_t* copy);
    int32_t ReadComponent(BitReader& bits, int32_t* component, int32_t r_size,
                          int32_t full_pel_vector, int32_t mvscale);

    CMpegVlcTables* vlcTables = nullptr;
};

}  // namespace d2u
