// The decoded picture record. Its layout is read directly by hosts: a vtable word followed by
// the fields of YUVFrameFields, 25 words of 4 bytes on i686 (mirrored by D2uFrame in d2udir.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace d2u {

struct YUVPlane {
    int32_t width;
    int32_t height;
    int32_t pitch;
    uint8_t* data;
};

// Side data of the macroblock layer: one 96-byte entry per macroblock.
struct MacroblockInfoBlock {
    static constexpr int32_t kEntryBytes = 96;
    int32_t columns;
    int32_t rows;
    uint8_t* entries;
};

struct YUVFrameFields {
    YUVPlane Y;
    YUVPlane U;  // Cb
    YUVPlane V;  // Cr
    int32_t width;
    int32_t height;
    int32_t temporalReference;
    int32_t isKeyFrame;
    int32_t chromaFormat;
    int32_t pictureType;
    int32_t chromaWidth;
    int32_t chromaHeight;
    int32_t hostWord;
    MacroblockInfoBlock* mbInfo;
    int32_t pictureBytes;
    int32_t topFieldFirst;
};

class CYUVFrame : public YUVFrameFields {
public:
    CYUVFrame();
    virtual ~CYUVFrame();
    CYUVFrame(const CYUVFrame&) = delete;
    CYUVFrame& operator=(const CYUVFrame&) = delete;

    // Planes for a display size; luma rounded up to 16. A decoder that reconstructs more
    // macroblock rows than the display height needs (interlaced sequences) passes the
    // number of luma rows it writes as minimumLumaRows; width and height stay the display size.
    // format: the chromaFormat, 1 (4:2:0, chroma half as wide and half as tall as luma) or 2
    // (4:2:2, chroma half as wide and as tall); any other value fails.
    int32_t Allocate(int32_t width, int32_t height, int32_t minimumLumaRows = 0,
                     int32_t format = 1);
    int32_t AllocateMbInfo();
    // Allocate and AllocateMbInfo for count pictures of one shape (at most kMaxSetFrames), with
    // all their planes and macroblock tables in one block of memory: a decoder's pictures then
    // share large pages instead of each plane faulting in its own small ones. The first
    // `blackCount` pictures start black; the others get their table and their planes'
    // description only, for pictures that only ever take whole copies: their planes come with
    // AllocateDescribedPlanes, so that a decoder whose host never asks for a copy never pays for
    // them. On failure every picture is left empty.
    static constexpr int32_t kMaxSetFrames = 8;
    static int32_t AllocateSet(CYUVFrame* const* frames, int32_t count, int32_t blackCount,
                               int32_t width, int32_t height, int32_t minimumLumaRows,
                               int32_t format);
    // Memory for planes that AllocateSet described without it (nothing is done for planes that
    // have it): 0, or -1 without memory. Their samples are undefined until written.
    int32_t AllocateDescribedPlanes();
    int32_t CopyFrom(const CYUVFrame& source);
    // The samples of every plane row and the picture's description, without the macroblock
    // table, from a picture of the same plane shape: 0, or -1 (nothing copied).
    int32_t CopyPicture(const CYUVFrame& source);

private:
    struct Shape;
    static bool ShapeFor(int32_t width, int32_t height, int32_t minimumLumaRows, int32_t format,
                         Shape& shape);
    void Describe(const Shape& shape);
    void FillChroma();
    void FreePlanes();
    void FreeMbInfo();
};

}  // namespace d2u
