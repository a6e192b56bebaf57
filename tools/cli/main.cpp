// d2udir: decodes MPEG-1 / MPEG-2 video elementary streams through the library's public
// interface.
#include <cstdio>
#include <cstring>

#include "cli_commands.h"

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(int, char**);
};

const Command kCommands[] = {
    {"info", "info FILE                          stream size, aspect ratio, frame rate",
     d2ucli::RunInfo},
    {"decode", "decode FILE OUT.yuv [--display-order]  raw yuv420p frames", d2ucli::RunDecode},
    {"bitmap", "bitmap FILE OUT.bgra [COUNT]       32-bit pixels of the first COUNT pictures",
     d2ucli::RunBitmap},
    {"preview", "preview FILE OUT.bmp WIDTH HEIGHT POSITION_KIB  a scaled picture as a bitmap",
     d2ucli::RunPreview},
    {"subtitle", "subtitle VIDEO SUBTITLES OUT.yuv  frames with the subtitles drawn on them",
     d2ucli::RunSubtitle},
};

int Usage() {
    std::fprintf(stderr, "usage: d2udir COMMAND ...\n");
    for (const Command& command : kCommands) std::fprintf(stderr, "  d2udir %s\n", command.usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
    }
    return Usage();
}
