#include "demux_test_streams.h"

#include <algorithm>

#include "support/test_env.h"

namespace d2u {
namespace test {

namespace {

const char kQuiet[] = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
const char kVideo[] = "-f lavfi -i testsrc=size=352x288:rate=25 ";
const char kTone[] = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";
const char kCoding[] = "-t 2 -c:v mpeg2video -g 12 -bf 2 -b:v 900k ";

std::string FfmpegStream(const std::string& audio, const std::string& format) {
    std::string inputs = std::string(kVideo) + (audio.empty() ? "" : kTone);
    std::string audioCoding = audio.empty() ? "" : "-c:a " + audio + " ";
    return std::string(kQuiet) + inputs + kCoding + audioCoding + "-f " + format + " {out}";
}

std::string MplexStream() {
    return "d=$(mktemp -d) && " + std::string(kQuiet) + kVideo + kCoding +
           "-f mpeg2video $d/v.m2v && " + kQuiet + kTone +
           "-t 2 -c:a mp2 -b:a 192k -f mp2 $d/a.mp2 && mplex -f 8 -o {out} $d/v.m2v $d/a.mp2; "
           "r=$?; rm -rf $d; exit $r";
}

std::string DvdauthorVob() {
    return "d=$(mktemp -d) && " + std::string(kQuiet) +
           "-f lavfi -i testsrc=size=720x576:rate=25 " + kTone +
           "-t 2 -target pal-dvd -b:v 1500k $d/in.mpg && "
           "VIDEO_FORMAT=PAL dvdauthor -o $d/dvd -t $d/in.mpg && "
           "cp $d/dvd/VIDEO_TS/VTS_01_1.VOB {out}; r=$?; rm -rf $d; exit $r";
}

GeneratedStream Generate(const std::string& name, const std::string& command, bool navigation) {
    GeneratedStream stream{name, "", "", navigation};
    stream.path = CachedArtifact("demux_" + name + ".vob", command);
    if (stream.path.empty()) return stream;
    stream.videoPath =
        CachedArtifact("demux_" + name + ".m2v", std::string(kQuiet) + "-i '" + stream.path +
                                                     "' -map 0:v -c copy -f mpeg2video {out}");
    return stream;
}

std::vector<GeneratedStream> GenerateAll() {
    std::vector<GeneratedStream> all;
    if (!CommandAvailable("ffmpeg")) return all;
    all.push_back(Generate("dvd_video", FfmpegStream("", "dvd"), true));
    all.push_back(Generate("dvd_mp2", FfmpegStream("mp2", "dvd"), true));
    all.push_back(Generate("dvd_ac3", FfmpegStream("ac3", "dvd"), true));
    all.push_back(Generate("vob_video", FfmpegStream("", "vob"), false));
    all.push_back(Generate("vob_mp2", FfmpegStream("mp2", "vob"), false));
    all.push_back(Generate("vob_ac3", FfmpegStream("ac3", "vob"), false));
    if (CommandAvailable("mplex")) all.push_back(Generate("mplex_dvd", MplexStream(), true));
    if (CommandAvailable("dvdauthor")) all.push_back(Generate("dvdauthor", DvdauthorVob(), true));
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const GeneratedStream& s) { return s.videoPath.empty(); }),
              all.end());
    return all;
}

void PutLength(Bytes& packet) {
    size_t length = packet.size() - 6;
    packet[4] = static_cast<uint8_t>(length >> 8);
    packet[5] = static_cast<uint8_t>(length);
}

}  // namespace

const std::vector<GeneratedStream>& GeneratedStreams() {
    static const std::vector<GeneratedStream> streams = GenerateAll();
    return streams;
}

const GeneratedStream* DvdauthorStream() {
    for (const GeneratedStream& stream : GeneratedStreams()) {
        if (stream.name == "dvdauthor") return &stream;
    }
    return nullptr;
}

void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

std::string WriteTemporary(const std::string& name, const Bytes& bytes) {
    std::string path = WorkPath("demux_case_" + name);
    WriteFileBytes(path, bytes);
    return path;
}

Bytes PackHeader() {
    // MPEG-2 pack header: SCR 0, mux rate 10080, no stuffing.
    return {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
}

Bytes EncodePts(uint64_t pts) {
    return {static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)), static_cast<uint8_t>(pts >> 22),
            static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1), static_cast<uint8_t>(pts >> 7),
            static_cast<uint8_t>(((pts << 1) & 0xFE) | 1)};
}

Bytes PesPacket(uint8_t streamId, const Bytes& headerData, const Bytes& payload) {
    uint8_t flags = headerData.size() >= 5 ? 0x80 : 0x00;
    Bytes packet = {
        0x00, 0x00, 0x01, streamId, 0, 0, 0x81, flags, static_cast<uint8_t>(headerData.size())};
    Append(packet, headerData);
    Append(packet, payload);
    PutLength(packet);
    return packet;
}

Bytes PrivateStream1Packet(uint8_t substream, const Bytes& payload) {
    Bytes data = {substream, 0x01, 0x00, 0x01};
    Append(data, payload);
    return PesPacket(0xBD, EncodePts(900), data);
}

Bytes Ps2Packet(size_t dataLength) {
    Bytes packet = {0x00, 0x00, 0x01, 0xBF, 0, 0};
    packet.resize(6 + dataLength, 0x00);
    PutLength(packet);
    return packet;
}

Bytes SystemHeaderPacket() {
    Bytes packet = {0x00, 0x00, 0x01, 0xBB, 0,    0,    0x80, 0xC4, 0xE1, 0x04, 0xE1, 0xFF,
                    0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
    PutLength(packet);
    return packet;
}

Bytes PaddingPacket(size_t total) {
    Bytes packet = {0x00, 0x00, 0x01, 0xBE, 0, 0};
    packet.resize(total, 0xFF);
    PutLength(packet);
    return packet;
}

Bytes Unit(const std::vector<Bytes>& packets) {
    Bytes unit = PackHeader();
    for (const Bytes& packet : packets) Append(unit, packet);
    if (unit.size() < kUnit) {
        size_t left = kUnit - unit.size();
        if (left >= 6) {
            Append(unit, PaddingPacket(left));
        } else {
            unit.resize(kUnit, 0xFF);
        }
    }
    return unit;
}

Bytes VideoUnits(const Bytes& es, const std::vector<size_t>& pieceSizes, uint64_t firstPts) {
    Bytes stream;
    size_t at = 0;
    for (size_t piece = 0; at < es.size(); ++piece) {
        size_t size = pieceSizes[std::min(piece, pieceSizes.size() - 1)];
        size = std::min(size, es.size() - at);
        Bytes payload(es.begin() + static_cast<long>(at),
                      es.begin() + static_cast<long>(at + size));
        Append(stream, Unit({PesPacket(0xE0, EncodePts(firstPts + 3600 * piece), payload)}));
        at += size;
    }
    return stream;
}

Bytes MakeElementaryStream(const std::vector<size_t>& pictureSizes) {
    Bytes es = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x13, 0xFF, 0xFF,
                0xE0, 0x18, 0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00};
    for (size_t i = 0; i < pictureSizes.size(); ++i) {
        Bytes picture = {0x00,
                         0x00,
                         0x01,
                         0x00,
                         static_cast<uint8_t>(i >> 2),
                         static_cast<uint8_t>((i << 6) | 0x08),
                         0xFF,
                         0xF8};
        while (picture.size() < pictureSizes[i]) {
            picture.push_back(static_cast<uint8_t>(0x40 + (picture.size() + i) % 0x30));
        }
        Append(es, picture);
    }
    return es;
}

std::vector<UnitContents> WalkUnits(const Bytes& stream, Bytes* video) {
    std::vector<UnitContents> units;
    size_t videoTotal = 0;
    for (size_t unit = 0; unit + kUnit <= stream.size(); unit += kUnit) {
        UnitContents contents{unit, false, videoTotal, 0};
        const uint8_t* u = stream.data() + unit;
        size_t at = 0;
        if (u[0] == 0 && u[1] == 0 && u[2] == 1 && u[3] == 0xBA) at = 14 + (u[13] & 0x07);
        while (at + 6 <= kUnit && u[at] == 0 && u[at + 1] == 0 && u[at + 2] == 1) {
            uint8_t id = u[at + 3];
            size_t end = at + 6 + ((u[at + 4] << 8) | u[at + 5]);
            if (end > kUnit) break;
            if (id == 0xBF) contents.navigation = true;
            if (id == 0xE0) {
                size_t payload = at + 9 + u[at + 8];
                contents.videoBytes += end - payload;
                if (video) video->insert(video->end(), u + payload, u + end);
            }
            at = end;
        }
        videoTotal += contents.videoBytes;
        units.push_back(contents);
    }
    return units;
}

namespace {
bool IsBoundaryCode(const Bytes& es, size_t at) {
    return at + 4 <= es.size() && es[at] == 0 && es[at + 1] == 0 && es[at + 2] == 1 &&
           (es[at + 3] == 0x00 || es[at + 3] == 0xB3 || es[at + 3] == 0xB8);
}
}  // namespace

bool IsPictureStart(const Bytes& es, size_t at) {
    return IsBoundaryCode(es, at) && es[at + 3] == 0;
}

std::vector<size_t> ChunkBoundaryCodes(const Bytes& es) {
    std::vector<size_t> codes;
    for (size_t at = 0; at + 4 <= es.size(); ++at) {
        if (IsBoundaryCode(es, at)) codes.push_back(at);
    }
    return codes;
}

size_t ReferenceChunkEnd(const Bytes& es, size_t from) {
    bool pictureSeen = false;
    for (size_t at = from; at + 4 <= es.size(); ++at) {
        if (!IsBoundaryCode(es, at)) continue;
        if (pictureSeen) return at;
        if (es[at + 3] == 0) pictureSeen = true;
    }
    return es.size();
}

}  // namespace test
}  // namespace d2u
