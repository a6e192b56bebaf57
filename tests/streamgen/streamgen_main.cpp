// streamgen --seed N -o out.m2v [--chroma 420|422] [--counts]
// Writes one syntax-coverage stream; --counts prints what it holds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "stream_generator.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: streamgen --seed N -o out.m2v [--chroma 420|422] [--counts]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    d2u::streamgen::GeneratorOptions options;
    std::string output;
    bool printCounts = false;
    for (int k = 1; k < argc; ++k) {
        const std::string argument = argv[k];
        const bool hasValue = k + 1 < argc;
        if (argument == "--seed" && hasValue) {
            options.seed = std::strtoull(argv[++k], nullptr, 10);
        } else if (argument == "-o" && hasValue) {
            output = argv[++k];
        } else if (argument == "--chroma" && hasValue) {
            const std::string chroma = argv[++k];
            if (chroma != "420" && chroma != "422") return Usage();
            options.chromaFormat = chroma == "422" ? 2 : 1;
        } else if (argument == "--counts") {
            printCounts = true;
        } else {
            return Usage();
        }
    }
    if (output.empty()) return Usage();
    d2u::streamgen::GeneratedStream stream = d2u::streamgen::StreamGenerator(options).Generate();
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(stream.bytes.data()),
               static_cast<std::streamsize>(stream.bytes.size()));
    if (!file) {
        std::fprintf(stderr, "streamgen: cannot write %s\n", output.c_str());
        return 1;
    }
    if (printCounts) {
        std::printf("size %dx%d chroma %s frames %zu\n", stream.width, stream.height,
                    stream.chromaFormat == 2 ? "4:2:2" : "4:2:0", stream.frames.size());
        for (const auto& entry : stream.counts) {
            std::printf("%s %d\n", entry.first.c_str(), entry.second);
        }
    }
    return 0;
}
