#include "decoder/yuv_frame.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace d2u {
namespace {

constexpr int32_t kMaxDimension = 16384;

int32_t RoundUp16(int32_t value) {
    return (value + 15) & ~15;
}

YUVPlane EmptyPlane() {
    return YUVPlane{0, 0, 0, nullptr};
}

bool AllocatePlane(YUVPlane& plane, int32_t width, int32_t height, int32_t pitch, uint8_t fill) {
    plane.width = width;
    plane.height = height;
    plane.pitch = pitch;
    size_t bytes = static_cast<size_t>(pitch) * static_cast<size_t>(height);
    // Written in full here and by every picture decoded into it.
    plane.data = static_cast<uint8_t*>(platform::AllocatePopulatedLargeBlock(bytes));
    if (!plane.data) return false;
    std::memset(plane.data, fill, bytes);
    return true;
}

void CopyPlane(YUVPlane& destination, const YUVPlane& source) {
    if (!destination.data || !source.data) return;
    int32_t rows = destination.height < source.height ? destination.height : source.height;
    int32_t bytes = destination.pitch < source.pitch ? destination.pitch : source.pitch;
    if (destination.pitch == source.pitch) {
        std::memcpy(destination.data, source.data,
                    static_cast<size_t>(bytes) * static_cast<size_t>(rows));
        return;
    }
    for (int32_t row = 0; row < rows; ++row) {
        std::memcpy(destination.data + static_cast<ptrdiff_t>(row) * destination.pitch,
                    source.data + static_cast<ptrdiff_t>(row) * source.pitch,
                    static_cast<size_t>(bytes));
    }
}

}  // namespace

CYUVFrame::CYUVFrame() : YUVFrameFields{} {
    Y = U = V = EmptyPlane();
    mbInfo = nullptr;
}

CYUVFrame::~CYUVFrame() {
    FreePlanes();
    FreeMbInfo();
}

void CYUVFrame::FreePlanes() {
    platform::FreeLargeBlock(Y.data);
    platform::FreeLargeBlock(U.data);
    platform::FreeLargeBlock(V.data);
    Y.data = U.data = V.data = nullptr;
}

void CYUVFrame::FreeMbInfo() {
    if (!mbInfo) return;
    platform::FreeLargeBlock(mbInfo->entries);
    delete mbInfo;
    mbInfo = nullptr;
}

int32_t CYUVFrame::Allocate(int32_t displayWidth, int32_t displayHeight, int32_t minimumLumaRows,
                            int32_t format) {
    FreePlanes();
    FreeMbInfo();
    if (displayWidth < 0 || displayHeight < 0 || displayWidth > kMaxDimension ||
        displayHeight > kMaxDimension || minimumLumaRows > kMaxDimension ||
        (format != 1 && format != 2)) {
        Y = U = V = EmptyPlane();
        return -1;
    }
    int32_t lumaWidth = RoundUp16(displayWidth);
    int32_t lumaHeight = RoundUp16(displayHeight);
    if (minimumLumaRows > lumaHeight) lumaHeight = RoundUp16(minimumLumaRows);
    int32_t chromaPitch = RoundUp16(lumaWidth / 2);
    // 4:2:2 chroma has every luma row; 4:2:0 chroma half of them.
    const int32_t chromaRowShift = format == 2 ? 0 : 1;
    bool ok = AllocatePlane(Y, lumaWidth, lumaHeight, lumaWidth, 0) &&
              AllocatePlane(U, lumaWidth / 2, lumaHeight >> chromaRowShift, chromaPitch, 128) &&
              AllocatePlane(V, lumaWidth / 2, lumaHeight >> chromaRowShift, chromaPitch, 128);
    width = displayWidth;
    height = displayHeight;
    chromaFormat = format;
    temporalReference = pictureType = 0;
    isKeyFrame = pictureBytes = topFieldFirst = 0;
    chromaWidth = displayWidth >> 1;
    chromaHeight = displayHeight >> chromaRowShift;
    if (!ok) {
        FreePlanes();
        return -1;
    }
    return 0;
}

int32_t CYUVFrame::AllocateMbInfo() {
    FreeMbInfo();
    mbInfo = new (std::nothrow) MacroblockInfoBlock{Y.width / 16, Y.height / 16, nullptr};
    if (!mbInfo) return -1;
    size_t bytes = static_cast<size_t>(mbInfo->columns) * static_cast<size_t>(mbInfo->rows) *
                   MacroblockInfoBlock::kEntryBytes;
    mbInfo->entries = static_cast<uint8_t*>(platform::AllocatePopulatedLargeBlock(bytes));
    if (!mbInfo->entries) {
        FreeMbInfo();
        return -1;
    }
    std::memset(mbInfo->entries, 0, bytes);
    return 0;
}

int32_t CYUVFrame::CopyFrom(const CYUVFrame& source) {
    if (source.width != width || source.height != height) return -1;
    CopyPlane(Y, source.Y);
    CopyPlane(U, source.U);
    CopyPlane(V, source.V);
    pictureType = source.pictureType;
    temporalReference = source.temporalReference;
    isKeyFrame = source.isKeyFrame;
    chromaFormat = source.chromaFormat;
    topFieldFirst = source.topFieldFirst;
    if (mbInfo && source.mbInfo && mbInfo->entries && source.mbInfo->entries) {
        int32_t count = source.mbInfo->columns * source.mbInfo->rows;
        int32_t capacity = mbInfo->columns * mbInfo->rows;
        mbInfo->columns = source.mbInfo->columns;
        mbInfo->rows = source.mbInfo->rows;
        std::memcpy(mbInfo->entries, source.mbInfo->entries,
                    static_cast<size_t>(count < capacity ? count : capacity) *
                        MacroblockInfoBlock::kEntryBytes);
    }
    return 0;
}

}  // namespace d2u
