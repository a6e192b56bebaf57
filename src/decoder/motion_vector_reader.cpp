#include "decoder/motion_vector_reader.h"

#include "decoder/mpeg_vlc_tables.h"
#include "platform/inline_hints.h"

namespace d2u {
namespace {

bool ValidRSize(int32_t r_size) {
    return r_size >= 0 && r_size <= CMotionVectorReader::kMaxRSize;
}

// The prediction with wrap-around, for an r_size already checked.
inline int32_t PredictComponent(int32_t predictor, int32_t r_size, int32_t motion_code,
                                int32_t motion_residual, int32_t full_pel_vector) {
    int32_t vec = full_pel_vector == 1 ? (predictor >> 1) : predictor;
    if (motion_code > 0) {
        vec += ((motion_code - 1) << r_size) + motion_residual + 1;
    } else if (motion_code < 0) {
        vec -= ((-motion_code - 1) << r_size) + motion_residual + 1;
    }
    // Both ends whatever the sign of the difference: a frame vector predicted from a field
    // vector (kept doubled) starts outside the range and may leave it on either side.
    vec = CMotionVectorReader::WrapComponent(vec, r_size);
    return full_pel_vector == 1 ? vec * 2 : vec;
}

}  // namespace

int32_t CMotionVectorReader::Init(CMpegVlcTables* tables) {
    vlcTables = tables;
    return 0;
}

inline int32_t CMotionVectorReader::ReadComponent(BitReader& bits, int32_t* component,
                                                  int32_t r_size, int32_t full_pel_vector,
                                                  int32_t mvscale) {
    // Bits of no codeword go through the general decode and its status.
    int32_t longest = 0;
    const CMpegVlcTables::DirectCode* lookup = vlcTables->MotionCodeLookup(&longest);
    const CMpegVlcTables::DirectCode code =
        lookup ? lookup[bits.Peek(longest)] : CMpegVlcTables::DirectCode{0, 0};
    int32_t motion_code = code.value;
    if (code.length == 0) {
        int32_t status = vlcTables->DecodeMotionCode(bits, &motion_code);
        if (status != 0) return status;
    } else {
        bits.Skip(code.length);
    }
    int32_t motion_residual = 0;
    if (r_size != 0 && motion_code != 0) motion_residual = static_cast<int32_t>(bits.Get(r_size));
    // Field vectors of frame pictures are kept in frame units: predict in field units.
    if (mvscale == 1) {
        *component = 2 * PredictComponent(*component >> 1, r_size, motion_code, motion_residual,
                                          full_pel_vector);
    } else {
        *component =
            PredictComponent(*component, r_size, motion_code, motion_residual, full_pel_vector);
    }
    return 0;
}

D2U_NOINLINE int32_t CMotionVectorReader::ReadFrameVectorWindow(BitReader& bits, int32_t* vector,
                                                                int32_t h_r_size, int32_t v_r_size,
                                                                int32_t* copy) {
    if (static_cast<uint32_t>(h_r_size | v_r_size) >= kWindowRSizes)
        return ReadFrameVectorGenerally(bits, vector, h_r_size, v_r_size, copy);
    uint64_t window = bits.Cache();
    int32_t horizontal = vector[0];
    int32_t vertical = vector[1];
    // Both components are formed before either is checked: fewer values to keep at once.
    const int32_t horizontalLength =
        ReadWindowComponent(window, windowTables.tables[h_r_size], h_r_size, horizontal);
    const int32_t verticalLength =
        ReadWindowComponent(window, windowTables.tables[v_r_size], v_r_size, vertical);
    if ((horizontalLength == 0) | (verticalLength == 0))
        return ReadFrameVectorGenerally(bits, vector, h_r_size, v_r_size, copy);
    bits.Skip(horizontalLength + verticalLength);
    StoreVector(vector, copy, horizontal, vertical);
    return 0;
}

CMotionVectorReader::FrameVectorCodes CMotionVectorReader::FrameVectorCodesFor(int32_t h_r_size,
                                                                               int32_t v_r_size) {
    FrameVectorCodes codes{};
    const int32_t sizes[2] = {h_r_size, v_r_size};
    for (int32_t t = 0; t < 2; ++t) {
        const bool quick = static_cast<uint32_t>(sizes[t]) < static_cast<uint32_t>(kWindowRSizes);
        codes.table[t] = quickTables.tables[quick ? sizes[t] : kWindowRSizes];
        codes.rSize[t] = sizes[t];
        codes.wrapShift[t] = quick ? 27 - sizes[t] : 0;
    }
    return codes;
}

int32_t CMotionVectorReader::ReadFrameVectorGenerally(BitReader& bits, int32_t* vector,
                                                      int32_t h_r_size, int32_t v_r_size,
                                                      int32_t* copy) {
    const int32_t status = ReadMotionVector(bits, vector, h_r_size, v_r_size, 0, 0);
    if (status == 0 && copy) {
        copy[0] = vector[0];
        copy[1] = vector[1];
    }
    return status;
}

namespace {

// Table B.10 without the sign bit that follows every code but 0.
struct MotionCodeword {
    const char* bits;
    int32_t magnitude;
};
constexpr MotionCodeword kMotionCodewords[] = {
    {"1", 0},           {"01", 1},          {"001", 2},         {"0001", 3},
    {"000011", 4},      {"0000101", 5},     {"0000100", 6},     {"0000011", 7},
    {"000001011", 8},   {"000001010", 9},   {"000001001", 10},  {"0000010001", 11},
    {"0000010000", 12}, {"0000001111", 13}, {"0000001110", 14}, {"0000001101", 15},
    {"0000001100", 16},
};
constexpr int32_t kWindowBits = 11;

// A motion_code with its sign bit.
struct WindowCode {
    int8_t length;  // of the code and its sign bit; 0: no codeword
    int8_t code;    // motion_code, -16 to 16
};

// Every code by the 11 bits that start it.
struct FullWindowTable {
    WindowCode codes[1 << kWindowBits];
};

constexpr FullWindowTable BuildFullWindowTable() {
    FullWindowTable table{};
    for (const MotionCodeword& codeword : kMotionCodewords) {
        int32_t prefix = 0;
        int32_t length = 0;
        for (const char* bit = codeword.bits; *bit; ++bit, ++length)
            prefix = 2 * prefix + (*bit - '0');
        const bool zero = codeword.magnitude == 0;
        for (int32_t sign = 0; sign < (zero ? 1 : 2); ++sign) {
            const int32_t codeLength = length + (zero ? 0 : 1);
            const int32_t code = zero ? prefix : 2 * prefix + sign;
            const int32_t spare = kWindowBits - codeLength;
            for (int32_t tail = 0; tail < (1 << spare); ++tail) {
                WindowCode& entry = table.codes[(code << spare) | tail];
                entry.length = static_cast<int8_t>(codeLength);
                entry.code = static_cast<int8_t>(sign ? -codeword.magnitude : codeword.magnitude);
            }
        }
    }
    return table;
}

// The entry of one code for r_size: the difference a motion_code m with residual bits q adds
// is ((|m| - 1) << r_size) + q + 1, negated for a negative code; with sign -1, q ^ sign is
// -q - 1, which the base makes up for.
constexpr CMotionVectorReader::WindowEntry EntryOf(WindowCode code, int32_t r_size) {
    CMotionVectorReader::WindowEntry entry{};
    if (code.length == 0) return entry;
    if (code.code == 0) {
        entry.length = code.length;
        return entry;
    }
    const int32_t magnitude = code.code < 0 ? -code.code : code.code;
    const int32_t positive = ((magnitude - 1) << r_size) + 1;
    entry.length = static_cast<int8_t>(code.length + r_size);
    entry.sign = static_cast<int8_t>(code.code < 0 ? -1 : 0);
    entry.mask = static_cast<uint8_t>((1 << r_size) - 1);
    entry.base = static_cast<int8_t>(code.code < 0 ? 1 - positive : positive);
    return entry;
}

constexpr CMotionVectorReader::WindowTables BuildWindowTables() {
    constexpr int32_t kShortBits = 8;
    const FullWindowTable full = BuildFullWindowTable();
    CMotionVectorReader::WindowTables built{};
    for (int32_t r_size = 0; r_size < CMotionVectorReader::kWindowRSizes; ++r_size) {
        CMotionVectorReader::WindowTable& table = built.tables[r_size];
        // Where the first five bits are not all zero, every code fits 8 bits.
        for (int32_t index = 1 << (kShortBits - 5); index < (1 << kShortBits); ++index)
            table[index] = EntryOf(full.codes[index << (kWindowBits - kShortBits)], r_size);
        for (int32_t index = 0; index < (1 << (kWindowBits - 5)); ++index)
            table[CMotionVectorReader::kShortWindowCodes + index] =
                EntryOf(full.codes[index], r_size);
    }
    return built;
}

constexpr CMotionVectorReader::QuickTables BuildQuickTables() {
    constexpr int32_t kQuickBits = 8;
    const FullWindowTable full = BuildFullWindowTable();
    CMotionVectorReader::QuickTables built{};
    for (int32_t r_size = 0; r_size < CMotionVectorReader::kWindowRSizes; ++r_size) {
        for (int32_t index = 0; index < (1 << kQuickBits); ++index) {
            const CMotionVectorReader::WindowEntry entry =
                EntryOf(full.codes[index << (kWindowBits - kQuickBits)], r_size);
            if (entry.length == 0 || entry.length > kQuickBits) continue;
            // The code, sign and residual are the top entry.length bits of the index.
            const int32_t bits = index >> (kQuickBits - entry.length);
            const int32_t difference = entry.base + ((bits & entry.mask) ^ entry.sign);
            built.tables[r_size][index].length = entry.length;
            built.tables[r_size][index].difference = static_cast<int8_t>(difference);
        }
    }
    return built;
}

}  // namespace

int32_t CMotionVectorReader::ReadFieldVectors(BitReader& bits, int32_t PMV[2][2][2],
                                              int32_t field_select[2][2], int32_t s,
                                              int32_t motion_vector_count,
                                              const FrameVectorCodes& codes, int32_t mvscale) {
    if (!PMV || !field_select || (s != 0 && s != 1)) return kInvalidRSize;
    int32_t status = ReadFieldVector(bits, PMV[0][s], &field_select[0][s], codes, mvscale);
    if (motion_vector_count == 2) {
        if (status != 0) return status;
        return ReadFieldVector(bits, PMV[1][s], &field_select[1][s], codes, mvscale);
    }
    field_select[1][s] = field_select[0][s];
    if (status != 0) return status;
    PMV[1][s][0] = PMV[0][s][0];
    PMV[1][s][1] = PMV[0][s][1];
    return 0;
}

int32_t CMotionVectorReader::ReadFieldVector(BitReader& bits, int32_t* vector, int32_t* select,
                                             const FrameVectorCodes& codes, int32_t mvscale) {
    // 32 or more stream bits: the select bit and two quick codes take at most 17.
    uint64_t window = bits.Cache();
    const int32_t fieldSelect = static_cast<int32_t>(window >> 63);
    window <<= 1;
    const QuickCode quickHorizontal = codes.table[0][window >> 56];
    const QuickCode quickVertical = codes.table[1][(window << quickHorizontal.length) >> 56];
    if ((quickHorizontal.length == 0) | (quickVertical.length == 0)) {
        *select = static_cast<int32_t>(bits.GetBit());
        return ReadMotionVector(bits, vector, codes.rSize[0], codes.rSize[1], mvscale, 0);
    }
    *select = fieldSelect;
    vector[0] = Wrap(vector[0] + quickHorizontal.difference, codes.wrapShift[0]);
    // Field vectors of frame pictures are kept in frame units: predicted in field units.
    const int32_t vertical = Wrap(
        (mvscale == 1 ? vector[1] >> 1 : vector[1]) + quickVertical.difference, codes.wrapShift[1]);
    vector[1] = mvscale == 1 ? 2 * vertical : vertical;
    bits.Skip(1 + quickHorizontal.length + quickVertical.length);
    return 0;
}

int32_t CMotionVectorReader::ReadMotionVector(BitReader& bits, int32_t* vector, int32_t h_r_size,
                                              int32_t v_r_size, int32_t mvscale,
                                              int32_t full_pel_vector) {
    if (!vlcTables || !vector) return kInvalidRSize;
    if (!ValidRSize(h_r_size) || !ValidRSize(v_r_size)) return kInvalidRSize;
    int32_t status = ReadComponent(bits, &vector[0], h_r_size, full_pel_vector, 0);
    if (status != 0) return status;
    return ReadComponent(bits, &vector[1], v_r_size, full_pel_vector, mvscale);
}

namespace {

// dmvector: 0 -> 0, 10 -> +1, 11 -> -1.
int32_t ReadDmvector(BitReader& bits) {
    if (bits.GetBit() == 0) return 0;
    return bits.GetBit() ? -1 : 1;
}

}  // namespace

int32_t CMotionVectorReader::ReadDualPrimeVector(BitReader& bits, int32_t PMV[2][2][2],
                                                 int32_t dmvector[2], int32_t s, int32_t h_r_size,
                                                 int32_t v_r_size, int32_t mvscale) {
    const int32_t sizes[2] = {h_r_size, v_r_size};
    int32_t* vector = PMV[0][s];
    for (int32_t t = 0; t < 2; ++t) {
        if (sizes[t] > kMaxRSize) return kInvalidRSize;
        int32_t code = 0;
        int32_t status = vlcTables->DecodeMotionCode(bits, &code);
        if (status != 0) return status;
        int32_t residual =
            (sizes[t] != 0 && code != 0) ? static_cast<int32_t>(bits.Get(sizes[t])) : 0;
        // Frame pictures keep field vectors in frame units.
        const bool scaled = t == 1 && mvscale;
        if (scaled) vector[t] >>= 1;
        DecodeMotionVectorComponent(&vector[t], sizes[t], code, residual, 0);
        if (scaled) vector[t] *= 2;
        dmvector[t] = ReadDmvector(bits);
    }
    PMV[1][s][0] = vector[0];
    PMV[1][s][1] = vector[1];
    return 0;
}

int32_t CMotionVectorReader::DecodeMotionVectorComponent(int32_t* predictor, int32_t r_size,
                                                         int32_t motion_code,
                                                         int32_t motion_residual,
                                                         int32_t full_pel_vector) {
    if (!predictor || !ValidRSize(r_size)) return kInvalidRSize;
    *predictor =
        PredictComponent(*predictor, r_size, motion_code, motion_residual, full_pel_vector);
    return 0;
}

const CMotionVectorReader::WindowTables CMotionVectorReader::windowTables = BuildWindowTables();
const CMotionVectorReader::QuickTables CMotionVectorReader::quickTables = BuildQuickTables();

}  // namespace d2u
