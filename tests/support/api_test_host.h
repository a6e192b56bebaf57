// A small host program over the public interface: decodes a stream file-driven or
// buffer-driven and keeps a copy of every frame handed out, in the order it came.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "d2udir.h"
#include "support/elementary_stream.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {

struct HostFrame {
    D2uFrame record;             // as handed out; its plane pointers are not followed later
    YuvImage image;              // the display area
    std::vector<uint8_t> table;  // the macroblock table behind mbInfo, as handed out
};
HostFrame CopyFrame(const D2uFrame& frame);
void PaintFrame(D2uFrame& frame);

struct HostRun {
    int32_t openResult = 0;         // of D2uDirLoadFile (file-driven)
    std::vector<int32_t> results;   // of every frame call, in order
    std::vector<HostFrame> frames;  // of the calls that returned 0
};

// Both draw over every frame handed out (PaintFrame), which no later frame may show, and write
// its host word, which the next frame must have cleared.
// D2uDirLoadFile, then GetMpegFrame until it fails (at most maxCalls calls).
// `threads`: D2uDirSetThreads for the handle.
HostRun DecodeFileDriven(const std::string& path, size_t maxCalls, int32_t threads = 1);
// InitDecoding, then one GetMpegFrame2 per picture chunk of the layout.
HostRun DecodeBufferDriven(const std::vector<uint8_t>& stream, const StreamLayout& layout,
                           int32_t threads = 1);

// A file-driven handle, closed at the end of the scope.
struct OpenFile {
    explicit OpenFile(const std::string& path) { result = D2uDirLoadFile(path.c_str(), &handle); }
    ~OpenFile() { FinishDecoding(&handle); }
    D2uFrame* Next() {
        D2uFrame* frame = nullptr;
        return GetMpegFrame(&frame, handle) == 0 ? frame : nullptr;
    }
    D2uHandle handle = 0;
    int32_t result = -1;
};

}  // namespace test
}  // namespace d2u
