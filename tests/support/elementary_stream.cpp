#include "support/elementary_stream.h"

#include <algorithm>

#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

constexpr uint8_t kPicture = 0x00, kUserData = 0xB2, kSequenceHeader = 0xB3, kExtension = 0xB5,
                  kSequenceEnd = 0xB7, kGroup = 0xB8;

// The pictures of a group follow those of all earlier groups, in temporal reference order.
void AssignDisplayIndices(std::vector<CodedPicture>& pictures) {
    int32_t base = 0, largest = -1, group = 0;
    for (CodedPicture& picture : pictures) {
        if (picture.group != group) {
            base += largest + 1;
            largest = -1;
            group = picture.group;
        }
        picture.displayIndex = base + picture.temporalReference;
        largest = std::max(largest, picture.temporalReference);
    }
}

}  // namespace

StreamLayout ReadStreamLayout(const std::vector<uint8_t>& s) {
    StreamLayout layout;
    size_t pendingChunk = SIZE_MAX;
    int32_t group = -1;
    CodedPicture* open = nullptr;
    for (size_t at = 0; at + 3 < s.size(); ++at) {
        if (s[at] != 0 || s[at + 1] != 0 || s[at + 2] != 1) continue;
        uint8_t code = s[at + 3];
        bool isSlice = code >= 0x01 && code <= 0xAF;
        if (open && !isSlice && code != kUserData && code != kExtension) {
            open->end = at;
            open = nullptr;
        }
        if (code == kSequenceHeader) {
            if (layout.width == 0 && at + 6 < s.size()) {
                layout.width = (s[at + 4] << 4) | (s[at + 5] >> 4);
                layout.height = ((s[at + 5] & 0x0F) << 8) | s[at + 6];
            }
            if (pendingChunk == SIZE_MAX) pendingChunk = at;
        } else if (code == kGroup) {
            if (pendingChunk == SIZE_MAX) pendingChunk = at;
            ++group;
        } else if (code == kPicture && at + 5 < s.size()) {
            CodedPicture picture;
            picture.pictureStart = at;
            picture.chunkStart = pendingChunk == SIZE_MAX ? at : pendingChunk;
            picture.temporalReference = (s[at + 4] << 2) | (s[at + 5] >> 6);
            picture.pictureType = (s[at + 5] >> 3) & 7;
            picture.group = std::max(group, 0);
            layout.pictures.push_back(picture);
            open = &layout.pictures.back();
            pendingChunk = SIZE_MAX;
        } else if (code == kSequenceEnd) {
            break;
        }
        at += 3;
    }
    if (open) open->end = s.size();
    AssignDisplayIndices(layout.pictures);
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

GeneratedStream GenerateStream(const std::string& name, const std::string& commandWithOut) {
    GeneratedStream stream;
    stream.path = CachedArtifact(name, commandWithOut);
    if (stream.path.empty()) return stream;
    stream.bytes = ReadFileBytes(stream.path);
    stream.layout = ReadStreamLayout(stream.bytes);
    return stream;
}

std::string TestPatternInput(const std::string& size, const std::string& rate, int frames,
                             const std::string& filters) {
    std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=" + size + ":rate=" + rate + "'";
    if (!filters.empty()) command += " -vf '" + filters + "'";
    return command + " -frames:v " + std::to_string(frames);
}

}  // namespace test
}  // namespace d2u
