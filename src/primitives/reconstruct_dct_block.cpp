#include "primitives/reconstruct_dct_block.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/inline_hints.h"
#include "primitives/dequantise.h"
#include "primitives/inverse_dct.h"
#include "primitives/vlc_huffman_table.h"

namespace d2u {
namespace {

constexpr int kEscapeRunBits = 6;
constexpr int kMpeg2EscapeLevelBits = 12;
constexpr int kMpeg1EscapeLevelBits = 8;
// DC predictors of valid streams stay within a few thousand; this only keeps garbage finite.
constexpr Ipp32s kPredictorLimit = 1 << 16;

// The bit position of one block held in registers: the next stream bits left-aligned in
// `cache`, `count` of them valid. A refill loads the word after the last loaded one only when
// fewer than 32 bits are left, so no word beyond the one after the current word is read, as
// with the shared bit position. Every codeword with its escape bits (at most 30) fits the 32
// bits a refill guarantees.
class BlockBits {
public:
    // Starts with the current word and the one after it, loaded together: the block's first
    // codeword waits for one load instead of two in a row.
    BlockBits(Ipp32u* word, int offset)
        : start(word),
          next(word + 2),
          cache(((static_cast<uint64_t>(word[0]) << 32) | word[1]) << (31 - offset)),
          count(offset + 33) {}

    void Refill() {
        if (count < 32) {
            cache |= static_cast<uint64_t>(*next++) << (32 - count);
            count += 32;
        }
    }
    // The next 32 bits; valid after a refill.
    Ipp32u Peek() const { return static_cast<Ipp32u>(cache >> 32); }
    // The next kVlcPackedBits bits, the index of their packed slot.
    Ipp32u PackedIndex() const { return static_cast<Ipp32u>(cache >> (64 - kVlcPackedBits)); }
    // The next kVlcPairBits bits, the index of their pair slot.
    Ipp32u PairIndex() const { return static_cast<Ipp32u>(cache >> (64 - kVlcPairBits)); }
    // The kVlcPackedLongBits bits after the long section's zeros, the index of its slot.
    Ipp32u LongIndex() const {
        return static_cast<Ipp32u>(cache >> (64 - kVlcPackedLongZeros - kVlcPackedLongBits)) &
               VlcLowMask(kVlcPackedLongBits);
    }
    void Skip(int n) {
        cache <<= n;
        count -= n;
    }
    // Repeats the next bit if it is a one (after a refill): the stream reads on as if it held
    // one more bit there, which the position accounts for once it has been read.
    void DoubleLeadingOne() {
        if (count == 64) {
            // Only right at the start: the last word goes back for the room.
            --next;
            count = 32;
            cache &= ~uint64_t{0xFFFFFFFF};
        }
        const uint64_t leading = cache >> 63;
        cache = (cache >> leading) | (leading << 63);
        count += static_cast<int>(leading);
    }
    // n from 1 to 24, after a refill that left n bits.
    Ipp32u Read(int n) {
        Ipp32u value = static_cast<Ipp32u>(cache >> (64 - n));
        Skip(n);
        return value;
    }
    // Stores the position into the shared pair: the bits loaded less those still cached.
    void Commit(Ipp32u** ppBitStream, int* pOffset) const {
        const ptrdiff_t bits = 32 * (next - start) - count;
        *ppBitStream = start + (bits >> 5);
        *pOffset = 31 - static_cast<int>(bits & 31);
    }

private:
    Ipp32u* start;
    const Ipp32u* next;
    uint64_t cache;
    int count;
};

// Two's complement value of the low `bits` bits.
Ipp32s SignExtend(Ipp32u value, int bits) {
    Ipp32s half = 1 << (bits - 1);
    return static_cast<Ipp32s>(value & VlcLowMask(bits)) - ((value & half) ? 2 * half : 0);
}

template <bool kMpeg1>
Ipp32s ReadEscapedLevel(BlockBits& bits) {
    if (!kMpeg1) return SignExtend(bits.Read(kMpeg2EscapeLevelBits), kMpeg2EscapeLevelBits);
    Ipp32s level = SignExtend(bits.Read(kMpeg1EscapeLevelBits), kMpeg1EscapeLevelBits);
    if (level == 0) return static_cast<Ipp32s>(bits.Read(8));
    if (level == -128) return static_cast<Ipp32s>(bits.Read(8)) - 256;
    return level;
}

Ipp32s ClampQuantiser(Ipp32s quantiser) {
    return quantiser < 0
               ? 0
               : (quantiser > dequant::kMaxQuantiser ? dequant::kMaxQuantiser : quantiser);
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
                                        BlockBits& bits, Ipp32s* run, Ipp32s* level) {
    Ipp32u entry = packed[bits.PackedIndex()];
    if (D2U_LIKELY(VlcPackedIsPlain(entry))) {
        bits.Skip(static_cast<int>(VlcPackedLength(entry)));
        *run = static_cast<Ipp32s>(VlcPackedRun(entry));
        *level = VlcPackedLevel(entry);
        return Codeword::kCoefficient;
    }
    const Ipp32u peek = bits.Peek();
    Ipp32u kind = VlcPackedRun(entry);
    // Every block ends here: the end of block is tested first.
    if (kind == kVlcPackedEndOfBlock) {
        bits.Skip(static_cast<int>(VlcPackedLength(entry)));
        return Codeword::kEndOfBlock;
    }
    if (kind == kVlcPackedLong) {
        entry = LongSectionEntry(packed, peek);
        kind = VlcPackedRun(entry);
        if (D2U_LIKELY(VlcPackedIsPlain(entry))) {
            bits.Skip(static_cast<int>(VlcPackedLength(entry)));
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
            bits.Skip(length);
            *run = slot->run;
            *level = slot->value;
            return Codeword::kCoefficient;
        }
        entry = static_cast<Ipp32u>(length);
    }
    bits.Skip(static_cast<int>(VlcPackedLength(entry)));
    if (kind == kVlcPackedEndOfBlock) return Codeword::kEndOfBlock;
    *run = static_cast<Ipp32s>(bits.Read(kEscapeRunBits));
    *level = ReadEscapedLevel<kMpeg1>(bits);
    return Codeword::kCoefficient;
}

// A plain coefficient of the long section (the codeword starts with its zeros), after a refill.
// Returns false, with the position unchanged, for anything else.
D2U_ALWAYS_INLINE bool ReadLongCoefficient(const IppVCHuffmanSpec_32s& table, BlockBits& bits,
                                           Ipp32s* run, Ipp32s* level) {
    const Ipp32u entry = LongSectionEntry(table.packed.data(), bits.Peek());
    if (!VlcPackedIsPlain(entry)) return false;
    bits.Skip(static_cast<int>(VlcPackedLength(entry)));
    *run = static_cast<Ipp32s>(VlcPackedRun(entry));
    *level = VlcPackedLevel(entry);
    return true;
}

// Where the coefficients of one block go: each level's inverse quantisation at its raster
// position, with the exclusive or of the stored values kept for the mismatch control.
template <bool kIntra, bool kMpeg1>
struct CoefficientSink {
    const Ipp32u* scan;
    const uint16_t* matrix;
    Ipp32s quantiser;
    Ipp16s* out;
    Ipp32s parity;

    // Stores the coefficient at scan index `index`.
    void Store(Ipp32u index, Ipp32s level) {
        const int position = static_cast<int>(scan[index] & 63);
        // The DC coefficient of intra blocks comes from the DC difference alone. A zero level
        // (only escapes can code one) stores the zero already there.
        if (kIntra && position == 0) return;
        const Ipp32s value =
            dequant::DequantiseLevelInRange<kIntra, kMpeg1>(level, matrix[position], quantiser);
        out[position] = static_cast<Ipp16s>(value);
        parity ^= value;
    }
};

// A block's coefficients through a scaled matrix: the numbers of CoefficientSink<kIntra,
// kMpeg1>, with the weight and position of each scan index read directly.
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
            const Ipp32s limit = dequant::kCoefficientMax - negative;
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
               (static_cast<Ipp32u>(dequant::kCoefficientMax + 1) << kShift);
    }
};

// Reads run/level codewords up to the end of block into the sink, the first at scan index
// (kIntra ? 1 : 0) + run. `first` decodes the first codeword, `others` the rest. The numbers
// are those the dequantise kernels give for the whole block, before the mismatch control.
template <bool kIntra, bool kMpeg1, typename Sink>
D2U_ALWAYS_INLINE IppStatus ReadCoefficients(BlockBits& shared, const IppVCHuffmanSpec_32s& first,
                                             const IppVCHuffmanSpec_32s& others, Sink& sink,
                                             Ipp32s* last) {
    constexpr Ipp32u kBefore = kIntra ? 0 : ~0u;  // the index before the first coefficient
    BlockBits bits = shared;                      // kept in registers while the loop runs
    Ipp32u index = kBefore;  // unsigned: the first run wraps it to the first position
    IppStatus status = ippStsNoErr;
    Ipp32s run = 0;
    Ipp32s level = 0;
    bits.Refill();
    Codeword codeword = ReadRunLevel<kMpeg1>(first, first.packed.data(), bits, &run, &level);
    const Ipp32u* packed = others.packed.data();
    while (codeword == Codeword::kCoefficient) {
        index += static_cast<Ipp32u>(run) + 1;
        if (index > 63) {
            status = ippStsVLCErr;
            break;
        }
        sink.Store(index, level);
        bits.Refill();
        codeword = ReadRunLevel<kMpeg1>(others, packed, bits, &run, &level);
    }
    if (codeword == Codeword::kInvalid) status = ippStsVLCErr;
    shared = bits;
    *last = index == kBefore ? static_cast<Ipp32s>(kBefore) : static_cast<Ipp32s>(index);
    return status;
}

// The codeword of a slot that the pair loop does not take (escape, long section, or anything
// else through the packed lookup of `table`), after a refill.
template <bool kMpeg1>
D2U_ALWAYS_INLINE Codeword ReadSingleCodeword(const VlcCoefficientPair& pair,
                                              const IppVCHuffmanSpec_32s& table, BlockBits& bits,
                                              Ipp32s* run, Ipp32s* level) {
    if (pair.flags & VlcCoefficientPair::kEscape) {
        // The run and level follow the escape codeword; the refill left room for all.
        bits.Skip(pair.length);
        *run = static_cast<Ipp32s>(bits.Read(kEscapeRunBits));
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
D2U_ALWAYS_INLINE bool StoreLongCoefficient(BlockBits& bits, const IppVCHuffmanSpec_32s& table,
                                            ScaledSink<kIntra, kMpeg1>& sink, Ipp32u* index) {
    const VlcCoefficientPair& slot =
        (kIntra ? table.longIntraPairs : table.longNonIntraPairs)[bits.LongIndex()];
    const Ipp32u at = *index + slot.advance1;
    if ((slot.flags & VlcCoefficientPair::kSlow) || at > 63) return false;
    bits.Skip(slot.length);
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
D2U_ALWAYS_INLINE FirstStep ReadFirstCodeword(BlockBits& bits, const IppVCHuffmanSpec_32s& table,
                                              const VlcCoefficientPair* pairs,
                                              ScaledSink<kIntra, kMpeg1>& sink, Ipp32u* index,
                                              Ipp32u* lone) {
    bits.Refill();
    const VlcCoefficientPair& pair = pairs[bits.PairIndex()];
    if (D2U_LIKELY(!(pair.flags & VlcCoefficientPair::kSlow))) {
        const Ipp32u one = *index + pair.advance1;
        const Ipp32u two = one + pair.advance2;
        // Only tables of longer runs than MPEG's let a first pair run past the end: the single
        // way below then stops at the codeword that does.
        if (D2U_LIKELY(two <= 63)) {
            bits.Skip(pair.length);
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
// coefficient. The numbers are those of ReadCoefficients. A block of one coefficient sets
// `lone`, unless null, to that coefficient's scan index.
template <bool kIntra, bool kMpeg1, bool kClamp>
D2U_ALWAYS_INLINE IppStatus ReadCoefficientPairs(BlockBits& shared,
                                                 const IppVCHuffmanSpec_32s& first,
                                                 const IppVCHuffmanSpec_32s& others,
                                                 ScaledSink<kIntra, kMpeg1>& sink, Ipp32u index,
                                                 Ipp32u* lone) {
    const IppVCHuffmanSpec_32s* table = &first;
    const VlcCoefficientPair* pairs = kIntra ? first.intraPairs.data() : first.nonIntraPairs.data();
    const VlcCoefficientPair* otherPairs =
        kIntra ? others.intraPairs.data() : others.nonIntraPairs.data();
    BlockBits bits = shared;  // kept in registers while the loop runs
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
            const VlcCoefficientPair& next = otherPairs[bits.PairIndex()];
            if (next.flags & VlcCoefficientPair::kEndOfBlock) {
                bits.Skip(next.length);
                *lone = index;
                shared = bits;
                return ippStsNoErr;
            }
        }
    }
    for (;;) {
        bits.Refill();
        const VlcCoefficientPair& pair = pairs[bits.PairIndex()];
        pairs = otherPairs;
        if (D2U_LIKELY(!(pair.flags & VlcCoefficientPair::kSlow))) {
            const Ipp32u one = index + pair.advance1;
            const Ipp32u two = one + pair.advance2;
            // A pair that runs past the end goes the single way below, which stops after the
            // codeword that does (or at an end of block after coefficient 63).
            if (D2U_LIKELY(two <= 63)) {
                bits.Skip(pair.length);
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
            bits.Skip(pair.length);
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
D2U_ALWAYS_INLINE IppStatus ReadBlockCoefficientsWith(BlockBits& bits,
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
Ipp32s ReadDcDifferential(BlockBits& bits, Ipp32s size) {
    const Ipp32s value = static_cast<Ipp32s>((static_cast<uint64_t>(bits.Peek()) << size) >> 32);
    bits.Skip(size);
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

bool ValidPosition(Ipp32u** ppBitStream, int* pOffset) {
    return ppBitStream && *ppBitStream && pOffset && *pOffset >= 0 && *pOffset <= 31;
}

static_assert(kVlcPackedBits + 11 <= 32, "a packed DC size and its differential fit one refill");
// Every coefficient the readers store (mismatch control included) lies within the transform's
// input range, so their blocks take the transforms that do not saturate it again.
static_assert(dequant::kCoefficientMin == idct::kInputMin &&
                  dequant::kCoefficientMax == idct::kInputMax,
              "the readers' coefficients are the transform's input range");

// Updates the DC predictor with the next DC difference, scaled by `differenceScale`.
D2U_ALWAYS_INLINE IppStatus ReadIntraDc(BlockBits& bits, const IppVCHuffmanSpec_32s& dcTable,
                                        Ipp32s differenceScale, Ipp32s* predictor) {
    bits.Refill();
    Ipp32s size = 0;
    Ipp32u entry = dcTable.brief[bits.Peek() >> (32 - kVlcBriefBits)];
    // The longer codewords of large DC steps come from the packed slots.
    if (!VlcPackedIsPlain(entry)) entry = dcTable.packed[bits.Peek() >> (32 - kVlcPackedBits)];
    if (VlcPackedIsPlain(entry)) {
        // A packed codeword takes at most kVlcPackedBits of the 32 bits the refill left: the
        // differential's 11 bits follow without another.
        bits.Skip(static_cast<int>(VlcPackedLength(entry)));
        size = VlcPackedLevel(entry);
    } else {
        int length = 0;
        const VlcSlot* slot = VlcFindCodewordInBits(dcTable, bits.Peek(), &length);
        if (!slot) return ippStsVLCErr;
        bits.Skip(length);
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
        dc < dequant::kCoefficientMin
            ? dequant::kCoefficientMin
            : (dc > dequant::kCoefficientMax ? dequant::kCoefficientMax : dc));
}

template <bool kMpeg1>
IppStatus ReconstructIntra(Ipp32u** ppBitStream, int* pOffset, const IppVCHuffmanSpec_32s* dcTable,
                           const IppVCHuffmanSpec_32s* acTable, const Ipp32u* scan, int quantiser,
                           const uint16_t* matrix, Ipp32s* predictor, Ipp32s dcShift, Ipp16s* dst,
                           Ipp32s* dstSize) {
    if (!ValidPosition(ppBitStream, pOffset)) return ippStsNullPtrErr;
    if (!dcTable || !acTable || !scan || !matrix || !predictor || !dst) return ippStsNullPtrErr;
    if (!acTable->runLevel) return ippStsBadArgErr;
    if (dcShift < 0 || dcShift > 3) return ippStsBadArgErr;
    BlockBits bits(*ppBitStream, *pOffset);
    IppStatus status = ReadIntraDc(bits, *dcTable, kMpeg1 ? 8 : 1, predictor);
    if (status != ippStsNoErr) {
        bits.Commit(ppBitStream, pOffset);
        return status;
    }
    // The coefficients go straight to the destination: a failed block leaves it unusable.
    Ipp16s* out = dst;
    ZeroBlock(out);
    Ipp32s last = 0;
    CoefficientSink<true, kMpeg1> sink{scan, matrix, ClampQuantiser(quantiser), out, 0};
    status = ReadCoefficients<true, kMpeg1>(bits, *acTable, *acTable, sink, &last);
    bits.Commit(ppBitStream, pOffset);
    if (status != ippStsNoErr) return status;
    out[0] = ScaledDc(*predictor, dcShift);
    if (!kMpeg1) ControlMismatch(out, sink.parity ^ out[0]);
    if (dstSize) *dstSize = last;
    return ippStsNoErr;
}

template <bool kMpeg1>
IppStatus ReconstructNonIntra(Ipp32u** ppBitStream, int* pOffset,
                              const IppVCHuffmanSpec_32s* firstTable,
                              const IppVCHuffmanSpec_32s* otherTable, const Ipp32u* scan,
                              int quantiser, const uint16_t* matrix, Ipp16s* dst, Ipp32s* dstSize) {
    if (!ValidPosition(ppBitStream, pOffset)) return ippStsNullPtrErr;
    if (!firstTable || !otherTable || !scan || !matrix || !dst) return ippStsNullPtrErr;
    if (!firstTable->runLevel || !otherTable->runLevel) return ippStsBadArgErr;
    Ipp16s* out = dst;
    ZeroBlock(out);
    Ipp32s last = 0;
    CoefficientSink<false, kMpeg1> sink{scan, matrix, ClampQuantiser(quantiser), out, 0};
    BlockBits bits(*ppBitStream, *pOffset);
    IppStatus status = ReadCoefficients<false, kMpeg1>(bits, *firstTable, *otherTable, sink, &last);
    bits.Commit(ppBitStream, pOffset);
    if (status != ippStsNoErr) return status;
    if (!kMpeg1) ControlMismatch(out, sink.parity);
    if (dstSize) *dstSize = last;
    return ippStsNoErr;
}

// The blocks of a checked macroblock (see ReconstructNonIntraMacroblock below), kClamp as the
// macroblock's weights need.
template <bool kMpeg1, bool kShortOne, bool kClamp>
IppStatus ReadNonIntraBlocksWith(Ipp32u** ppBitStream, int* pOffset,
                                 const NonIntraMacroblockBlocks& m) {
    // The position stays in registers from the first block to the last.
    BlockBits bits(*ppBitStream, *pOffset);
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
    bits.Commit(ppBitStream, pOffset);
    return status;
}

// The clamp is decided once for the macroblock, whose tables and weights its blocks share.
template <bool kMpeg1, bool kShortOne>
IppStatus ReadNonIntraBlocks(Ipp32u** ppBitStream, int* pOffset,
                             const NonIntraMacroblockBlocks& m) {
    auto fits = [&m](const ScaledMatrix* matrix) {
        return PairsFitWithoutClamp<false, kMpeg1, kShortOne>(*m.firstTable, *m.otherTable, matrix);
    };
    if (fits(m.luma) && fits(m.chroma))
        return ReadNonIntraBlocksWith<kMpeg1, kShortOne, false>(ppBitStream, pOffset, m);
    return ReadNonIntraBlocksWith<kMpeg1, kShortOne, true>(ppBitStream, pOffset, m);
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

// A checked entry: the position and the record's pointers first, then the reader that the
// record's tables and numbers allow.
template <typename Blocks, typename Reader>
IppStatus ReadCheckedMacroblock(Ipp32u** ppBitStream, int* pOffset, const Blocks& m,
                                bool pointersSet, Reader (*readerFor)(const Blocks&, bool),
                                bool mpeg1) {
    if (!ValidPosition(ppBitStream, pOffset) || !pointersSet) return ippStsNullPtrErr;
    const Reader read = readerFor(m, mpeg1);
    if (!read) return ippStsBadArgErr;
    return read(ppBitStream, pOffset, m);
}

template <bool kMpeg1>
IppStatus ReconstructNonIntraMacroblock(Ipp32u** ppBitStream, int* pOffset,
                                        const NonIntraMacroblockBlocks& m) {
    const bool pointersSet = m.firstTable && m.otherTable && m.luma && m.chroma && m.placements &&
                             m.scratch && m.residual;
    return ReadCheckedMacroblock(ppBitStream, pOffset, m, pointersSet,
                                 CheckedNonIntraMacroblockReader, kMpeg1);
}

// Whether an intra block's first codeword after its DC is the end of block, which it then
// reads; after a refill.
D2U_ALWAYS_INLINE bool EndsAtOnce(BlockBits& bits, const IppVCHuffmanSpec_32s& table) {
    bits.Refill();
    const VlcCoefficientPair& pair = table.intraPairs[bits.PairIndex()];
    if (!(pair.flags & VlcCoefficientPair::kEndOfBlock)) return false;
    bits.Skip(pair.length);
    return true;
}

// The blocks of a checked macroblock (see ReconstructIntraMacroblock below), kClamp as the
// macroblock's weights need.
template <bool kMpeg1, bool kClamp>
IppStatus ReadIntraBlocksWith(Ipp32u** ppBitStream, int* pOffset, const IntraMacroblockBlocks& m) {
    const Ipp32s dcShift = kMpeg1 ? 0 : m.dcShift;
    BlockBits bits(*ppBitStream, *pOffset);
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
    bits.Commit(ppBitStream, pOffset);
    return status;
}

template <bool kMpeg1>
IppStatus ReadIntraBlocks(Ipp32u** ppBitStream, int* pOffset, const IntraMacroblockBlocks& m) {
    auto fits = [&m](const ScaledMatrix* matrix) {
        return PairsFitWithoutClamp<true, kMpeg1, false>(*m.acTable, *m.acTable, matrix);
    };
    if (fits(m.luma) && fits(m.chroma))
        return ReadIntraBlocksWith<kMpeg1, false>(ppBitStream, pOffset, m);
    return ReadIntraBlocksWith<kMpeg1, true>(ppBitStream, pOffset, m);
}

}  // namespace

IntraMacroblockReader CheckedIntraMacroblockReader(const IntraMacroblockBlocks& m, bool mpeg1) {
    const bool ready = m.dcLuma && m.dcChroma && m.acTable && m.luma && m.chroma &&
                       m.acTable->runLevel && m.blockCount >= 1 && m.blockCount <= 8 &&
                       (mpeg1 || (m.dcShift >= 0 && m.dcShift <= 3));
    if (!ready) return nullptr;
    return mpeg1 ? ReadIntraBlocks<true> : ReadIntraBlocks<false>;
}

namespace {

// Whether every coded block has its place in the picture, for a record that gives places
// (block counts out of range are refused by the reader's check).
bool SamplesPlaced(const IntraMacroblockBlocks& m) {
    if (!m.samples || m.blockCount < 1 || m.blockCount > 8) return true;
    for (int b = 0; b < m.blockCount; ++b) {
        if (((m.pattern >> (m.blockCount - 1 - b)) & 1) && !m.samples->at[b]) return false;
    }
    return true;
}

template <bool kMpeg1>
IppStatus ReconstructIntraMacroblock(Ipp32u** ppBitStream, int* pOffset,
                                     const IntraMacroblockBlocks& m) {
    const bool pointersSet = m.dcLuma && m.dcChroma && m.acTable && m.luma && m.chroma &&
                             m.predictors && m.destination && SamplesPlaced(m);
    return ReadCheckedMacroblock(ppBitStream, pOffset, m, pointersSet, CheckedIntraMacroblockReader,
                                 kMpeg1);
}

}  // namespace

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

IppStatus ReconstructNonIntraMacroblock_MPEG1(Ipp32u** ppBitStream, int* pOffset,
                                              const NonIntraMacroblockBlocks& macroblock) {
    return ReconstructNonIntraMacroblock<true>(ppBitStream, pOffset, macroblock);
}

IppStatus ReconstructNonIntraMacroblock_MPEG2(Ipp32u** ppBitStream, int* pOffset,
                                              const NonIntraMacroblockBlocks& macroblock) {
    return ReconstructNonIntraMacroblock<false>(ppBitStream, pOffset, macroblock);
}

IppStatus ReconstructIntraMacroblock_MPEG1(Ipp32u** ppBitStream, int* pOffset,
                                           const IntraMacroblockBlocks& macroblock) {
    return ReconstructIntraMacroblock<true>(ppBitStream, pOffset, macroblock);
}

IppStatus ReconstructIntraMacroblock_MPEG2(Ipp32u** ppBitStream, int* pOffset,
                                           const IntraMacroblockBlocks& macroblock) {
    return ReconstructIntraMacroblock<false>(ppBitStream, pOffset, macroblock);
}

IppStatus ippiReconstructDCTBlockIntra_MPEG1_32s(Ipp32u** ppBitStream, int* pOffset,
                                                 const IppVCHuffmanSpec_32s* pDCSizeTable,
                                                 const IppVCHuffmanSpec_32s* pACTable,
                                                 const Ipp32u* pScanMatrix, int QP,
                                                 const uint16_t* pQPMatrix, Ipp32s* pDCPred,
                                                 Ipp16s* pDstBlock, Ipp32s* pDstSize) {
    return ReconstructIntra<true>(ppBitStream, pOffset, pDCSizeTable, pACTable, pScanMatrix, QP,
                                  pQPMatrix, pDCPred, 0, pDstBlock, pDstSize);
}

IppStatus ippiReconstructDCTBlockIntra_MPEG2_32s(Ipp32u** ppBitStream, int* pOffset,
                                                 const IppVCHuffmanSpec_32s* pDCSizeTable,
                                                 const IppVCHuffmanSpec_32s* pACTable,
                                                 const Ipp32u* pScanMatrix, int QP,
                                                 const uint16_t* pQPMatrix, Ipp32s* pDCPred,
                                                 Ipp32s shiftDCVal, Ipp16s* pDstBlock,
                                                 Ipp32s* pDstSize) {
    return ReconstructIntra<false>(ppBitStream, pOffset, pDCSizeTable, pACTable, pScanMatrix, QP,
                                   pQPMatrix, pDCPred, shiftDCVal, pDstBlock, pDstSize);
}

IppStatus ippiReconstructDCTBlock_MPEG1_32s(Ipp32u** ppBitStream, int* pOffset,
                                            const IppVCHuffmanSpec_32s* pDCTable,
                                            const IppVCHuffmanSpec_32s* pACTable,
                                            const Ipp32u* pScanMatrix, int QP,
                                            const uint16_t* pQPMatrix, Ipp16s* pDstBlock,
                                            Ipp32s* pDstSize) {
    return ReconstructNonIntra<true>(ppBitStream, pOffset, pDCTable, pACTable, pScanMatrix, QP,
                                     pQPMatrix, pDstBlock, pDstSize);
}

IppStatus ippiReconstructDCTBlock_MPEG2_32s(Ipp32u** ppBitStream, int* pOffset,
                                            const IppVCHuffmanSpec_32s* pDCTable,
                                            const IppVCHuffmanSpec_32s* pACTable,
                                            const Ipp32u* pScanMatrix, int QP,
                                            const uint16_t* pQPMatrix, Ipp16s* pDstBlock,
                                            Ipp32s* pDstSize) {
    return ReconstructNonIntra<false>(ppBitStream, pOffset, pDCTable, pACTable, pScanMatrix, QP,
                                      pQPMatrix, pDstBlock, pDstSize);
}

}  // namespace d2u
