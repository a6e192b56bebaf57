#include "support/api_test_host.h"

#include <cstring>

#include "picture/yuv_frame.h"

namespace d2u {
namespace test {

HostFrame CopyFrame(const D2uFrame& frame) {
    HostFrame copy{frame, {}, {}};
    int32_t chromaWidth = (frame.width + 1) / 2;
    int32_t chromaHeight = frame.chromaFormat == 2 ? frame.height : (frame.height + 1) / 2;
    copy.image.planes[0] = CopyPlane(frame.Y.data, frame.Y.pitch, frame.width, frame.height);
    copy.image.planes[1] = CopyPlane(frame.U.data, frame.U.pitch, chromaWidth, chromaHeight);
    copy.image.planes[2] = CopyPlane(frame.V.data, frame.V.pitch, chromaWidth, chromaHeight);
    if (const auto* table = static_cast<const MacroblockInfoBlock*>(frame.mbInfo)) {
        const size_t bytes =
            static_cast<size_t>(table->columns) * table->rows * MacroblockInfoBlock::kEntryBytes;
        copy.table.assign(table->entries, table->entries + bytes);
    }
    return copy;
}

// What a host drawing on its frames does: every plane row, and the host word. None of it may
// reach a later picture.
void PaintFrame(D2uFrame& frame) {
    for (D2uPlane* plane : {&frame.Y, &frame.U, &frame.V}) {
        if (plane->data) {
            std::memset(plane->data, 0xE1, static_cast<size_t>(plane->pitch) * plane->height);
        }
    }
    frame.hostWord = 0x5A5A;
}

HostRun DecodeFileDriven(const std::string& path, size_t maxCalls, int32_t threads) {
    HostRun run;
    D2uHandle handle = 0;
    run.openResult = D2uDirLoadFile(path.c_str(), &handle);
    if (handle) D2uDirSetThreads(handle, threads);
    for (size_t call = 0; run.openResult == 0 && call < maxCalls; ++call) {
        D2uFrame* frame = nullptr;
        run.results.push_back(GetMpegFrame(&frame, handle));
        if (run.results.back() != 0 || !frame) break;
        run.frames.push_back(CopyFrame(*frame));
        PaintFrame(*frame);
    }
    FinishDecoding(&handle);
    return run;
}

HostRun DecodeBufferDriven(const std::vector<uint8_t>& stream, const StreamLayout& layout,
                           int32_t threads) {
    HostRun run;
    D2uHandle handle = 0;
    InitDecoding(&handle);
    D2uDirSetThreads(handle, threads);
    for (const CodedPicture& picture : layout.pictures) {
        std::vector<uint8_t> chunk = PictureChunk(stream, picture);
        D2uFrame* frame = nullptr;
        run.results.push_back(
            GetMpegFrame2(&frame, chunk.data(), static_cast<int32_t>(chunk.size()), handle));
        if (run.results.back() != 0 || !frame) continue;
        run.frames.push_back(CopyFrame(*frame));
        PaintFrame(*frame);
    }
    FinishDecoding(&handle);
    return run;
}

}  // namespace test
}  // namespace d2u
