#include "picture/yuv_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace d2u {
namespace {

size_t PlaneBytes(const YUVPlane& plane) {
    return static_cast<size_t>(plane.pitch) * static_cast<size_t>(plane.height);
}

size_t TableBytes(const MacroblockInfoBlock& table) {
    return static_cast<size_t>(table.columns) * table.rows * MacroblockInfoBlock::kEntryBytes;
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

// Bad shapes, counts or pictures allocate nothing, and leave every picture of a set empty (and
// release what they held).
TEST(YUVFrame, BadRequestsAllocateNothing) {
    CYUVFrame single;
    EXPECT_EQ(single.Allocate(-16, 16), -1);
    EXPECT_EQ(single.Allocate(1 << 20, 16), -1);
    EXPECT_EQ(single.Allocate(16, 16, 0, 3), -1);
    EXPECT_EQ(single.Y.data, nullptr);
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
