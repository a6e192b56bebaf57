#include "support/api_test_host.h"

namespace d2u {
namespace test {

HostFrame CopyFrame(const D2uFrame& frame) {
    HostFrame copy;
    copy.temporalReference = frame.temporalReference;
    copy.pictureType = frame.pictureType;
    copy.isKeyFrame = frame.isKeyFrame;
    copy.width = frame.width;
    copy.height = frame.height;
    copy.hostWord = frame.hostWord;
    copy.pictureBytes = frame.pictureBytes;
    int32_t chromaWidth = (frame.width + 1) / 2;
    int32_t chromaHeight = (frame.height + 1) / 2;
    copy.image.planes[0] = CopyPlane(frame.Y.data, frame.Y.pitch, frame.width, frame.height);
    copy.image.planes[1] = CopyPlane(frame.U.data, frame.U.pitch, chromaWidth, chromaHeight);
    copy.image.planes[2] = CopyPlane(frame.V.data, frame.V.pitch, chromaWidth, chromaHeight);
    return copy;
}

HostRun DecodeFileDriven(const std::string& path, size_t maxCalls) {
    HostRun run;
    D2uHandle handle = 0;
    run.openResult = D2uDirLoadFile(path.c_str(), &handle);
    if (run.openResult != 0) return run;
    for (size_t call = 0; call < maxCalls; ++call) {
        D2uFrame* frame = nullptr;
        int32_t result = GetMpegFrame(&frame, handle);
        run.results.push_back(result);
        if (result != 0 || !frame) break;
        run.frames.push_back(CopyFrame(*frame));
    }
    FinishDecoding(&handle);
    return run;
}

HostRun DecodeBufferDriven(const std::vector<uint8_t>& stream, const StreamLayout& layout) {
    HostRun run;
    D2uHandle handle = 0;
    InitDecoding(&handle);
    for (const CodedPicture& picture : layout.pictures) {
        std::vector<uint8_t> chunk = PictureChunk(stream, picture);
        D2uFrame* frame = nullptr;
        int32_t result =
            GetMpegFrame2(&frame, chunk.data(), static_cast<int32_t>(chunk.size()), handle);
        run.results.push_back(result);
        if (result == 0 && frame) run.frames.push_back(CopyFrame(*frame));
    }
    FinishDecoding(&handle);
    return run;
}

}  // namespace test
}  // namespace d2u
