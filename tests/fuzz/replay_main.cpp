// Replays inputs through a fuzz target outside libFuzzer: every file named on the command line,
// and every file of every folder named there. Fails when a path cannot be read; a fault in the
// library shows up as a crash or a sanitizer report.
//   --damage        also replays damaged forms of each input (see DamagedForms)
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
#include <string>
#include <vector>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

struct Form {
    std::string name;
    Bytes bytes;
};

// A fixed pseudo-random sequence, so that every run damages the same way.
class Sequence {
public:
    explicit Sequence(uint32_t seed) : state_(seed * 2654435761u + 1u) {}
    uint32_t Next(uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return bound ? (state_ >> 8) % bound : 0;
    }

private:
    uint32_t state_;
};

bool StartCodeAt(const Bytes& bytes, size_t at) {
    return at + 3 < bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1;
}

void Patch(Bytes& bytes, size_t at, std::initializer_list<uint8_t> values) {
    for (uint8_t value : values) {
        if (at < bytes.size()) bytes[at] = value;
        ++at;
    }
}

// Header fields set to values no encoder writes: sizes of zero and of the largest coded value,
// forbidden codes, lengths that point past the data. Each patch goes to the first header of its
// kind, and in a second form to every one.
struct HeaderPatch {
    const char* name;
    uint8_t code;     // the start code value the patch applies to
    int extensionId;  // for extension start codes: the id in the high nibble, else -1
    size_t offset;    // from the first byte of the start code
    std::initializer_list<uint8_t> values;
};

const HeaderPatch kHeaderPatches[] = {
    {"size-0x0", 0xB3, -1, 4, {0x00, 0x00, 0x00}},
    // Wide and tall rather than both: a 4095 x 4095 picture is within the limits and would
    // only make the run slow.
    {"size-4095x16", 0xB3, -1, 4, {0xFF, 0xF0, 0x10}},
    {"size-16x4095", 0xB3, -1, 4, {0x01, 0x0F, 0xFF}},
    {"size-1x1", 0xB3, -1, 4, {0x00, 0x10, 0x01}},
    {"rate-codes-0", 0xB3, -1, 7, {0x00}},
    {"rate-codes-15", 0xB3, -1, 7, {0xFF}},
    {"matrices-flags", 0xB3, -1, 8, {0xFF, 0xFF, 0xFF, 0xFF}},
    {"sequence-extension-max", 0xB5, 1, 4, {0x1F, 0xFF, 0xFF}},
    {"sequence-extension-zero", 0xB5, 1, 4, {0x10, 0x00, 0x00}},
    {"f-codes-15", 0xB5, 8, 4, {0x8F, 0xFF, 0xFF}},
    {"f-codes-0", 0xB5, 8, 4, {0x80, 0x00, 0x00}},
    {"picture-coding-bits", 0xB5, 8, 6, {0xFF, 0xFF}},
    {"picture-type-0", 0x00, -1, 5, {0x00}},
    {"picture-type-7", 0x00, -1, 5, {0x3F, 0xFF, 0xFF}},
    {"packet-length-max", 0xE0, -1, 4, {0xFF, 0xFF}},
    {"packet-length-0", 0xE0, -1, 4, {0x00, 0x00}},
    {"pes-header-length-max", 0xE0, -1, 8, {0xFF}},
    {"pack-stuffing-7", 0xBA, -1, 13, {0xFF}},
    {"private-length-max", 0xBD, -1, 4, {0xFF, 0xFF}},
};

bool PatchApplies(const Bytes& bytes, size_t at, const HeaderPatch& patch) {
    if (!StartCodeAt(bytes, at) || bytes[at + 3] != patch.code) return false;
    if (patch.extensionId < 0) return true;
    return at + 4 < bytes.size() && (bytes[at + 4] >> 4) == patch.extensionId;
}

void AddHeaderForms(const Bytes& input, size_t control, std::vector<Form>& forms) {
    for (const HeaderPatch& patch : kHeaderPatches) {
        Bytes first = input, every = input;
        bool found = false;
        for (size_t at = control; at + 3 < input.size(); ++at) {
            if (!PatchApplies(input, at, patch)) continue;
            if (!found) Patch(first, at + patch.offset, patch.values);
            Patch(every, at + patch.offset, patch.values);
            found = true;
        }
        if (!found) continue;
        forms.push_back({std::string(patch.name) + "-first", first});
        forms.push_back({std::string(patch.name) + "-every", every});
    }
    // A slice start code moved to the last row and to the first.
    for (uint8_t code : {0x01, 0xAF}) {
        Bytes moved = input;
        for (size_t at = control; at + 3 < moved.size(); ++at) {
            if (StartCodeAt(moved, at) && moved[at + 3] >= 0x01 && moved[at + 3] <= 0xAF)
                moved[at + 3] = code;
        }
        forms.push_back({"slices-" + std::to_string(code), moved});
    }
}

// Inputs without start codes (subtitle files): each 32-bit field of the first record header set
// to extreme values in turn.
void AddRecordForms(const Bytes& input, size_t control, std::vector<Form>& forms) {
    const uint32_t extremes[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0u, 721u};
    for (size_t field = 0; field < 19; ++field) {
        size_t at = control + field * 4;
        if (at + 4 > input.size()) break;
        for (uint32_t value : extremes) {
            Bytes patched = input;
            std::memcpy(&patched[at], &value, 4);
            forms.push_back(
                {"field-" + std::to_string(field) + "-" + std::to_string(value), patched});
        }
    }
}

// Damaged forms of an input whose first `control` bytes steer the target: truncations, flipped
// bits, zeroed ranges, 2048-byte packs swapped, dropped and repeated, and absurd header values.
std::vector<Form> DamagedForms(const Bytes& input, size_t control) {
    std::vector<Form> forms;
    if (input.size() <= control + 4) return forms;
    const size_t stream = input.size() - control;
    Sequence random(static_cast<uint32_t>(input.size()));
    for (size_t quarter = 1; quarter <= 3; ++quarter) {
        forms.push_back({"truncated-" + std::to_string(quarter) + "/4",
                         Bytes(input.begin(), input.begin() + control + stream * quarter / 4)});
    }
    forms.push_back({"truncated-last-byte", Bytes(input.begin(), input.end() - 1)});
    for (uint32_t variant = 0; variant < 6; ++variant) {
        Bytes flipped = input;
        for (uint32_t bit = 0; bit < (1u << variant); ++bit) {
            size_t at = control + random.Next(static_cast<uint32_t>(stream));
            flipped[at] ^= static_cast<uint8_t>(1u << random.Next(8));
        }
        forms.push_back({"flipped-" + std::to_string(1u << variant), flipped});
    }
    for (uint32_t variant = 0; variant < 4; ++variant) {
        Bytes zeroed = input;
        size_t length = std::min<size_t>(16u << (2 * variant), stream);
        size_t at = control + random.Next(static_cast<uint32_t>(stream - length + 1));
        std::fill(zeroed.begin() + at, zeroed.begin() + at + length, 0);
        forms.push_back({"zeroed-" + std::to_string(length), zeroed});
    }
    const size_t pack = 2048, packs = stream / pack;
    if (packs >= 2) {
        Bytes swapped = input, dropped = input, repeated = input;
        const uint32_t first = random.Next(static_cast<uint32_t>(packs));
        const uint32_t second = (first + 1 + random.Next(static_cast<uint32_t>(packs - 1))) % packs;
        const size_t a = control + pack * first, b = control + pack * second;
        std::swap_ranges(swapped.begin() + a, swapped.begin() + a + pack, swapped.begin() + b);
        dropped.erase(dropped.begin() + a, dropped.begin() + a + pack);
        repeated.insert(repeated.begin() + b, input.begin() + a, input.begin() + a + pack);
        forms.push_back({"packs-swapped", swapped});
        forms.push_back({"pack-dropped", dropped});
        forms.push_back({"pack-repeated", repeated});
    }
    bool hasStartCodes = false;
    for (size_t at = control; at + 3 < input.size() && !hasStartCodes; ++at)
        hasStartCodes = StartCodeAt(input, at);
    if (hasStartCodes) {
        AddHeaderForms(input, control, forms);
    } else {
        AddRecordForms(input, control, forms);
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
