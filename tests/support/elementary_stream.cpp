#include "support/elementary_stream.h"

#include <algorithm>
#include <cstdint>

namespace d2u {
namespace test {
namespace {

constexpr uint8_t kPictureCode = 0x00;
constexpr uint8_t kUserDataCode = 0xB2;
constexpr uint8_t kSequenceHeaderCode = 0xB3;
constexpr uint8_t kExtensionCode = 0xB5;
constexpr uint8_t kSequenceEndCode = 0xB7;
constexpr uint8_t kGroupCode = 0xB8;

bool IsStartCodeAt(const std::vector<uint8_t>& s, size_t at) {
    return at + 3 < s.size() && s[at] == 0 && s[at + 1] == 0 && s[at + 2] == 1;
}

bool IsSlice(uint8_t code) {
    return code >= 0x01 && code <= 0xAF;
}

void ReadSequenceHeader(const std::vector<uint8_t>& s, size_t at, StreamLayout& layout) {
    if (at + 11 >= s.size()) return;
    const uint8_t* p = &s[at + 4];
    layout.width = (p[0] << 4) | (p[1] >> 4);
    layout.height = ((p[1] & 0x0F) << 8) | p[2];
    layout.aspectRatioCode = p[3] >> 4;
    layout.frameRateCode = p[3] & 0x0F;
}

void ReadExtension(const std::vector<uint8_t>& s, size_t at, StreamLayout& layout) {
    if (at + 9 >= s.size() || (s[at + 4] >> 4) != 1) return;
    layout.mpeg2 = true;
    const uint8_t* p = &s[at + 4];
    int horizontalExtension = ((p[1] & 0x01) << 1) | (p[2] >> 7);
    int verticalExtension = (p[2] >> 5) & 0x03;
    layout.width = (layout.width & 0xFFF) | (horizontalExtension << 12);
    layout.height = (layout.height & 0xFFF) | (verticalExtension << 12);
}

// Display order: the pictures of a group follow those of all earlier groups, in temporal
// reference order.
void AssignDisplayIndices(StreamLayout& layout) {
    int32_t base = 0;
    size_t first = 0;
    auto& pictures = layout.pictures;
    while (first < pictures.size()) {
        size_t last = first;
        int32_t largest = 0;
        while (last < pictures.size() && pictures[last].group == pictures[first].group) {
            largest = std::max(largest, pictures[last].temporalReference);
            ++last;
        }
        for (size_t k = first; k < last; ++k) {
            pictures[k].displayIndex = base + pictures[k].temporalReference;
        }
        base += largest + 1;
        first = last;
    }
}

}  // namespace

StreamLayout ReadStreamLayout(const std::vector<uint8_t>& s) {
    StreamLayout layout;
    size_t pendingChunk = SIZE_MAX;
    bool pendingSequence = false;
    int32_t group = -1;
    CodedPicture* open = nullptr;
    for (size_t at = 0; at + 3 < s.size(); ++at) {
        if (!IsStartCodeAt(s, at)) continue;
        uint8_t code = s[at + 3];
        bool endsPicture = !IsSlice(code) && code != kUserDataCode && code != kExtensionCode;
        if (open && endsPicture) {
            open->end = at;
            open = nullptr;
        }
        if (code == kSequenceHeaderCode) {
            ReadSequenceHeader(s, at, layout);
            if (pendingChunk == SIZE_MAX) pendingChunk = at;
            pendingSequence = true;
        } else if (code == kExtensionCode && !open) {
            ReadExtension(s, at, layout);
        } else if (code == kGroupCode) {
            if (pendingChunk == SIZE_MAX) pendingChunk = at;
            ++group;
        } else if (code == kPictureCode && at + 5 < s.size()) {
            CodedPicture picture;
            picture.pictureStart = at;
            picture.chunkStart = pendingChunk == SIZE_MAX ? at : pendingChunk;
            picture.temporalReference = (s[at + 4] << 2) | (s[at + 5] >> 6);
            picture.pictureType = (s[at + 5] >> 3) & 7;
            picture.group = std::max(group, 0);
            picture.startsSequence = pendingSequence;
            layout.pictures.push_back(picture);
            open = &layout.pictures.back();
            pendingChunk = SIZE_MAX;
            pendingSequence = false;
        } else if (code == kSequenceEndCode) {
            break;
        }
        at += 3;
    }
    if (open) open->end = s.size();
    AssignDisplayIndices(layout);
    return layout;
}

std::vector<uint8_t> PictureChunk(const std::vector<uint8_t>& stream, const CodedPicture& picture) {
    return std::vector<uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(picture.chunkStart),
                                stream.begin() + static_cast<std::ptrdiff_t>(picture.end));
}

std::vector<bool> HandedOutAfterStart(const StreamLayout& layout) {
    std::vector<bool> handedOut;
    bool skipB = true;
    for (const CodedPicture& picture : layout.pictures) {
        handedOut.push_back(!(skipB && picture.pictureType == 3));
        if (picture.pictureType == 2) skipB = false;
    }
    return handedOut;
}

}  // namespace test
}  // namespace d2u
