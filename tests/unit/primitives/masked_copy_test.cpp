#include "primitives/masked_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

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
