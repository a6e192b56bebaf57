// What the soak, damage and two-thread runs share: small valid streams made by ffmpeg, mpeg2enc
// and mplex, a subtitle file written here, damaged copies of them, and a check that a frame's
// planes can be read.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "d2udir.h"

namespace d2u {
namespace soak {

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

enum class Damage {
    kNone,
    kTruncate,
    kBitFlips,
    kZeroRange,
    kSwapUnits,       // 2048-byte packs of a program stream, pieces between start codes otherwise
    kHeaderValues,    // absurd values in sequence, picture, extension and slice headers
    kQuantMatrices,   // sequence headers rewritten with extreme quantiser matrices
    kSubtitleFields,  // absurd sizes, offsets and times in subtitle record headers
    kCount
};
const char* DamageName(Damage damage);
bool DamageApplies(InputKind kind, Damage damage);
// A damaged copy; damages that do not apply to the kind of input fall back to bit flips.
Bytes ApplyDamage(const SoakInput& input, Damage damage, std::mt19937& random);

// File name extension the library's preview needs to tell elementary streams from the rest.
std::string ExtensionOf(InputKind kind);

// Reads every visible sample (or only the first and last of each plane), so that a bad plane
// shows up under the address sanitizer; false when a plane is visibly broken.
bool FrameIsSound(const D2uFrame* frame, bool everySample);

}  // namespace soak
}  // namespace d2u
