// d2udir bitmap FILE OUT.bgra [COUNT]: the first COUNT pictures (all by default), in decoding
// order, as 32-bit pixels (blue, green, red, 255) one after another.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli_commands.h"

namespace d2ucli {

int RunBitmap(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: d2udir bitmap FILE OUT.bgra [COUNT]\n");
        return 2;
    }
    long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : -1;
    D2uHandle handle = OpenStream(argv[0]);
    if (!handle) return 1;
    int32_t width = 0, height = 0, bits = 0;
    GetOutputInfo(&width, &height, &bits, handle);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "d2udir: cannot write %s\n", argv[1]);
        FinishDecoding(&handle);
        return 1;
    }
    long written = 0;
    bool failed = false;
    for (; count < 0 || written < count; ++written) {
        std::fill(pixels.begin(), pixels.end(), 255);  // the fourth byte is left to the host
        int32_t length = static_cast<int32_t>(pixels.size());
        int32_t isReference = 0;
        if (GetBitmapData(pixels.data(), &length, handle, &isReference) != 0) break;
        failed |= std::fwrite(pixels.data(), 1, static_cast<size_t>(length), out) !=
                  static_cast<size_t>(length);
    }
    FinishDecoding(&handle);
    failed |= std::fclose(out) != 0;
    if (failed) {
        std::fprintf(stderr, "d2udir: writing %s failed\n", argv[1]);
        return 1;
    }
    std::printf("converted %ld pictures of %d x %d into %s\n", written, static_cast<int>(width),
                static_cast<int>(height), argv[1]);
    return 0;
}

}  // namespace d2ucli
