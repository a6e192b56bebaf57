// Replays inputs through a fuzz target outside libFuzzer: every file named on the command line,
// and every file of every folder named there. Fails when a path cannot be read; a fault in the
// library shows up as a crash or a sanitizer report.
//   --damage        also replays the soak's damaged forms of each input
//   --watchdog=S    fails when one input takes longer than S seconds (a hang)
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "soak/soak_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using d2u::soak::Bytes;
using d2u::soak::InputKind;

struct Form {
    std::string name;
    Bytes bytes;
};

// Each damage of the soak, a few times with fixed seeds, to the stream behind the control bytes
// that steer the target; inputs without start codes are taken as subtitle files, inputs that
// start with a pack as program streams.
std::vector<Form> DamagedForms(const Bytes& input, size_t control) {
    std::vector<Form> forms;
    if (input.size() <= control + 4) return forms;
    Bytes body(input.begin() + control, input.end());
    size_t first = 0;
    while (first + 3 < body.size() &&
           !(body[first] == 0 && body[first + 1] == 0 && body[first + 2] == 1))
        ++first;
    const InputKind kind = first + 3 >= body.size()  ? InputKind::kSubtitle
                           : body[first + 3] == 0xBA ? InputKind::kProgram
                                                     : InputKind::kElementary;
    const d2u::soak::SoakInput stream{"", kind, std::move(body)};
    for (const d2u::soak::Damage& damage : d2u::soak::Damages()) {
        if (!damage.AppliesTo(kind) || std::string(damage.name) == "valid") continue;
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            std::mt19937 random(seed + static_cast<uint32_t>(input.size()));
            Bytes damaged(input.begin(), input.begin() + control);
            const Bytes tail = damage.apply(stream, random);
            damaged.insert(damaged.end(), tail.begin(), tail.end());
            forms.push_back({damage.name + std::to_string(seed), std::move(damaged)});
        }
    }
    return forms;
}

const char* currentInput = "";
const char* currentForm = "";

void ReportHang(int) {
    // Only async-signal-safe calls here.
    const char* parts[] = {"input hangs: ", currentInput, " ", currentForm, "\n"};
    for (const char* part : parts) {
        ssize_t ignored = write(2, part, std::strlen(part));
        (void)ignored;
    }
    _exit(1);
}

void RunOne(const Bytes& bytes, unsigned watchdog) {
    if (watchdog) alarm(watchdog);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    if (watchdog) alarm(0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bool damage = false;
    unsigned watchdog = 0;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::error_code error;
        if (argument == "--damage") {
            damage = true;
        } else if (argument.rfind("--watchdog=", 0) == 0) {
            watchdog = static_cast<unsigned>(std::atoi(argument.c_str() + 11));
        } else if (std::filesystem::is_directory(argument, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(argument)) {
                if (entry.path().filename().string()[0] != '.') files.push_back(entry.path());
            }
        } else {
            files.push_back(argument);
        }
    }
    if (watchdog) signal(SIGALRM, ReportHang);
    std::sort(files.begin(), files.end());
    size_t runs = 0;
    for (const std::string& file : files) {
        std::ifstream stream(file, std::ios::binary);
        if (!stream) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        Bytes bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        currentInput = file.c_str();
        currentForm = "as it is";
        RunOne(bytes, watchdog);
        ++runs;
        if (!damage) continue;
        for (const Form& form : DamagedForms(bytes, d2u::fuzz::kControlBytes)) {
            currentForm = form.name.c_str();
            RunOne(form.bytes, watchdog);
            ++runs;
        }
    }
    std::printf("%zu files, %zu runs\n", files.size(), runs);
    return 0;
}
