// The copying kernels: byte order, stream copy and masked copy, every level against the plain
// result, at every alignment and tail length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kernel_levels.h"
#include "primitives/byte_order.h"
#include "primitives/masked_copy.h"
#include "primitives/stream_copy.h"

namespace d2u {
namespace {

uint32_t BigEndian(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// Every level turns file bytes into the words a big-endian read gives, for every tail length
// after whole vectors and every start within a vector, and leaves the words around alone.
TEST(ByteOrder, EveryKernelLevelReadsWordsMostSignificantByteFirst) {
    std::mt19937 random(20261206);
    test::AtEveryLevel([&random] {
        for (int32_t count = 0; count <= 70; ++count) {
            for (int32_t start = 0; start < 8; ++start) {
                auto words = test::RandomVector<uint32_t>(size_t(start + count + 8), random);
                std::vector<uint32_t> expected = words;
                for (int32_t i = start; i < start + count; ++i) {
                    expected[i] = BigEndian(reinterpret_cast<const uint8_t*>(&words[i]));
                }
                SwapWordBytes(words.data() + start, count);
                ASSERT_EQ(words, expected) << count << " words from " << start;
            }
        }
    });
}

// Every level finds the first 00 00 01 that starts at or after `from` and ends before `limit`,
// in words as the reader holds them, over every start and end around whole vectors, in data
// dense with zeros and ones so that near misses (00 01, 00 00 00 01, prefixes across words and
// vectors) are everywhere.
TEST(ByteOrder, EveryKernelLevelFindsTheFirstStartCodePrefix) {
    std::mt19937 random(20261208);
    std::vector<uint8_t> stream(160);
    test::AtEveryLevel([&] {
        for (int round = 0; round < 6; ++round) {
            for (uint8_t& byte : stream) {
                const uint32_t pick = random() % (round < 3 ? 4 : 64);
                byte = static_cast<uint8_t>(pick < 2 ? 0 : pick == 2 ? 1 : random());
            }
            std::vector<uint32_t> words(stream.size() / 4);
            for (size_t i = 0; i < words.size(); ++i) words[i] = BigEndian(&stream[4 * i]);
            const int64_t bytes = static_cast<int64_t>(stream.size());
            for (int64_t from = 0; from < 70; ++from) {
                for (int64_t limit = from; limit <= bytes; ++limit) {
                    int64_t expected = from;
                    while (expected + 2 < limit &&
                           !(stream[expected] == 0 && stream[expected + 1] == 0 &&
                             stream[expected + 2] == 1)) {
                        ++expected;
                    }
                    ASSERT_EQ(FindStartCodePrefix(words.data(), from, limit),
                              expected + 2 < limit ? expected : limit)
                        << "from " << from << " to " << limit << ", round " << round;
                }
            }
        }
    });
}

// Every level copies exactly the bytes asked for, whatever the alignment of either side and the
// length left after whole vectors, and writes nothing around them.
TEST(StreamCopy, EveryKernelLevelCopiesExactlyTheBytesAskedFor) {
    std::mt19937 random(20261207);
    test::AtEveryLevel([&random] {
        for (size_t bytes : {0, 1, 31, 64, 127, 129, 300, 4099}) {
            for (size_t offset = 0; offset < 34; offset += 3) {
                const auto source = test::RandomVector(bytes + 40, random);
                std::vector<uint8_t> target(bytes + 80, 0xA5);
                std::vector<uint8_t> expected = target;
                std::copy_n(source.begin() + 5, bytes, expected.begin() + offset);
                StreamCopy(target.data() + offset, source.data() + 5, bytes);
                ASSERT_EQ(target, expected) << bytes << " bytes at " << offset;
            }
        }
    });
}

// Random pixels with spare bytes at the row ends; the mask mixes long runs of 0, of 0xFF and of
// other values with single pixels. The widths give every tail length after whole vectors, and a
// full-size row.
TEST(MaskedCopy, EveryKernelLevelCopiesExactlyThePixelsUnderTheMask) {
    std::mt19937 random(20261205);
    using CopyFunction = IppStatus (*)(const Ipp8u*, int, Ipp8u*, int, IppiSize, const Ipp8u*, int);
    const CopyFunction copies[] = {ippiCopy_8u_C1MR, ippiCopy_8u_C3MR, ippiCopy_8u_C4MR};
    for (const int n : {1, 3, 4}) {
        for (int width = 1; width <= 71; ++width) {
            if (width == 71) width = 720;
            SCOPED_TRACE(std::to_string(n) + " channels, width " + std::to_string(width));
            const int height = width == 720 ? 64 : 1 + width % 5;
            const int sourceStep = width * n + random() % 7, maskStep = width + random() % 5;
            const int destinationStep = width * n + random() % 9;
            const auto source = test::RandomVector(sourceStep * height, random);
            const auto destination = test::RandomVector(destinationStep * height, random);
            std::vector<uint8_t> mask(maskStep * height);
            for (size_t i = 0; i < mask.size();) {
                const uint32_t kind = random() % 3;
                for (size_t run = 1 + random() % 40; run > 0 && i < mask.size(); --run, ++i) {
                    mask[i] = kind == 0 ? 0 : kind == 1 ? 0xFF : static_cast<uint8_t>(random());
                }
            }
            std::vector<uint8_t> expected = destination;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    if (mask[y * maskStep + x] == 0) continue;
                    std::copy_n(&source[y * sourceStep + x * n], n,
                                &expected[y * destinationStep + x * n]);
                }
            }
            test::AtEveryLevel([&] {
                std::vector<uint8_t> result = destination;
                ASSERT_EQ(copies[n / 2](source.data(), sourceStep, result.data(), destinationStep,
                                        {width, height}, mask.data(), maskStep),
                          ippStsNoErr);
                ASSERT_EQ(result, expected);
            });
        }
    }
}

}  // namespace
}  // namespace d2u
