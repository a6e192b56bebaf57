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
    D2uHandle handle = OpenStream(argv[0]);
    if (!handle) return 1;
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
        held = FrameOver(pending, *frame);
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
