// The inputs of the soak and damage runs: small valid streams made by ffmpeg, mpeg2enc and mplex,
// a subtitle file written here, and damaged copies of them.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace d2u {
namespace soak {

using Bytes = std::vector<uint8_t>;

enum class InputKind { kElementary, kProgram, kSubtitle };

struct SoakInput {
    std::string name;
    InputKind kind = InputKind::kElementary;
    Bytes bytes;
};

// Makes (once, cached in the test work folder) and reads the valid inputs. Inputs whose tool
// is missing are left out; empty when none could be made.
std::vector<SoakInput> MakeValidInputs();

// A subtitle file of `records` records with pictures of random runs.
Bytes MakeSubtitleFile(uint32_t seed, int records);

enum class Damage {
    kNone,
    kTruncate,
    kBitFlips,
    kZeroRange,
    kSwapUnits,       // 2048-byte packs of a program stream, pieces between start codes otherwise
    kHeaderValues,    // absurd values in sequence, picture and extension headers
    kQuantMatrices,   // sequence headers rewritten with extreme quantiser matrices
    kSubtitleFields,  // absurd sizes, offsets and times in subtitle record headers
    kCount
};
const char* DamageName(Damage damage);

// A damaged copy; damages that do not apply to the kind of input fall back to bit flips.
Bytes ApplyDamage(const SoakInput& input, Damage damage, std::mt19937& random);

// File name extension the library's preview needs to tell elementary streams from the rest.
std::string ExtensionOf(InputKind kind);

bool WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

}  // namespace soak
}  // namespace d2u
