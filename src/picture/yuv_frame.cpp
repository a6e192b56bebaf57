#include "picture/yuv_frame.h"

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <new>

#include "platform/platform.h"
#include "primitives/stream_copy.h"

#if defined(__SANITIZE_ADDRESS__)
#define D2U_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define D2U_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(D2U_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace d2u {
namespace {

constexpr int32_t kMaxDimension = 16384;

int32_t RoundUp16(int32_t value) {
    return (value + 15) & ~15;
}

YUVPlane EmptyPlane() {
    return YUVPlane{0, 0, 0, nullptr};
}

// The planes and macroblock tables of one or more pictures are parts of one zeroed block. A
// header in front of each part leads to the block, which goes with its last part: tables move
// between the pictures of a decoder, and the pictures are released in any order.
constexpr size_t kPartAlignment = 64;

struct SharedBlock {
    std::atomic<size_t> liveParts;
    size_t bytes;
};

struct PartHeader {
    SharedBlock* block;
    size_t bytes;
};

static_assert(sizeof(SharedBlock) <= kPartAlignment && sizeof(PartHeader) <= kPartAlignment,
              "the headers must fit in front of the parts");

// Under the address sanitizer, the headers, the padding and released parts are off limits, so
// that a plane overrun or a plane used after its release is reported as with the heap.
void MarkOffLimits(const void* memory, size_t bytes) {
#if defined(D2U_ADDRESS_SANITIZER)
    ASAN_POISON_MEMORY_REGION(memory, bytes);
#else
    (void)memory;
    (void)bytes;
#endif
}

void MarkUsable(const void* memory, size_t bytes) {
#if defined(D2U_ADDRESS_SANITIZER)
    ASAN_UNPOISON_MEMORY_REGION(memory, bytes);
#else
    (void)memory;
    (void)bytes;
#endif
}

uint64_t PartSpan(size_t bytes) {
    return kPartAlignment +
           (static_cast<uint64_t>(bytes) + kPartAlignment - 1) / kPartAlignment * kPartAlignment;
}

// Fills parts[i] with sizes[i] zeroed bytes, all in one block; false (and no parts) when there
// is no memory. A part's start is aligned to kPartAlignment.
bool AllocateParts(const size_t* sizes, size_t count, uint8_t** parts) {
    uint64_t total = kPartAlignment * 2;  // the block's header and a guard behind the last part
    for (size_t i = 0; i < count; ++i) total += PartSpan(sizes[i]);
    void* memory = total <= SIZE_MAX / 2
                       ? platform::AllocateZeroedMemory(static_cast<size_t>(total))
                       : nullptr;
    for (size_t i = 0; i < count; ++i) parts[i] = nullptr;
    if (!memory) return false;
    auto* block = new (memory) SharedBlock{{count}, static_cast<size_t>(total)};
    uint8_t* cursor = static_cast<uint8_t*>(memory) + kPartAlignment;
    MarkOffLimits(cursor, block->bytes - kPartAlignment);
    for (size_t i = 0; i < count; ++i) {
        MarkUsable(cursor, sizeof(PartHeader));
        new (cursor) PartHeader{block, sizes[i]};
        MarkOffLimits(cursor, sizeof(PartHeader));
        parts[i] = cursor + kPartAlignment;
        MarkUsable(parts[i], sizes[i]);
        cursor += PartSpan(sizes[i]);
    }
    return true;
}

void ReleasePart(uint8_t* part) {
    if (!part) return;
    uint8_t* header = part - kPartAlignment;
    MarkUsable(header, sizeof(PartHeader));
    const PartHeader described = *reinterpret_cast<PartHeader*>(header);
    MarkOffLimits(header, sizeof(PartHeader));
    MarkOffLimits(part, described.bytes);
    SharedBlock* block = described.block;
    if (block->liveParts.fetch_sub(1) != 1) return;
    const size_t bytes = block->bytes;
    MarkUsable(block, bytes);
    block->~SharedBlock();
    platform::FreeZeroedMemory(block, bytes);
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

struct CYUVFrame::Shape {
    int32_t displayWidth;
    int32_t displayHeight;
    int32_t format;
    int32_t lumaWidth;
    int32_t lumaHeight;
    int32_t chromaPitch;
    // 4:2:2 chroma has every luma row; 4:2:0 chroma half of them.
    int32_t chromaRowShift;

    size_t LumaBytes() const {
        return static_cast<size_t>(lumaWidth) * static_cast<size_t>(lumaHeight);
    }
    size_t ChromaBytes() const {
        return static_cast<size_t>(chromaPitch) * static_cast<size_t>(lumaHeight >> chromaRowShift);
    }
    size_t MbInfoBytes() const {
        return static_cast<size_t>(lumaWidth / 16) * static_cast<size_t>(lumaHeight / 16) *
               MacroblockInfoBlock::kEntryBytes;
    }
};

CYUVFrame::CYUVFrame() : YUVFrameFields{} {
    Y = U = V = EmptyPlane();
    mbInfo = nullptr;
}

CYUVFrame::~CYUVFrame() {
    FreePlanes();
    FreeMbInfo();
}

void CYUVFrame::FreePlanes() {
    ReleasePart(Y.data);
    ReleasePart(U.data);
    ReleasePart(V.data);
    Y.data = U.data = V.data = nullptr;
}

void CYUVFrame::FreeMbInfo() {
    if (!mbInfo) return;
    ReleasePart(mbInfo->entries);
    delete mbInfo;
    mbInfo = nullptr;
}

bool CYUVFrame::ShapeFor(int32_t displayWidth, int32_t displayHeight, int32_t minimumLumaRows,
                         int32_t format, Shape& shape) {
    if (displayWidth < 0 || displayHeight < 0 || displayWidth > kMaxDimension ||
        displayHeight > kMaxDimension || minimumLumaRows > kMaxDimension ||
        (format != 1 && format != 2)) {
        return false;
    }
    shape.displayWidth = displayWidth;
    shape.displayHeight = displayHeight;
    shape.format = format;
    shape.lumaWidth = RoundUp16(displayWidth);
    shape.lumaHeight = RoundUp16(displayHeight);
    if (minimumLumaRows > shape.lumaHeight) shape.lumaHeight = RoundUp16(minimumLumaRows);
    shape.chromaPitch = RoundUp16(shape.lumaWidth / 2);
    shape.chromaRowShift = format == 2 ? 0 : 1;
    return true;
}

// The fields of a fresh picture of the shape; the planes without memory.
void CYUVFrame::Describe(const Shape& shape) {
    const int32_t chromaRows = shape.lumaHeight >> shape.chromaRowShift;
    Y = YUVPlane{shape.lumaWidth, shape.lumaHeight, shape.lumaWidth, nullptr};
    U = YUVPlane{shape.lumaWidth / 2, chromaRows, shape.chromaPitch, nullptr};
    V = U;
    width = shape.displayWidth;
    height = shape.displayHeight;
    chromaFormat = shape.format;
    temporalReference = pictureType = 0;
    isKeyFrame = pictureBytes = topFieldFirst = 0;
    chromaWidth = shape.displayWidth >> 1;
    chromaHeight = shape.displayHeight >> shape.chromaRowShift;
}

// Pictures start black: luma 0, which zeroed memory already holds, and chroma mid-grey.
void CYUVFrame::FillChroma() {
    for (YUVPlane* plane : {&U, &V}) {
        std::memset(plane->data, 128,
                    static_cast<size_t>(plane->pitch) * static_cast<size_t>(plane->height));
    }
}

int32_t CYUVFrame::Allocate(int32_t displayWidth, int32_t displayHeight, int32_t minimumLumaRows,
                            int32_t format) {
    FreePlanes();
    FreeMbInfo();
    Shape shape;
    if (!ShapeFor(displayWidth, displayHeight, minimumLumaRows, format, shape)) {
        Y = U = V = EmptyPlane();
        return -1;
    }
    Describe(shape);
    if (AllocateDescribedPlanes() != 0) return -1;
    FillChroma();
    return 0;
}

int32_t CYUVFrame::AllocateMbInfo() {
    FreeMbInfo();
    mbInfo = new (std::nothrow) MacroblockInfoBlock{Y.width / 16, Y.height / 16, nullptr};
    if (!mbInfo) return -1;
    const size_t bytes = static_cast<size_t>(mbInfo->columns) * static_cast<size_t>(mbInfo->rows) *
                         MacroblockInfoBlock::kEntryBytes;
    if (!AllocateParts(&bytes, 1, &mbInfo->entries)) {
        FreeMbInfo();
        return -1;
    }
    return 0;
}

int32_t CYUVFrame::AllocateSet(CYUVFrame* const* frames, int32_t count, int32_t blackCount,
                               int32_t displayWidth, int32_t displayHeight, int32_t minimumLumaRows,
                               int32_t format) {
    if (!frames || count < 0 || count > kMaxSetFrames) return -1;
    for (int32_t i = 0; i < count; ++i) {
        if (!frames[i]) return -1;
    }
    // The old memory goes first, so that old and new pictures are never resident together.
    for (int32_t i = 0; i < count; ++i) {
        frames[i]->FreePlanes();
        frames[i]->FreeMbInfo();
        frames[i]->Y = frames[i]->U = frames[i]->V = EmptyPlane();
    }
    Shape shape;
    if (!ShapeFor(displayWidth, displayHeight, minimumLumaRows, format, shape)) return -1;
    // Each picture's table, and the planes of the black ones: where every part goes.
    constexpr int32_t kPartsPerFrame = 4;
    size_t sizes[kMaxSetFrames * kPartsPerFrame] = {};
    uint8_t** places[kMaxSetFrames * kPartsPerFrame] = {};
    uint8_t* parts[kMaxSetFrames * kPartsPerFrame] = {};
    size_t partCount = 0;
    const auto add = [&](uint8_t** place, size_t bytes) {
        places[partCount] = place;
        sizes[partCount++] = bytes;
    };
    bool ok = true;
    for (int32_t i = 0; i < count; ++i) {
        CYUVFrame& frame = *frames[i];
        frame.Describe(shape);
        frame.mbInfo = new (std::nothrow)
            MacroblockInfoBlock{shape.lumaWidth / 16, shape.lumaHeight / 16, nullptr};
        if (!frame.mbInfo) ok = false;
        if (frame.mbInfo) add(&frame.mbInfo->entries, shape.MbInfoBytes());
        if (i >= blackCount) continue;
        add(&frame.Y.data, shape.LumaBytes());
        add(&frame.U.data, shape.ChromaBytes());
        add(&frame.V.data, shape.ChromaBytes());
    }
    ok = ok && AllocateParts(sizes, partCount, parts);
    for (size_t part = 0; part < partCount; ++part) *places[part] = parts[part];
    for (int32_t i = 0; i < count; ++i) {
        if (ok) {
            if (i < blackCount) frames[i]->FillChroma();
        } else {
            frames[i]->FreePlanes();
            frames[i]->FreeMbInfo();
        }
    }
    return ok ? 0 : -1;
}

int32_t CYUVFrame::AllocateDescribedPlanes() {
    if (Y.data) return 0;
    const size_t sizes[3] = {static_cast<size_t>(Y.pitch) * static_cast<size_t>(Y.height),
                             static_cast<size_t>(U.pitch) * static_cast<size_t>(U.height),
                             static_cast<size_t>(V.pitch) * static_cast<size_t>(V.height)};
    uint8_t* parts[3] = {};
    if (!AllocateParts(sizes, 3, parts)) return -1;
    Y.data = parts[0];
    U.data = parts[1];
    V.data = parts[2];
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

int32_t CYUVFrame::CopyPicture(const CYUVFrame& source) {
    const YUVPlane* planes[3] = {&Y, &U, &V};
    const YUVPlane* sources[3] = {&source.Y, &source.U, &source.V};
    for (int i = 0; i < 3; ++i) {
        if (!planes[i]->data || !sources[i]->data || planes[i]->pitch != sources[i]->pitch ||
            planes[i]->height != sources[i]->height) {
            return -1;
        }
    }
    for (int i = 0; i < 3; ++i) {
        StreamCopy(planes[i]->data, sources[i]->data,
                   static_cast<size_t>(planes[i]->pitch) * static_cast<size_t>(planes[i]->height));
    }
    width = source.width;
    height = source.height;
    temporalReference = source.temporalReference;
    isKeyFrame = source.isKeyFrame;
    chromaFormat = source.chromaFormat;
    pictureType = source.pictureType;
    chromaWidth = source.chromaWidth;
    chromaHeight = source.chromaHeight;
    pictureBytes = source.pictureBytes;
    topFieldFirst = source.topFieldFirst;
    return 0;
}

}  // namespace d2u
