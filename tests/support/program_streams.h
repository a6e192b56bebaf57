// Program streams for the demux tests: generated ones (ffmpeg, mplex, dvdauthor) with the video
// elementary stream ffmpeg extracts from them, hand-made 2048-byte units for the corner cases,
// and plain reference walks over both.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/test_env.h"

namespace d2u {
namespace test {

using Bytes = std::vector<uint8_t>;
constexpr size_t kUnit = 2048;

struct ProgramStream {
    std::string name;
    std::string path;       // the program stream
    std::string videoPath;  // its video elementary stream, as ffmpeg extracts it
};

// All generated program streams (those whose tools are installed).
inline const std::vector<ProgramStream>& ProgramStreams() {
    static const std::vector<ProgramStream> streams = [] {
        const std::string video = "-f lavfi -i testsrc=size=352x288:rate=25 ";
        const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";
        const std::string coding = video + "-t 2 -c:v mpeg2video -g 12 -bf 2 -b:v 900k ";
        // Name and command; $d is a scratch directory.
        const std::vector<std::pair<std::string, std::string>> recipes = {
            {"dvd_ac3", Ffmpeg(tone + coding + "-c:a ac3 -f dvd {out}")},
            {"vob_video", Ffmpeg(coding + "-f vob {out}")},
            {"vob_mp2", Ffmpeg(tone + coding + "-c:a mp2 -f vob {out}")},
            {"mplex_dvd", Ffmpeg(coding + "-f mpeg2video $d/v.m2v") + " && " +
                              Ffmpeg(tone + "-t 2 -c:a mp2 -b:a 192k -f mp2 $d/a.mp2") +
                              " && mplex -f 8 -o {out} $d/v.m2v $d/a.mp2"},
            {"dvdauthor", Ffmpeg("-f lavfi -i testsrc=size=720x576:rate=25 " + tone +
                                 "-t 2 -target pal-dvd -b:v 1500k $d/in.mpg") +
                              " && VIDEO_FORMAT=PAL dvdauthor -o $d/dvd -t $d/in.mpg && "
                              "cp $d/dvd/VIDEO_TS/VTS_01_1.VOB {out}"},
        };
        std::vector<ProgramStream> made;
        for (const auto& [name, command] : recipes) {
            std::string path =
                CachedArtifact("demux_" + name + ".vob",
                               "{ d=$(mktemp -d) && " + command + "; r=$?; rm -rf $d; exit $r; }");
            std::string videoPath =
                CachedArtifact("demux_" + name + ".m2v",
                               Ffmpeg("-i '" + path + "' -map 0:v -c copy -f mpeg2video {out}"));
            if (!path.empty() && !videoPath.empty()) made.push_back({name, path, videoPath});
        }
        return made;
    }();
    return streams;
}

// ---- hand-made pieces ------------------------------------------------------------------------

inline void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

inline Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) Append(all, part);
    return all;
}

// Bytes that emulate no start code.
inline Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(0x40 + (i * 7 + seed) % 0x40);
    return bytes;
}

inline Bytes Packet(uint8_t streamId, const Bytes& body) {
    return Join({{0x00, 0x00, 0x01, streamId, static_cast<uint8_t>(body.size() >> 8),
                  static_cast<uint8_t>(body.size())},
                 body});
}

inline Bytes EncodePts(uint64_t pts) {
    return {static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)), static_cast<uint8_t>(pts >> 22),
            static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1), static_cast<uint8_t>(pts >> 7),
            static_cast<uint8_t>(((pts << 1) & 0xFE) | 1)};
}

// A video PES packet with the MPEG-2 header; headerData (the PTS) may be empty.
inline Bytes VideoPacket(const Bytes& headerData, const Bytes& payload) {
    uint8_t flags = headerData.empty() ? 0x00 : 0x80;
    return Packet(
        0xE0, Join({{0x81, flags, static_cast<uint8_t>(headerData.size())}, headerData, payload}));
}

// Pack header, the packets, then padding up to 2048 bytes.
inline Bytes Unit(const std::vector<Bytes>& packets) {
    Bytes unit =
        Join({{0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8},
              Join(packets)});
    if (unit.size() + 6 <= kUnit) Append(unit, Packet(0xBE, Bytes(kUnit - unit.size() - 6, 0xFF)));
    unit.resize(std::max(unit.size(), kUnit), 0xFF);
    return unit;
}

// A unit with one video packet.
inline Bytes VideoUnit(const Bytes& headerData, const Bytes& payload) {
    return Unit({VideoPacket(headerData, payload)});
}

// ---- references -------------------------------------------------------------------------------

// A 2048-byte pack with a navigation packet, as a plain walk over the packs finds it.
struct NavigationUnit {
    size_t offset;
    size_t videoAfter;  // video bytes of the stream up to the end of this unit
};

// The units with navigation packets; `video` gets every video payload.
inline std::vector<NavigationUnit> NavigationUnits(const Bytes& stream, Bytes* video) {
    std::vector<NavigationUnit> units;
    for (size_t offset = 0; offset + kUnit <= stream.size(); offset += kUnit) {
        const uint8_t* u = stream.data() + offset;
        bool navigation = false;
        size_t at = u[3] == 0xBA ? 14 + (u[13] & 0x07) : 0;
        for (size_t end; at + 9 <= kUnit && u[at] == 0 && u[at + 1] == 0 && u[at + 2] == 1;
             at = end) {
            end = at + 6 + ((u[at + 4] << 8) | u[at + 5]);
            if (end > kUnit) break;
            navigation |= u[at + 3] == 0xBF;
            if (u[at + 3] == 0xE0) video->insert(video->end(), u + at + 9 + u[at + 8], u + end);
        }
        if (navigation) units.push_back({offset, video->size()});
    }
    return units;
}

// A picture, sequence header or group start code at `at`.
inline bool IsBoundaryCode(const Bytes& es, size_t at) {
    return at + 4 <= es.size() && es[at] == 0 && es[at + 1] == 0 && es[at + 2] == 1 &&
           (es[at + 3] == 0x00 || es[at + 3] == 0xB3 || es[at + 3] == 0xB8);
}

// End of the chunk that starts at `from`: the first boundary code after the first picture start
// code at or after `from` (es.size() when there is none).
inline size_t ReferenceChunkEnd(const Bytes& es, size_t from) {
    bool pictureSeen = false;
    for (size_t at = from; at + 4 <= es.size(); ++at) {
        if (IsBoundaryCode(es, at) && pictureSeen) return at;
        pictureSeen |= IsBoundaryCode(es, at) && es[at + 3] == 0x00;
    }
    return es.size();
}

}  // namespace test
}  // namespace d2u
