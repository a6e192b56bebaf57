#include "primitives/masked_copy.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "primitives/kernel_dispatch.h"

namespace d2u {
namespace {

using CopyFunction = IppStatus (*)(const Ipp8u*, int, Ipp8u*, int, IppiSize, const Ipp8u*, int);

struct Family {
    const char* name;
    CopyFunction copy;
    int channels;
};

const Family kFamilies[] = {
    {"C1", ippiCopy_8u_C1MR, 1}, {"C3", ippiCopy_8u_C3MR, 3}, {"C4", ippiCopy_8u_C4MR, 4}};

class KernelLevelGuard {
public:
    ~KernelLevelGuard() { InstallBestKernels(); }
};

struct Images {
    std::vector<uint8_t> source, destination, mask;
    int sourceStep, destinationStep, maskStep;
};

// Random pixels; the mask mixes long runs (all copied, all kept) with single pixels, and
// non-zero values other than 0xFF.
Images RandomImages(std::mt19937& random, int width, int height, int channels) {
    Images images;
    images.sourceStep = width * channels + static_cast<int>(random() % 7);
    images.destinationStep = width * channels + static_cast<int>(random() % 9);
    images.maskStep = width + static_cast<int>(random() % 5);
    images.source.resize(static_cast<size_t>(images.sourceStep) * height);
    images.destination.resize(static_cast<size_t>(images.destinationStep) * height);
    images.mask.resize(static_cast<size_t>(images.maskStep) * height);
    for (auto& byte : images.source) byte = static_cast<uint8_t>(random());
    for (auto& byte : images.destination) byte = static_cast<uint8_t>(random());
    size_t i = 0;
    while (i < images.mask.size()) {
        size_t run = 1 + random() % 40;
        uint32_t kind = random() % 3;
        for (size_t k = 0; k < run && i < images.mask.size(); ++k, ++i) {
            images.mask[i] = kind == 0 ? 0 : (kind == 1 ? 0xFF : static_cast<uint8_t>(random()));
        }
    }
    return images;
}

std::vector<uint8_t> RunCopy(const Family& family, Images images, int width, int height) {
    IppStatus status = family.copy(images.source.data(), images.sourceStep,
                                   images.destination.data(), images.destinationStep,
                                   IppiSize{width, height}, images.mask.data(), images.maskStep);
    EXPECT_EQ(status, ippStsNoErr);
    return images.destination;
}

TEST(MaskedCopy, CopiesExactlyThePixelsWhoseMaskIsNonZero) {
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        const int n = family.channels;
        // Five pixels in one row: copied where the mask is 1, 0xFF or 0x80.
        std::vector<uint8_t> source(5 * n), destination(5 * n, 0x11);
        for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(0x40 + i);
        const uint8_t mask[5] = {0, 1, 0xFF, 0, 0x80};
        ASSERT_EQ(
            family.copy(source.data(), 5 * n, destination.data(), 5 * n, IppiSize{5, 1}, mask, 5),
            ippStsNoErr);
        for (int x = 0; x < 5; ++x) {
            for (int k = 0; k < n; ++k) {
                uint8_t expected = mask[x] ? source[x * n + k] : 0x11;
                EXPECT_EQ(destination[x * n + k], expected) << "pixel " << x << " byte " << k;
            }
        }
    }
}

TEST(MaskedCopy, BadArgumentsLeaveTheDestinationAlone) {
    uint8_t source[64] = {1}, destination[64] = {}, mask[16];
    for (auto& m : mask) m = 1;
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        const int row = 4 * family.channels;
        EXPECT_EQ(family.copy(nullptr, row, destination, row, IppiSize{4, 2}, mask, 4),
                  ippStsNullPtrErr);
        EXPECT_EQ(family.copy(source, row, destination, row, IppiSize{4, 2}, nullptr, 4),
                  ippStsNullPtrErr);
        EXPECT_EQ(family.copy(source, row, destination, row, IppiSize{0, 2}, mask, 4),
                  ippStsSizeErr);
        EXPECT_EQ(family.copy(source, row - 1, destination, row, IppiSize{4, 2}, mask, 4),
                  ippStsStepErr);
        EXPECT_EQ(family.copy(source, row, destination, row, IppiSize{4, 2}, mask, 3),
                  ippStsStepErr);
        for (uint8_t byte : destination) ASSERT_EQ(byte, 0);
    }
}

TEST(MaskedCopy, NegativeDestinationStepWritesRowsUpwards) {
    const uint8_t source[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t mask[6] = {1, 1, 1, 1, 1, 1};
    uint8_t destination[6] = {};
    // Bottom-up destination: row 0 of the region is the last row in memory.
    ASSERT_EQ(ippiCopy_8u_C1MR(source, 3, destination + 3, -3, IppiSize{3, 2}, mask, 3),
              ippStsNoErr);
    const uint8_t expected[6] = {4, 5, 6, 1, 2, 3};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(destination[i], expected[i]);
}

TEST(MaskedCopy, BestKernelsMatchScalarOnRandomImagesAndEveryTailWidth) {
    KernelLevelGuard restore;
    std::mt19937 random(20261205);
    for (const Family& family : kFamilies) {
        for (int width = 1; width <= 70; ++width) {
            SCOPED_TRACE(std::string(family.name) + " width " + std::to_string(width));
            int height = 1 + width % 5;
            Images images = RandomImages(random, width, height, family.channels);
            InstallKernels(KernelLevel::kScalar);
            std::vector<uint8_t> scalar = RunCopy(family, images, width, height);
            InstallBestKernels();
            std::vector<uint8_t> best = RunCopy(family, images, width, height);
            ASSERT_EQ(scalar, best);
        }
    }
}

TEST(MaskedCopy, BestKernelsMatchScalarOnFullSizePictures) {
    KernelLevelGuard restore;
    std::mt19937 random(576);
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        Images images = RandomImages(random, 720, 64, family.channels);
        InstallKernels(KernelLevel::kScalar);
        std::vector<uint8_t> scalar = RunCopy(family, images, 720, 64);
        InstallBestKernels();
        ASSERT_EQ(scalar, RunCopy(family, images, 720, 64));
    }
}

}  // namespace
}  // namespace d2u
