// The variable-length codes of MPEG-2 video that the generator writes, kept apart from the
// decoder's tables so that a wrong entry cannot hide in both. Codes are strings of '0' and '1'
// without sign bits; an empty string means the value has no code of its own.
#pragma once

#include <string>

namespace d2u {
namespace streamgen {

// macroblock_address_increment 1 to 33; the escape adds 33.
std::string AddressIncrementCode(int increment);
extern const char* const kAddressEscapeCode;

struct MacroblockFlags {
    bool quant = false;
    bool forward = false;
    bool backward = false;
    bool pattern = false;
    bool intra = false;
};
// The macroblock_type code of a combination in I (1), P (2) or B (3) pictures; empty when the
// combination does not exist there.
std::string MacroblockTypeCode(int pictureType, const MacroblockFlags& flags);

// coded_block_pattern 0 to 63 (0 only where a 4:2:2 pattern extension follows).
std::string CodedBlockPatternCode(int pattern);
// motion_code magnitude 0 to 16 (the sign bit follows non-zero codes).
std::string MotionCode(int magnitude);
// dmvector -1, 0, +1.
std::string DualPrimeCode(int value);
// dct_dc_size 0 to 11.
std::string DcSizeCode(int size, bool chroma);

// Run/level pairs of the two coefficient tables (intraTable: the table of intra_vlc_format 1).
// Empty when the pair must be escaped.
std::string CoefficientCode(bool intraTable, int run, int magnitude);
std::string EndOfBlockCode(bool intraTable);
extern const char* const kCoefficientEscapeCode;

}  // namespace streamgen
}  // namespace d2u
