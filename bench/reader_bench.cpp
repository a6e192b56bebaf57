// How much of the work of decoding a file is reading its video out of the container: the best
// of REPEATS runs of reading every chunk alone, and of reading and decoding every chunk with a
// buffer-driven handle.
//   d2udir_reader_bench FILE [REPEATS]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "d2udir.h"

namespace {

struct Run {
    double seconds = 0;
    long chunks = 0, frames = 0;
};

bool ReadFile(const char* path, bool decode, Run& run) {
    D2uHandle reader = 0, decoder = 0;
    if (D2uDirOpenVideoReader(path, D2U_ANY_VIDEO, &reader) != 0) return false;
    InitDecoding(&decoder);
    auto start = std::chrono::steady_clock::now();
    const uint8_t* data = nullptr;
    int32_t length = 0;
    int64_t pts = 0;
    run.chunks = run.frames = 0;
    while (D2uDirReadVideoChunk(reader, &data, &length, &pts) == 0) {
        ++run.chunks;
        D2uFrame* frame = nullptr;
        if (decode && GetMpegFrame2(&frame, data, length, decoder) == 0 && frame) ++run.frames;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    FinishDecoding(&decoder);
    D2uDirCloseVideoReader(&reader);
    return true;
}

bool Best(const char* path, bool decode, int repeats, Run& best) {
    best.seconds = 1e300;
    for (int k = 0; k < repeats; ++k) {
        Run run;
        if (!ReadFile(path, decode, run)) return false;
        if (run.seconds < best.seconds) best = run;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [REPEATS]\n", argv[0]);
        return 2;
    }
    int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    Run reading, decoding;
    if (!Best(argv[1], false, repeats, reading) || !Best(argv[1], true, repeats, decoding)) {
        std::fprintf(stderr, "cannot read the video of %s\n", argv[1]);
        return 1;
    }
    std::printf("chunks %ld reading %.4f s, frames %ld reading and decoding %.4f s: %.1f%%\n",
                reading.chunks, reading.seconds, decoding.frames, decoding.seconds,
                100.0 * reading.seconds / decoding.seconds);
    return 0;
}
