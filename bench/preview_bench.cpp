// Extracts previews at evenly spread positions of a file and reports the time they took.
//   d2udir_preview_bench FILE COUNT WIDTH HEIGHT OUTDIR
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "d2udir.h"

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s FILE COUNT WIDTH HEIGHT OUTDIR\n", argv[0]);
        return 2;
    }
    const char* file = argv[1];
    int count = std::atoi(argv[2]);
    int width = std::atoi(argv[3]);
    int height = std::atoi(argv[4]);
    std::string outDir = argv[5];
    FILE* input = std::fopen(file, "rb");
    if (!input) return 1;
    std::fseek(input, 0, SEEK_END);
    long size = std::ftell(input);
    std::fclose(input);
    auto start = std::chrono::steady_clock::now();
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        std::string bitmap = outDir + "/preview_" + std::to_string(i) + ".bmp";
        if (D2uDirStartExtractPreview(file, bitmap.c_str(), width, height) != 0) return 1;
        long position = size / 1024 * i / (count + 1);
        if (D2uDirExtractPreview(static_cast<int32_t>(position)) != 0) ++failures;
        D2uDirCloseExtractPreview();
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("previews %d failures %d seconds %.4f\n", count, failures, seconds);
    return failures == 0 ? 0 : 1;
}
