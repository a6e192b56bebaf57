// What the soak, damage and thread runs share: small valid streams made by ffmpeg, mpeg2enc and
// mplex, a subtitle file written here, and damaged copies of them.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace d2u::soak {

using Bytes = std::vector<uint8_t>;

enum class InputKind { kElementary, kProgram, kSubtitle };

struct SoakInput {
    std::string name;
    InputKind kind = InputKind::kElementary;
    Bytes bytes;
};

// Makes (once, cached in the test work folder) and reads the valid inputs; inputs whose tool is
// missing are left out.
std::vector<SoakInput> MakeValidInputs();

// A way to damage an input: its name in the corpus's file names, the inputs it applies to, and
// the damaged copy it makes.
struct Damage {
    const char* name;
    bool forVideo, forSubtitles;
    Bytes (*apply)(const SoakInput& input, std::mt19937& random);
    bool AppliesTo(InputKind kind) const {
        return kind == InputKind::kSubtitle ? forSubtitles : forVideo;
    }
};
// Truncations, bit flips, zeroed ranges, swapped packs or pieces between start codes, absurd
// values in sequence, picture, extension and slice headers, extreme quantiser matrices, absurd
// sizes, offsets and times in subtitle records; the first leaves the input valid.
const std::vector<Damage>& Damages();

// File name extension the library's preview needs to tell elementary streams from the rest.
std::string ExtensionOf(InputKind kind);

}  // namespace d2u::soak
