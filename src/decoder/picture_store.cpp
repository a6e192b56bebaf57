#include "decoder/picture_store.h"

#include <new>
#include <utility>

namespace d2u {

int32_t CPictureStore::Create() {
    for (CYUVFrame*& picture : pictures) {
        if (!picture) picture = new (std::nothrow) CYUVFrame;
        if (!picture) return -1;
    }
    older = pictures[0];
    newer = pictures[1];
    current = pictures[2];
    tableHolder = current;
    last = nullptr;
    awaitingSecondField = false;
    return 0;
}

void CPictureStore::Release() {
    for (CYUVFrame*& picture : pictures) {
        delete picture;
        picture = nullptr;
    }
    older = newer = current = last = tableHolder = fillSource = nullptr;
    coverage.Release();
}

int32_t CPictureStore::Allocate(int32_t width, int32_t height, int32_t lumaRows,
                                int32_t chromaFormat, int32_t macroblockColumns,
                                int32_t macroblockRows) {
    const int32_t status =
        CYUVFrame::AllocateSet(pictures, kHostPicture + 1, width, height, lumaRows, chromaFormat);
    if (status != 0) return status;
    return coverage.Allocate(macroblockColumns, macroblockRows);
}

void CPictureStore::BeginFrame() {
    for (int32_t i = 0; i < kHostPicture; ++i) {
        if (pictures[i] && !IsReference(pictures[i])) {
            current = pictures[i];
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
    if (firstField.picture_coding_type == kPictureI)
        return picture.picture_coding_type == kPictureI || picture.picture_coding_type == kPictureP;
    return picture.picture_coding_type == firstField.picture_coding_type;
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
    CYUVFrame* copy = pictures[kHostPicture];
    if (!frame || !copy || !IsReference(frame)) return frame;
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
