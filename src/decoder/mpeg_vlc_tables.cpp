#include "decoder/mpeg_vlc_tables.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>

#include "decoder/vlc_huffman_table.h"
#include "input/bitstream_data_source.h"

namespace d2u {
namespace {

// ---- codeword lists, written as in ISO/IEC 13818-2 Annex B ----------------------------------
//
// A codeword marked withSign is followed in the stream by a sign bit: 0 for the value as
// written, 1 for its negation. Both forms become entries of the decode table.

struct Codeword {
    const char* bits;  // '0' and '1'; spaces only group digits
    Ipp32s run;        // run/level tables
    Ipp32s value;      // the value, or the level
    bool withSign;
};

struct CodewordList {
    const Codeword* entries;
    int count;
};

template <size_t N>
constexpr CodewordList ListOf(const Codeword (&entries)[N]) {
    return CodewordList{entries, static_cast<int>(N)};
}

// Table B.1, macroblock_address_increment; the escape is an entry, stuffing is not.
constexpr Codeword kAddressIncrementCodes[] = {
    {"1", 0, 1, false},
    {"011", 0, 2, false},
    {"010", 0, 3, false},
    {"0011", 0, 4, false},
    {"0010", 0, 5, false},
    {"0001 1", 0, 6, false},
    {"0001 0", 0, 7, false},
    {"0000 111", 0, 8, false},
    {"0000 110", 0, 9, false},
    {"0000 1011", 0, 10, false},
    {"0000 1010", 0, 11, false},
    {"0000 1001", 0, 12, false},
    {"0000 1000", 0, 13, false},
    {"0000 0111", 0, 14, false},
    {"0000 0110", 0, 15, false},
    {"0000 0101 11", 0, 16, false},
    {"0000 0101 10", 0, 17, false},
    {"0000 0101 01", 0, 18, false},
    {"0000 0101 00", 0, 19, false},
    {"0000 0100 11", 0, 20, false},
    {"0000 0100 10", 0, 21, false},
    {"0000 0100 011", 0, 22, false},
    {"0000 0100 010", 0, 23, false},
    {"0000 0100 001", 0, 24, false},
    {"0000 0100 000", 0, 25, false},
    {"0000 0011 111", 0, 26, false},
    {"0000 0011 110", 0, 27, false},
    {"0000 0011 101", 0, 28, false},
    {"0000 0011 100", 0, 29, false},
    {"0000 0011 011", 0, 30, false},
    {"0000 0011 010", 0, 31, false},
    {"0000 0011 001", 0, 32, false},
    {"0000 0011 000", 0, 33, false},
    {"0000 0001 000", 0, CMpegVlcTables::kAddressEscapeValue, false},
};

// Tables B.2 to B.4, macroblock_type as flags: 1 intra, 2 pattern, 4 backward, 8 forward,
// 16 quant.
constexpr Codeword kMacroblockTypeICodes[] = {
    {"1", 0, 1, false},
    {"01", 0, 17, false},
};

constexpr Codeword kMacroblockTypePCodes[] = {
    {"1", 0, 10, false},       {"01", 0, 2, false},      {"001", 0, 8, false},
    {"0001 1", 0, 1, false},   {"0001 0", 0, 26, false}, {"0000 1", 0, 18, false},
    {"0000 01", 0, 17, false},
};

constexpr Codeword kMacroblockTypeBCodes[] = {
    {"10", 0, 12, false},      {"11", 0, 14, false},      {"010", 0, 4, false},
    {"011", 0, 6, false},      {"0010", 0, 8, false},     {"0011", 0, 10, false},
    {"0001 1", 0, 1, false},   {"0001 0", 0, 30, false},  {"0000 11", 0, 26, false},
    {"0000 10", 0, 22, false}, {"0000 01", 0, 17, false},
};

// Table B.9, coded_block_pattern (bit 5 is block 0).
constexpr Codeword kCodedBlockPatternCodes[] = {
    {"111", 0, 60, false},         {"1101", 0, 4, false},         {"1100", 0, 8, false},
    {"1011", 0, 16, false},        {"1010", 0, 32, false},        {"1001 1", 0, 12, false},
    {"1001 0", 0, 48, false},      {"1000 1", 0, 20, false},      {"1000 0", 0, 40, false},
    {"0111 1", 0, 28, false},      {"0111 0", 0, 44, false},      {"0110 1", 0, 52, false},
    {"0110 0", 0, 56, false},      {"0101 1", 0, 1, false},       {"0101 0", 0, 61, false},
    {"0100 1", 0, 2, false},       {"0100 0", 0, 62, false},      {"0011 11", 0, 24, false},
    {"0011 10", 0, 36, false},     {"0011 01", 0, 3, false},      {"0011 00", 0, 63, false},
    {"0010 111", 0, 5, false},     {"0010 110", 0, 9, false},     {"0010 101", 0, 17, false},
    {"0010 100", 0, 33, false},    {"0010 011", 0, 6, false},     {"0010 010", 0, 10, false},
    {"0010 001", 0, 18, false},    {"0010 000", 0, 34, false},    {"0001 1111", 0, 7, false},
    {"0001 1110", 0, 11, false},   {"0001 1101", 0, 19, false},   {"0001 1100", 0, 35, false},
    {"0001 1011", 0, 13, false},   {"0001 1010", 0, 49, false},   {"0001 1001", 0, 21, false},
    {"0001 1000", 0, 41, false},   {"0001 0111", 0, 14, false},   {"0001 0110", 0, 50, false},
    {"0001 0101", 0, 22, false},   {"0001 0100", 0, 42, false},   {"0001 0011", 0, 15, false},
    {"0001 0010", 0, 51, false},   {"0001 0001", 0, 23, false},   {"0001 0000", 0, 43, false},
    {"0000 1111", 0, 25, false},   {"0000 1110", 0, 37, false},   {"0000 1101", 0, 26, false},
    {"0000 1100", 0, 38, false},   {"0000 1011", 0, 29, false},   {"0000 1010", 0, 45, false},
    {"0000 1001", 0, 53, false},   {"0000 1000", 0, 57, false},   {"0000 0111", 0, 30, false},
    {"0000 0110", 0, 46, false},   {"0000 0101", 0, 54, false},   {"0000 0100", 0, 58, false},
    {"0000 0011 1", 0, 31, false}, {"0000 0011 0", 0, 47, false}, {"0000 0010 1", 0, 55, false},
    {"0000 0010 0", 0, 59, false}, {"0000 0001 1", 0, 27, false}, {"0000 0001 0", 0, 39, false},
    {"0000 0000 1", 0, 0, false},
};

// Table B.10, motion_code.
constexpr Codeword kMotionCodeCodes[] = {
    {"1", 0, 0, false},
    {"01", 0, 1, true},
    {"001", 0, 2, true},
    {"0001", 0, 3, true},
    {"0000 11", 0, 4, true},
    {"0000 101", 0, 5, true},
    {"0000 100", 0, 6, true},
    {"0000 011", 0, 7, true},
    {"0000 0101 1", 0, 8, true},
    {"0000 0101 0", 0, 9, true},
    {"0000 0100 1", 0, 10, true},
    {"0000 0100 01", 0, 11, true},
    {"0000 0100 00", 0, 12, true},
    {"0000 0011 11", 0, 13, true},
    {"0000 0011 10", 0, 14, true},
    {"0000 0011 01", 0, 15, true},
    {"0000 0011 00", 0, 16, true},
};

// Tables B.12 and B.13, dct_dc_size_luminance and dct_dc_size_chrominance.
constexpr Codeword kDcSizeLuminanceCodes[] = {
    {"100", 0, 0, false},       {"00", 0, 1, false},           {"01", 0, 2, false},
    {"101", 0, 3, false},       {"110", 0, 4, false},          {"1110", 0, 5, false},
    {"1111 0", 0, 6, false},    {"1111 10", 0, 7, false},      {"1111 110", 0, 8, false},
    {"1111 1110", 0, 9, false}, {"1111 1111 0", 0, 10, false}, {"1111 1111 1", 0, 11, false},
};

constexpr Codeword kDcSizeChrominanceCodes[] = {
    {"00", 0, 0, false},
    {"01", 0, 1, false},
    {"10", 0, 2, false},
    {"110", 0, 3, false},
    {"1110", 0, 4, false},
    {"1111 0", 0, 5, false},
    {"1111 10", 0, 6, false},
    {"1111 110", 0, 7, false},
    {"1111 1110", 0, 8, false},
    {"1111 1111 0", 0, 9, false},
    {"1111 1111 10", 0, 10, false},
    {"1111 1111 11", 0, 11, false},
};

// Markers of the coefficient tables.
constexpr Codeword kEndOfBlockZero = {"10", kVlcEndOfBlock, kVlcEndOfBlock, false};
constexpr Codeword kEndOfBlockOne = {"0110", kVlcEndOfBlock, kVlcEndOfBlock, false};
constexpr Codeword kEscape = {"0000 01", kVlcEscape, kVlcEscape, false};

// Table B.14, DCT coefficients table zero, without run 0 level 1 (whose codeword depends on
// the position in the block), the end of block and the escape.
constexpr Codeword kCoefficientsZeroCodes[] = {
    {"011", 1, 1, true},
    {"0100", 0, 2, true},
    {"0101", 2, 1, true},
    {"0010 1", 0, 3, true},
    {"0011 1", 3, 1, true},
    {"0011 0", 4, 1, true},
    {"0001 10", 1, 2, true},
    {"0001 11", 5, 1, true},
    {"0001 01", 6, 1, true},
    {"0001 00", 7, 1, true},
    {"0000 110", 0, 4, true},
    {"0000 100", 2, 2, true},
    {"0000 111", 8, 1, true},
    {"0000 101", 9, 1, true},
    {"0010 0110", 0, 5, true},
    {"0010 0001", 0, 6, true},
    {"0010 0101", 1, 3, true},
    {"0010 0100", 3, 2, true},
    {"0010 0111", 10, 1, true},
    {"0010 0011", 11, 1, true},
    {"0010 0010", 12, 1, true},
    {"0010 0000", 13, 1, true},
    {"0000 0010 10", 0, 7, true},
    {"0000 0011 00", 1, 4, true},
    {"0000 0010 11", 2, 3, true},
    {"0000 0011 11", 4, 2, true},
    {"0000 0010 01", 5, 2, true},
    {"0000 0011 10", 14, 1, true},
    {"0000 0011 01", 15, 1, true},
    {"0000 0010 00", 16, 1, true},
    {"0000 0001 1101", 0, 8, true},
    {"0000 0001 1000", 0, 9, true},
    {"0000 0001 0011", 0, 10, true},
    {"0000 0001 0000", 0, 11, true},
    {"0000 0001 1011", 1, 5, true},
    {"0000 0001 0100", 2, 4, true},
    {"0000 0001 1100", 3, 3, true},
    {"0000 0001 0010", 4, 3, true},
    {"0000 0001 1110", 6, 2, true},
    {"0000 0001 0101", 7, 2, true},
    {"0000 0001 0001", 8, 2, true},
    {"0000 0001 1111", 17, 1, true},
    {"0000 0001 1010", 18, 1, true},
    {"0000 0001 1001", 19, 1, true},
    {"0000 0001 0111", 20, 1, true},
    {"0000 0001 0110", 21, 1, true},
    {"0000 0000 1101 0", 0, 12, true},
    {"0000 0000 1100 1", 0, 13, true},
    {"0000 0000 1100 0", 0, 14, true},
    {"0000 0000 1011 1", 0, 15, true},
    {"0000 0000 1011 0", 1, 6, true},
    {"0000 0000 1010 1", 1, 7, true},
    {"0000 0000 1010 0", 2, 5, true},
    {"0000 0000 1001 1", 3, 4, true},
    {"0000 0000 1001 0", 5, 3, true},
    {"0000 0000 1000 1", 9, 2, true},
    {"0000 0000 1000 0", 10, 2, true},
    {"0000 0000 1111 1", 22, 1, true},
    {"0000 0000 1111 0", 23, 1, true},
    {"0000 0000 1110 1", 24, 1, true},
    {"0000 0000 1110 0", 25, 1, true},
    {"0000 0000 1101 1", 26, 1, true},
};

// The codewords of 14 to 16 bits (before the sign), identical in tables zero and one.
constexpr Codeword kCoefficientsLongCodes[] = {
    {"0000 0000 0111 11", 0, 16, true},   {"0000 0000 0111 10", 0, 17, true},
    {"0000 0000 0111 01", 0, 18, true},   {"0000 0000 0111 00", 0, 19, true},
    {"0000 0000 0110 11", 0, 20, true},   {"0000 0000 0110 10", 0, 21, true},
    {"0000 0000 0110 01", 0, 22, true},   {"0000 0000 0110 00", 0, 23, true},
    {"0000 0000 0101 11", 0, 24, true},   {"0000 0000 0101 10", 0, 25, true},
    {"0000 0000 0101 01", 0, 26, true},   {"0000 0000 0101 00", 0, 27, true},
    {"0000 0000 0100 11", 0, 28, true},   {"0000 0000 0100 10", 0, 29, true},
    {"0000 0000 0100 01", 0, 30, true},   {"0000 0000 0100 00", 0, 31, true},
    {"0000 0000 0011 000", 0, 32, true},  {"0000 0000 0010 111", 0, 33, true},
    {"0000 0000 0010 110", 0, 34, true},  {"0000 0000 0010 101", 0, 35, true},
    {"0000 0000 0010 100", 0, 36, true},  {"0000 0000 0010 011", 0, 37, true},
    {"0000 0000 0010 010", 0, 38, true},  {"0000 0000 0010 001", 0, 39, true},
    {"0000 0000 0010 000", 0, 40, true},  {"0000 0000 0011 111", 1, 8, true},
    {"0000 0000 0011 110", 1, 9, true},   {"0000 0000 0011 101", 1, 10, true},
    {"0000 0000 0011 100", 1, 11, true},  {"0000 0000 0011 011", 1, 12, true},
    {"0000 0000 0011 010", 1, 13, true},  {"0000 0000 0011 001", 1, 14, true},
    {"0000 0000 0001 0011", 1, 15, true}, {"0000 0000 0001 0010", 1, 16, true},
    {"0000 0000 0001 0001", 1, 17, true}, {"0000 0000 0001 0000", 1, 18, true},
    {"0000 0000 0001 0100", 6, 3, true},  {"0000 0000 0001 1010", 11, 2, true},
    {"0000 0000 0001 1001", 12, 2, true}, {"0000 0000 0001 1000", 13, 2, true},
    {"0000 0000 0001 0111", 14, 2, true}, {"0000 0000 0001 0110", 15, 2, true},
    {"0000 0000 0001 0101", 16, 2, true}, {"0000 0000 0001 1111", 27, 1, true},
    {"0000 0000 0001 1110", 28, 1, true}, {"0000 0000 0001 1101", 29, 1, true},
    {"0000 0000 0001 1100", 30, 1, true}, {"0000 0000 0001 1011", 31, 1, true},
};

constexpr Codeword kFirstCoefficientZero[] = {{"1", 0, 1, true}, kEscape};
constexpr Codeword kOtherCoefficientZero[] = {{"11", 0, 1, true}, kEndOfBlockZero, kEscape};

// Table B.15, DCT coefficients table one, up to 13 bits before the sign.
constexpr Codeword kCoefficientsOneCodes[] = {
    kEndOfBlockOne,
    kEscape,
    {"10", 0, 1, true},
    {"010", 1, 1, true},
    {"110", 0, 2, true},
    {"0010 1", 2, 1, true},
    {"0111", 0, 3, true},
    {"0011 1", 3, 1, true},
    {"0001 10", 4, 1, true},
    {"0011 0", 1, 2, true},
    {"0001 11", 5, 1, true},
    {"0000 110", 6, 1, true},
    {"0000 100", 7, 1, true},
    {"1110 0", 0, 4, true},
    {"0000 111", 2, 2, true},
    {"0000 101", 8, 1, true},
    {"1111 000", 9, 1, true},
    {"1110 1", 0, 5, true},
    {"0001 01", 0, 6, true},
    {"1111 001", 1, 3, true},
    {"0010 0110", 3, 2, true},
    {"1111 010", 10, 1, true},
    {"0010 0001", 11, 1, true},
    {"0010 0101", 12, 1, true},
    {"0010 0100", 13, 1, true},
    {"0001 00", 0, 7, true},
    {"0010 0111", 1, 4, true},
    {"1111 1100", 2, 3, true},
    {"1111 1101", 4, 2, true},
    {"0000 0010 0", 5, 2, true},
    {"0000 0010 1", 14, 1, true},
    {"0000 0011 1", 15, 1, true},
    {"0000 0011 01", 16, 1, true},
    {"1111 011", 0, 8, true},
    {"1111 100", 0, 9, true},
    {"0010 0011", 0, 10, true},
    {"0010 0010", 0, 11, true},
    {"0010 0000", 1, 5, true},
    {"0000 0011 00", 2, 4, true},
    {"0000 0001 1100", 3, 3, true},
    {"0000 0001 0010", 4, 3, true},
    {"0000 0001 1110", 6, 2, true},
    {"0000 0001 0101", 7, 2, true},
    {"0000 0001 0001", 8, 2, true},
    {"0000 0001 1111", 17, 1, true},
    {"0000 0001 1010", 18, 1, true},
    {"0000 0001 1001", 19, 1, true},
    {"0000 0001 0111", 20, 1, true},
    {"0000 0001 0110", 21, 1, true},
    {"1111 1010", 0, 12, true},
    {"1111 1011", 0, 13, true},
    {"1111 1110", 0, 14, true},
    {"1111 1111", 0, 15, true},
    {"0000 0000 1011 0", 1, 6, true},
    {"0000 0000 1010 1", 1, 7, true},
    {"0000 0000 1010 0", 2, 5, true},
    {"0000 0000 1001 1", 3, 4, true},
    {"0000 0000 1001 0", 5, 3, true},
    {"0000 0000 1000 1", 9, 2, true},
    {"0000 0000 1000 0", 10, 2, true},
    {"0000 0000 1111 1", 22, 1, true},
    {"0000 0000 1111 0", 23, 1, true},
    {"0000 0000 1110 1", 24, 1, true},
    {"0000 0000 1110 0", 25, 1, true},
    {"0000 0000 1101 1", 26, 1, true},
};

// ---- conversion into the input layout of the table kernels -------------------------------

struct TableShape {
    int longest;
    int levelCount;
    int widths[3];
    bool runLevel;
};

constexpr int CodewordLength(const char* bits) {
    int length = 0;
    for (; *bits; ++bits) length += (*bits == '0' || *bits == '1') ? 1 : 0;
    return length;
}

constexpr Ipp32s CodewordValue(const char* bits) {
    Ipp32s value = 0;
    for (; *bits; ++bits) {
        if (*bits == '0' || *bits == '1') value = value * 2 + (*bits - '0');
    }
    return value;
}

constexpr int EntryCount(const CodewordList* lists, int listCount) {
    int count = 0;
    for (int i = 0; i < listCount; ++i) {
        for (int k = 0; k < lists[i].count; ++k) count += lists[i].entries[k].withSign ? 2 : 1;
    }
    return count;
}

template <int ListCount>
constexpr size_t InputTableSize(const TableShape& shape, const CodewordList (&lists)[ListCount]) {
    return static_cast<size_t>(2 + shape.levelCount + shape.longest +
                               EntryCount(lists, ListCount) * (shape.runLevel ? 3 : 2) + 1);
}

template <size_t Size, int ListCount>
constexpr std::array<Ipp32s, Size> MakeInputTable(const TableShape& shape,
                                                  const CodewordList (&lists)[ListCount]) {
    std::array<Ipp32s, Size> table{};
    size_t at = 0;
    table[at++] = shape.longest;
    table[at++] = shape.levelCount;
    for (int i = 0; i < shape.levelCount; ++i) table[at++] = shape.widths[i];
    for (int length = 1; length <= shape.longest; ++length) {
        size_t countAt = at++;
        Ipp32s count = 0;
        for (int i = 0; i < ListCount; ++i) {
            for (int k = 0; k < lists[i].count; ++k) {
                const Codeword& word = lists[i].entries[k];
                int signBits = word.withSign ? 1 : 0;
                if (CodewordLength(word.bits) + signBits != length) continue;
                for (int sign = 0; sign <= signBits; ++sign) {
                    table[at++] = CodewordValue(word.bits) * (1 << signBits) + sign;
                    if (shape.runLevel) table[at++] = word.run;
                    table[at++] = sign ? -word.value : word.value;
                    ++count;
                }
            }
        }
        table[countAt] = count;
    }
    table[at++] = -1;
    return table;
}

#define D2U_VLC_INPUT_TABLE(name, shape, ...)             \
    constexpr CodewordList name##Lists[] = {__VA_ARGS__}; \
    constexpr auto name = MakeInputTable<InputTableSize(shape, name##Lists)>(shape, name##Lists)

constexpr TableShape kAddressIncrementShape{11, 2, {3, 8}, false};
constexpr TableShape kMacroblockTypeIShape{2, 1, {2}, false};
constexpr TableShape kMacroblockTypePShape{6, 2, {1, 5}, false};
constexpr TableShape kMacroblockTypeBShape{6, 2, {3, 3}, false};
constexpr TableShape kCodedBlockPatternShape{9, 2, {3, 6}, false};
constexpr TableShape kMotionCodeShape{11, 2, {3, 8}, false};
constexpr TableShape kDcSizeLuminanceShape{9, 2, {4, 5}, false};
constexpr TableShape kDcSizeChrominanceShape{10, 2, {4, 6}, false};
constexpr TableShape kCoefficientShape{17, 3, {9, 5, 3}, true};

D2U_VLC_INPUT_TABLE(kAddressIncrementInput, kAddressIncrementShape, ListOf(kAddressIncrementCodes));
D2U_VLC_INPUT_TABLE(kMacroblockTypeIInput, kMacroblockTypeIShape, ListOf(kMacroblockTypeICodes));
D2U_VLC_INPUT_TABLE(kMacroblockTypePInput, kMacroblockTypePShape, ListOf(kMacroblockTypePCodes));
D2U_VLC_INPUT_TABLE(kMacroblockTypeBInput, kMacroblockTypeBShape, ListOf(kMacroblockTypeBCodes));
D2U_VLC_INPUT_TABLE(kCodedBlockPatternInput, kCodedBlockPatternShape,
                    ListOf(kCodedBlockPatternCodes));
D2U_VLC_INPUT_TABLE(kMotionCodeInput, kMotionCodeShape, ListOf(kMotionCodeCodes));
D2U_VLC_INPUT_TABLE(kDcSizeLuminanceInput, kDcSizeLuminanceShape, ListOf(kDcSizeLuminanceCodes));
D2U_VLC_INPUT_TABLE(kDcSizeChrominanceInput, kDcSizeChrominanceShape,
                    ListOf(kDcSizeChrominanceCodes));
D2U_VLC_INPUT_TABLE(kFirstCoefficientInput, kCoefficientShape, ListOf(kFirstCoefficientZero),
                    ListOf(kCoefficientsZeroCodes), ListOf(kCoefficientsLongCodes));
D2U_VLC_INPUT_TABLE(kCoefficientZeroInput, kCoefficientShape, ListOf(kOtherCoefficientZero),
                    ListOf(kCoefficientsZeroCodes), ListOf(kCoefficientsLongCodes));
D2U_VLC_INPUT_TABLE(kCoefficientOneInput, kCoefficientShape, ListOf(kCoefficientsOneCodes),
                    ListOf(kCoefficientsLongCodes));

#undef D2U_VLC_INPUT_TABLE

constexpr const Ipp32s* kInputTables[CMpegVlcTables::kTableCount] = {
    kAddressIncrementInput.data(), kMacroblockTypeIInput.data(),   kMacroblockTypePInput.data(),
    kMacroblockTypeBInput.data(),  kCodedBlockPatternInput.data(), kMotionCodeInput.data(),
    kDcSizeLuminanceInput.data(),  kDcSizeChrominanceInput.data(), kFirstCoefficientInput.data(),
    kCoefficientZeroInput.data(),  kCoefficientOneInput.data(),
};

// No picture has more macroblocks than 1024 columns by 175 rows; an address increment with
// more escapes than that is garbage, and stopping bounds the read.
constexpr int32_t kMaxAddressEscapes = 1024 * 175 / 33 + 1;
constexpr Ipp32u kAddressEscapeBits = 0x008;  // 0000 0001 000
constexpr int kAddressEscapeLength = 11;

}  // namespace

CMpegVlcTables::~CMpegVlcTables() {
    Free();
}

int32_t CMpegVlcTables::Build() {
    Free();
    for (int32_t index = 0; index < kTableCount; ++index) {
        if (index < kDctCoefficientsFirst) {
            ippiVCHuffmanInitAlloc_32s(kInputTables[index], &tables[index]);
        } else {
            ippiVCHuffmanInitAllocRL_32s(kInputTables[index], &tables[index]);
        }
    }
    // The coefficient after a block's first comes from table zero.
    if (tables[kDctCoefficientsFirst] && tables[kDctCoefficientsZero]) {
        VlcPairCodewordsWith(*tables[kDctCoefficientsFirst], *tables[kDctCoefficientsZero]);
    }
    for (int32_t index = 0; index < kDirectTableCount; ++index) BuildDirectTable(index);
    return 0;
}

// Every codeword of length L fills the 2^(longest - L) entries that start with it.
void CMpegVlcTables::BuildDirectTable(int32_t index) {
    const Ipp32s* input = kInputTables[index];
    const int32_t longest = input[0];
    const int32_t levelCount = input[1];
    DirectTable& table = direct[index];
    table.codes = new (std::nothrow) DirectCode[size_t{1} << longest]();
    if (!table.codes) return;
    table.longest = longest;
    const Ipp32s* at = input + 2 + levelCount;
    for (int32_t length = 1; length <= longest; ++length) {
        const int32_t count = *at++;
        for (int32_t i = 0; i < count; ++i, at += 2) {
            const int32_t spare = longest - length;
            const bool fits = at[1] >= INT8_MIN && at[1] <= INT8_MAX;
            for (int32_t tail = 0; fits && tail < (1 << spare); ++tail) {
                DirectCode& code = table.codes[(at[0] << spare) | tail];
                code.value = static_cast<int8_t>(at[1]);
                code.length = static_cast<uint8_t>(length);
            }
        }
    }
}

int32_t CMpegVlcTables::Free() {
    for (IppVCHuffmanSpec_32s*& table : tables) {
        if (table) ippiVCHuffmanFree_32s(&table);
        table = nullptr;
    }
    for (DirectTable& table : direct) {
        delete[] table.codes;
        table = DirectTable();
    }
    return 0;
}

int32_t CMpegVlcTables::Decode(BitReader& bits, int32_t* value, int32_t index) {
    if (index < 0 || index >= kTableCount) return ippStsBadArgErr;
    return ippiVCHuffmanDecodeOne_1u32s(bits, value, tables[index]);
}

int32_t CMpegVlcTables::DecodeEscapedAddressIncrement(BitReader& bits, int32_t* value) {
    if (!value) return ippStsNullPtrErr;
    int32_t escapes = 0;
    while (bits.Peek(kAddressEscapeLength) == kAddressEscapeBits) {
        if (++escapes > kMaxAddressEscapes) return kTooManyEscapes;
        bits.Skip(kAddressEscapeLength);
    }
    int32_t status = DecodeDirect(bits, value, kMacroblockAddressIncrement);
    *value += escapes * 33;
    return status;
}

const IppVCHuffmanSpec_32s* CMpegVlcTables::Table(int32_t index) const {
    return index >= 0 && index < kTableCount ? tables[index] : nullptr;
}

const Ipp32s* CMpegVlcTables::InputTable(int32_t index) {
    return index >= 0 && index < kTableCount ? kInputTables[index] : nullptr;
}

}  // namespace d2u
