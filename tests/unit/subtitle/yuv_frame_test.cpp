#include "picture/yuv_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace d2u {
namespace {

size_t PlaneBytes(const YUVPlane& plane) {
    return static_cast<size_t>(plane.pitch) * static_cast<size_t>(plane.height);
}

size_t TableBytes(const MacroblockInfoBlock& table) {
    return static_cast<size_t>(table.columns) * table.rows * MacroblockInfoBlock::kEntryBytes;
}

bool AllAre(const uint8_t* data, size_t bytes, uint8_t value) {
    return std::all_of(data, data + bytes, [value](uint8_t v) { return v == value; });
}

struct Shape {
    int32_t width, height, codedHeight, format;
    int32_t lumaWidth, lumaHeight, chromaWidth, chromaHeight, chromaPitch;
};

// Planes cover whole macroblocks (or the decoder's coded height), chroma is half as wide and, in
// 4:2:0, half as tall; chroma pitches are multiples of 16; luma starts black and chroma mid-grey.
void ExpectShape(const CYUVFrame& frame, const Shape& c) {
    EXPECT_EQ(frame.Y.width, c.lumaWidth);
    EXPECT_EQ(frame.Y.pitch, c.lumaWidth);
    EXPECT_EQ(frame.Y.height, c.lumaHeight);
    for (const YUVPlane* plane : {&frame.U, &frame.V}) {
        EXPECT_EQ(plane->width, c.chromaWidth);
        EXPECT_EQ(plane->height, c.chromaHeight);
        EXPECT_EQ(plane->pitch, c.chromaPitch);
    }
    EXPECT_EQ(frame.width, c.width);
    EXPECT_EQ(frame.height, c.height);
    EXPECT_EQ(frame.chromaFormat, c.format);
    EXPECT_EQ(frame.chromaWidth, c.width / 2);
    EXPECT_EQ(frame.chromaHeight, c.format == 1 ? c.height / 2 : c.height);
    for (const YUVPlane* plane : {&frame.Y, &frame.U, &frame.V}) {
        ASSERT_NE(plane->data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(plane->data) % 32, 0u);
        EXPECT_TRUE(AllAre(plane->data, PlaneBytes(*plane), plane == &frame.Y ? 0 : 128));
    }
}

// Allocate gives one picture the shape; AllocateSet gives it to every picture of a set, with a
// zeroed macroblock table each, and each picture owns its bytes: filling each plane and table
// with its own value leaves all the others intact. The set is allocated again on the same
// pictures for each shape, as a decoder does at a sequence change. Bad sizes allocate nothing.
TEST(YUVFrame, AllocateAndAllocateSetShapeEveryPictureAndKeepThemApart) {
    const Shape shapes[] = {
        {720, 576, 0, 1, 720, 576, 360, 288, 368},
        {100, 75, 0, 1, 112, 80, 56, 40, 64},
        {100, 75, 96, 2, 112, 96, 56, 96, 64},
        {720, 720, 736, 1, 720, 736, 360, 368, 368},
        {1920, 1080, 1088, 1, 1920, 1088, 960, 544, 960},
    };
    CYUVFrame pictures[4];
    CYUVFrame* set[4] = {&pictures[0], &pictures[1], &pictures[2], &pictures[3]};
    for (const Shape& c : shapes) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " format " +
                     std::to_string(c.format));
        CYUVFrame single;
        ASSERT_EQ(single.Allocate(c.width, c.height, c.codedHeight, c.format), 0);
        ExpectShape(single, c);
        ASSERT_EQ(CYUVFrame::AllocateSet(set, 4, c.width, c.height, c.codedHeight, c.format), 0);
        std::vector<std::pair<uint8_t*, size_t>> regions;
        for (CYUVFrame& picture : pictures) {
            ExpectShape(picture, c);
            for (YUVPlane* plane : {&picture.Y, &picture.U, &picture.V})
                regions.emplace_back(plane->data, PlaneBytes(*plane));
            ASSERT_NE(picture.mbInfo, nullptr);
            EXPECT_EQ(picture.mbInfo->columns, c.lumaWidth / 16);
            EXPECT_EQ(picture.mbInfo->rows, c.lumaHeight / 16);
            EXPECT_TRUE(AllAre(picture.mbInfo->entries, TableBytes(*picture.mbInfo), 0));
            regions.emplace_back(picture.mbInfo->entries, TableBytes(*picture.mbInfo));
        }
        for (size_t i = 0; i < regions.size(); ++i) {
            std::memset(regions[i].first, static_cast<int>(i + 1), regions[i].second);
        }
        for (size_t i = 0; i < regions.size(); ++i) {
            EXPECT_TRUE(AllAre(regions[i].first, regions[i].second, static_cast<uint8_t>(i + 1)))
                << "region " << i << " was overwritten by another";
        }
    }
    CYUVFrame bad;
    EXPECT_EQ(bad.Allocate(-16, 16), -1);
    EXPECT_EQ(bad.Allocate(1 << 20, 16), -1);
    EXPECT_EQ(bad.Allocate(16, 16, 0, 3), -1);
    EXPECT_EQ(bad.Y.data, nullptr);
}

// A decoder swaps tables between its pictures and releases the pictures one by one, in any
// order, or reallocates some of them alone: the shared memory must stay valid for every part
// still held (the address sanitizer build reports any part used after its release).
TEST(YUVFrame, PartsOfASetOutliveTheOtherPictures) {
    auto* first = new CYUVFrame;
    auto* second = new CYUVFrame;
    auto* third = new CYUVFrame;
    CYUVFrame* set[3] = {first, second, third};
    ASSERT_EQ(CYUVFrame::AllocateSet(set, 3, 64, 48, 64, 1), 0);
    std::swap(first->mbInfo, third->mbInfo);
    MacroblockInfoBlock* table = first->mbInfo;  // carved for the third picture
    delete third;
    std::memset(table->entries, 5, TableBytes(*table));
    ASSERT_EQ(second->Allocate(32, 32), 0);  // leaves the set for a block of its own
    std::memset(first->Y.data, 4, PlaneBytes(first->Y));
    delete first;
    std::memset(second->Y.data, 3, PlaneBytes(second->Y));
    EXPECT_EQ(second->V.data[0], 128);
    delete second;

    CYUVFrame survivor, other;
    CYUVFrame* pair[2] = {&survivor, &other};
    ASSERT_EQ(CYUVFrame::AllocateSet(pair, 2, 48, 32, 0, 2), 0);
    ASSERT_EQ(other.AllocateMbInfo(), 0);  // replaces its table of the set
    ASSERT_EQ(other.Allocate(16, 16), 0);  // and its planes: the survivor holds the set alone
    std::memset(survivor.Y.data, 1, PlaneBytes(survivor.Y));
    std::memset(survivor.V.data, 2, PlaneBytes(survivor.V));
    std::memset(survivor.mbInfo->entries, 3, TableBytes(*survivor.mbInfo));
    EXPECT_EQ(survivor.U.data[0], 128);
    EXPECT_EQ(survivor.V.height, 32);  // 4:2:2 chroma keeps every row
}

// Bad shapes, counts or pictures leave every picture empty (and release what they held).
TEST(YUVFrame, AllocateSetRefusesBadRequests) {
    CYUVFrame a, b;
    CYUVFrame* set[2] = {&a, &b};
    ASSERT_EQ(CYUVFrame::AllocateSet(set, 2, 32, 32, 0, 1), 0);
    EXPECT_EQ(CYUVFrame::AllocateSet(set, 2, 32, 32, 0, 3), -1);
    for (const CYUVFrame* frame : set) {
        EXPECT_EQ(frame->Y.data, nullptr);
        EXPECT_EQ(frame->V.data, nullptr);
        EXPECT_EQ(frame->mbInfo, nullptr);
    }
    EXPECT_EQ(CYUVFrame::AllocateSet(set, 2, -16, 32, 0, 1), -1);
    EXPECT_EQ(CYUVFrame::AllocateSet(set, 2, 32, 1 << 20, 0, 1), -1);
    CYUVFrame* withNull[2] = {&a, nullptr};
    EXPECT_EQ(CYUVFrame::AllocateSet(withNull, 2, 32, 32, 0, 1), -1);
    EXPECT_EQ(CYUVFrame::AllocateSet(nullptr, 2, 32, 32, 0, 1), -1);
    CYUVFrame many[CYUVFrame::kMaxSetFrames + 1];
    CYUVFrame* tooMany[CYUVFrame::kMaxSetFrames + 1];
    for (int i = 0; i <= CYUVFrame::kMaxSetFrames; ++i) tooMany[i] = &many[i];
    EXPECT_EQ(CYUVFrame::AllocateSet(tooMany, CYUVFrame::kMaxSetFrames + 1, 32, 32, 0, 1), -1);
    EXPECT_EQ(CYUVFrame::AllocateSet(tooMany, CYUVFrame::kMaxSetFrames, 32, 32, 0, 1), 0);
    EXPECT_EQ(many[CYUVFrame::kMaxSetFrames - 1].U.data[0], 128);
}

}  // namespace
}  // namespace d2u
