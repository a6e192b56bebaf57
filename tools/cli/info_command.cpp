// d2udir info FILE: what the library reports about a stream file.
#include <cstdio>

#include "cli_commands.h"
#include "d2udir.h"

namespace d2ucli {

int RunInfo(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: d2udir info FILE\n");
        return 2;
    }
    D2uHandle handle = OpenStream(argv[0]);
    if (!handle) return 1;
    int32_t width = 0, height = 0, bits = 0;
    double aspect = 0.0;
    float fps = 0.0f;
    uint64_t size = 0;
    GetOutputInfo(&width, &height, &bits, handle);
    D2uDirGetAspectRatio(handle, &aspect);
    GetFPSInfo(handle, &fps);
    GetInputSize(handle, &size);
    std::printf("file:         %s\n", argv[0]);
    std::printf("size:         %d x %d\n", static_cast<int>(width), static_cast<int>(height));
    if (aspect > 0) {
        std::printf("aspect ratio: %.4f\n", aspect);
    } else {
        std::printf("aspect ratio: unknown\n");
    }
    if (fps > 0) {
        std::printf("frame rate:   %.3f frames/s\n", static_cast<double>(fps));
    } else {
        std::printf("frame rate:   unknown\n");
    }
    std::printf("file bytes:   %llu\n", static_cast<unsigned long long>(size));
    FinishDecoding(&handle);
    return 0;
}

}  // namespace d2ucli
