// d2udir preview FILE OUT.bmp WIDTH HEIGHT POSITION_KIB: the first picture at a file position of
// an elementary stream (name ending in m2v) or a program stream, scaled, as a bitmap file.
#include <cstdio>
#include <cstdlib>

#include "cli_commands.h"

namespace d2ucli {

int RunPreview(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: d2udir preview FILE OUT.bmp WIDTH HEIGHT POSITION_KIB\n");
        return 2;
    }
    int32_t width = static_cast<int32_t>(std::strtol(argv[2], nullptr, 10));
    int32_t height = static_cast<int32_t>(std::strtol(argv[3], nullptr, 10));
    int32_t position = static_cast<int32_t>(std::strtol(argv[4], nullptr, 10));
    if (D2uDirStartExtractPreview(argv[0], argv[1], width, height) != 0) {
        std::fprintf(stderr, "d2udir: cannot open %s\n", argv[0]);
        D2uDirCloseExtractPreview();
        return 1;
    }
    int32_t result = D2uDirExtractPreview(position);
    D2uDirCloseExtractPreview();
    if (result != 0) {
        std::fprintf(stderr, "d2udir: no picture at %d KiB (error %d)\n",
                     static_cast<int>(position), static_cast<int>(result));
        return 1;
    }
    std::printf("wrote a %d x %d preview of %s at %d KiB to %s\n", static_cast<int>(width),
                static_cast<int>(height), argv[0], static_cast<int>(position), argv[1]);
    return 0;
}

}  // namespace d2ucli
