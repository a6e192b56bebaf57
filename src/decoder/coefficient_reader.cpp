#include "decoder/coefficient_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder/vlc_huffman_table.h"
#include "platform/inline_hints.h"
#include "primitives/inverse_dct.h"

namespace d2u {
namespace {

constexpr int kEscapeRunBits = 6;
// The largest quantiser a matrix is scaled by (quantiser_scale of MPEG-1 and the non-linear
// scale go up to 112).
constexpr Ipp32s kMaxQuantiser = 127;
constexpr int kMpeg2EscapeLevelBits = 12;
constexpr int kMpeg1EscapeLevelBits = 8;
// DC predictors of valid streams stay within a few thousand; this only keeps garbage finite.
constexpr Ipp32s kPredictorLimit = 1 << 16;

// The kVlcPackedLongBits bits after the long section's zeros, the index of its slot.
inline Ipp32u LongIndex(const BitReader& bits) {
    return static_cast<Ipp32u>(bits.Cache() >> (64 - kVlcPackedLongZeros - kVlcPackedLongBits)) &
           VlcLowMask(kVlcPackedLongBits);
}

// Two's complement value of the low `bits` bits.
Ipp32s SignExtend(Ipp32u value, int bits) {
    Ipp32s half = 1 << (bits - 1);
    return static_cast<Ipp32s>(value & VlcLowMask(bits)) - ((value & half) ? 2 * half : 0);
}

template <bool kMpeg1>
Ipp32s ReadEscapedLevel(BitReader& bits) {
    if (!kMpeg1) return SignExtend(bits.ReadCached(kMpeg2EscapeLevelBits), kMpeg2EscapeLevelBits);
    Ipp32s level = SignExtend(bits.ReadCached(kMpeg1EscapeLevelBits), kMpeg1EscapeLevelBits);
    if (level == 0) return static_cast<Ipp32s>(bits.ReadCached(8));
    if (level == -128) return static_cast<Ipp32s>(bits.ReadCached(8)) - 256;
    return level;
}

Ipp32s ClampQuantiser(Ipp32s quantiser) {
    return quantiser < 0 ? 0 : (quantiser > kMaxQuantiser ? kMaxQuantiser : quantiser);
}

// Zeroes a block with vector stores: compilers turn a plain 128-byte memset into a string
// instruction whose start-up cost is that of a whole short block.
void ZeroBlock(Ipp16s block[64]) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i* rows = reinterpret_cast<__m128i*>(block);
    _mm_storeu_si128(rows + 0, zero);
    _mm_storeu_si128(rows + 1, zero);
    _mm_storeu_si128(rows + 2, zero);
    _mm_storeu_si128(rows + 3, zero);
    _mm_storeu_si128(rows + 4, zero);
    _mm_storeu_si128(rows + 5, zero);
    _mm_storeu_si128(rows + 6, zero);
    _mm_storeu_si128(rows + 7, zero);
#else
    std::memset(block, 0, 64 * sizeof(Ipp16s));
#endif
}

enum class Codeword { kCoefficient, kEndOfBlock, kInvalid };

// No scan index: a block of more than one coefficient, or one whose first pair runs past the end.
constexpr Ipp32u kNoLoneCoefficient = 64;

// The codeword readers run once per coefficient or block: they go inline into their callers.

// The packed slot of a codeword that starts with the zeros of the long section, by the bits
// after them; `peek` holds the next 32 stream bits.
inline Ipp32u LongSectionEntry(const Ipp32u* packed, Ipp32u peek) {
    constexpr int kShift = 32 - kVlcPackedLongZeros - kVlcPackedLongBits;
    return packed[(1u << kVlcPackedBits) + ((peek >> kShift) & VlcLowMask(kVlcPackedLongBits))];
}

// Decodes the run/level codeword at the bit position, with its escape bits, after a refill.
// Short codewords come from the packed slots in one load; the rest take the full lookup.
// `packed` is that of `table`, held by the caller across codewords.
template <bool kMpeg1>
D2U_ALWAYS_INLINE Codeword ReadRunLevel(const IppVCHuffmanSpec_32s& table, const Ipp32u* packed,
                                        BitReader& bits, Ipp32s* run, Ipp32s* level) {
    Ipp32u entry = packed[bits.Peek(kVlcPackedBits)];
    if (D2U_LIKELY(VlcPackedIsPlain(entry))) {
        bits.SkipCached(static_cast<int>(VlcPackedLength(entry)));
        *run = static_cast<Ipp32s>(VlcPackedRun(entry));
        *level = VlcPackedLevel(entry);
        return Codeword::kCoefficient;
    }
    const Ipp32u peek = bits.Peek32();
    Ipp32u kind = VlcPackedRun(entry);
    // Every block ends here: the end of block is tested first.
    if (kind == kVlcPackedEndOfBlock) {
        bits.SkipCached(static_cast<int>(VlcPackedLength(entry)));
        return Codeword::kEndOfBlock;
    }
    if (kind == kVlcPackedLong) {
        entry = LongSectionEntry(packed, peek);
        kind = VlcPackedRun(entry);
        if (D2U_LIKELY(VlcPackedIsPlain(entry))) {
            bits.SkipCached(static_cast<int>(VlcPackedLength(entry)));
            *run = static_cast<Ipp32s>(kind);
            *level = VlcPackedLevel(entry);
            return Codeword::kCoefficient;
        }
    }
    if (kind == kVlcPackedOther) {
        int length = 0;
        const VlcSlot* slot = VlcFindCodewordInBits(table, peek, &length);
        if (!slot) return Codeword::kInvalid;
        if (slot->run == kVlcEndOfBlock) {
            kind = kVlcPackedEndOfBlock;
        } else if (slot->run == kVlcEscape) {
            kind = kVlcPackedEscape;
        } else {
            bits.SkipCached(length);
            *run = slot->run;
            *level = slot->value;
            return Codeword::kCoefficient;
        }
        entry = static_cast<Ipp32u>(length);
    }
    bits.SkipCached(static_cast<int>(VlcPackedLength(entry)));
    if (kind == kVlcPackedEndOfBlock) return Codeword::kEndOfBlock;
    *run = static_cast<Ipp32s>(bits.ReadCached(kEscapeRunBits));
    *level = ReadEscapedLevel<kMpeg1>(bits);
    return Codeword::kCoefficient;
}

// A plain coefficient of the long section (the codeword starts with its zeros), after a refill.
// Returns false, with the position unchanged, for anything else.
D2U_ALWAYS_INLINE bool ReadLongCoefficient(const IppVCHuffmanSpec_32s& table, BitReader& bits,
                                           Ipp32s* run, Ipp32s* level) {
    const Ipp32u entry = LongSectionEntry(table.packed.data(), bits.Peek32());
    if (!VlcPackedIsPlain(entry)) return false;
    bits.SkipCached(static_cast<int>(VlcPackedLength(entry)));
    *run = static_cast<Ipp32s>(VlcPackedRun(entry));
    *level = VlcPackedLevel(entry);
    return true;
}

// Where the coefficients of one block go: each level's inverse quantisation through a scaled
// matrix (the weight and position of each scan index read directly), with the exclusive or of
// the stored values kept for the mismatch control.
template <bool kIntra, bool kMpeg1>
struct ScaledSink {
    static constexpr int kShift = kMpeg1 ? (kIntra ? 3 : 4) : (kIntra ? 4 : 5);
    const ScaledMatrix* matrix;
    Ipp16s* out;
    Ipp32s parity;

    void Store(Ipp32u index, Ipp32s level) {
        const Ipp32s negative = level >> 31;
        const Ipp32s magnitude = (level ^ negative) - negative;
        const Ipp32s multiplier = kIntra ? magnitude : 2 * magnitude + (magnitude != 0 ? 1 : 0);
        StoreMultiplied<true>(index, multiplier, negative);
    }

    // The coefficient of multiplier |level| (intra) or 2 |level| + 1 (non-intra; 0 stores a
    // zero) and sign 0 or -1. Without kClamp the caller has made sure that the product stays
    // within the coefficient range.
    template <bool kClamp>
    void StoreMultiplied(Ipp32u index, Ipp32s multiplier, Ipp32s negative) {
        Ipp32s value = (multiplier * matrix->weight[index]) >> kShift;
        if (kMpeg1) value -= (value != 0) & ~value & 1;
        if (kClamp) {
            const Ipp32s limit = idct::kInputMax - negative;
            value = value > limit ? limit : value;
        }
        value = (value ^ negative) - negative;
        out[matrix->position[index]] = static_cast<Ipp16s>(value);
        if (!kMpeg1) parity ^= value;
    }

    // Whether pair slots whose largest multiplier is `largest` can do without the clamp
    // (weights stay below 2^15, so the product fits 32 bits).
    bool PairsFitWithoutClamp(Ipp32u largest) const {
        return largest * matrix->largestWeight <
               (static_cast<Ipp32u>(idct::kInputMax + 1) << kShift);
    }
};

// The codeword of a slot that the pair loop does not take (escape, long section, or anything
// else through the packed lookup of `table`), after a refill.
template <bool kMpeg1>
D2U_ALWAYS_INLINE Codeword ReadSingleCodeword(const VlcCoefficientPair& pair,
                                              const IppVCHuffmanSpec_32s& table, BitReader& bits,
                                              Ipp32s* run, Ipp32s* level) {
    if (pair.flags & VlcCoefficientPair::kEscape) {
        // The run and level follow the escape codeword; the refill left room for all.
        bits.SkipCached(pair.length);
        *run = static_cast<Ipp32s>(bits.ReadCached(kEscapeRunBits));
        *level = ReadEscapedLevel<kMpeg1>(bits);
        return Codeword::kCoefficient;
    }
    if ((pair.flags & VlcCoefficientPair::kLong) && ReadLongCoefficient(table, bits, run, level))
        return Codeword::kCoefficient;
    return ReadRunLevel<kMpeg1>(table, table.packed.data(), bits, run, level);
}

// A codeword of the long section through its ready slot, after a refill: stores the coefficient
// at `index` + run + 1 and moves `index` there. False, with nothing read, for a slot without a
// plain codeword or a run past the end, which the general way then reads (or refuses).
template <bool kIntra, bool kMpeg1>
D2U_ALWAYS_INLINE bool StoreLongCoefficient(BitReader& bits, const IppVCHuffmanSpec_32s& table,
                                            ScaledSink<kIntra, kMpeg1>& sink, Ipp32u* index) {
    const VlcCoefficientPair& slot =
        (kIntra ? table.longIntraPairs : table.longNonIntraPairs)[LongIndex(bits)];
    const Ipp32u at = *index + slot.advance1;
    if ((slot.flags & VlcCoefficientPair::kSlow) || at > 63) return false;
    bits.SkipCached(slot.length);
    // Long codewords carry the larger levels: always with the clamp.
    sink.template StoreMultiplied<true>(at, slot.multiplier1, slot.sign1);
    *index = at;
    return true;
}

// How the first codeword of a block went.
enum class FirstStep { kOne, kMore, kEnded, kFailed };

// Reads a block's first codeword (or pair) on its own, from `pairs` and `table`, so that a block
// of one coefficient is known as such whatever its codeword: kOne when it gave one coefficient
// (at `index`), kMore for two, kEnded with `lone` set when the end of block came with it, and
// kFailed on a bad codeword.
template <bool kIntra, bool kMpeg1, bool kClamp>
D2U_ALWAYS_INLINE FirstStep ReadFirstCodeword(BitReader& bits, const IppVCHuffmanSpec_32s& table,
                                              const VlcCoefficientPair* pairs,
                                              ScaledSink<kIntra, kMpeg1>& sink, Ipp32u* index,
                                              Ipp32u* lone) {
    bits.Refill();
    const VlcCoefficientPair& pair = pairs[bits.Peek(kVlcPairBits)];
    if (D2U_LIKELY(!(pair.flags & VlcCoefficientPair::kSlow))) {
        const Ipp32u one = *index + pair.advance1;
        const Ipp32u two = one + pair.advance2;
        // Only tables of longer runs than MPEG's let a first pair run past the end: the single
        // way below then stops at the codeword that does.
        if (D2U_LIKELY(two <= 63)) {
            bits.SkipCached(pair.length);
            if (pair.flags & VlcCoefficientPair::kEndsBlock) {
                sink.template StoreMultiplied<kClamp>(one, pair.multiplier1, pair.sign1);
                *lone = one;
                return FirstStep::kEnded;
            }
            sink.template StoreMultiplied<kClamp>(two, pair.multiplier2, pair.sign2);
            sink.template StoreMultiplied<kClamp>(one, pair.multiplier1, pair.sign1);
            *index = two;
            return pair.advance2 != 0 ? FirstStep::kMore : FirstStep::kOne;
        }
    }
    if ((pair.flags & VlcCoefficientPair::kLong) && StoreLongCoefficient(bits, table, sink, index))
        return FirstStep::kOne;
    Ipp32s run = 0;
    Ipp32s level = 0;
    const Codeword codeword = ReadSingleCodeword<kMpeg1>(pair, table, bits, &run, &level);
    if (codeword == Codeword::kEndOfBlock) return FirstStep::kEnded;
    *index += static_cast<Ipp32u>(run) + 1;
    if (codeword == Codeword::kInvalid || *index > 63) return FirstStep::kFailed;
    sink.Store(*index, level);
    return FirstStep::kOne;
}

// Reads run/level codewords up to the end of block into the sink, mostly two at a time through
// the codeword pairs (of intra or non-intra multipliers to suit the sink), the first lookup in
// `first`'s and the others in `others'`; `index` is the scan index before the first
// coefficient. A block of one coefficient sets
// `lone`, unless null, to that coefficient's scan index.
template <bool kIntra, bool kMpeg1, bool kClamp>
D2U_ALWAYS_INLINE IppStatus ReadCoefficientPairs(BitReader& shared,
                                                 const IppVCHuffmanSpec_32s& first,
                                                 const IppVCHuffmanSpec_32s& others,
                                                 ScaledSink<kIntra, kMpeg1>& sink, Ipp32u index,
                                                 Ipp32u* lone) {
    const IppVCHuffmanSpec_32s* table = &first;
    const VlcCoefficientPair* pairs = kIntra ? first.intraPairs.data() : first.nonIntraPairs.data();
    const VlcCoefficientPair* otherPairs =
        kIntra ? others.intraPairs.data() : others.nonIntraPairs.data();
    BitReader bits = shared;  // kept in registers while the loop runs
    IppStatus status = ippStsNoErr;
    if (lone) {
        // The first codeword outside the loop, so that the loop need not tell it apart.
        const FirstStep step =
            ReadFirstCodeword<kIntra, kMpeg1, kClamp>(bits, first, pairs, sink, &index, lone);
        if (step == FirstStep::kEnded || step == FirstStep::kFailed) {
            shared = bits;
            return step == FirstStep::kEnded ? ippStsNoErr : ippStsVLCErr;
        }
        pairs = otherPairs;
        table = &others;
        if (step == FirstStep::kOne) {
            bits.Refill();
            const VlcCoefficientPair& next = otherPairs[bits.Peek(kVlcPairBits)];
            if (next.flags & VlcCoefficientPair::kEndOfBlock) {
                bits.SkipCached(next.length);
                *lone = index;
                shared = bits;
                return ippStsNoErr;
            }
        }
    }
    for (;;) {
        bits.Refill();
        const VlcCoefficientPair& pair = pairs[bits.Peek(kVlcPairBits)];
        pairs = otherPairs;
        if (D2U_LIKELY(!(pair.flags & VlcCoefficientPair::kSlow))) {
            const Ipp32u one = index + pair.advance1;
            const Ipp32u two = one + pair.advance2;
            // A pair that runs past the end goes the single way below, which stops after the
            // codeword that does (or at an end of block after coefficient 63).
            if (D2U_LIKELY(two <= 63)) {
                bits.SkipCached(pair.length);
                if (pair.flags & VlcCoefficientPair::kEndsBlock) {
                    sink.template StoreMultiplied<kClamp>(one, pair.multiplier1, pair.sign1);
                    break;
                }
                // Without a second coefficient this stores a zero where the first goes next.
                sink.template StoreMultiplied<kClamp>(two, pair.multiplier2, pair.sign2);
                sink.template StoreMultiplied<kClamp>(one, pair.multiplier1, pair.sign1);
                index = two;
                table = &others;
                continue;
            }
        }
        if (pair.flags & VlcCoefficientPair::kEndOfBlock) {
            bits.SkipCached(pair.length);
            break;
        }
        if ((pair.flags & VlcCoefficientPair::kLong) &&
            StoreLongCoefficient(bits, *table, sink, &index)) {
            table = &others;
            continue;
        }
        Ipp32s run = 0;
        Ipp32s level = 0;
        const Codeword codeword = ReadSingleCodeword<kMpeg1>(pair, *table, bits, &run, &level);
        table = &others;
        if (codeword == Codeword::kEndOfBlock) break;
        index += static_cast<Ipp32u>(run) + 1;
        if (codeword == Codeword::kInvalid || index > 63) {
            status = ippStsVLCErr;
            break;
        }
        sink.Store(index, level);
    }
    shared = bits;
    return status;
}

// kShortOne: a non-intra block whose first-coefficient table has shortOneThenFollowing set; its
// first coefficient's '1s' reads as '11s' through the following table's pairs.
template <bool kIntra, bool kMpeg1, bool kShortOne, bool kClamp>
D2U_ALWAYS_INLINE IppStatus ReadBlockCoefficientsWith(BitReader& bits,
                                                      const IppVCHuffmanSpec_32s& first,
                                                      const IppVCHuffmanSpec_32s& others,
                                                      ScaledSink<kIntra, kMpeg1>& sink,
                                                      Ipp32u* lone) {
    constexpr Ipp32u kBefore = kIntra ? 0 : ~0u;  // unsigned: the first run wraps it
    if (!kShortOne)
        return ReadCoefficientPairs<kIntra, kMpeg1, kClamp>(bits, first, others, sink, kBefore,
                                                            lone);
    bits.Refill();
    bits.DoubleLeadingOne();
    return ReadCoefficientPairs<kIntra, kMpeg1, kClamp>(bits, others, others, sink, kBefore, lone);
}

// Whether the pair slots of a block's tables can store through `matrix` without the clamp. A
// first coefficient read through the following table's pairs (kShortOne) reads only those.
template <bool kIntra, bool kMpeg1, bool kShortOne>
bool PairsFitWithoutClamp(const IppVCHuffmanSpec_32s& first, const IppVCHuffmanSpec_32s& others,
                          const ScaledMatrix* matrix) {
    auto largest = [](const IppVCHuffmanSpec_32s& table) {
        return kIntra ? table.largestIntraMultiplier : table.largestNonIntraMultiplier;
    };
    const Ipp32u multiplier =
        kShortOne ? largest(others) : std::max(largest(first), largest(others));
    return ScaledSink<kIntra, kMpeg1>{matrix, nullptr, 0}.PairsFitWithoutClamp(multiplier);
}

// MPEG-2 mismatch control: the sum of the 64 coefficients (of the given parity) made odd
// through the last one. Without a branch: the parity is as often even as odd.
void ControlMismatch(Ipp16s out[64], Ipp32s parity) {
    out[63] = static_cast<Ipp16s>(out[63] ^ (~parity & 1));
}

// dct_dc_differential of `size` bits (0 to 11), after a refill. Without a branch on the size:
// flat areas and detail alternate.
Ipp32s ReadDcDifferential(BitReader& bits, Ipp32s size) {
    const Ipp32s value = static_cast<Ipp32s>((static_cast<uint64_t>(bits.Peek32()) << size) >> 32);
    bits.SkipCached(size);
    const Ipp32s half = (1 << size) >> 1;
    return value < half ? value - (1 << size) + 1 : value;
}

Ipp32s LimitPredictor(Ipp32s value) {
    return value < -kPredictorLimit ? -kPredictorLimit
                                    : (value > kPredictorLimit ? kPredictorLimit : value);
}

// The coded blocks of a pattern, block b at bit b (the pattern has block 0 at its highest bit
// of blockCount), so that each block is the lowest set bit.
Ipp32u BlocksInOrder(Ipp32u pattern, int blockCount) {
    struct Reversed {
        Ipp8u bits[256];
    };
    static constexpr Reversed kReversed = [] {
        Reversed table{};
        for (int value = 0; value < 256; ++value) {
            for (int bit = 0; bit < 8; ++bit) {
                if (value & (1 << bit)) table.bits[value] |= static_cast<Ipp8u>(0x80 >> bit);
            }
        }
        return table;
    }();
    return Ipp32u{kReversed.bits[(pattern << (8 - blockCount)) & 0xFF]};
}

// Index of the lowest set bit of a non-zero value.
int LowestBit(Ipp32u value) {
#if defined(__GNUC__)
    return __builtin_ctz(value);
#else
    int bit = 0;
    while (!((value >> bit) & 1)) ++bit;
    return bit;
#endif
}

static_assert(kVlcPackedBits + 11 <= 32, "a packed DC size and its differential fit one refill");
// Every coefficient the readers store (mismatch control included) lies within the transform's
// input range, so their blocks take the transforms that do not saturate it again.

// Updates the DC predictor with the next DC difference, scaled by `differenceScale`.
D2U_ALWAYS_INLINE IppStatus ReadIntraDc(BitReader& bits, const IppVCHuffmanSpec_32s& dcTable,
                                        Ipp32s differenceScale, Ipp32s* predictor) {
    bits.Refill();
    Ipp32s size = 0;
    Ipp32u entry = dcTable.brief[bits.Peek32() >> (32 - kVlcBriefBits)];
    // The longer codewords of large DC steps come from the packed slots.
    if (!VlcPackedIsPlain(entry)) entry = dcTable.packed[bits.Peek32() >> (32 - kVlcPackedBits)];
    if (VlcPackedIsPlain(entry)) {
        // A packed codeword takes at most kVlcPackedBits of the 32 bits the refill left: the
        // differential's 11 bits follow without another.
        bits.SkipCached(static_cast<int>(VlcPackedLength(entry)));
        size = VlcPackedLevel(entry);
    } else {
        int length = 0;
        const VlcSlot* slot = VlcFindCodewordInBits(dcTable, bits.Peek32(), &length);
        if (!slot) return ippStsVLCErr;
        bits.SkipCached(length);
        bits.Refill();
        size = slot->value;
    }
    if (size < 0 || size > 11) return ippStsVLCErr;
    Ipp32s difference = ReadDcDifferential(bits, size);
    *predictor = LimitPredictor(*predictor + difference * differenceScale);
    return ippStsNoErr;
}

// The DC coefficient from its predictor, saturated to the coefficient range.
Ipp16s ScaledDc(Ipp32s predictor, Ipp32s dcShift) {
    const Ipp32s dc = predictor * (1 << dcShift);
    return static_cast<Ipp16s>(
        dc < idct::kInputMin ? idct::kInputMin : (dc > idct::kInputMax ? idct::kInputMax : dc));
}

// The blocks of a checked macroblock (see ReconstructNonIntraMacroblock below), kClamp as the
// macroblock's weights need.
template <bool kMpeg1, bool kShortOne, bool kClamp>
IppStatus ReadNonIntraBlocksWith(BitReader& stream, const NonIntraMacroblockBlocks& m) {
    // The position stays in registers from the first block to the last.
    BitReader bits = stream;
    Ipp32u remaining = BlocksInOrder(m.pattern, m.blockCount);
    IppStatus status = ippStsNoErr;
    while (remaining != 0) {
        const int block = LowestBit(remaining);
        remaining &= remaining - 1;
        ZeroBlock(m.scratch);
        ScaledSink<false, kMpeg1> sink{block < 4 ? m.luma : m.chroma, m.scratch, 0};
        Ipp32u lone = kNoLoneCoefficient;
        status = ReadBlockCoefficientsWith<false, kMpeg1, kShortOne, kClamp>(
            bits, *m.firstTable, *m.otherTable, sink, &lone);
        if (status != ippStsNoErr) break;
        const ResidualPlacement& place = m.placements[block];
        Ipp16s* residual = m.residual + place.start;
        const int position = lone != kNoLoneCoefficient ? sink.matrix->position[lone] : 63;
        if (position != 63) {
            // The transform takes the coefficient, and the last one that mismatch control
            // sets, as they are: no block to wait for.
            const Ipp16s last = kMpeg1 ? 0 : static_cast<Ipp16s>(~sink.parity & 1);
            idct::InverseTwoCoefficients(m.scratch, m.scratch[position], position, last, residual,
                                         place.rowBytes);
            continue;
        }
        if (!kMpeg1) ControlMismatch(m.scratch, sink.parity);
        idct::InverseInRange(m.scratch, residual, place.rowBytes);
    }
    stream = bits;
    return status;
}

// The clamp is decided once for the macroblock, whose tables and weights its blocks share.
template <bool kMpeg1, bool kShortOne>
IppStatus ReadNonIntraBlocks(BitReader& stream, const NonIntraMacroblockBlocks& m) {
    auto fits = [&m](const ScaledMatrix* matrix) {
        return PairsFitWithoutClamp<false, kMpeg1, kShortOne>(*m.firstTable, *m.otherTable, matrix);
    };
    if (fits(m.luma) && fits(m.chroma))
        return ReadNonIntraBlocksWith<kMpeg1, kShortOne, false>(stream, m);
    return ReadNonIntraBlocksWith<kMpeg1, kShortOne, true>(stream, m);
}

// Whether the record's own parts are as the readers need them (not its pattern, placements and
// residual, which change with every macroblock).
bool NonIntraRecordReady(const NonIntraMacroblockBlocks& m) {
    return m.firstTable && m.otherTable && m.luma && m.chroma && m.scratch &&
           m.firstTable->runLevel && m.otherTable->runLevel && m.blockCount >= 1 &&
           m.blockCount <= 8;
}

}  // namespace

NonIntraMacroblockReader CheckedNonIntraMacroblockReader(const NonIntraMacroblockBlocks& m,
                                                         bool mpeg1) {
    if (!NonIntraRecordReady(m)) return nullptr;
    if (m.firstTable->shortOneThenFollowing)
        return mpeg1 ? ReadNonIntraBlocks<true, true> : ReadNonIntraBlocks<false, true>;
    return mpeg1 ? ReadNonIntraBlocks<true, false> : ReadNonIntraBlocks<false, false>;
}

namespace {

// Whether an intra block's first codeword after its DC is the end of block, which it then
// reads; after a refill.
D2U_ALWAYS_INLINE bool EndsAtOnce(BitReader& bits, const IppVCHuffmanSpec_32s& table) {
    bits.Refill();
    const VlcCoefficientPair& pair = table.intraPairs[bits.Peek(kVlcPairBits)];
    if (!(pair.flags & VlcCoefficientPair::kEndOfBlock)) return false;
    bits.SkipCached(pair.length);
    return true;
}

// The blocks of a checked macroblock (see ReconstructIntraMacroblock below), kClamp as the
// macroblock's weights need.
template <bool kMpeg1, bool kClamp>
IppStatus ReadIntraBlocksWith(BitReader& stream, const IntraMacroblockBlocks& m) {
    const Ipp32s dcShift = kMpeg1 ? 0 : m.dcShift;
    BitReader bits = stream;
    Ipp32u remaining = BlocksInOrder(m.pattern, m.blockCount);
    IppStatus status = ippStsNoErr;
    // With samples, a block's transform runs once the next block is read: it still overlaps the
    // reading, and no longer waits for the stores of the coefficients it loads.
    int pending = -1;
    const auto transformPending = [&m, &pending] {
        if (pending >= 0)
            idct::InverseIntraInRange(m.destination + 64 * pending, m.samples->at[pending],
                                      m.samples->step[pending]);
    };
    while (remaining != 0) {
        const int block = LowestBit(remaining);
        remaining &= remaining - 1;
        const bool isLuma = block < 4;
        Ipp32s* predictor = &m.predictors[DcPredictorIndex(block)];
        status = ReadIntraDc(bits, isLuma ? *m.dcLuma : *m.dcChroma, kMpeg1 ? 8 : 1, predictor);
        if (status != ippStsNoErr) break;
        if (m.samples && EndsAtOnce(bits, *m.acTable)) {
            // The DC value alone (a quarter of the intra blocks at DVD rates): transformed from
            // the values, without a block.
            const Ipp16s dc = ScaledDc(*predictor, dcShift);
            transformPending();
            pending = -1;
            idct::InverseIntraCorners(dc, kMpeg1 ? 0 : static_cast<Ipp16s>(~dc & 1),
                                      m.samples->at[block], m.samples->step[block]);
            continue;
        }
        Ipp16s* out = m.destination + 64 * block;
        ZeroBlock(out);
        ScaledSink<true, kMpeg1> sink{isLuma ? m.luma : m.chroma, out, 0};
        status = ReadBlockCoefficientsWith<true, kMpeg1, false, kClamp>(bits, *m.acTable,
                                                                        *m.acTable, sink, nullptr);
        if (status != ippStsNoErr) break;
        out[0] = ScaledDc(*predictor, dcShift);
        if (!kMpeg1) ControlMismatch(out, sink.parity ^ out[0]);
        if (m.samples) {
            transformPending();
            pending = block;
        }
    }
    transformPending();
    stream = bits;
    return status;
}

template <bool kMpeg1>
IppStatus ReadIntraBlocks(BitReader& stream, const IntraMacroblockBlocks& m) {
    auto fits = [&m](const ScaledMatrix* matrix) {
        return PairsFitWithoutClamp<true, kMpeg1, false>(*m.acTable, *m.acTable, matrix);
    };
    if (fits(m.luma) && fits(m.chroma)) return ReadIntraBlocksWith<kMpeg1, false>(stream, m);
    return ReadIntraBlocksWith<kMpeg1, true>(stream, m);
}

}  // namespace

IntraMacroblockReader CheckedIntraMacroblockReader(const IntraMacroblockBlocks& m, bool mpeg1) {
    const bool ready = m.dcLuma && m.dcChroma && m.acTable && m.luma && m.chroma &&
                       m.acTable->runLevel && m.blockCount >= 1 && m.blockCount <= 8 &&
                       (mpeg1 || (m.dcShift >= 0 && m.dcShift <= 3));
    if (!ready) return nullptr;
    return mpeg1 ? ReadIntraBlocks<true> : ReadIntraBlocks<false>;
}

void ScaleMatrix(const Ipp32u* scan, const uint16_t* matrix, int quantiser, bool intra,
                 ScaledMatrix* out) {
    const Ipp32s scale = ClampQuantiser(quantiser);
    out->largestWeight = 0;
    for (int i = 0; i < 64; ++i) {
        const Ipp32u position = scan[i] & 63;
        out->position[i] = static_cast<Ipp8u>(position);
        const Ipp32s weight = (intra && position == 0) ? 0 : (matrix[position] & 0xFF);
        out->weight[i] = static_cast<uint16_t>(weight * scale);
        if (out->weight[i] > out->largestWeight) out->largestWeight = out->weight[i];
    }
}

}  // namespace d2u
