// The video reader on transport streams made by ffmpeg: whole, joined, sought into, and files
// it must refuse.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "d2udir.h"
#include "demux/psi_tables.h"
#include "support/elementary_stream.h"
#include "support/program_streams.h"
#include "support/transport_streams.h"

namespace d2u {
namespace test {
namespace {

struct ReadResult {
    int32_t open = -99;
    D2uVideoReaderInfo info = {};
    std::vector<Bytes> chunks;
    std::vector<int64_t> pts;
};

// Every chunk of the file after an optional seek.
ReadResult ReadAll(const std::string& path, int32_t pid, uint64_t seekTo = 0) {
    ReadResult result;
    D2uHandle reader = 0;
    result.open = D2uDirOpenVideoReader(path.c_str(), pid, &reader);
    if (result.open != 0) {
        EXPECT_EQ(reader, 0u);
        return result;
    }
    if (seekTo > 0) D2uDirSeekVideoReader(reader, static_cast<uint32_t>(seekTo), seekTo >> 32);
    const uint8_t* data = nullptr;
    int32_t length = 0;
    int64_t pts = 0;
    while (D2uDirReadVideoChunk(reader, &data, &length, &pts) == 0) {
        result.chunks.emplace_back(data, data + length);
        result.pts.push_back(pts);
    }
    EXPECT_EQ(length, 0);
    D2uDirGetVideoReaderInfo(reader, &result.info);
    D2uDirCloseVideoReader(&reader);
    EXPECT_EQ(reader, 0u);
    return result;
}

// The time stamps of the video packets as ffprobe reads them, in stream order.
std::vector<int64_t> ProbedPts(const TransportStream& stream) {
    std::string text = CaptureCommand(
        "ffprobe -v error -select_streams v:" + std::string(stream.pid < 0 ? "0" : "1") +
        " -show_entries packet=pts -of csv=p=0 '" + stream.path + "'");
    std::istringstream lines(text);
    std::vector<int64_t> stamps;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) stamps.push_back(std::stoll(line));
    }
    return stamps;
}

const TransportStream* Find(const std::string& name) {
    for (const TransportStream& stream : TransportStreams()) {
        if (stream.name == name) return &stream;
    }
    return nullptr;
}

// Chunk by chunk: one coded picture each (these streams have frame pictures only), starting
// with its headers, in the order of the elementary stream ffmpeg extracts.
TEST(TransportStreamReader, VideoIsWhatFfmpegExtractsOnePicturePerChunk) {
    ASSERT_FALSE(TransportStreams().empty()) << "ffmpeg made no transport stream";
    for (const TransportStream& stream : TransportStreams()) {
        SCOPED_TRACE(stream.name);
        ReadResult read = ReadAll(stream.path, stream.pid);
        ASSERT_EQ(read.open, 0);
        EXPECT_EQ(read.info.container, stream.container);
        EXPECT_EQ(read.info.pid, stream.videoPid);
        EXPECT_EQ(read.info.continuityGaps, 0u);
        Bytes expected = ReadFileBytes(stream.videoPath);
        EXPECT_TRUE(Join(read.chunks) == expected);
        StreamLayout layout = ReadStreamLayout(expected);
        std::vector<int64_t> probedPts = ProbedPts(stream);
        // With the whole video equal, chunks that start where the pictures do are the pictures.
        ASSERT_EQ(read.chunks.size(), layout.pictures.size());
        for (size_t k = 0, at = 0; k < read.chunks.size(); at += read.chunks[k++].size()) {
            EXPECT_EQ(at, layout.pictures[k].chunkStart) << k;
            EXPECT_EQ(read.pts[k], k < probedPts.size() ? probedPts[k] : -2) << k;
        }
    }
}

// A file whose second half has another map (video on another PID) gives both videos in turn;
// a seek goes on at a sequence header, with what follows it in the file.
TEST(TransportStreamReader, FollowsAChangedMapAndSeeksToSequenceHeaders) {
    const TransportStream* first = Find("ts_mp2");
    ASSERT_NE(first, nullptr);
    std::string other =
        CachedArtifact("transport_start_pid.ts",
                       TestPatternInput("352x288", "25", 25) +
                           " -c:v mpeg2video -g 6 -mpegts_start_pid 0x150 -f mpegts {out}");
    std::string otherVideo =
        CachedArtifact("transport_start_pid.es", "ffmpeg -nostdin -v error -y -i '" + other +
                                                     "' -c:v copy -f mpeg2video {out}");
    ASSERT_FALSE(otherVideo.empty());
    std::string joined = WriteWorkFile("demux_case_transport_joined.ts",
                                       Join({ReadFileBytes(first->path), ReadFileBytes(other)}));
    ReadResult read = ReadAll(joined, D2U_ANY_VIDEO);
    ASSERT_EQ(read.open, 0);
    Bytes whole = ReadFileBytes(first->videoPath),
          expected = Join({whole, ReadFileBytes(otherVideo)});
    EXPECT_TRUE(Join(read.chunks) == expected);
    EXPECT_EQ(read.info.pid, 0x150);
    for (uint64_t offset : {1000u, 100000u, 300000u}) {
        SCOPED_TRACE(offset);
        Bytes tail = Join(ReadAll(first->path, D2U_ANY_VIDEO, offset).chunks);
        EXPECT_TRUE(IsBoundaryCode(tail, 0) && tail[3] == 0xB3);
        EXPECT_TRUE(tail.size() < whole.size() &&
                    std::equal(tail.begin(), tail.end(), whole.end() - tail.size()));
    }
}

// Damage of the kinds recordings have, to one video packet in the middle (payload only, not
// the start of a PES packet, continuity counter 1 after the 0 that the counter wraps to): sent
// twice, or behind garbage, the video stays whole; marked damaged, or lost, the reader counts
// one gap and loses that packet's 184 bytes only.
TEST(TransportStreamReader, DamagedPacketsCostOnlyTheirOwnBytes) {
    for (const char* name : {"ts_mp2", "m2ts_ac3"}) {
        const TransportStream* source = Find(name);
        ASSERT_NE(source, nullptr);
        SCOPED_TRACE(name);
        const size_t size = source->container == D2U_CONTAINER_TRANSPORT_192 ? 192 : 188;
        const Bytes file = ReadFileBytes(source->path), video = ReadFileBytes(source->videoPath);
        std::vector<std::ptrdiff_t> candidates;  // where such packets start
        for (size_t sync = size - 188; sync + 188 <= file.size(); sync += size) {
            const uint8_t* p = &file[sync];
            if (((p[1] & 0x1F) << 8 | p[2]) == source->videoPid && !(p[1] & 0x40) &&
                (p[3] & 0x3F) == 0x11)
                candidates.push_back(static_cast<std::ptrdiff_t>(sync - (size - 188)));
        }
        ASSERT_FALSE(candidates.empty());
        const std::ptrdiff_t at = candidates[candidates.size() / 2],
                             end = at + static_cast<std::ptrdiff_t>(size);
        Bytes twice = file, garbage = file, marked = file, lost = file;
        twice.insert(twice.begin() + at, file.begin() + at, file.begin() + end);
        garbage.insert(garbage.begin() + at, 100, 0x00);
        marked[static_cast<size_t>(end) - 188 + 1] |= 0x80;  // transport_error_indicator
        lost.erase(lost.begin() + at, lost.begin() + end);
        const std::tuple<const char*, const Bytes*, uint32_t> cases[] = {
            {"sent twice", &twice, 0},
            {"behind garbage", &garbage, 0},
            {"marked damaged", &marked, 1},
            {"lost", &lost, 1}};
        for (const auto& [what, bytes, gaps] : cases) {
            ReadResult read =
                ReadAll(WriteWorkFile("demux_case_damaged.ts", *bytes), D2U_ANY_VIDEO);
            const Bytes got = Join(read.chunks);
            EXPECT_EQ(read.info.continuityGaps, gaps) << what;
            const size_t hole = gaps * 184;
            ASSERT_EQ(got.size() + hole, video.size()) << what;
            const size_t same = static_cast<size_t>(
                std::mismatch(got.begin(), got.end(), video.begin()).first - got.begin());
            EXPECT_TRUE(std::equal(got.begin() + same, got.end(), video.begin() + same + hole))
                << what;
        }
    }
}

// What is not MPEG-1/MPEG-2 video in a container the reader knows is refused at open.
TEST(TransportStreamReader, RefusesWhatItCannotRead) {
    const TransportStream* source = Find("ts_mp2");
    ASSERT_NE(source, nullptr);
    const std::string h264 =
        CachedArtifact("transport_h264.ts",
                       TestPatternInput("320x240", "25", 10) + " -c:v libx264 -f mpegts {out}");
    const std::string mp4 =
        CachedArtifact("transport_mpeg2.mp4",
                       TestPatternInput("320x240", "25", 10) + " -c:v mpeg2video -f mp4 {out}");
    std::string words;
    while (words.size() < 5000) words += "Gone with the wind, 1939. ";
    const std::string text =
        WriteWorkFile("demux_case_transport_text.ts", Bytes(words.begin(), words.end()));
    // Path, PID asked for, refusal.
    const std::tuple<std::string, int32_t, int32_t> cases[] = {
        {h264, D2U_ANY_VIDEO, D2U_NO_MPEG_VIDEO},
        {mp4, D2U_ANY_VIDEO, D2U_UNKNOWN_CONTENT},
        {text, D2U_ANY_VIDEO, D2U_UNKNOWN_CONTENT},
        {source->path, 257, D2U_NOT_A_VIDEO_PID},  // its audio
        {source->videoPath, 256, D2U_PID_WITHOUT_TRANSPORT},
        {WorkPath("transport_missing.ts"), D2U_ANY_VIDEO, -1},
    };
    for (const auto& [path, pid, refusal] : cases) {
        if (path.empty()) continue;  // a tool is missing
        EXPECT_EQ(ReadAll(path, pid).open, refusal) << path;
    }
    EXPECT_EQ(ReadAll(source->videoPath, D2U_ANY_VIDEO).info.container, D2U_CONTAINER_ELEMENTARY);
    // A wide-character name, beyond ASCII.
    std::string utf8 = WorkPath("transport_\xc3\xa9t\xc3\xa9.ts");
    WriteFileBytes(utf8, ReadFileBytes(source->path));
    std::string folder = WorkPath("");
    std::wstring wide = std::wstring(folder.begin(), folder.end()) + L"transport_\u00e9t\u00e9.ts";
    D2uHandle reader = 0;
    EXPECT_EQ(D2uDirOpenVideoReaderW(wide.c_str(), D2U_ANY_VIDEO, &reader), 0);
    D2uVideoReaderInfo info = {};
    D2uDirGetVideoReaderInfo(reader, &info);
    EXPECT_EQ(info.pid, 256);
    D2uDirCloseVideoReader(&reader);
    // A file-driven handle takes elementary streams only.
    for (const std::string& path : {source->path, Find("m2ts_ac3")->path, mp4}) {
        D2uHandle handle = 7;
        EXPECT_EQ(D2uDirLoadFile(path.c_str(), &handle), -1) << path;
        EXPECT_EQ(handle, 0u);
    }
}

// A table section with its CRC: table id, section length, the table's own number, version 0,
// current or applying later, section 0 of 0, then the body.
Bytes Section(uint8_t tableId, const Bytes& body, bool current = true) {
    Bytes section = {tableId, 0xB0, static_cast<uint8_t>(5 + body.size() + 4),
                     0x00,    0x01, static_cast<uint8_t>(current ? 0xC1 : 0xC0),
                     0x00,    0x00};
    section.insert(section.end(), body.begin(), body.end());
    const uint32_t crc = MpegCrc32(section.data(), section.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(static_cast<uint8_t>(crc >> shift));
    return section;
}

// Program tables are read only whole, with their CRC holding, of their own kind and applying
// now: a broken one must not replace the map in use.
TEST(ProgramTables, OnlySoundCurrentSectionsOfTheirKindAreRead) {
    const Bytes pat = Section(0x00, {0x00, 0x00, 0xE0, 0x10, 0x00, 0x01, 0xE1, 0x00});
    const Bytes pmt = Section(0x02, {0xE1, 0x01, 0xF0, 0x00, 0x02, 0xE1, 0xE0, 0xF0, 0x00});
    std::vector<ProgramEntry> programs;
    std::vector<d2u::ProgramStream> streams;
    ASSERT_TRUE(ReadProgramAssociation(pat.data(), pat.size(), programs));
    ASSERT_EQ(programs.size(), 1u);  // the network PID's entry is left out
    EXPECT_EQ(programs[0].programNumber, 1);
    EXPECT_EQ(programs[0].mapPid, 0x100);
    ASSERT_TRUE(ReadProgramMap(pmt.data(), pmt.size(), streams));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].streamType, kMpeg2VideoStreamType);
    EXPECT_EQ(streams[0].pid, 0x1E0);
    for (const Bytes* table : {&pat, &pmt}) {
        Bytes flipped = *table, cut(table->begin(), table->end() - 1);
        flipped[9] ^= 0x04;
        const Bytes later =
            Section((*table)[0], Bytes(table->begin() + 8, table->end() - 4), false);
        for (const Bytes& bad : {flipped, cut, later}) {
            EXPECT_FALSE(ReadProgramAssociation(bad.data(), bad.size(), programs));
            EXPECT_FALSE(ReadProgramMap(bad.data(), bad.size(), streams));
        }
    }
    EXPECT_FALSE(ReadProgramAssociation(pmt.data(), pmt.size(), programs));
    EXPECT_FALSE(ReadProgramMap(pat.data(), pat.size(), streams));
}

}  // namespace
}  // namespace test
}  // namespace d2u
