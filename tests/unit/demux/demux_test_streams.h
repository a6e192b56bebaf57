// Program streams for the demux tests: generated ones (ffmpeg, mplex, dvdauthor) with the video
// elementary stream ffmpeg extracts from them, hand-made packs for corner cases, and a plain
// reference walk over 2048-byte packs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

using Bytes = std::vector<uint8_t>;

struct GeneratedStream {
    std::string name;
    std::string path;       // the program stream
    std::string videoPath;  // its video elementary stream, as ffmpeg extracts it
    bool hasNavigation;     // carries private stream 2 (DVD navigation) packets
};

// All generated program streams; empty entries are left out when a tool is missing.
const std::vector<GeneratedStream>& GeneratedStreams();
// The one made by dvdauthor (a real DVD VOB), or null when it could not be made.
const GeneratedStream* DvdauthorStream();

// ---- hand-made pieces -------------------------------------------------------------------
constexpr size_t kUnit = 2048;

Bytes PackHeader();
// The five PTS bytes of a PES header for a time stamp.
Bytes EncodePts(uint64_t pts);
// A PES packet with the MPEG-2 header; headerData (PTS and the like) may be empty.
Bytes PesPacket(uint8_t streamId, const Bytes& headerData, const Bytes& payload);
// Private stream 1 with a substream number and the three bytes after it.
Bytes PrivateStream1Packet(uint8_t substream, const Bytes& payload);
Bytes Ps2Packet(size_t dataLength);
Bytes SystemHeaderPacket();
// A padding packet of exactly `total` bytes (at least 6).
Bytes PaddingPacket(size_t total);
// Pack header, the packets, then padding up to 2048 bytes.
Bytes Unit(const std::vector<Bytes>& packets);
// Units each carrying one video PES packet with a piece of es; piece sizes as given (the last
// size repeats until es is used up).
Bytes VideoUnits(const Bytes& es, const std::vector<size_t>& pieceSizes, uint64_t firstPts = 0);

// A small elementary stream: sequence header, group, then pictures with the given sizes
// (start code included; at least 8 bytes each) filled with bytes that emulate no start code.
Bytes MakeElementaryStream(const std::vector<size_t>& pictureSizes);

void Append(Bytes& to, const Bytes& from);
std::string WriteTemporary(const std::string& name, const Bytes& bytes);

// ---- references --------------------------------------------------------------------------
// What a plain walk over 2048-byte packs finds in one unit.
struct UnitContents {
    size_t offset;
    bool navigation;
    size_t videoBefore;  // video bytes of the whole stream before this unit
    size_t videoBytes;
};
std::vector<UnitContents> WalkUnits(const Bytes& stream, Bytes* video);

// Positions of every picture, sequence header and group start code.
std::vector<size_t> ChunkBoundaryCodes(const Bytes& es);
bool IsPictureStart(const Bytes& es, size_t at);
// End of the chunk that starts at `from`: the first boundary code after the first picture start
// code at or after from (es.size() when there is none).
size_t ReferenceChunkEnd(const Bytes& es, size_t from);

}  // namespace test
}  // namespace d2u
