// The pictures of one stream: three that take turns as the two references and the frame being
// decoded, and a fourth for the host's copies of references.
//
// Each new frame goes into the picture that no reference slot holds; what it leaves undecoded
// is taken from the newer reference (see CFrameCoverage). A whole I or P frame handed out moves
// the slots on (the newer reference becomes the older, the frame the newer): nothing is copied.
// A first field decoded without its second (a host buffer holding one field) leaves the
// references as they are: the second field, decoded into the same frame, predicts from them.
//
// Hosts may write into the frames they are handed. A B frame goes out as decoded: nothing reads
// it again. A reference goes out as a copy (ForHost), so that what the host writes never reaches
// the pictures predicted from it.
#pragma once

#include <cstdint>
#include <memory>

#include "decoder/frame_coverage.h"
#include "decoder/mpeg_headers.h"
#include "picture/yuv_frame.h"

namespace d2u {

class CPictureStore {
public:
    static constexpr int32_t kHostPicture = 3;

    // The four pictures, still without planes, in their first slots: 0, or -1 without memory.
    int32_t Create();
    void Release();
    // Planes and macroblock tables of one shape for all four pictures (in one block, so that
    // their planes share large pages) and the coverage map: 0, or -1 without memory.
    int32_t Allocate(int32_t width, int32_t height, int32_t lumaRows, int32_t chromaFormat,
                     int32_t macroblockColumns, int32_t macroblockRows);

    // The frame being decoded and its references. Null before Create.
    CYUVFrame* Current() const { return current; }
    const CYUVFrame* Older() const { return older; }
    const CYUVFrame* Newer() const { return newer; }
    CFrameCoverage& Coverage() { return coverage; }
    const CFrameCoverage& Coverage() const { return coverage; }
    // Whether CompleteFrame fills what the current frame leaves unmarked in the coverage.
    bool FillsUndecoded() const { return undecodedFilled; }

    // Moves the current slot to a picture that is not a reference, with the macroblock table of
    // the picture decoded last (it stays in the cache, and the entries a damaged picture does not
    // reach keep what they held), and clears the coverage.
    void BeginFrame();
    // Fills what the frame left undecoded from the newer reference, which the host never
    // writes into (the picture decoded last may be a B frame the host has drawn on).
    void CompleteFrame() {
        if (fillSource) coverage.FillFrom(*current, *fillSource);
    }
    // Fills what a first field picture left undecoded in its own rows before the second field
    // is decoded, so that the second field never predicts from what the picture buffer held
    // before.
    void CompleteField(uint32_t pictureStructure) {
        const uint8_t rows = pictureStructure == kBottomField ? CFrameCoverage::kBottomRows
                                                              : CFrameCoverage::kTopRows;
        if (fillSource) coverage.FillFrom(*current, *fillSource, rows);
    }

    // A first field decoded without its second.
    void AwaitSecondField(const PictureInfo& field) {
        firstField = field;
        awaitingSecondField = true;
    }
    void ForgetFirstField() { awaitingSecondField = false; }
    // Whether `picture` is the other field of the waiting one: the other parity, the same
    // temporal reference, and a type that can follow (the second field of an I frame may be P).
    bool IsSecondField(const PictureInfo& picture) const;
    // The waiting first field, which describes the frame; it waits no longer.
    const PictureInfo& TakeFirstField() {
        awaitingSecondField = false;
        return firstField;
    }
    // False while the current frame waits for its second field.
    bool FrameComplete() const { return !awaitingSecondField; }

    // Hands out the current frame, of the given coding type: a whole I or P frame becomes the
    // newer reference.
    CYUVFrame* HandOut(uint32_t codingType);
    CYUVFrame* LastHandedOut() const { return last; }
    bool IsReference(const CYUVFrame* frame) const { return frame == older || frame == newer; }
    // A macroblock table of the current frame's shape that describes no picture: the host
    // picture's, which the host reads no longer once the next frame is begun (null while it
    // holds the table of the picture decoded last).
    MacroblockInfoBlock* SpareTable() const {
        const CYUVFrame* host = pictures[kHostPicture].get();
        return host && tableHolder != host && current != host ? host->mbInfo : nullptr;
    }
    // The frame to give a host for `frame`: a reference is copied into the host's picture
    // (with the macroblock table, which moves along), anything else is its own. Null when the
    // host's picture can get no memory for its planes (they come with its first copy).
    CYUVFrame* ForHost(CYUVFrame* frame);

private:
    // Gives `holder` the macroblock table that describes the picture decoded last.
    void MoveTableTo(CYUVFrame* holder);

    std::unique_ptr<CYUVFrame> pictures[kHostPicture + 1];
    CYUVFrame* older = nullptr;
    CYUVFrame* newer = nullptr;
    CYUVFrame* current = nullptr;
    CYUVFrame* last = nullptr;
    // The picture whose macroblock table describes the picture decoded last.
    CYUVFrame* tableHolder = nullptr;
    CFrameCoverage coverage;
    // Where CompleteFrame fills from (null when nothing is filled).
    CYUVFrame* fillSource = nullptr;
    bool undecodedFilled = false;
    PictureInfo firstField = {};
    bool awaitingSecondField = false;
};

}  // namespace d2u
