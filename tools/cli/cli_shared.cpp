#include <cstdio>

#include "cli_commands.h"

namespace d2ucli {
namespace {

void AppendPlane(const D2uPlane& plane, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* line = plane.data + static_cast<size_t>(row) * plane.pitch;
        out.insert(out.end(), line, line + width);
    }
}

}  // namespace

std::vector<uint8_t> CopyDisplayArea(const D2uFrame& frame) {
    std::vector<uint8_t> picture;
    int32_t chromaWidth = (frame.width + 1) / 2;
    int32_t chromaHeight = (frame.height + 1) / 2;
    AppendPlane(frame.Y, frame.width, frame.height, picture);
    AppendPlane(frame.U, chromaWidth, chromaHeight, picture);
    AppendPlane(frame.V, chromaWidth, chromaHeight, picture);
    return picture;
}

D2uFrame FrameOver(std::vector<uint8_t>& picture, const D2uFrame& like) {
    D2uFrame frame = like;
    int32_t chromaWidth = (like.width + 1) / 2;
    int32_t chromaHeight = (like.height + 1) / 2;
    size_t lumaBytes = static_cast<size_t>(like.width) * like.height;
    size_t chromaBytes = static_cast<size_t>(chromaWidth) * chromaHeight;
    frame.Y = D2uPlane{like.width, like.height, like.width, picture.data()};
    frame.U = D2uPlane{chromaWidth, chromaHeight, chromaWidth, picture.data() + lumaBytes};
    frame.V =
        D2uPlane{chromaWidth, chromaHeight, chromaWidth, picture.data() + lumaBytes + chromaBytes};
    return frame;
}

D2uHandle OpenStream(const char* path) {
    D2uHandle handle = 0;
    int32_t opened = D2uDirLoadFile(path, &handle);
    if (opened != 0) {
        std::fprintf(stderr, "d2udir: cannot decode %s (error %d)\n", path,
                     static_cast<int>(opened));
        return 0;
    }
    return handle;
}

}  // namespace d2ucli
