// Stand-in for the optional outside diagnostics library. Inert unless D2U_TV_INFO_FILE names a
// file, to which every published text is appended as one line.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void TV_Info(const char* text) {
    const char* path = std::getenv("D2U_TV_INFO_FILE");
    if (!path || !text) return;
    if (FILE* file = std::fopen(path, "ab")) {
        std::fprintf(file, "%s\n", text);
        std::fclose(file);
    }
}
