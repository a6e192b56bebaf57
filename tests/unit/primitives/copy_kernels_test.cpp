// The copying kernels: byte order, stream copy and masked copy, every level against the plain
// result, at every alignment and tail length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "primitives/byte_order.h"
#include "primitives/kernel_dispatch.h"
#include "primitives/masked_copy.h"
#include "primitives/stream_copy.h"

namespace d2u {
namespace {

// Runs `check` with the kernels of every level this machine has installed in turn, then puts
// the best ones back.
template <class Check>
void AtEveryLevel(Check check) {
    for (KernelLevel level : {KernelLevel::kScalar, KernelLevel::kSse2, KernelLevel::kAvx2}) {
        InstallKernels(level);
        SCOPED_TRACE("level " + std::to_string(static_cast<int>(level)));
        check();
    }
    InstallBestKernels();
}

// Every level turns file bytes into the words a big-endian read gives, for every tail length
// after whole vectors and every start within a vector, and leaves the words around alone.
TEST(ByteOrder, EveryKernelLevelReadsWordsMostSignificantByteFirst) {
    std::mt19937 random(20261206);
    AtEveryLevel([&random] {
        for (int32_t count = 0; count <= 70; ++count) {
            for (int32_t start = 0; start < 8; ++start) {
                SCOPED_TRACE(std::to_string(count) + " words from " + std::to_string(start));
                std::vector<uint32_t> words(static_cast<size_t>(start + count + 8));
                for (uint32_t& word : words) word = static_cast<uint32_t>(random());
                std::vector<uint32_t> expected = words;
                for (int32_t i = start; i < start + count; ++i) {
                    uint8_t bytes[4];
                    std::memcpy(bytes, &words[i], 4);
                    expected[i] = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                                  (uint32_t{bytes[2]} << 8) | bytes[3];
                }
                SwapWordBytes(words.data() + start, count);
                ASSERT_EQ(words, expected);
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
    AtEveryLevel([&] {
        for (int round = 0; round < 6; ++round) {
            for (uint8_t& byte : stream) {
                const uint32_t pick = random() % (round < 3 ? 4 : 64);
                byte = static_cast<uint8_t>(pick < 2 ? 0 : pick == 2 ? 1 : random());
            }
            std::vector<uint32_t> words(stream.size() / 4);
            for (size_t i = 0; i < words.size(); ++i) {
                words[i] = uint32_t{stream[4 * i]} << 24 | uint32_t{stream[4 * i + 1]} << 16 |
                           uint32_t{stream[4 * i + 2]} << 8 | stream[4 * i + 3];
            }
            const int64_t bytes = static_cast<int64_t>(stream.size());
            for (int64_t from = 0; from < 70; ++from) {
                for (int64_t limit = from; limit <= bytes; ++limit) {
                    int64_t expected = limit;
                    for (int64_t p = from; p + 2 < limit; ++p) {
                        if (stream[p] == 0 && stream[p + 1] == 0 && stream[p + 2] == 1) {
                            expected = p;
                            break;
                        }
                    }
                    ASSERT_EQ(FindStartCodePrefix(words.data(), from, limit), expected)
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
    AtEveryLevel([&random] {
        for (size_t bytes : {size_t{0}, size_t{1}, size_t{31}, size_t{64}, size_t{127}, size_t{129},
                             size_t{300}, size_t{4099}}) {
            for (size_t offset = 0; offset < 34; offset += 3) {
                SCOPED_TRACE(std::to_string(bytes) + " bytes at " + std::to_string(offset));
                std::vector<uint8_t> source(bytes + 40), target(bytes + 80, 0xA5);
                for (uint8_t& byte : source) byte = static_cast<uint8_t>(random());
                std::vector<uint8_t> expected = target;
                std::copy(source.begin() + 5, source.begin() + 5 + bytes,
                          expected.begin() + offset);
                StreamCopy(target.data() + offset, source.data() + 5, bytes);
                ASSERT_EQ(target, expected);
            }
        }
    });
}

using CopyFunction = IppStatus (*)(const Ipp8u*, int, Ipp8u*, int, IppiSize, const Ipp8u*, int);

struct Family {
    CopyFunction copy;
    int channels;
};
const Family kFamilies[] = {{ippiCopy_8u_C1MR, 1}, {ippiCopy_8u_C3MR, 3}, {ippiCopy_8u_C4MR, 4}};

class KernelLevelGuard {
public:
    ~KernelLevelGuard() { InstallBestKernels(); }
};

// Random pixels with spare bytes at the row ends; the mask mixes long runs of 0, of 0xFF and of
// other values with single pixels.
TEST(MaskedCopy, EveryKernelLevelCopiesExactlyThePixelsUnderTheMask) {
    KernelLevelGuard restore;
    std::mt19937 random(20261205);
    auto randomBytes = [&random](int size) {
        std::vector<uint8_t> bytes(size);
        for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
        return bytes;
    };
    std::vector<int> widths(70);  // every tail length after whole vectors, and a full-size row
    std::iota(widths.begin(), widths.end(), 1);
    widths.push_back(720);
    for (const Family& family : kFamilies) {
        const int n = family.channels;
        for (int width : widths) {
            SCOPED_TRACE(std::to_string(n) + " channels, width " + std::to_string(width));
            const int height = width == 720 ? 64 : 1 + width % 5;
            const int sourceStep = width * n + random() % 7, maskStep = width + random() % 5;
            const int destinationStep = width * n + random() % 9;
            const auto source = randomBytes(sourceStep * height);
            const auto destination = randomBytes(destinationStep * height);
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
            for (bool best : {false, true}) {
                best ? InstallBestKernels() : InstallKernels(KernelLevel::kScalar);
                std::vector<uint8_t> result = destination;
                ASSERT_EQ(family.copy(source.data(), sourceStep, result.data(), destinationStep,
                                      {width, height}, mask.data(), maskStep),
                          ippStsNoErr);
                ASSERT_EQ(result, expected) << (best ? "best kernels" : "scalar kernels");
            }
        }
    }
}

}  // namespace
}  // namespace d2u
