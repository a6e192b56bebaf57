#include "decoder/yuv_frame.h"

#include <gtest/gtest.h>

#include <cstring>

#include "d2udir.h"

namespace d2u {
namespace {

TEST(YUVFrame, AllocateRoundsLumaTo16AndChromaPitchTo16) {
    CYUVFrame frame;
    ASSERT_EQ(frame.Allocate(720, 576), 0);
    EXPECT_EQ(frame.Y.width, 720);
    EXPECT_EQ(frame.Y.height, 576);
    EXPECT_EQ(frame.Y.pitch, 720);
    EXPECT_EQ(frame.U.width, 360);
    EXPECT_EQ(frame.U.height, 288);
    EXPECT_EQ(frame.U.pitch, 368);
    EXPECT_EQ(frame.V.pitch, 368);
    EXPECT_EQ(frame.chromaWidth, 360);
    EXPECT_EQ(frame.chromaHeight, 288);
    EXPECT_EQ(frame.chromaFormat, 1);

    ASSERT_EQ(frame.Allocate(100, 75), 0);
    EXPECT_EQ(frame.Y.width, 112);
    EXPECT_EQ(frame.Y.height, 80);
    EXPECT_EQ(frame.Y.pitch, 112);
    EXPECT_EQ(frame.U.width, 56);
    EXPECT_EQ(frame.U.height, 40);
    EXPECT_EQ(frame.U.pitch, 64);
    EXPECT_EQ(frame.width, 100);
    EXPECT_EQ(frame.height, 75);
    EXPECT_EQ(frame.chromaWidth, 50);
    EXPECT_EQ(frame.chromaHeight, 37);
}

TEST(YUVFrame, AllocateClearsLumaAndSetsChromaToMidGrey) {
    CYUVFrame frame;
    ASSERT_EQ(frame.Allocate(33, 17), 0);
    for (int i = 0; i < frame.Y.pitch * frame.Y.height; ++i) ASSERT_EQ(frame.Y.data[i], 0);
    for (int i = 0; i < frame.U.pitch * frame.U.height; ++i) ASSERT_EQ(frame.U.data[i], 128);
    for (int i = 0; i < frame.V.pitch * frame.V.height; ++i) ASSERT_EQ(frame.V.data[i], 128);
}

TEST(YUVFrame, DecoderGeometryCoversExtraMacroblockRows) {
    CYUVFrame frame;
    ASSERT_EQ(frame.Allocate(720, 720, 736), 0);
    EXPECT_EQ(frame.Y.height, 736);
    EXPECT_EQ(frame.U.height, 368);
    EXPECT_EQ(frame.height, 720);
    ASSERT_EQ(frame.AllocateMbInfo(), 0);
    EXPECT_EQ(frame.mbInfo->columns, 45);
    EXPECT_EQ(frame.mbInfo->rows, 46);
}

TEST(YUVFrame, AllocateRejectsNegativeAndHugeSizes) {
    CYUVFrame frame;
    EXPECT_EQ(frame.Allocate(-16, 16), -1);
    EXPECT_EQ(frame.Y.data, nullptr);
    EXPECT_EQ(frame.Allocate(1 << 20, 16), -1);
    EXPECT_EQ(frame.Y.data, nullptr);
}

TEST(YUVFrame, CopyFromCopiesPlanesAndDescriptionOfEqualSizes) {
    CYUVFrame source, destination;
    ASSERT_EQ(source.Allocate(48, 32), 0);
    ASSERT_EQ(destination.Allocate(48, 32), 0);
    ASSERT_EQ(source.AllocateMbInfo(), 0);
    ASSERT_EQ(destination.AllocateMbInfo(), 0);
    std::memset(source.Y.data, 7, static_cast<size_t>(source.Y.pitch) * source.Y.height);
    std::memset(source.V.data, 9, static_cast<size_t>(source.V.pitch) * source.V.height);
    source.mbInfo->entries[5] = 42;
    source.pictureType = 2;
    source.temporalReference = 11;
    source.isKeyFrame = 1;
    source.topFieldFirst = 1;
    ASSERT_EQ(destination.CopyFrom(source), 0);
    EXPECT_EQ(destination.Y.data[48 * 32 - 1], 7);
    EXPECT_EQ(destination.U.data[0], 128);
    EXPECT_EQ(destination.V.data[10], 9);
    EXPECT_EQ(destination.pictureType, 2);
    EXPECT_EQ(destination.temporalReference, 11);
    EXPECT_EQ(destination.isKeyFrame, 1);
    EXPECT_EQ(destination.topFieldFirst, 1);
    EXPECT_EQ(destination.mbInfo->entries[5], 42);
}

TEST(YUVFrame, CopyFromRefusesDifferentDisplaySizes) {
    CYUVFrame source, destination;
    ASSERT_EQ(source.Allocate(48, 32), 0);
    ASSERT_EQ(destination.Allocate(48, 33), 0);  // same planes, different display height
    std::memset(source.Y.data, 7, static_cast<size_t>(source.Y.pitch) * source.Y.height);
    source.pictureType = 3;
    EXPECT_EQ(destination.CopyFrom(source), -1);
    EXPECT_EQ(destination.Y.data[0], 0);
    EXPECT_EQ(destination.pictureType, 0);
}

TEST(YUVFrame, HostRecordReadsTheSameFields) {
    CYUVFrame frame;
    ASSERT_EQ(frame.Allocate(100, 75), 0);
    frame.temporalReference = 5;
    frame.topFieldFirst = 1;
    const auto* record = reinterpret_cast<const D2uFrame*>(static_cast<const void*>(&frame));
    EXPECT_EQ(record->Y.width, 112);
    EXPECT_EQ(record->U.pitch, 64);
    EXPECT_EQ(record->V.data, frame.V.data);
    EXPECT_EQ(record->width, 100);
    EXPECT_EQ(record->temporalReference, 5);
    EXPECT_EQ(record->topFieldFirst, 1);
    EXPECT_EQ(sizeof(D2uFrame), sizeof(void*) == 4 ? 100u : sizeof(D2uFrame));
}

}  // namespace
}  // namespace d2u
