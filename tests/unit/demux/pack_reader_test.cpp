#include "demux/pack_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>

#include "demux_test_streams.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

struct ReadBlock {
    int32_t type;
    uint64_t pts;
    int32_t dataResult;
    Bytes data;
};

// Every block from the current position to the end, retrying once with Resync after a null
// the way the chunk extraction does.
std::vector<ReadBlock> ReadAllBlocks(CPackReader& reader, size_t limit = 1000000) {
    std::vector<ReadBlock> blocks;
    Bytes buffer(70000);
    while (blocks.size() < limit) {
        BlockInfo* info = reader.GetNextBlockInfo();
        if (!info) {
            reader.Resync();
            info = reader.GetNextBlockInfo();
        }
        if (!info) break;
        ReadBlock block{info->blockType, info->pts, 0, {}};
        int32_t capacity = static_cast<int32_t>(buffer.size());
        block.dataResult = reader.GetBlockData(buffer.data(), &capacity);
        if (block.dataResult == 0) block.data.assign(buffer.begin(), buffer.begin() + capacity);
        blocks.push_back(block);
    }
    EXPECT_LT(blocks.size(), limit) << "the reader never reached the end";
    return blocks;
}

Bytes VideoOf(const std::vector<ReadBlock>& blocks) {
    Bytes video;
    for (const ReadBlock& block : blocks) {
        if (block.type == CPackReader::kBlockVideo) Append(video, block.data);
    }
    return video;
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(0x40 + (i * 7 + seed) % 0x40);
    return bytes;
}

class PackReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<CPackReader> reader = std::make_unique<CPackReader>();

    void OpenBytes(const std::string& name, const Bytes& bytes, int32_t expected = 0) {
        ASSERT_EQ(reader->Open(WriteTemporary(name, bytes).c_str()), expected);
    }
};

TEST_F(PackReaderTest, GeneratedStreamsGiveTheVideoStreamFfmpegExtracts) {
    ASSERT_FALSE(GeneratedStreams().empty()) << "no program stream could be generated";
    for (const GeneratedStream& stream : GeneratedStreams()) {
        SCOPED_TRACE(stream.name);
        ASSERT_EQ(reader->Open(stream.path.c_str()), 0);
        std::vector<ReadBlock> blocks = ReadAllBlocks(*reader);
        Bytes expected = ReadFileBytes(stream.videoPath);
        ASSERT_FALSE(expected.empty());
        Bytes video = VideoOf(blocks);
        ASSERT_EQ(video.size(), expected.size());
        EXPECT_TRUE(video == expected);

        bool audio = false, navigation = false;
        for (const ReadBlock& block : blocks) {
            audio |= block.type == CPackReader::kBlockAudio;
            navigation |= block.type == CPackReader::kBlockNavigation;
            if (block.type == CPackReader::kBlockVideo) {
                EXPECT_EQ(block.dataResult, 0);
            }
        }
        EXPECT_EQ(navigation, stream.hasNavigation);
        EXPECT_EQ(audio, stream.name.find("video") == std::string::npos);
        reader->Close();
    }
}

TEST_F(PackReaderTest, EachUnitGivesItsVideoPayloadAndTimeStamp) {
    // 2020 payload bytes fill a unit; shorter payloads leave room for a padding packet.
    const size_t pieces[] = {1500, 700, 2020, 780};
    Bytes es = Pattern(5000, 1);
    OpenBytes("units", VideoUnits(es, {1500, 700, 2020}, 90000));
    size_t at = 0;
    for (size_t i = 0; i < 4; ++i) {
        BlockInfo* info = reader->GetNextBlockInfo();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->blockType, CPackReader::kBlockVideo);
        EXPECT_EQ(info->pts, 90000u + 3600u * i);
        EXPECT_EQ(reader->position(), static_cast<int64_t>(kUnit * (i + 1)));
        Bytes data(pieces[i]);
        int32_t capacity = static_cast<int32_t>(data.size());
        ASSERT_EQ(reader->GetBlockData(data.data(), &capacity), 0);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), es.begin() + static_cast<long>(at)));
        at += pieces[i];
        if (pieces[i] < 2020) {
            BlockInfo* padding = reader->GetNextBlockInfo();
            ASSERT_NE(padding, nullptr);
            EXPECT_EQ(padding->blockType, CPackReader::kBlockOther);
        }
    }
    EXPECT_EQ(reader->GetNextBlockInfo(), nullptr);
}

TEST_F(PackReaderTest, NavigationUnitIsReadBlockByBlockBeforeTheNextUnit) {
    Bytes header = PackHeader();
    Bytes system = SystemHeaderPacket();
    size_t firstNav = 980;
    size_t secondNav = kUnit - header.size() - system.size() - (6 + firstNav) - 6;
    Bytes stream = Unit({system, Ps2Packet(firstNav), Ps2Packet(secondNav)});
    ASSERT_EQ(stream.size(), kUnit);
    Bytes payload = Pattern(1200, 3);
    Append(stream, Unit({PesPacket(0xE0, EncodePts(4500), payload)}));
    OpenBytes("navigation", stream);

    BlockInfo* info = reader->GetNextBlockInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->blockType, CPackReader::kBlockSystemHeader);
    EXPECT_EQ(info->blockLen, static_cast<int32_t>(header.size() + system.size()));
    for (size_t length : {firstNav, secondNav}) {
        info = reader->GetNextBlockInfo();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->blockType, CPackReader::kBlockNavigation);
        EXPECT_EQ(info->blockLen, static_cast<int32_t>(6 + length));
        EXPECT_EQ(reader->position(), static_cast<int64_t>(kUnit)) << "read ahead of the unit";
        Bytes data(length + 10, 0xEE);
        int32_t capacity = static_cast<int32_t>(data.size());
        EXPECT_EQ(reader->GetBlockData(data.data(), &capacity), 0);
        EXPECT_EQ(capacity, static_cast<int32_t>(length));
    }
    info = reader->GetNextBlockInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->blockType, CPackReader::kBlockVideo);
    EXPECT_EQ(reader->position(), static_cast<int64_t>(2 * kUnit));
    Bytes data(payload.size());
    int32_t capacity = static_cast<int32_t>(data.size());
    ASSERT_EQ(reader->GetBlockData(data.data(), &capacity), 0);
    EXPECT_TRUE(data == payload);
}

TEST_F(PackReaderTest, LaterPacketsOfAUnitGiveTheirOwnPayloads) {
    Bytes first = Pattern(600, 5), second = Pattern(900, 9);
    Bytes stream = Unit({PesPacket(0xE0, EncodePts(1000), first), PesPacket(0xE0, {}, second)});
    OpenBytes("two_packets", stream);
    std::vector<ReadBlock> blocks = ReadAllBlocks(*reader);
    ASSERT_GE(blocks.size(), 2u);
    EXPECT_TRUE(blocks[0].data == first);
    EXPECT_TRUE(blocks[1].data == second);
    EXPECT_EQ(blocks[1].pts, 1000u) << "a packet without header data keeps the earlier stamp";
}

Bytes GarbageWithoutPackStart(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes) {
        uint32_t r = random() % 8;
        byte = r < 3 ? 0x00 : (r == 3 ? 0x01 : static_cast<uint8_t>(random()));
    }
    for (size_t i = 0; i + 4 <= size; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xBA) {
            bytes[i + 3] = 0xBB;
        }
    }
    return bytes;
}

TEST_F(PackReaderTest, OpenFindsTheFirstPackAfterGarbage) {
    Bytes payload = Pattern(1800, 2);
    // Garbage sizes put the pack start code across the first two scan reads in every way, and
    // make the bytes before it zero (a pack after a payload that ends in zero bytes).
    for (size_t garbage :
         {size_t{5000}, size_t{16377}, size_t{16378}, size_t{16379}, size_t{40000}}) {
        for (bool zeroTail : {false, true}) {
            SCOPED_TRACE(std::to_string(garbage) + (zeroTail ? " zero tail" : ""));
            Bytes stream = GarbageWithoutPackStart(garbage, static_cast<uint32_t>(garbage));
            if (zeroTail) std::fill(stream.end() - 3, stream.end(), 0x00);
            Append(stream, Unit({PesPacket(0xE0, EncodePts(1), payload)}));
            OpenBytes("garbage", stream);
            BlockInfo* info = reader->GetNextBlockInfo();
            ASSERT_NE(info, nullptr);
            ASSERT_EQ(info->blockType, CPackReader::kBlockVideo);
            EXPECT_EQ(reader->position(), static_cast<int64_t>(garbage + kUnit));
            Bytes data(payload.size());
            int32_t capacity = static_cast<int32_t>(data.size());
            ASSERT_EQ(reader->GetBlockData(data.data(), &capacity), 0);
            EXPECT_TRUE(data == payload);
        }
    }
}

TEST_F(PackReaderTest, FilesWithoutPacksAreRefused) {
    OpenBytes("no_pack", GarbageWithoutPackStart(50000, 7), -1);
    EXPECT_TRUE(reader->IsOpen());
    EXPECT_EQ(reader->syncState(), 0);
    EXPECT_EQ(reader->GetNextBlockInfo(), nullptr);
    Bytes data(16);
    int32_t capacity = 16;
    EXPECT_LT(reader->GetBlockData(data.data(), &capacity), 0);

    OpenBytes("empty", {}, -1);
    EXPECT_EQ(reader->Open(WorkPath("demux_case_does_not_exist").c_str()), -1);
    EXPECT_FALSE(reader->IsOpen());
    EXPECT_EQ(reader->Open(nullptr), -1);
    EXPECT_EQ(reader->GetNextBlockInfo(), nullptr);
    EXPECT_EQ(reader->Reset(), -1);
    EXPECT_EQ(reader->GetBlockData(data.data(), &capacity), -1);
}

TEST_F(PackReaderTest, TimeStampsKeepTheirHighBitsAndAllOnesMeansNone) {
    const uint64_t stamps[] = {(1ull << 30), (1ull << 32) | 0x2345, (1ull << 33) - 1, 123456789};
    Bytes stream = Unit({PesPacket(0xE0, Bytes(5, 0xFF), Pattern(100, 1))});
    for (uint64_t stamp : stamps) Append(stream, Unit({PesPacket(0xE0, EncodePts(stamp), {})}));
    Append(stream, Unit({PesPacket(0xE0, Bytes(5, 0xFF), Pattern(100, 1))}));
    OpenBytes("stamps", stream);
    std::vector<uint64_t> seen;
    for (const ReadBlock& block : ReadAllBlocks(*reader)) {
        if (block.type == CPackReader::kBlockVideo) seen.push_back(block.pts);
    }
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0], 0u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(seen[i + 1], stamps[i]);
    EXPECT_EQ(seen[5], 0u);
}

TEST_F(PackReaderTest, GetBlockDataRefusesASmallCapacityAndNonPayloadBlocks) {
    Bytes payload = Pattern(1000, 4);
    OpenBytes("capacity", Unit({PesPacket(0xE0, EncodePts(9), payload)}));
    BlockInfo* info = reader->GetNextBlockInfo();
    ASSERT_NE(info, nullptr);
    Bytes data(payload.size() + 8, 0xEE);
    int32_t capacity = static_cast<int32_t>(payload.size()) - 1;
    EXPECT_EQ(reader->GetBlockData(data.data(), &capacity), -1);
    EXPECT_EQ(capacity, static_cast<int32_t>(payload.size()));
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xEE; }));
    ASSERT_EQ(reader->GetBlockData(data.data(), &capacity), 0);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), data.begin()));
    EXPECT_EQ(data[payload.size()], 0xEE);

    info = reader->GetNextBlockInfo();  // the padding packet
    ASSERT_NE(info, nullptr);
    capacity = 5;
    EXPECT_EQ(reader->GetBlockData(data.data(), &capacity), -2);
    EXPECT_EQ(capacity, 5);
}

TEST_F(PackReaderTest, PrivateStream1IsAudioOnlyForSubstream0x80) {
    Bytes audio = Pattern(700, 8);
    Bytes stream;
    const uint8_t substreams[] = {0x80, 0x20, 0xA0, 0x81, 0x88};
    for (uint8_t substream : substreams)
        Append(stream, Unit({PrivateStream1Packet(substream, audio)}));
    OpenBytes("private1", stream);
    std::vector<ReadBlock> blocks = ReadAllBlocks(*reader);
    ASSERT_EQ(blocks.size(), 10u);  // each packet is followed by padding
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(blocks[2 * i].type, i == 0 ? CPackReader::kBlockAudio : CPackReader::kBlockOther);
        EXPECT_EQ(blocks[2 * i + 1].type, CPackReader::kBlockOther);
    }
    EXPECT_TRUE(blocks[0].data == audio);
}

TEST_F(PackReaderTest, PayloadsBeyondTheBytesReadAreNotCopied) {
    // A second packet that claims more bytes than its unit holds, then a file cut short.
    Bytes stream = PackHeader();
    Append(stream, PesPacket(0xE0, EncodePts(1), Pattern(400, 1)));
    Bytes overlong = PesPacket(0xE0, EncodePts(2), Pattern(3000, 2));
    stream.insert(stream.end(), overlong.begin(), overlong.begin() + (kUnit - stream.size()));
    Bytes cut = Unit({PesPacket(0xE0, EncodePts(3), Pattern(1900, 3))});
    stream.insert(stream.end(), cut.begin(), cut.begin() + 1000);
    OpenBytes("overlong", stream);

    Bytes data(70000, 0xEE);
    int32_t capacity = static_cast<int32_t>(data.size());
    ASSERT_NE(reader->GetNextBlockInfo(), nullptr);
    EXPECT_EQ(reader->GetBlockData(data.data(), &capacity), 0);
    EXPECT_EQ(capacity, 400);
    for (int i = 0; i < 2; ++i) {
        std::fill(data.begin(), data.end(), 0xEE);
        BlockInfo* info = reader->GetNextBlockInfo();
        ASSERT_NE(info, nullptr);
        ASSERT_EQ(info->blockType, CPackReader::kBlockVideo);
        capacity = static_cast<int32_t>(data.size());
        EXPECT_EQ(reader->GetBlockData(data.data(), &capacity), CPackReader::kPayloadOutsideUnit);
        EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xEE; }));
    }
    EXPECT_EQ(reader->GetNextBlockInfo(), nullptr);
    capacity = static_cast<int32_t>(data.size());
    EXPECT_NE(reader->GetBlockData(data.data(), &capacity), 0) << "stale block after the end";
}

TEST_F(PackReaderTest, ResetAndSeekRestartAtAPack) {
    Bytes es = Pattern(8000, 6);
    Bytes stream = VideoUnits(es, {2000});
    OpenBytes("reset", stream);
    std::vector<ReadBlock> all = ReadAllBlocks(*reader);
    ASSERT_EQ(reader->Reset(), 0);
    std::vector<ReadBlock> again = ReadAllBlocks(*reader);
    EXPECT_TRUE(VideoOf(all) == es);
    EXPECT_TRUE(VideoOf(again) == es);

    EXPECT_EQ(reader->Seek(static_cast<uint32_t>(kUnit + 1), 0), 0);
    std::vector<ReadBlock> fromThird = ReadAllBlocks(*reader);
    EXPECT_TRUE(VideoOf(fromThird) == Bytes(es.begin() + 4000, es.end()));
    EXPECT_EQ(reader->Seek(static_cast<uint32_t>(stream.size()) + 10, 0), 0);
    EXPECT_EQ(reader->GetNextBlockInfo(), nullptr);
    EXPECT_EQ(reader->Seek(0xFFFFFFFFu, 0xFFFFFFFFu), 0);
    EXPECT_EQ(reader->GetNextBlockInfo(), nullptr);
}

TEST_F(PackReaderTest, SeekUsesTheFullSixtyFourBitOffset) {
    // A sparse file: one pack at the start and another one exactly 4 GiB in.
    std::string path = WorkPath("demux_case_sparse");
    Bytes near = Unit({PesPacket(0xE0, EncodePts(1), Pattern(100, 1))});
    Bytes far = Unit({PesPacket(0xE0, EncodePts(2), Pattern(200, 2))});
    WriteFileBytes(path, near);
    WriteFileBytes(path + ".far", far);
    ASSERT_EQ(RunCommand("{ truncate -s 4294967296 '" + path + "' && cat '" + path + ".far' >> '" +
                         path + "'; }"),
              0);
    ASSERT_EQ(reader->Open(path.c_str()), 0);
    EXPECT_EQ(reader->fileSize(), 4294967296ull + kUnit);
    reader->Seek(0, 1);
    BlockInfo* info = reader->GetNextBlockInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->payloadLen, 200);
    EXPECT_EQ(reader->position(), static_cast<int64_t>(4294967296ll + kUnit));
    reader->Close();
    RemoveFile(path);
    RemoveFile(path + ".far");
}

// The filter library stand-in XORs every byte of a unit after the first four when asked to.
TEST_F(PackReaderTest, FilterLibrarySeesTheNameAndEveryUnitBeforeParsing) {
    const GeneratedStream* source = nullptr;
    for (const GeneratedStream& stream : GeneratedStreams()) {
        if (stream.name == "dvd_ac3") source = &stream;
    }
    if (!source) GTEST_SKIP() << "no generated stream";
    Bytes plain = ReadFileBytes(source->path);
    ASSERT_EQ(plain.size() % kUnit, 0u);
    const uint8_t key = 0x5A;
    Bytes scrambled = GarbageWithoutPackStart(3000, 11);
    for (size_t i = 0; i < plain.size(); ++i) {
        scrambled.push_back(i % kUnit < 4 ? plain[i] : static_cast<uint8_t>(plain[i] ^ key));
    }
    std::string path = WriteTemporary("scrambled", scrambled);
    std::string record = WorkPath("demux_case_filter_record.txt");
    RemoveFile(record);
    setenv("D2U_DVDSCRIPT_RECORD", record.c_str(), 1);
    setenv("D2U_DVDSCRIPT_KEY", "0x5A", 1);
    ASSERT_EQ(reader->Open(path.c_str()), 0);
    Bytes video = VideoOf(ReadAllBlocks(*reader));
    reader->Close();
    unsetenv("D2U_DVDSCRIPT_KEY");
    unsetenv("D2U_DVDSCRIPT_RECORD");

    EXPECT_TRUE(video == ReadFileBytes(source->videoPath));
    std::string expected = "Ini " + path + "\n";
    for (size_t unit = 0; unit < plain.size() / kUnit; ++unit) expected += "Dec 2048\n";
    Bytes recorded = ReadFileBytes(record);
    EXPECT_EQ(std::string(recorded.begin(), recorded.end()), expected);

    // Without the filter the scrambled units are not what the stream holds.
    ASSERT_EQ(reader->Open(path.c_str()), 0);
    EXPECT_FALSE(VideoOf(ReadAllBlocks(*reader)) == ReadFileBytes(source->videoPath));
}

}  // namespace
}  // namespace test
}  // namespace d2u
