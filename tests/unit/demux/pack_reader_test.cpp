#include "demux/pack_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <tuple>

#include "support/program_streams.h"

namespace d2u {
namespace test {
namespace {

using Block = std::tuple<int32_t, uint64_t, int32_t, Bytes>;  // type, pts, data result, data
using Blocks = std::vector<Block>;
constexpr int32_t kVideo = CPackReader::kBlockVideo;

class PackReaderTest : public ::testing::Test {
protected:
    CPackReader reader;

    void Open(const std::string& name, const Bytes& bytes, int32_t expected = 0) {
        ASSERT_EQ(reader.Open(WriteWorkFile("demux_case_" + name, bytes).c_str()), expected);
    }

    // Every audio and video block to the end, retrying once with Resync after a null as the
    // chunk reader does. Past the end no block may still hand out data.
    Blocks ReadAll() {
        Blocks blocks;
        Bytes data(70000);
        for (int reads = 0; reads < 100000; ++reads) {
            BlockInfo* info = reader.GetNextBlockInfo();
            if (!info && reader.Resync() == 0) info = reader.GetNextBlockInfo();
            int32_t capacity = static_cast<int32_t>(data.size());
            int32_t result = reader.GetBlockData(data.data(), &capacity);
            if (!info) {
                EXPECT_NE(result, 0) << "stale block after the end";
                return blocks;
            }
            if (info->blockType != kVideo && info->blockType != CPackReader::kBlockAudio) continue;
            blocks.emplace_back(info->blockType, info->pts, result,
                                Bytes(data.begin(), data.begin() + (result == 0 ? capacity : 0)));
        }
        ADD_FAILURE() << "the reader never reached the end";
        return blocks;
    }

    Bytes ReadVideo() {
        Bytes video;
        for (const auto& [type, pts, result, data] : ReadAll()) {
            if (type == kVideo) Append(video, data);
        }
        return video;
    }
};

// Random bytes with many 00 00 01 but never 0xBA (odd bytes only).
Bytes GarbageWithoutPackStart(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes) {
        uint32_t r = random() % 8;
        byte = r < 3 ? 0x00 : (r == 3 ? 0x01 : static_cast<uint8_t>(random() | 1));
    }
    return bytes;
}

TEST_F(PackReaderTest, OpenFindsTheFirstPackAfterGarbageAndRefusesFilesWithoutOne) {
    Bytes payload = Pattern(1800, 2);
    // The sizes put the pack start code across the first two scan reads in every way; zero bytes
    // before it are what a payload ending in zeros leaves.
    for (size_t garbage : {5000, 16377, 16378, 16379, 40000}) {
        for (bool zeroTail : {false, true}) {
            SCOPED_TRACE(std::to_string(garbage) + (zeroTail ? " zero tail" : ""));
            Bytes stream = GarbageWithoutPackStart(garbage, static_cast<uint32_t>(garbage));
            if (zeroTail) std::fill(stream.end() - 3, stream.end(), 0x00);
            Open("garbage", Join({stream, VideoUnit(EncodePts(1), payload)}));
            EXPECT_TRUE(ReadVideo() == payload);
        }
    }
    Open("no_pack", GarbageWithoutPackStart(50000, 7), -1);
    EXPECT_EQ(reader.GetNextBlockInfo(), nullptr);
    Open("empty", {}, -1);
    EXPECT_EQ(reader.Open(WorkPath("demux_case_does_not_exist").c_str()), -1);
    EXPECT_EQ(reader.Open(nullptr), -1);
    EXPECT_EQ(reader.GetNextBlockInfo(), nullptr);
    EXPECT_EQ(reader.Reset(), -1);
    int32_t capacity = 16;
    EXPECT_EQ(reader.GetBlockData(payload.data(), &capacity), -1);
}

TEST_F(PackReaderTest, HandMadeUnitsGiveTheirPayloadsAndTimeStamps) {
    const Bytes a = Pattern(600, 5), b = Pattern(900, 9);
    const uint64_t high[] = {1ull << 30, (1ull << 32) | 0x2345, (1ull << 33) - 1};
    // All-ones time stamp bytes mean none; high bits stay; a later packet of a unit gives its
    // own payload and, without header data, keeps the stamp before it.
    Open("stamps", Join({VideoUnit(Bytes(5, 0xFF), a), VideoUnit(EncodePts(high[0]), {}),
                         VideoUnit(EncodePts(high[1]), {}),
                         Unit({VideoPacket(EncodePts(high[2]), a), VideoPacket({}, b)})}));
    EXPECT_EQ(ReadAll(), (Blocks{{kVideo, 0, 0, a},
                                 {kVideo, high[0], 0, {}},
                                 {kVideo, high[1], 0, {}},
                                 {kVideo, high[2], 0, a},
                                 {kVideo, high[2], 0, b}}));
    // Payloads beyond the bytes read are not copied: a second packet that claims more bytes than
    // its unit holds, then a unit cut short.
    Bytes overlong =
        Unit({VideoPacket(EncodePts(1), a), VideoPacket(EncodePts(2), Pattern(3000, 2))});
    Bytes cut = VideoUnit(EncodePts(3), b);
    Open("overlong", Join({Bytes(overlong.begin(), overlong.begin() + kUnit),
                           Bytes(cut.begin(), cut.begin() + 600)}));
    const int32_t outside = CPackReader::kPayloadOutsideUnit;
    EXPECT_EQ(ReadAll(),
              (Blocks{{kVideo, 1, 0, a}, {kVideo, 2, outside, {}}, {kVideo, 3, outside, {}}}));
}

// The filter library stand-in XORs every byte of a unit after the first four with the key.
TEST_F(PackReaderTest, FilterLibrarySeesTheNameAndEveryUnitBeforeParsing) {
    if (ProgramStreams().empty()) GTEST_SKIP() << "no generated stream";
    const ProgramStream& source = ProgramStreams()[0];
    Bytes plain = ReadFileBytes(source.path);
    Bytes scrambled = GarbageWithoutPackStart(3000, 11);
    for (size_t i = 0; i < plain.size(); ++i) {
        scrambled.push_back(i % kUnit < 4 ? plain[i] : static_cast<uint8_t>(plain[i] ^ 0x5A));
    }
    std::string record = WorkPath("demux_case_filter_record.txt");
    RemoveFile(record);
    setenv("D2U_DVDSCRIPT_RECORD", record.c_str(), 1);
    setenv("D2U_DVDSCRIPT_KEY", "0x5A", 1);
    Open("scrambled", scrambled);
    EXPECT_TRUE(ReadVideo() == ReadFileBytes(source.videoPath));
    reader.Close();
    unsetenv("D2U_DVDSCRIPT_KEY");
    unsetenv("D2U_DVDSCRIPT_RECORD");

    std::string expected = "Ini " + WorkPath("demux_case_scrambled") + "\n";
    for (size_t unit = 0; unit < plain.size() / kUnit; ++unit) expected += "Dec 2048\n";
    Bytes recorded = ReadFileBytes(record);
    EXPECT_EQ(std::string(recorded.begin(), recorded.end()), expected);
}

}  // namespace
}  // namespace test
}  // namespace d2u
