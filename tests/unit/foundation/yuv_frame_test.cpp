#include "decoder/yuv_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace d2u {
namespace {

// Planes cover whole macroblocks (or the decoder's coded height), chroma is half as wide and, in
// 4:2:0, half as tall; chroma pitches are multiples of 16; luma starts black and chroma mid-grey;
// bad sizes allocate nothing.
TEST(YUVFrame, AllocateGeometryAndInitialSamples) {
    const struct {
        int32_t width, height, codedHeight, format;
        int32_t lumaWidth, lumaHeight, chromaWidth, chromaHeight, chromaPitch;
    } cases[] = {
        {720, 576, 0, 1, 720, 576, 360, 288, 368},
        {100, 75, 0, 1, 112, 80, 56, 40, 64},
        {100, 75, 0, 2, 112, 80, 56, 80, 64},
        {720, 720, 736, 1, 720, 736, 360, 368, 368},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " format " +
                     std::to_string(c.format));
        CYUVFrame frame;
        ASSERT_EQ(frame.Allocate(c.width, c.height, c.codedHeight, c.format), 0);
        EXPECT_EQ(frame.Y.width, c.lumaWidth);
        EXPECT_EQ(frame.Y.pitch, c.lumaWidth);
        EXPECT_EQ(frame.Y.height, c.lumaHeight);
        EXPECT_EQ(frame.U.width, c.chromaWidth);
        EXPECT_EQ(frame.U.height, c.chromaHeight);
        EXPECT_EQ(frame.U.pitch, c.chromaPitch);
        EXPECT_EQ(frame.V.pitch, c.chromaPitch);
        EXPECT_EQ(frame.width, c.width);
        EXPECT_EQ(frame.height, c.height);
        EXPECT_EQ(frame.chromaFormat, c.format);
        EXPECT_EQ(frame.chromaWidth, c.width / 2);
        EXPECT_EQ(frame.chromaHeight, c.format == 1 ? c.height / 2 : c.height);
        for (int i = 0; i < frame.Y.pitch * frame.Y.height; ++i) ASSERT_EQ(frame.Y.data[i], 0);
        for (const YUVPlane* plane : {&frame.U, &frame.V}) {
            for (int i = 0; i < plane->pitch * plane->height; ++i) ASSERT_EQ(plane->data[i], 128);
        }
        ASSERT_EQ(frame.AllocateMbInfo(), 0);
        EXPECT_EQ(frame.mbInfo->columns, c.lumaWidth / 16);
        EXPECT_EQ(frame.mbInfo->rows, c.lumaHeight / 16);
    }
    CYUVFrame bad;
    EXPECT_EQ(bad.Allocate(-16, 16), -1);
    EXPECT_EQ(bad.Allocate(1 << 20, 16), -1);
    EXPECT_EQ(bad.Allocate(16, 16, 0, 3), -1);
    EXPECT_EQ(bad.Y.data, nullptr);
}

size_t PlaneBytes(const YUVPlane& plane) {
    return static_cast<size_t>(plane.pitch) * static_cast<size_t>(plane.height);
}

size_t TableBytes(const MacroblockInfoBlock& table) {
    return static_cast<size_t>(table.columns) * table.rows * MacroblockInfoBlock::kEntryBytes;
}

// Every plane and table of a set has the shape Allocate and AllocateMbInfo give, starts black
// and grey (tables zero), and owns its bytes: filling each one with its own value leaves all the
// others intact. Repeated on the same pictures with a new shape, as a decoder does at a sequence
// change.
TEST(YUVFrame, AllocateSetGivesEachPictureItsOwnPlanesAndTable) {
    const struct {
        int32_t width, height, codedHeight, format;
    } shapes[] = {{720, 576, 576, 1}, {100, 75, 96, 2}, {1920, 1080, 1088, 1}};
    CYUVFrame pictures[4];
    CYUVFrame* set[4] = {&pictures[0], &pictures[1], &pictures[2], &pictures[3]};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.width) + "x" + std::to_string(shape.height));
        ASSERT_EQ(CYUVFrame::AllocateSet(set, 4, shape.width, shape.height, shape.codedHeight,
                                         shape.format),
                  0);
        CYUVFrame single;
        ASSERT_EQ(single.Allocate(shape.width, shape.height, shape.codedHeight, shape.format), 0);
        ASSERT_EQ(single.AllocateMbInfo(), 0);
        std::vector<std::pair<uint8_t*, size_t>> regions;
        for (CYUVFrame& picture : pictures) {
            for (YUVPlane CYUVFrame::*plane : {&CYUVFrame::Y, &CYUVFrame::U, &CYUVFrame::V}) {
                const YUVPlane& got = picture.*plane;
                const YUVPlane& expected = single.*plane;
                EXPECT_EQ(got.width, expected.width);
                EXPECT_EQ(got.height, expected.height);
                EXPECT_EQ(got.pitch, expected.pitch);
                ASSERT_NE(got.data, nullptr);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(got.data) % 32, 0u);
                const uint8_t initial = plane == &CYUVFrame::Y ? 0 : 128;
                EXPECT_TRUE(std::all_of(got.data, got.data + PlaneBytes(got),
                                        [initial](uint8_t v) { return v == initial; }));
                regions.emplace_back(got.data, PlaneBytes(got));
            }
            EXPECT_EQ(picture.width, shape.width);
            EXPECT_EQ(picture.height, shape.height);
            EXPECT_EQ(picture.chromaFormat, shape.format);
            EXPECT_EQ(picture.chromaHeight, single.chromaHeight);
            ASSERT_NE(picture.mbInfo, nullptr);
            EXPECT_EQ(picture.mbInfo->columns, single.mbInfo->columns);
            EXPECT_EQ(picture.mbInfo->rows, single.mbInfo->rows);
            const size_t tableBytes = TableBytes(*picture.mbInfo);
            EXPECT_TRUE(std::all_of(picture.mbInfo->entries, picture.mbInfo->entries + tableBytes,
                                    [](uint8_t v) { return v == 0; }));
            regions.emplace_back(picture.mbInfo->entries, tableBytes);
        }
        for (size_t i = 0; i < regions.size(); ++i) {
            std::memset(regions[i].first, static_cast<int>(i + 1), regions[i].second);
        }
        for (size_t i = 0; i < regions.size(); ++i) {
            const uint8_t value = static_cast<uint8_t>(i + 1);
            EXPECT_TRUE(std::all_of(regions[i].first, regions[i].first + regions[i].second,
                                    [value](uint8_t v) { return v == value; }))
                << "region " << i << " was overwritten by another";
        }
    }
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
