// Stand-in for the optional pack filter library. Every test program loads it through the
// pack reader, so it does nothing unless the environment asks for it:
//   D2U_DVDSCRIPT_KEY     a byte value (strtol syntax); Dec XORs each byte of a unit after the
//                         first four with it (the pack start code stays readable for resyncing)
//   D2U_DVDSCRIPT_RECORD  a file to which each call appends a line: "Ini <name>", "Dec <count>"
#include <cstdio>
#include <cstdlib>

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Record(const char* word, const char* text) {
    const char* path = std::getenv("D2U_DVDSCRIPT_RECORD");
    if (!path || !*path) return;
    FILE* file = std::fopen(path, "a");
    if (!file) return;
    std::fprintf(file, "%s %s\n", word, text);
    std::fclose(file);
}

}  // namespace

STUB_EXPORT int Ini(const char* fileName) {
    Record("Ini", fileName ? fileName : "(null)");
    return 0;
}

STUB_EXPORT int Dec(unsigned char* unit, int count) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", count);
    Record("Dec", number);
    const char* key = std::getenv("D2U_DVDSCRIPT_KEY");
    if (!key || !*key || !unit) return 0;
    unsigned char mask = static_cast<unsigned char>(std::strtol(key, nullptr, 0));
    for (int i = 4; i < count; ++i) unit[i] ^= mask;
    return 0;
}
