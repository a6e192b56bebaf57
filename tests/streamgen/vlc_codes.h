// The variable-length codes of MPEG-2 video that the generator writes, kept apart from the
// decoder's tables so that a wrong entry cannot hide in both. Codes are strings of '0' and '1'
// without sign bits; an empty string means the value has no code of its own.
#pragma once

#include <cstdint>
#include <string>

namespace d2u {
namespace streamgen {

// Code `index` of a table whose codes, in the order listed, count down by one from all ones,
// a longer code appending ones to its predecessor; `lengths` holds the lengths as hex digits.
inline std::string CountdownCode(const char* lengths, int index) {
    uint32_t code = 0;
    int length = 0;
    for (int k = 0; k <= index; ++k) {
        const int next = lengths[k] - (lengths[k] <= '9' ? '0' : 'A' - 10);
        code = ((code - 1) << (next - length)) | ((1u << (next - length)) - 1);
        length = next;
    }
    std::string bits;
    for (int b = length - 1; b >= 0; --b) bits += (code >> b & 1) ? '1' : '0';
    return bits;
}

// macroblock_address_increment 1 to 33; the escape adds 33.
inline std::string AddressIncrementCode(int increment) {
    return CountdownCode("133445577888888AAAAAABBBBBBBBBBBB", increment - 1);
}
constexpr const char* kAddressEscapeCode = "00000001000";

struct MacroblockFlags {
    bool quant = false;
    bool forward = false;
    bool backward = false;
    bool pattern = false;
    bool intra = false;
    bool Predicts(int s) const { return s == 0 ? forward : backward; }
};

// The macroblock_type code of a combination in I (1), P (2) or B (3) pictures.
inline std::string MacroblockTypeCode(int pictureType, const MacroblockFlags& f) {
    // Combinations as letters: Quant, Forward, Backward, Pattern, Intra.
    static const struct {
        int pictureType;
        const char* flags;
        const char* code;
    } kTypes[] = {
        {1, "I", "1"},        {1, "QI", "01"},      {2, "FP", "1"},       {2, "P", "01"},
        {2, "F", "001"},      {2, "I", "00011"},    {2, "QFP", "00010"},  {2, "QP", "00001"},
        {2, "QI", "000001"},  {3, "FB", "10"},      {3, "FBP", "11"},     {3, "B", "010"},
        {3, "BP", "011"},     {3, "F", "0010"},     {3, "FP", "0011"},    {3, "I", "00011"},
        {3, "QFBP", "00010"}, {3, "QFP", "000011"}, {3, "QBP", "000010"}, {3, "QI", "000001"}};
    const std::string key = std::string(f.quant ? "Q" : "") + (f.forward ? "F" : "") +
                            (f.backward ? "B" : "") + (f.pattern ? "P" : "") + (f.intra ? "I" : "");
    for (const auto& type : kTypes) {
        if (type.pictureType == pictureType && key == type.flags) return type.code;
    }
    return "";
}

// coded_block_pattern 0 to 63 (0 only where a 4:2:2 pattern extension follows).
inline std::string CodedBlockPatternCode(int pattern) {
    static const int kOrder[64] = {60, 4,  8,  16, 32, 12, 48, 20, 40, 28, 44, 52, 56, 1,  61, 2,
                                   62, 24, 36, 3,  63, 5,  9,  17, 33, 6,  10, 18, 34, 7,  11, 19,
                                   35, 13, 49, 21, 41, 14, 50, 22, 42, 15, 51, 23, 43, 25, 37, 26,
                                   38, 29, 45, 53, 57, 30, 46, 54, 58, 31, 47, 55, 59, 27, 39, 0};
    int index = 0;
    while (kOrder[index] != pattern) ++index;
    return CountdownCode("3444455555555555566667777777788888888888888888888888888889999999", index);
}

// motion_code magnitude 0 to 16 (the sign bit follows non-zero codes).
inline std::string MotionCode(int magnitude) {
    return CountdownCode("12346777999AAAAAA", magnitude);
}

// dmvector -1, 0, +1.
inline std::string DualPrimeCode(int value) {
    return value == 0 ? "0" : (value > 0 ? "10" : "11");
}

// dct_dc_size 0 to 11.
inline std::string DcSizeCode(int size, bool chroma) {
    static const char* const kLuma[12] = {"100",     "00",       "01",        "101",
                                          "110",     "1110",     "11110",     "111110",
                                          "1111110", "11111110", "111111110", "111111111"};
    static const char* const kChroma[12] = {"00",       "01",        "10",         "110",
                                            "1110",     "11110",     "111110",     "1111110",
                                            "11111110", "111111110", "1111111110", "1111111111"};
    return chroma ? kChroma[size] : kLuma[size];
}

// Run/level pairs of the two coefficient tables (intraTable: the table of intra_vlc_format 1).
// Empty when the pair must be escaped.
inline std::string CoefficientCode(bool intraTable, int run, int magnitude) {
    struct RunLevelCode {
        int run;
        int level;
        const char* code;
    };
    // The table of non-intra blocks (and of intra blocks with intra_vlc_format 0).
    // clang-format off
    static const RunLevelCode kTableZero[] = {
        {0, 1, "11"}, {1, 1, "011"}, {0, 2, "0100"}, {2, 1, "0101"}, {0, 3, "00101"}, {3, 1, "00111"},
        {4, 1, "00110"}, {1, 2, "000110"}, {5, 1, "000111"}, {6, 1, "000101"}, {7, 1, "000100"},
        {0, 4, "0000110"}, {2, 2, "0000100"}, {8, 1, "0000111"}, {9, 1, "0000101"}, {0, 5, "00100110"},
        {0, 6, "00100001"}, {1, 3, "00100101"}, {3, 2, "00100100"}, {10, 1, "00100111"},
        {11, 1, "00100011"}, {12, 1, "00100010"}, {13, 1, "00100000"}, {0, 7, "0000001010"},
        {1, 4, "0000001100"}, {2, 3, "0000001011"}, {4, 2, "0000001111"}, {5, 2, "0000001001"},
        {14, 1, "0000001110"}, {15, 1, "0000001101"}, {16, 1, "0000001000"}, {0, 8, "000000011101"},
        {0, 9, "000000011000"}, {0, 10, "000000010011"}, {0, 11, "000000010000"},
        {1, 5, "000000011011"}, {2, 4, "000000010100"}, {3, 3, "000000011100"}, {4, 3, "000000010010"},
        {6, 2, "000000011110"}, {7, 2, "000000010101"}, {8, 2, "000000010001"},
        {17, 1, "000000011111"}, {18, 1, "000000011010"}, {19, 1, "000000011001"},
        {20, 1, "000000010111"}, {21, 1, "000000010110"}};
    // clang-format on
    // The part of the intra_vlc_format 1 table the generator uses; other pairs are escaped.
    static const RunLevelCode kTableOne[] = {{0, 1, "10"},   {1, 1, "010"},   {0, 2, "110"},
                                             {0, 3, "0111"}, {0, 4, "11100"}, {0, 5, "11101"}};
    const auto find = [&](const auto& table) -> std::string {
        for (const RunLevelCode& entry : table) {
            if (entry.run == run && entry.level == magnitude) return entry.code;
        }
        return "";
    };
    return intraTable ? find(kTableOne) : find(kTableZero);
}

inline std::string EndOfBlockCode(bool intraTable) {
    return intraTable ? "0110" : "10";
}
constexpr const char* kCoefficientEscapeCode = "000001";

}  // namespace streamgen
}  // namespace d2u
