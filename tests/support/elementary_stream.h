// A test-side reading of an MPEG video elementary stream: where each coded picture lies, its
// type and temporal reference, and where it falls in display order. Written independently of
// the library so that tests can check what the library reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

struct CodedPicture {
    size_t chunkStart = 0;    // first byte of the headers that travel with the picture
    size_t pictureStart = 0;  // the picture start code
    size_t end = 0;           // one past the last byte of the picture's slices
    int32_t temporalReference = 0;
    int32_t pictureType = 0;  // 1 I, 2 P, 3 B
    int32_t group = 0;        // index of the group of pictures
    int32_t displayIndex = 0;
};

struct StreamLayout {
    std::vector<CodedPicture> pictures;  // decoding order
    int32_t width = 0;                   // of the first sequence header
    int32_t height = 0;
};

StreamLayout ReadStreamLayout(const std::vector<uint8_t>& stream);

// The bytes of one picture together with the headers before it.
std::vector<uint8_t> PictureChunk(const std::vector<uint8_t>& stream, const CodedPicture& picture);

// Which pictures a file-driven decode hands out: B pictures decoded before the first P picture
// of a start are dropped.
std::vector<bool> HandedOutAfterStart(const StreamLayout& layout);

// A stream made (once, then cached) by a shell command writing to {out}; path "" if it failed.
struct GeneratedStream {
    std::string path;
    std::vector<uint8_t> bytes;
    StreamLayout layout;
};
GeneratedStream GenerateStream(const std::string& name, const std::string& commandWithOut);

// The start of an ffmpeg command reading `frames` frames of its moving test pattern.
std::string TestPatternInput(const std::string& size, const std::string& rate, int frames,
                             const std::string& filters = "");

}  // namespace test
}  // namespace d2u
