#include "soak/soak_inputs.h"

#include <algorithm>
#include <iterator>
#include <tuple>

#include "support/subtitle_scenes.h"
#include "support/test_env.h"

namespace d2u::soak {
namespace {

// Small streams of every container and coding tool the soak drives: name, kind, command.
std::vector<std::tuple<std::string, InputKind, std::string>> Recipes() {
    const std::string ffmpeg = test::Ffmpeg("");
    const std::string pattern = ffmpeg + "-f lavfi -i testsrc2=size=";
    const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";
    return {
        {"soak_mpeg2_qcif.m2v", InputKind::kElementary,
         pattern + "176x144:rate=25 -frames:v 24 -c:v mpeg2video -g 12 -bf 2 -f mpeg2video {out}"},
        {"soak_mpeg1_sqcif.m1v", InputKind::kElementary,
         pattern + "128x96:rate=30000/1001 -frames:v 18 -c:v mpeg1video -g 9 -bf 2 "
                   "-f mpeg1video {out}"},
        {"soak_mpeg2_interlaced.m2v", InputKind::kElementary,
         pattern + "352x288:rate=25 -frames:v 8 -c:v mpeg2video -g 4 -bf 1 "
                   "-flags +ilme+ildct -top 1 -alternate_scan 1 -intra_vlc 1 "
                   "-aspect 16:9 -f mpeg2video {out}"},
        {"soak_mpeg2enc_fields.m2v", InputKind::kElementary,
         pattern + "352x288:rate=25 -frames:v 8 -vf setfield=tff -pix_fmt yuv420p "
                   "-f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 -b 2000 -g 4 -G 4 -I 1 -z t -o {out}"},
        {"soak_mplex.mpg", InputKind::kProgram,
         "{ d=$(mktemp -d) && " + pattern +
             "352x288:rate=25 -t 1 -c:v mpeg2video -g 12 -bf 2 -b:v 1M -f mpeg2video $d/v.m2v && " +
             ffmpeg + tone +
             "-t 1 -c:a mp2 -f mp2 $d/a.mp2 && mplex -v 0 -f 8 -o {out} "
             "$d/v.m2v $d/a.mp2; r=$?; rm -rf $d; exit $r; }"},
        {"soak_ffmpeg.vob", InputKind::kProgram,
         pattern + "176x144:rate=25 " + tone +
             "-t 1 -c:v mpeg2video -g 6 -bf 2 -c:a mp2 -f vob {out}"},
    };
}

void SetBits(Bytes& bytes, size_t bit, int bits, uint32_t value) {
    for (int i = bits - 1; i >= 0 && bit / 8 < bytes.size(); --i, ++bit) {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit % 8));
        bytes[bit / 8] =
            static_cast<uint8_t>(value >> i & 1u ? bytes[bit / 8] | mask : bytes[bit / 8] & ~mask);
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

// Half of the cuts fall inside the first headers.
void Truncate(Bytes& bytes, std::mt19937& random) {
    bytes.resize(Pick(random, random() % 2 ? std::min<size_t>(bytes.size(), 200) : bytes.size()));
}

void FlipBits(Bytes& bytes, std::mt19937& random) {
    for (size_t n = 1 + random() % 32; n > 0 && !bytes.empty(); --n) {
        bytes[Pick(random, bytes.size())] ^= static_cast<uint8_t>(1u << (random() % 8));
    }
}

void ZeroRange(Bytes& bytes, std::mt19937& random) {
    const size_t start = Pick(random, bytes.size());
    const size_t length = std::min<size_t>(bytes.size() - start, 1 + random() % 4096);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), length,
                random() % 4 ? 0x00 : 0xFF);
}

// The pieces between the cuts (packs of a program stream, start codes otherwise) with two of
// them swapped.
Bytes SwapUnits(const SoakInput& input, std::mt19937& random) {
    const Bytes& bytes = input.bytes;
    std::vector<size_t> cuts = {0};
    for (size_t at = 2048; input.kind == InputKind::kProgram && at < bytes.size(); at += 2048)
        cuts.push_back(at);
    for (size_t at : input.kind == InputKind::kProgram ? std::vector<size_t>() : StartCodes(bytes))
        if (at > 3) cuts.push_back(at - 3);
    cuts.push_back(bytes.size());
    size_t a = Pick(random, cuts.size() - 1), b = Pick(random, cuts.size() - 1);
    if (a > b) std::swap(a, b);
    if (a == b) return bytes;
    auto cut = [&](size_t n) { return bytes.begin() + static_cast<std::ptrdiff_t>(cuts[n]); };
    Bytes out(bytes.begin(), cut(a));
    out.insert(out.end(), cut(b), cut(b + 1));
    out.insert(out.end(), cut(a + 1), cut(b));
    out.insert(out.end(), cut(a), cut(a + 1));
    out.insert(out.end(), cut(b + 1), bytes.end());
    return out;
}

// Absurd values for a header field: the start code value the field follows (kAnySlice and
// kOtherCode stand for groups), the extension id for 0xB5 (-1: any), the field's bit offset
// counted from the start code value, its width and the values to pick from.
constexpr int kAnySlice = 0x101, kOtherCode = 0x102;
struct FieldDamage {
    int code, extension, bit, bits;
    std::vector<uint32_t> values;
};
const FieldDamage kFieldDamages[] = {
    {0xB3, -1, 8, 12, {0, 1, 4095}},            // width
    {0xB3, -1, 20, 12, {0, 1, 4095}},           // height
    {0xB3, -1, 8, 24, {0xFFFFFF}},              // both
    {0xB3, -1, 32, 4, {0, 5, 15}},              // aspect ratio
    {0xB3, -1, 36, 4, {0, 9, 15}},              // frame rate
    {0xB3, -1, 70, 2, {3}},                     // matrices announced, none written
    {0xB5, 1, 21, 2, {0, 2, 3}},                // chroma format
    {0xB5, 1, 23, 4, {15}},                     // size extensions
    {0xB5, 8, 12, 16, {0, 0xFFFF, 0x0F0F}},     // f codes
    {0xB5, 8, 28, 2, {3}},                      // DC precision
    {0xB5, 8, 30, 2, {0, 1, 2}},                // picture structure
    {0xB5, -1, 8, 4, {0, 4, 6, 9, 10, 15}},     // extension id
    {0x00, -1, 18, 3, {0, 4, 5, 7}},            // picture coding type
    {0x00, -1, 37, 4, {0, 8, 15}},              // forward f code
    {kAnySlice, -1, 0, 8, {0x01, 0x20, 0xAF}},  // slice row
    {kAnySlice, -1, 8, 5, {0}},                 // quantiser scale code 0
    {kOtherCode, -1, 0, 8, {0xB3, 0x00, 0xB5, 0xB8, 0xB7}},
};

bool FieldFollows(const FieldDamage& damage, const Bytes& bytes, size_t at) {
    const int code = bytes[at];
    const bool slice = code >= 0x01 && code <= 0xAF;
    if (slice || (code != 0xB3 && code != 0xB5 && code != 0x00)) {
        return damage.code == (slice ? kAnySlice : kOtherCode);
    }
    return code == damage.code && (damage.extension < 0 || bytes[at + 1] >> 4 == damage.extension);
}

void DamageHeaderValues(Bytes& bytes, std::mt19937& random) {
    const std::vector<size_t> codes = StartCodes(bytes);
    if (codes.empty()) return FlipBits(bytes, random);
    for (size_t n = 1 + random() % 4; n > 0; --n) {
        const size_t at = codes[Pick(random, codes.size())];
        if (at + 8 > bytes.size()) continue;
        std::vector<const FieldDamage*> fitting;
        for (const FieldDamage& damage : kFieldDamages) {
            if (FieldFollows(damage, bytes, at)) fitting.push_back(&damage);
        }
        const FieldDamage& damage = *fitting[Pick(random, fitting.size())];
        SetBits(bytes, at * 8 + damage.bit, damage.bits,
                damage.values[Pick(random, damage.values.size())]);
    }
}

// Sequence headers rewritten with both matrices loaded: all 255, all 0 (forbidden) or random.
void DamageQuantMatrices(Bytes& bytes, std::mt19937& random) {
    Bytes out;
    size_t copied = 0;
    auto at = [&](size_t offset) { return bytes.begin() + static_cast<std::ptrdiff_t>(offset); };
    for (size_t code : StartCodes(bytes)) {
        if (bytes[code] != 0xB3 || code < copied || random() % 3 == 0) continue;
        // The header's fields, then the matrices its two load flags announce.
        const size_t body = code + 1;
        size_t length = 8;
        if (body + 8 > bytes.size()) break;
        if (bytes[body + 7] & 2) length += 64;
        if (body + length > bytes.size()) break;
        if (bytes[body + length - 1] & 1) length += 64;
        if (body + length > bytes.size()) break;
        Bytes header(at(body), at(body + 8));
        header.resize(8 + 128);
        for (size_t matrix = 0, bit = 62; matrix < 2; ++matrix) {
            SetBits(header, bit++, 1, 1);
            const uint32_t style = random() % 3;
            for (int i = 0; i < 64; ++i, bit += 8) {
                SetBits(header, bit, 8, style == 0 ? 255u : style == 1 ? 0u : random() % 256);
            }
        }
        out.insert(out.end(), at(copied), at(body));
        out.insert(out.end(), header.begin(), header.end());
        copied = body + length;
    }
    out.insert(out.end(), at(copied), bytes.end());
    bytes = std::move(out);
}

// Absurd sizes, offsets, times and the like in any of a record's nineteen header words.
void DamageSubtitleFields(Bytes& bytes, std::mt19937& random) {
    std::vector<size_t> records;
    for (size_t at = 0; at + 76 <= bytes.size() && records.size() < 1000;) {
        records.push_back(at);
        const uint32_t size = test::LittleEndian32(&bytes[at + 72]);
        if (size < 76) break;
        at += size;
    }
    if (records.empty()) return FlipBits(bytes, random);
    static const uint32_t kValues[] = {0u,
                                       1u,
                                       0xFFFFFFFFu,
                                       0x7FFFFFFFu,
                                       75u,
                                       77u,
                                       721u,
                                       577u,
                                       65536u,
                                       100000u,
                                       0xBF800000u /* -1.0f */,
                                       0x7FC00000u};
    for (size_t n = 1 + random() % 3; n > 0; --n) {
        const size_t at = records[Pick(random, records.size())] + 4 * Pick(random, 19);
        const uint32_t value = kValues[Pick(random, std::size(kValues))];
        for (int i = 0; i < 4 && at + 4 <= bytes.size(); ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Twelve records with pictures of random runs at random places, 0.4 s apart.
Bytes MakeSubtitleFile() {
    std::mt19937 random(7);
    Bytes file;
    for (int i = 0; i < 12; ++i) {
        const int32_t width = 8 + random() % 200, height = 2 + random() % 60;
        const int32_t x = random() % (720 - width), y = random() % (576 - height);
        const test::IndexRows rows = test::RandomPicture(random(), width, height, 3);
        const Bytes record = test::MakeScene(rows, x, y, 0.4f * i, 0.4f * i + 0.3f).Record();
        file.insert(file.end(), record.begin(), record.end());
    }
    return file;
}

template <void (*damage)(Bytes&, std::mt19937&)>
Bytes InPlace(const SoakInput& input, std::mt19937& random) {
    Bytes bytes = input.bytes;
    damage(bytes, random);
    return bytes;
}

}  // namespace

std::vector<SoakInput> MakeValidInputs() {
    std::vector<SoakInput> inputs;
    for (const auto& [name, kind, command] : Recipes()) {
        const std::string path = test::CachedArtifact(name, command);
        if (!path.empty()) inputs.push_back({name, kind, test::ReadFileBytes(path)});
    }
    inputs.push_back({"soak_subtitles.sub", InputKind::kSubtitle, MakeSubtitleFile()});
    return inputs;
}

const std::vector<Damage>& Damages() {
    static const std::vector<Damage> damages = {
        {"valid", true, true, [](const SoakInput& input, std::mt19937&) { return input.bytes; }},
        {"truncated", true, true, InPlace<Truncate>},
        {"bitflips", true, true, InPlace<FlipBits>},
        {"zeroed", true, true, InPlace<ZeroRange>},
        {"swapped", true, false, SwapUnits},
        {"headers", true, false, InPlace<DamageHeaderValues>},
        {"matrices", true, false, InPlace<DamageQuantMatrices>},
        {"subfields", false, true, InPlace<DamageSubtitleFields>},
    };
    return damages;
}

std::string ExtensionOf(InputKind kind) {
    return kind == InputKind::kElementary ? ".m2v" : kind == InputKind::kProgram ? ".mpg" : ".sub";
}

}  // namespace d2u::soak
