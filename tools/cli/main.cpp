// d2udir: MPEG-1 / MPEG-2 video through the library's public interface, from the command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "cli_commands.h"
#include "cli_errors.h"

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(int, char**);
};

const Command kCommands[] = {
    {"info", "stream information; --frames lists every picture", d2ucli::RunInfo},
    {"decode", "pictures as YUV4MPEG2, raw YUV or bitmap files", d2ucli::RunDecode},
    {"preview", "a scaled picture at a file position, or a contact sheet", d2ucli::RunPreview},
    {"subtitle", "draw a subtitle file onto a YUV4MPEG2 stream", d2ucli::RunSubtitle},
};

void PrintUsage() {
    FILE* to = stdout;
    std::fprintf(to, "usage: d2udir COMMAND [options] FILE ...\n\ncommands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(to, "  %-9s %s\n", command.name, command.summary);
    }
    std::fprintf(to,
                 "\n'd2udir COMMAND --help' describes a command's options; 'd2udir --version'\n"
                 "prints the version.\n");
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        throw d2ucli::UsageError(
            "missing COMMAND: info, decode, preview or subtitle (see d2udir --help)");
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage();
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("d2udir %s\n", D2U_VERSION);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
    }
    throw d2ucli::UsageError(std::string("unknown command '") + argv[1] + "' (see d2udir --help)");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const d2ucli::CliError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "d2udir: %s\n", error.what());
        return error.status();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "d2udir: out of memory\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "d2udir: %s\n", error.what());
    }
    return 1;
}
