// d2udir subtitle VIDEO SUBTITLES OUT.yuv: every picture, in decoding order, with the subtitle
// record of its frame number drawn on it, as raw yuv420p.
#include <cstdio>

#include "cli_commands.h"

namespace d2ucli {

int RunSubtitle(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: d2udir subtitle VIDEO SUBTITLES OUT.yuv\n");
        return 2;
    }
    D2uHandle video = OpenStream(argv[0]);
    if (!video) return 1;
    float fps = 25.0f;
    GetFPSInfo(video, &fps);
    D2uHandle subtitles = 0;
    FILE* out = std::fopen(argv[2], "wb");
    if (!out || D2uDirLoadSubtitle(argv[1], &subtitles, fps, 0, 0) != 0) {
        std::fprintf(stderr, "d2udir: cannot open %s or %s\n", argv[1], argv[2]);
        if (out) std::fclose(out);
        FinishDecoding(&video);
        return 1;
    }
    // The picture is drawn on in a copy, and written once the next call has produced a
    // frame: after the last picture of a file the last frame is handed out once more.
    D2uFrame* frame = nullptr;
    std::vector<uint8_t> pending;
    int32_t frameNumber = 0;
    bool failed = false;
    while (GetMpegFrame(&frame, video) == 0 && frame) {
        if (frameNumber > 0) {
            failed |= std::fwrite(pending.data(), 1, pending.size(), out) != pending.size();
        }
        pending = CopyDisplayArea(*frame);
        D2uFrame copy = FrameOver(pending, *frame);
        D2uDirPutSubtitleYUV(subtitles, &copy, frameNumber++);
    }
    if (frameNumber > 0) --frameNumber;
    D2uDirCloseSubtitle(&subtitles);
    FinishDecoding(&video);
    failed |= std::fclose(out) != 0;
    if (failed) {
        std::fprintf(stderr, "d2udir: writing %s failed\n", argv[2]);
        return 1;
    }
    std::printf("drew subtitles on %d frames into %s\n", static_cast<int>(frameNumber), argv[2]);
    return 0;
}

}  // namespace d2ucli
