#include "decoder/picture_store.h"

#include <new>
#include <utility>

namespace d2u {

int32_t CPictureStore::Create() {
    for (std::unique_ptr<CYUVFrame>& picture : pictures) {
        if (!picture) picture.reset(new (std::nothrow) CYUVFrame);
        if (!picture) return -1;
    }
    older = pictures[0].get();
    newer = pictures[1].get();
    tableHolder = current = pictures[2].get();
    last = nullptr;
    awaitingSecondField = false;
    return 0;
}

void CPictureStore::Release() {
    for (std::unique_ptr<CYUVFrame>& picture : pictures) picture.reset();
    older = newer = current = last = tableHolder = fillSource = nullptr;
    coverage.Release();
}

int32_t CPictureStore::Allocate(int32_t width, int32_t height, int32_t lumaRows,
                                int32_t chromaFormat, int32_t macroblockColumns,
                                int32_t macroblockRows) {
    CYUVFrame* const set[] = {pictures[0].get(), pictures[1].get(), pictures[2].get(),
                              pictures[3].get()};
    const int32_t status = CYUVFrame::AllocateSet(set, kHostPicture + 1, kHostPicture, width,
                                                  height, lumaRows, chromaFormat);
    if (status != 0) return status;
    return coverage.Allocate(macroblockColumns, macroblockRows);
}

void CPictureStore::BeginFrame() {
    for (int32_t i = 0; i < kHostPicture; ++i) {
        if (pictures[i] && !IsReference(pictures[i].get())) {
            current = pictures[i].get();
            break;
        }
    }
    MoveTableTo(current);
    coverage.Clear();
    fillSource = newer != current ? newer : nullptr;
    undecodedFilled = fillSource && coverage.FrameUnits() != nullptr;
}

bool CPictureStore::IsSecondField(const PictureInfo& picture) const {
    const uint32_t structure = picture.picture_structure;
    if (!awaitingSecondField || (structure != kTopField && structure != kBottomField) ||
        structure == firstField.picture_structure ||
        picture.temporal_reference != firstField.temporal_reference) {
        return false;
    }
    const uint32_t first = firstField.picture_coding_type;
    const uint32_t type = picture.picture_coding_type;
    return type == first || (first == kPictureI && type == kPictureP);
}

CYUVFrame* CPictureStore::HandOut(uint32_t codingType) {
    if (codingType < kPictureB && FrameComplete()) {
        older = newer;
        newer = current;
    }
    last = current;
    if (codingType == kPictureI) current->isKeyFrame = 1;
    return last;
}

CYUVFrame* CPictureStore::ForHost(CYUVFrame* frame) {
    CYUVFrame* copy = pictures[kHostPicture].get();
    if (!frame || !copy || !IsReference(frame)) return frame;
    // The host's picture gets its planes with its first copy.
    if (copy->AllocateDescribedPlanes() != 0) return nullptr;
    if (frame == tableHolder) MoveTableTo(copy);
    copy->CopyPicture(*frame);
    return copy;
}

void CPictureStore::MoveTableTo(CYUVFrame* holder) {
    if (tableHolder && holder && tableHolder != holder) {
        std::swap(holder->mbInfo, tableHolder->mbInfo);
    }
    tableHolder = holder;
}

}  // namespace d2u
