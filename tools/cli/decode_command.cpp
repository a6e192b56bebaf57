// d2udir decode FILE OUT.yuv [--display-order]: every frame as raw yuv420p (display size,
// planes one after another), in decoding order or in display order.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "d2udir.h"

namespace d2ucli {
namespace {

using Picture = std::vector<uint8_t>;

void AppendPlane(const D2uPlane& plane, int32_t width, int32_t height, Picture& out) {
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* line = plane.data + static_cast<size_t>(row) * plane.pitch;
        out.insert(out.end(), line, line + width);
    }
}

Picture CopyDisplayArea(const D2uFrame& frame) {
    Picture picture;
    int32_t chromaWidth = (frame.width + 1) / 2;
    int32_t chromaHeight = (frame.height + 1) / 2;
    AppendPlane(frame.Y, frame.width, frame.height, picture);
    AppendPlane(frame.U, chromaWidth, chromaHeight, picture);
    AppendPlane(frame.V, chromaWidth, chromaHeight, picture);
    return picture;
}

// Frames arrive in decoding order. For display order, an I or P picture waits until the next
// I or P picture arrives (the B pictures between are shown before it).
class FrameWriter {
public:
    FrameWriter(FILE* file, bool displayOrder) : file_(file), displayOrder_(displayOrder) {}

    void Add(const D2uFrame& frame) {
        Picture picture = CopyDisplayArea(frame);
        bool reference = frame.pictureType != 3;
        if (!displayOrder_ || !reference) {
            Write(picture);
            return;
        }
        if (held_) Write(heldPicture_);
        heldPicture_ = std::move(picture);
        held_ = true;
    }

    void Finish() {
        if (held_) Write(heldPicture_);
        held_ = false;
    }

    int written() const { return written_; }
    bool failed() const { return failed_; }

private:
    void Write(const Picture& picture) {
        if (std::fwrite(picture.data(), 1, picture.size(), file_) != picture.size()) failed_ = true;
        ++written_;
    }

    FILE* file_;
    bool displayOrder_;
    bool held_ = false;
    Picture heldPicture_;
    int written_ = 0;
    bool failed_ = false;
};

}  // namespace

int RunDecode(int argc, char** argv) {
    bool displayOrder = argc == 3 && std::strcmp(argv[2], "--display-order") == 0;
    if (argc != 2 && !displayOrder) {
        std::fprintf(stderr, "usage: d2udir decode FILE OUT.yuv [--display-order]\n");
        return 2;
    }
    D2uHandle handle = 0;
    int32_t opened = D2uDirLoadFile(argv[0], &handle);
    if (opened != 0) {
        std::fprintf(stderr, "d2udir: cannot decode %s (error %d)\n", argv[0],
                     static_cast<int>(opened));
        return 1;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "d2udir: cannot write %s\n", argv[1]);
        FinishDecoding(&handle);
        return 1;
    }
    FrameWriter writer(out, displayOrder);
    // After the last picture the library hands the last frame out once more, so a frame is
    // written only once the call after it has produced a frame too.
    Picture pending;
    D2uFrame* frame = nullptr;
    D2uFrame held{};
    bool havePending = false;
    int32_t width = 0, height = 0;
    while (GetMpegFrame(&frame, handle) == 0 && frame) {
        if (havePending) writer.Add(held);
        // The frame stays valid only until the next call: keep a copy of its samples.
        pending = CopyDisplayArea(*frame);
        held = *frame;
        int32_t chromaWidth = (frame->width + 1) / 2;
        size_t lumaBytes = static_cast<size_t>(frame->width) * frame->height;
        size_t chromaBytes = static_cast<size_t>(chromaWidth) * ((frame->height + 1) / 2);
        held.Y = D2uPlane{frame->width, frame->height, frame->width, pending.data()};
        held.U =
            D2uPlane{chromaWidth, (frame->height + 1) / 2, chromaWidth, pending.data() + lumaBytes};
        held.V = D2uPlane{chromaWidth, (frame->height + 1) / 2, chromaWidth,
                          pending.data() + lumaBytes + chromaBytes};
        width = frame->width;
        height = frame->height;
        havePending = true;
    }
    writer.Finish();
    FinishDecoding(&handle);
    bool closed = std::fclose(out) == 0;
    if (writer.failed() || !closed) {
        std::fprintf(stderr, "d2udir: writing %s failed\n", argv[1]);
        return 1;
    }
    std::printf("decoded %d frames of %d x %d into %s (%s order)\n", writer.written(),
                static_cast<int>(width), static_cast<int>(height), argv[1],
                displayOrder ? "display" : "decoding");
    return 0;
}

}  // namespace d2ucli
