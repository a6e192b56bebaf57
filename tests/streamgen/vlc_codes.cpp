#include "vlc_codes.h"

#include <cstdlib>

namespace d2u {
namespace streamgen {
namespace {

// clang-format off
const char* const kAddressIncrement[34] = {
    "", "1", "011", "010", "0011", "0010", "00011", "00010", "0000111", "0000110", "00001011",
    "00001010", "00001001", "00001000", "00000111", "00000110", "0000010111", "0000010110",
    "0000010101", "0000010100", "0000010011", "0000010010", "00000100011", "00000100010",
    "00000100001", "00000100000", "00000011111", "00000011110", "00000011101", "00000011100",
    "00000011011", "00000011010", "00000011001", "00000011000"};
// clang-format on

struct PatternCode {
    int pattern;
    const char* code;
};
const PatternCode kPatternCodes[64] = {
    {60, "111"},       {4, "1101"},       {8, "1100"},       {16, "1011"},      {32, "1010"},
    {12, "10011"},     {48, "10010"},     {20, "10001"},     {40, "10000"},     {28, "01111"},
    {44, "01110"},     {52, "01101"},     {56, "01100"},     {1, "01011"},      {61, "01010"},
    {2, "01001"},      {62, "01000"},     {24, "001111"},    {36, "001110"},    {3, "001101"},
    {63, "001100"},    {5, "0010111"},    {9, "0010110"},    {17, "0010101"},   {33, "0010100"},
    {6, "0010011"},    {10, "0010010"},   {18, "0010001"},   {34, "0010000"},   {7, "00011111"},
    {11, "00011110"},  {19, "00011101"},  {35, "00011100"},  {13, "00011011"},  {49, "00011010"},
    {21, "00011001"},  {41, "00011000"},  {14, "00010111"},  {50, "00010110"},  {22, "00010101"},
    {42, "00010100"},  {15, "00010011"},  {51, "00010010"},  {23, "00010001"},  {43, "00010000"},
    {25, "00001111"},  {37, "00001110"},  {26, "00001101"},  {38, "00001100"},  {29, "00001011"},
    {45, "00001010"},  {53, "00001001"},  {57, "00001000"},  {30, "00000111"},  {46, "00000110"},
    {54, "00000101"},  {58, "00000100"},  {31, "000000111"}, {47, "000000110"}, {55, "000000101"},
    {59, "000000100"}, {27, "000000011"}, {39, "000000010"}, {0, "000000001"}};

const char* const kMotionCodes[17] = {
    "1",          "01",         "001",        "0001",       "000011",    "0000101",
    "0000100",    "0000011",    "000001011",  "000001010",  "000001001", "0000010001",
    "0000010000", "0000001111", "0000001110", "0000001101", "0000001100"};

const char* const kLumaDcSize[12] = {"100",     "00",       "01",        "101",
                                     "110",     "1110",     "11110",     "111110",
                                     "1111110", "11111110", "111111110", "111111111"};
const char* const kChromaDcSize[12] = {"00",       "01",        "10",         "110",
                                       "1110",     "11110",     "111110",     "1111110",
                                       "11111110", "111111110", "1111111110", "1111111111"};

struct RunLevelCode {
    int run;
    int level;
    const char* code;
};
// The coefficient table used by non-intra blocks (and intra blocks with intra_vlc_format 0).
// clang-format off
const RunLevelCode kTableZero[] = {
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
const RunLevelCode kTableOne[] = {{0, 1, "10"},   {1, 1, "010"},   {0, 2, "110"},
                                  {0, 3, "0111"}, {0, 4, "11100"}, {0, 5, "11101"}};

template <size_t N>
std::string Find(const RunLevelCode (&table)[N], int run, int level) {
    for (const RunLevelCode& entry : table) {
        if (entry.run == run && entry.level == level) return entry.code;
    }
    return "";
}

}  // namespace

const char* const kAddressEscapeCode = "00000001000";
const char* const kCoefficientEscapeCode = "000001";

std::string AddressIncrementCode(int increment) {
    return increment >= 1 && increment <= 33 ? kAddressIncrement[increment] : "";
}

std::string MacroblockTypeCode(int pictureType, const MacroblockFlags& f) {
    if (f.intra) {
        if (f.forward || f.backward || f.pattern) return "";
        if (pictureType == 1) return f.quant ? "01" : "1";
        return f.quant ? "000001" : "00011";
    }
    if (pictureType == 2) {
        if (f.backward) return "";
        if (f.forward) {
            if (!f.pattern) return f.quant ? "" : "001";
            return f.quant ? "00010" : "1";
        }
        if (!f.pattern) return "";
        return f.quant ? "00001" : "01";
    }
    if (pictureType != 3 || (!f.forward && !f.backward) || (f.quant && !f.pattern)) return "";
    if (f.forward && f.backward) return f.quant ? "00010" : (f.pattern ? "11" : "10");
    if (f.backward) return f.quant ? "000010" : (f.pattern ? "011" : "010");
    return f.quant ? "000011" : (f.pattern ? "0011" : "0010");
}

std::string CodedBlockPatternCode(int pattern) {
    for (const PatternCode& entry : kPatternCodes) {
        if (entry.pattern == pattern) return entry.code;
    }
    return "";
}

std::string MotionCode(int magnitude) {
    return magnitude >= 0 && magnitude <= 16 ? kMotionCodes[magnitude] : "";
}

std::string DualPrimeCode(int value) {
    return value == 0 ? "0" : (value > 0 ? "10" : "11");
}

std::string DcSizeCode(int size, bool chroma) {
    if (size < 0 || size > 11) return "";
    return chroma ? kChromaDcSize[size] : kLumaDcSize[size];
}

std::string CoefficientCode(bool intraTable, int run, int magnitude) {
    return intraTable ? Find(kTableOne, run, magnitude) : Find(kTableZero, run, magnitude);
}

std::string EndOfBlockCode(bool intraTable) {
    return intraTable ? "0110" : "10";
}

}  // namespace streamgen
}  // namespace d2u
