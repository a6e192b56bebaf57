#include "soak/soak_inputs.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "support/test_env.h"

namespace d2u {
namespace soak {
namespace {

const char kFfmpeg[] = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
const char kPattern[] = "-f lavfi -i testsrc2=size=";
const char kTone[] = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";

struct Recipe {
    const char* name;
    InputKind kind;
    std::string command;
};

std::vector<Recipe> Recipes() {
    std::string ffmpeg = kFfmpeg;
    std::string pattern = kPattern;
    return {
        {"soak_mpeg2_qcif.m2v", InputKind::kElementary,
         ffmpeg + pattern +
             "176x144:rate=25 -frames:v 24 -c:v mpeg2video -g 12 -bf 2 "
             "-f mpeg2video {out}"},
        {"soak_mpeg1_sqcif.m1v", InputKind::kElementary,
         ffmpeg + pattern +
             "128x96:rate=30000/1001 -frames:v 18 -c:v mpeg1video -g 9 -bf 2 "
             "-f mpeg1video {out}"},
        {"soak_mpeg2_interlaced.m2v", InputKind::kElementary,
         ffmpeg + pattern +
             "352x288:rate=25 -frames:v 8 -c:v mpeg2video -g 4 -bf 1 "
             "-flags +ilme+ildct -top 1 -alternate_scan 1 -intra_vlc 1 "
             "-aspect 16:9 -f mpeg2video {out}"},
        {"soak_mpeg2enc_fields.m2v", InputKind::kElementary,
         ffmpeg + pattern +
             "352x288:rate=25 -frames:v 8 -vf setfield=tff -pix_fmt yuv420p "
             "-f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 -b 2000 -g 4 -G 4 -I 1 "
             "-z t -o {out}"},
        {"soak_mplex.mpg", InputKind::kProgram,
         "{ d=$(mktemp -d) && " + ffmpeg + pattern +
             "352x288:rate=25 -t 1 -c:v mpeg2video -g 12 -bf 2 -b:v 1M -f mpeg2video $d/v.m2v && " +
             ffmpeg + kTone +
             "-t 1 -c:a mp2 -f mp2 $d/a.mp2 && mplex -v 0 -f 8 -o {out} "
             "$d/v.m2v $d/a.mp2; r=$?; rm -rf $d; exit $r; }"},
        {"soak_ffmpeg.vob", InputKind::kProgram,
         ffmpeg + pattern + "176x144:rate=25 " + kTone +
             "-t 1 -c:v mpeg2video -g 6 -bf 2 -c:a mp2 -f vob {out}"},
    };
}

// Bits written most significant first into a byte vector.
class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) bytes.push_back(0);
            if ((value >> i) & 1u) bytes.back() |= static_cast<uint8_t>(0x80u >> used_);
            used_ = (used_ + 1) & 7;
        }
    }
    Bytes bytes;

private:
    int used_ = 0;
};

uint32_t GetBits(const Bytes& bytes, size_t bitOffset, int bits) {
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i, ++bitOffset) {
        size_t at = bitOffset / 8;
        uint32_t bit = at < bytes.size() ? (bytes[at] >> (7 - bitOffset % 8)) & 1u : 0;
        value = value << 1 | bit;
    }
    return value;
}

void SetBits(Bytes& bytes, size_t bitOffset, int bits, uint32_t value) {
    for (int i = bits - 1; i >= 0; --i, ++bitOffset) {
        size_t at = bitOffset / 8;
        if (at >= bytes.size()) return;
        uint8_t mask = static_cast<uint8_t>(0x80u >> (bitOffset % 8));
        if ((value >> i) & 1u) {
            bytes[at] |= mask;
        } else {
            bytes[at] &= static_cast<uint8_t>(~mask);
        }
    }
}

// Offsets of the byte after each start code prefix 00 00 01.
std::vector<size_t> StartCodes(const Bytes& bytes) {
    std::vector<size_t> found;
    for (size_t i = 0; i + 3 < bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) found.push_back(i + 3);
    }
    return found;
}

size_t Pick(std::mt19937& random, size_t count) {
    return count ? std::uniform_int_distribution<size_t>(0, count - 1)(random) : 0;
}

template <class T>
T PickOf(std::mt19937& random, std::initializer_list<T> values) {
    return *(values.begin() + Pick(random, values.size()));
}

Bytes Truncate(Bytes bytes, std::mt19937& random) {
    // Half of the cuts fall inside the first headers.
    size_t limit = random() % 2 ? std::min<size_t>(bytes.size(), 200) : bytes.size();
    bytes.resize(Pick(random, limit));
    return bytes;
}

Bytes FlipBits(Bytes bytes, std::mt19937& random) {
    if (bytes.empty()) return bytes;
    for (size_t n = 1 + random() % 32; n > 0; --n) {
        bytes[Pick(random, bytes.size())] ^= static_cast<uint8_t>(1u << (random() % 8));
    }
    return bytes;
}

Bytes ZeroRange(Bytes bytes, std::mt19937& random) {
    if (bytes.empty()) return bytes;
    size_t start = Pick(random, bytes.size());
    size_t length = std::min<size_t>(bytes.size() - start, 1 + random() % 4096);
    uint8_t fill = random() % 4 ? 0x00 : 0xFF;
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), length, fill);
    return bytes;
}

Bytes SwapRanges(const Bytes& bytes, std::vector<size_t> cuts, std::mt19937& random) {
    cuts.insert(cuts.begin(), 0);
    cuts.push_back(bytes.size());
    size_t pieces = cuts.size() - 1;
    if (pieces < 2) return bytes;
    size_t a = Pick(random, pieces), b = Pick(random, pieces);
    if (a > b) std::swap(a, b);
    if (a == b) return bytes;
    Bytes out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cuts[a]));
    auto append = [&](size_t piece) {
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(cuts[piece]),
                   bytes.begin() + static_cast<std::ptrdiff_t>(cuts[piece + 1]));
    };
    append(b);
    for (size_t piece = a + 1; piece < b; ++piece) append(piece);
    append(a);
    for (size_t piece = b + 1; piece < pieces; ++piece) append(piece);
    return out;
}

Bytes SwapUnits(const SoakInput& input, std::mt19937& random) {
    std::vector<size_t> cuts;
    if (input.kind == InputKind::kProgram) {
        for (size_t at = 2048; at < input.bytes.size(); at += 2048) cuts.push_back(at);
    } else {
        for (size_t at : StartCodes(input.bytes)) cuts.push_back(at - 3);
        if (!cuts.empty() && cuts.front() == 0) cuts.erase(cuts.begin());
    }
    return SwapRanges(input.bytes, cuts, random);
}

void DamageSequenceHeader(Bytes& bytes, size_t at, std::mt19937& random) {
    size_t bit = at * 8;
    switch (random() % 6) {
        case 0:
            SetBits(bytes, bit, 12, PickOf<uint32_t>(random, {0, 1, 4095}));
            break;
        case 1:
            SetBits(bytes, bit + 12, 12, PickOf<uint32_t>(random, {0, 1, 4095}));
            break;
        case 2:
            SetBits(bytes, bit, 24, 0xFFFFFF);
            break;
        case 3:
            SetBits(bytes, bit + 24, 4, PickOf<uint32_t>(random, {0, 5, 15}));
            break;
        case 4:
            SetBits(bytes, bit + 28, 4, PickOf<uint32_t>(random, {0, 9, 15}));
            break;
        default:
            SetBits(bytes, bit + 62, 2, 3);
            break;  // matrices announced, none written
    }
}

void DamageExtension(Bytes& bytes, size_t at, std::mt19937& random) {
    size_t bit = at * 8;
    uint32_t id = GetBits(bytes, bit, 4);
    if (id == 1 && random() % 2) {  // sequence extension: chroma format, size extensions
        if (random() % 2) {
            SetBits(bytes, bit + 13, 2, PickOf<uint32_t>(random, {0, 2, 3}));
        } else {
            SetBits(bytes, bit + 15, 4, 0xF);
        }
    } else if (id == 8 && random() % 2) {  // picture coding extension
        switch (random() % 3) {
            case 0:
                SetBits(bytes, bit + 4, 16, PickOf<uint32_t>(random, {0, 0xFFFF, 0x0F0F}));
                break;
            case 1:
                SetBits(bytes, bit + 20, 2, 3);
                break;  // intra_dc_precision
            default:
                SetBits(bytes, bit + 22, 2, PickOf<uint32_t>(random, {0, 1, 2}));
                break;
        }
    } else {
        SetBits(bytes, bit, 4, PickOf<uint32_t>(random, {0, 4, 6, 9, 10, 15}));
    }
}

void DamagePictureHeader(Bytes& bytes, size_t at, std::mt19937& random) {
    size_t bit = at * 8;
    if (random() % 2) {
        SetBits(bytes, bit + 10, 3, PickOf<uint32_t>(random, {0, 4, 5, 7}));
    } else {
        SetBits(bytes, bit + 29, 4, PickOf<uint32_t>(random, {0, 8, 15}));  // forward f_code
    }
}

void DamageSlice(Bytes& bytes, size_t at, std::mt19937& random) {
    if (random() % 2) {
        bytes[at - 1] = PickOf<uint8_t>(random, {0x01, 0x20, 0xAF});  // slice row
    } else {
        SetBits(bytes, at * 8, 5, 0);  // quantiser_scale_code 0
    }
}

Bytes DamageHeaderValues(Bytes bytes, std::mt19937& random) {
    std::vector<size_t> codes = StartCodes(bytes);
    if (codes.empty()) return FlipBits(std::move(bytes), random);
    for (size_t n = 1 + random() % 4; n > 0; --n) {
        size_t at = codes[Pick(random, codes.size())];
        if (at + 8 > bytes.size()) continue;
        uint8_t code = bytes[at];
        if (code == 0xB3) {
            DamageSequenceHeader(bytes, at + 1, random);
        } else if (code == 0xB5) {
            DamageExtension(bytes, at + 1, random);
        } else if (code == 0x00) {
            DamagePictureHeader(bytes, at + 1, random);
        } else if (code >= 0x01 && code <= 0xAF) {
            DamageSlice(bytes, at + 1, random);
        } else {
            bytes[at] = PickOf<uint8_t>(random, {0xB3, 0x00, 0xB5, 0xB8, 0xB7});
        }
    }
    return bytes;
}

// A sequence header with both matrices loaded: all 255, all 0 (forbidden) or random.
Bytes SequenceHeaderWithMatrices(const Bytes& bytes, size_t at, std::mt19937& random) {
    BitWriter writer;
    for (size_t bit = 0; bit < 62; ++bit) writer.Put(GetBits(bytes, at * 8 + bit, 1), 1);
    for (int matrix = 0; matrix < 2; ++matrix) {
        writer.Put(1, 1);
        uint32_t style = random() % 3;
        for (int i = 0; i < 64; ++i) {
            writer.Put(style == 0 ? 255u : style == 1 ? 0u : random() % 256, 8);
        }
    }
    return writer.bytes;
}

Bytes DamageQuantMatrices(const Bytes& bytes, std::mt19937& random) {
    Bytes out;
    size_t copied = 0;
    for (size_t at : StartCodes(bytes)) {
        if (bytes[at] != 0xB3 || at + 9 > bytes.size() || random() % 3 == 0) continue;
        size_t body = at + 1;
        size_t oldLength = 8;
        if (GetBits(bytes, body * 8 + 62, 1)) oldLength += 64;
        if (GetBits(bytes, body * 8 + 63 + (oldLength > 8 ? 512 : 0), 1)) oldLength += 64;
        if (body + oldLength > bytes.size()) break;
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(copied),
                   bytes.begin() + static_cast<std::ptrdiff_t>(body));
        Bytes header = SequenceHeaderWithMatrices(bytes, body, random);
        out.insert(out.end(), header.begin(), header.end());
        copied = body + oldLength;
    }
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(copied), bytes.end());
    return out;
}

void PutWord(Bytes& bytes, size_t at, uint32_t value) {
    if (at + 4 > bytes.size()) return;
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetWord(const Bytes& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes[at + i];
    return value;
}

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

Bytes DamageSubtitleFields(Bytes bytes, std::mt19937& random) {
    std::vector<size_t> records;
    for (size_t at = 0; at + 76 <= bytes.size() && records.size() < 1000;) {
        records.push_back(at);
        uint32_t size = GetWord(bytes, at + 72);
        if (size < 76) break;
        at += size;
    }
    if (records.empty()) return FlipBits(std::move(bytes), random);
    for (size_t n = 1 + random() % 3; n > 0; --n) {
        size_t at = records[Pick(random, records.size())];
        size_t field = 4 * Pick(random, 19);
        uint32_t value =
            PickOf<uint32_t>(random, {0u, 1u, 0xFFFFFFFFu, 0x7FFFFFFFu, 75u, 77u, 721u, 577u,
                                      65536u, 100000u, FloatBits(-1.0f), 0x7FC00000u});
        PutWord(bytes, at + field, value);
    }
    return bytes;
}

class NibbleWriter {
public:
    void Put(uint32_t nibble) {
        if (high_) {
            bytes.push_back(static_cast<uint8_t>(nibble << 4));
        } else {
            bytes.back() |= static_cast<uint8_t>(nibble & 0xF);
        }
        high_ = !high_;
    }
    void EndRow() { high_ = true; }
    Bytes bytes;

private:
    bool high_ = true;
};

// Rows of short runs in the four colours, each row closed by a run to its end.
Bytes SubtitleField(std::mt19937& random, int32_t width, int32_t rows) {
    NibbleWriter writer;
    for (int32_t row = 0; row < rows; ++row) {
        for (int32_t x = 0; x < width - 3 && random() % 8 != 0;) {
            uint32_t length = 1 + random() % 3;
            writer.Put(length << 2 | (random() % 4));
            x += static_cast<int32_t>(length);
        }
        for (uint32_t nibble : {0u, 0u, 0u, static_cast<uint32_t>(random() % 4)})
            writer.Put(nibble);
        writer.EndRow();
    }
    return writer.bytes;
}

}  // namespace

std::vector<SoakInput> MakeValidInputs() {
    std::vector<SoakInput> inputs;
    for (const Recipe& recipe : Recipes()) {
        std::string path = test::CachedArtifact(recipe.name, recipe.command);
        if (path.empty()) continue;
        inputs.push_back({recipe.name, recipe.kind, ReadBytes(path)});
    }
    inputs.push_back({"soak_subtitles.sub", InputKind::kSubtitle, MakeSubtitleFile(7, 12)});
    return inputs;
}

Bytes MakeSubtitleFile(uint32_t seed, int records) {
    std::mt19937 random(seed);
    Bytes file;
    for (int i = 0; i < records; ++i) {
        int32_t width = 8 + static_cast<int32_t>(random() % 200);
        int32_t height = 2 + static_cast<int32_t>(random() % 60);
        int32_t x1 = static_cast<int32_t>(random() % static_cast<uint32_t>(720 - width));
        int32_t y1 = static_cast<int32_t>(random() % static_cast<uint32_t>(576 - height));
        Bytes top = SubtitleField(random, width, (height + 1) / 2);
        Bytes bottom = SubtitleField(random, width, height / 2);
        Bytes header(76, 0);
        uint32_t fields[19] = {static_cast<uint32_t>(x1),
                               static_cast<uint32_t>(y1),
                               static_cast<uint32_t>(x1 + width),
                               static_cast<uint32_t>(y1 + height),
                               static_cast<uint32_t>(width),
                               static_cast<uint32_t>(height),
                               1,
                               1,
                               1,
                               0,
                               0xF000,
                               0xA000,
                               0x6000,
                               0x1000,
                               FloatBits(0.4f * static_cast<float>(i)),
                               FloatBits(0.4f * static_cast<float>(i) + 0.3f),
                               76,
                               static_cast<uint32_t>(76 + top.size()),
                               static_cast<uint32_t>(76 + top.size() + bottom.size())};
        for (int f = 0; f < 19; ++f) PutWord(header, 4 * static_cast<size_t>(f), fields[f]);
        file.insert(file.end(), header.begin(), header.end());
        file.insert(file.end(), top.begin(), top.end());
        file.insert(file.end(), bottom.begin(), bottom.end());
    }
    return file;
}

const char* DamageName(Damage damage) {
    switch (damage) {
        case Damage::kNone:
            return "valid";
        case Damage::kTruncate:
            return "truncated";
        case Damage::kBitFlips:
            return "bitflips";
        case Damage::kZeroRange:
            return "zeroed";
        case Damage::kSwapUnits:
            return "swapped";
        case Damage::kHeaderValues:
            return "headers";
        case Damage::kQuantMatrices:
            return "matrices";
        case Damage::kSubtitleFields:
            return "subfields";
        default:
            return "unknown";
    }
}

Bytes ApplyDamage(const SoakInput& input, Damage damage, std::mt19937& random) {
    bool subtitle = input.kind == InputKind::kSubtitle;
    switch (damage) {
        case Damage::kNone:
            return input.bytes;
        case Damage::kTruncate:
            return Truncate(input.bytes, random);
        case Damage::kZeroRange:
            return ZeroRange(input.bytes, random);
        case Damage::kSwapUnits:
            if (!subtitle) return SwapUnits(input, random);
            break;
        case Damage::kHeaderValues:
            if (!subtitle) return DamageHeaderValues(input.bytes, random);
            break;
        case Damage::kQuantMatrices:
            if (!subtitle) return DamageQuantMatrices(input.bytes, random);
            break;
        case Damage::kSubtitleFields:
            if (subtitle) return DamageSubtitleFields(input.bytes, random);
            break;
        default:
            break;
    }
    return FlipBits(input.bytes, random);
}

std::string ExtensionOf(InputKind kind) {
    switch (kind) {
        case InputKind::kElementary:
            return ".m2v";
        case InputKind::kProgram:
            return ".mpg";
        default:
            return ".sub";
    }
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    return test::WriteFileBytes(path, bytes);
}

Bytes ReadBytes(const std::string& path) {
    return test::ReadFileBytes(path);
}

}  // namespace soak
}  // namespace d2u
