// Decodes a video elementary stream through the public interface and reports the speed.
//   d2udir_decode_bench FILE [REPEATS]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "d2udir.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [REPEATS]\n", argv[0]);
        return 2;
    }
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    double best = 1e300;
    long frames = 0;
    for (int run = 0; run < repeats; ++run) {
        D2uHandle handle = 0;
        if (D2uDirLoadFile(argv[1], &handle) != 0) {
            std::fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        auto start = std::chrono::steady_clock::now();
        D2uFrame* frame = nullptr;
        frames = 0;
        while (GetMpegFrame(&frame, handle) == 0) ++frames;
        // After the last picture the last frame is handed out once more.
        if (frames > 0) --frames;
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds < best) best = seconds;
        FinishDecoding(&handle);
    }
    std::printf("frames %ld seconds %.4f fps %.1f\n", frames, best, frames / best);
    return 0;
}
