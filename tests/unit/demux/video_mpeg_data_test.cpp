#include "demux/video_mpeg_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "demux_test_streams.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

// ---- the boundary scan ---------------------------------------------------------------------

struct Scan {
    int32_t found;
    int32_t position;
    int32_t headerSeen;
};

Scan RunScan(const Bytes& bytes, size_t start, int32_t lookBack, int32_t skipFirst) {
    Scan scan{0, -99, -99};
    scan.found = HasPictureStart(bytes.data() + start, static_cast<int32_t>(bytes.size() - start),
                                 &scan.position, lookBack, skipFirst, &scan.headerSeen);
    return scan;
}

Bytes Code(uint8_t value) {
    return {0x00, 0x00, 0x01, value};
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) Append(all, part);
    return all;
}

const Bytes kFiller = {0x11, 0x22, 0x33, 0x44, 0x55};

TEST(HasPictureStart, EndsAtPictureSequenceOrGroupCodeButNoOtherStartCode) {
    for (uint8_t code : {uint8_t{0x00}, uint8_t{0xB3}, uint8_t{0xB8}}) {
        Bytes bytes =
            Join({kFiller, Code(0x01), Code(0xB5), Code(0xB2), Code(0xB7), Code(code), kFiller});
        Scan scan = RunScan(bytes, 0, 0, 0);
        EXPECT_EQ(scan.found, 1);
        EXPECT_EQ(scan.position, 21);
        EXPECT_EQ(scan.headerSeen, 0);
    }
    Scan none = RunScan(Join({kFiller, Code(0x01), Code(0xBA), kFiller}), 0, 0, 0);
    EXPECT_EQ(none.found, 0);
    EXPECT_EQ(none.position, 0);
}

TEST(HasPictureStart, SkipFirstPassesHeadersAndTheFirstPicture) {
    Bytes twoPictures =
        Join({Code(0xB3), kFiller, Code(0xB8), kFiller, Code(0x00), kFiller, Code(0x00), kFiller});
    Scan scan = RunScan(twoPictures, 0, 0, 1);
    EXPECT_EQ(scan.found, 1);
    EXPECT_EQ(scan.position, 27);
    EXPECT_EQ(scan.headerSeen, 0);

    Scan endsAtHeader = RunScan(Join({Code(0xB3), Code(0x00), kFiller, Code(0xB8)}), 0, 0, 1);
    EXPECT_EQ(endsAtHeader.found, 1);
    EXPECT_EQ(endsAtHeader.position, 13);
    EXPECT_EQ(endsAtHeader.headerSeen, 1);

    Scan headersOnly = RunScan(Join({Code(0xB3), kFiller, Code(0xB8), kFiller}), 0, 0, 1);
    EXPECT_EQ(headersOnly.found, 0);
    EXPECT_EQ(headersOnly.position, 0);
    EXPECT_EQ(headersOnly.headerSeen, 1);
}

TEST(HasPictureStart, LooksBackAtMostThreeBytesAndNeedsAllFourCodeBytes) {
    Bytes bytes = Join({kFiller, Code(0x00), kFiller});
    for (size_t split = 6; split <= 8; ++split) {
        int32_t back = static_cast<int32_t>(split - 5);
        Scan scan = RunScan(bytes, split, back, 0);
        EXPECT_EQ(scan.found, 1) << split;
        EXPECT_EQ(scan.position, -back);
        EXPECT_EQ(RunScan(bytes, split, back - 1, 0).found, 0) << "looked back too far";
        EXPECT_EQ(RunScan(bytes, split, 1000, 0).position, -back);
    }
    EXPECT_EQ(RunScan(bytes, 9, 1000, 0).found, 0) << "a code wholly before the buffer";
    Bytes cut = Join({kFiller, Code(0x00)});
    EXPECT_EQ(RunScan(cut, 0, 0, 0).found, 1);
    cut.pop_back();
    EXPECT_EQ(RunScan(cut, 0, 0, 0).found, 0);
}

// ---- chunks ----------------------------------------------------------------------------------

struct ChunkResult {
    int32_t result;
    int32_t length;
    int32_t timeStamp;
    Bytes bytes;
};

class VideoChunkTest : public ::testing::Test {
protected:
    std::unique_ptr<CVideoMpegData> data = std::make_unique<CVideoMpegData>();
    // Exactly as large as the capacity, so that a write past it is a sanitizer error.
    std::vector<uint8_t> buffer = std::vector<uint8_t>(CVideoMpegData::kDefaultChunkCapacity);

    void SetCapacity(int32_t capacity) {
        data->SetChunkCapacity(capacity);
        buffer.assign(static_cast<size_t>(capacity), 0xA5);
    }

    ChunkResult Next() {
        ChunkResult chunk{0, -7, -7, {}};
        chunk.result = data->GetVideoChunk(buffer.data(), &chunk.length, &chunk.timeStamp);
        if (chunk.result == 0 && chunk.length > 0) {
            chunk.bytes.assign(buffer.begin(), buffer.begin() + chunk.length);
        }
        return chunk;
    }

    std::vector<ChunkResult> AllChunks(size_t limit) {
        std::vector<ChunkResult> chunks;
        for (;;) {
            ChunkResult chunk = Next();
            if (chunk.result == -1) {
                EXPECT_EQ(chunk.length, 0);
                return chunks;
            }
            chunks.push_back(chunk);
            if (chunks.size() > limit) {
                ADD_FAILURE() << "chunks never ended";
                return chunks;
            }
        }
    }

    void LoadBytes(const std::string& name, const Bytes& bytes) {
        ASSERT_EQ(data->LoadFile(WriteTemporary(name, bytes).c_str()), 0);
    }
};

// Each chunk starts at a boundary code and ends at the boundary after its first picture, unless
// that picture ended within 50 bytes of the chunk start.
void ExpectPictureChunks(const Bytes& es, const std::vector<ChunkResult>& chunks) {
    Bytes joined;
    std::vector<size_t> codes = ChunkBoundaryCodes(es);
    for (size_t i = 0; i < chunks.size(); ++i) {
        SCOPED_TRACE("chunk " + std::to_string(i));
        ASSERT_EQ(chunks[i].result, 0);
        size_t start = joined.size();
        Append(joined, chunks[i].bytes);
        ASSERT_TRUE(std::binary_search(codes.begin(), codes.end(), start));
        size_t end = joined.size();
        size_t expectedEnd = ReferenceChunkEnd(es, start);
        if (expectedEnd - start < CVideoMpegData::kShortChunk) {
            EXPECT_GE(end, expectedEnd);
            EXPECT_TRUE(end == es.size() || std::binary_search(codes.begin(), codes.end(), end));
        } else {
            EXPECT_EQ(end, expectedEnd);
        }
    }
    EXPECT_EQ(joined.size(), es.size());
    EXPECT_TRUE(joined == es) << "the chunks do not rebuild the video stream";
}

TEST_F(VideoChunkTest, ChunksOfGeneratedStreamsArePicturesThatRebuildTheVideo) {
    ASSERT_FALSE(GeneratedStreams().empty());
    for (const GeneratedStream& stream : GeneratedStreams()) {
        SCOPED_TRACE(stream.name);
        Bytes es = ReadFileBytes(stream.videoPath);
        ASSERT_EQ(data->LoadFile(stream.path.c_str()), 0);
        std::vector<ChunkResult> chunks = AllChunks(es.size());
        ExpectPictureChunks(es, chunks);
        EXPECT_GT(chunks.size(), 40u);
        ChunkResult after = Next();
        EXPECT_EQ(after.result, -1);
        EXPECT_EQ(after.length, 0);
        data->Close();
    }
}

// Where a seek should land by a plain walk over the packs: the video after the first navigation
// packet of the first pack at or after the offset.
bool ExpectedSeekStart(const Bytes& stream, const std::vector<UnitContents>& units, uint64_t offset,
                       size_t* videoStart) {
    size_t pack = stream.size();
    for (uint64_t at = offset; at < stream.size() && at + 4 <= stream.size(); ++at) {
        if (stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1 &&
            stream[at + 3] == 0xBA) {
            pack = static_cast<size_t>(at);
            break;
        }
    }
    EXPECT_EQ(pack % kUnit, 0u) << "a pack start code inside a packet at " << pack;
    for (const UnitContents& unit : units) {
        if (unit.offset >= pack && unit.navigation) {
            *videoStart = unit.videoBefore + unit.videoBytes;
            return true;
        }
    }
    return false;
}

TEST_F(VideoChunkTest, SeekGivesTheFirstWholePictureAfterTheNextNavigationPacket) {
    for (const GeneratedStream& stream : GeneratedStreams()) {
        SCOPED_TRACE(stream.name);
        Bytes file = ReadFileBytes(stream.path);
        Bytes es;
        std::vector<UnitContents> units = WalkUnits(file, &es);
        ASSERT_TRUE(es == ReadFileBytes(stream.videoPath));
        std::vector<uint64_t> offsets = {
            0, 1, 2047, 2048, file.size() - 1, file.size(), file.size() + 5000, (1ull << 32) + 7};
        for (const UnitContents& unit : units) {
            if (!unit.navigation) continue;
            for (int64_t delta : {-1, 0, 1, 700}) {
                if (static_cast<int64_t>(unit.offset) + delta >= 0) {
                    offsets.push_back(
                        static_cast<uint64_t>(static_cast<int64_t>(unit.offset) + delta));
                }
            }
        }
        for (size_t i = 1; i < 12; ++i) offsets.push_back(file.size() * i / 12 + i * 37);
        ASSERT_EQ(data->LoadFile(stream.path.c_str()), 0);
        Next();  // something in the carry that the seek must drop
        for (uint64_t offset : offsets) {
            SCOPED_TRACE(offset);
            size_t start = 0;
            bool expected = ExpectedSeekStart(file, units, offset, &start);
            ASSERT_EQ(
                data->Seek(static_cast<uint32_t>(offset), static_cast<uint32_t>(offset >> 32)), 0);
            ChunkResult chunk = Next();
            if (!expected || start == es.size()) {
                EXPECT_EQ(chunk.result, -1);
                EXPECT_EQ(chunk.length, 0);
                continue;
            }
            size_t end = ReferenceChunkEnd(es, start);
            ASSERT_EQ(chunk.result, 0);
            ASSERT_EQ(static_cast<size_t>(chunk.length), end - start);
            EXPECT_TRUE(std::equal(chunk.bytes.begin(), chunk.bytes.end(),
                                   es.begin() + static_cast<long>(start)));
            EXPECT_EQ(chunk.bytes[3], 0xB3) << "a navigation packet starts a group of pictures";
        }
        EXPECT_EQ(stream.hasNavigation,
                  std::any_of(units.begin(), units.end(),
                              [](const UnitContents& u) { return u.navigation; }));
        data->Close();
    }
}

TEST_F(VideoChunkTest, ChunksLargerThanTheCapacityAreRefusedWithoutOverrun) {
    const GeneratedStream* stream = DvdauthorStream();
    if (!stream) stream = GeneratedStreams().empty() ? nullptr : &GeneratedStreams()[0];
    if (!stream) GTEST_SKIP() << "no generated stream";
    ASSERT_EQ(data->LoadFile(stream->path.c_str()), 0);
    std::vector<ChunkResult> reference = AllChunks(100000);
    ASSERT_GT(reference.size(), 10u);
    std::vector<size_t> sizes;
    for (const ChunkResult& chunk : reference) sizes.push_back(chunk.bytes.size());
    std::sort(sizes.begin(), sizes.end());
    for (size_t capacity : {sizes.back(), sizes.back() - 1, sizes[sizes.size() / 2], size_t{100}}) {
        SCOPED_TRACE(capacity);
        SetCapacity(static_cast<int32_t>(capacity));
        ASSERT_EQ(data->Reset(), 0);
        for (const ChunkResult& expected : reference) {
            ChunkResult chunk = Next();
            if (expected.bytes.size() <= capacity) {
                ASSERT_EQ(chunk.result, 0);
                EXPECT_TRUE(chunk.bytes == expected.bytes);
            } else {
                ASSERT_EQ(chunk.result, CVideoMpegData::kChunkTooLarge);
                EXPECT_EQ(chunk.length, 0);
            }
        }
        EXPECT_EQ(Next().result, -1);
    }
}

TEST_F(VideoChunkTest, StartCodeSplitAcrossVideoBlocksStartsTheNextChunk) {
    Bytes es = MakeElementaryStream({300, 300, 300});
    const size_t second = 20 + 300;
    for (size_t split = 1; split <= 3; ++split) {
        SCOPED_TRACE(split);
        // Audio, navigation and padding between the video units must not reach the chunks.
        Bytes stream = Unit({SystemHeaderPacket(), Ps2Packet(900)});
        Bytes video = VideoUnits(es, {second + split, 2000}, 9000);
        Append(stream, Bytes(video.begin(), video.begin() + kUnit));
        Append(stream, Unit({PesPacket(0xC0, EncodePts(5), Bytes(500, 0x00))}));
        Append(stream, Unit({PrivateStream1Packet(0x80, Code(0x00))}));
        Append(stream, Bytes(video.begin() + kUnit, video.end()));
        LoadBytes("split", stream);
        std::vector<ChunkResult> chunks = AllChunks(10);
        ASSERT_EQ(chunks.size(), 3u);
        EXPECT_TRUE(chunks[0].bytes == Bytes(es.begin(), es.begin() + second));
        EXPECT_TRUE(chunks[1].bytes == Bytes(es.begin() + second, es.begin() + second + 300));
        EXPECT_TRUE(chunks[2].bytes == Bytes(es.begin() + second + 300, es.end()));
        EXPECT_EQ(chunks[0].timeStamp, 9000);
    }
}

TEST_F(VideoChunkTest, ChunkFoundInTheCarryComesWithoutTimeStamp) {
    Bytes es = MakeElementaryStream({100, 100, 100, 100});
    LoadBytes("carry", VideoUnits(es, {2000}, 45000));
    std::vector<ChunkResult> chunks = AllChunks(10);
    ASSERT_EQ(chunks.size(), 4u);
    ExpectPictureChunks(es, chunks);
    EXPECT_EQ(chunks[0].timeStamp, 45000);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(chunks[i].timeStamp, 0);
}

TEST_F(VideoChunkTest, PictureShorterThanFiftyBytesTakesTheNextPictureAlong) {
    for (size_t shortSize : {size_t{30}, size_t{60}}) {
        SCOPED_TRACE(shortSize);
        Bytes es = MakeElementaryStream({200, shortSize, 200, 200});
        const size_t shortStart = 20 + 200;
        // The short picture's start code ends the first payload, so its chunk begins in the carry.
        LoadBytes("short", VideoUnits(es, {shortStart + 10, 2000}));
        std::vector<ChunkResult> chunks = AllChunks(10);
        ASSERT_GE(chunks.size(), 2u);
        EXPECT_EQ(chunks[0].bytes.size(), shortStart);
        size_t expected = shortSize < 50 ? shortSize + 200 : shortSize;
        EXPECT_EQ(chunks[1].bytes.size(), expected);
        ExpectPictureChunks(es, chunks);
    }
}

TEST_F(VideoChunkTest, HeadersStayWithTheirPictureAcrossBlocksAndCarries) {
    Bytes userData = Join({Code(0xB2), Bytes(100, 0x61)});
    Bytes es = MakeElementaryStream({});
    Append(es, userData);
    size_t headers = es.size();
    Bytes pictures = MakeElementaryStream({400, 300});
    Append(es, Bytes(pictures.begin() + 20, pictures.end()));  // two pictures
    size_t secondGroup = es.size();
    Append(es, pictures);  // sequence header, group and two more pictures
    Append(es, Code(0xB7));
    // The first payload holds only headers; the third holds the second group's headers and the
    // start of its first picture, which the fourth completes.
    LoadBytes("headers", VideoUnits(es, {headers, secondGroup - headers, 20 + 60, 2000}));
    std::vector<ChunkResult> chunks = AllChunks(10);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].bytes.size(), headers + 400);
    EXPECT_EQ(chunks[1].bytes.size(), 300u);
    EXPECT_EQ(chunks[2].bytes.size(), 20u + 400);
    ExpectPictureChunks(es, chunks);
}

TEST_F(VideoChunkTest, NothingHappensBeforeAFileIsLoaded) {
    EXPECT_EQ(data->Seek(0, 0), -1);
    EXPECT_EQ(data->CMpegData::Seek(0, 0), -1);
    ChunkResult chunk = Next();
    EXPECT_EQ(chunk.result, -1);
    EXPECT_EQ(chunk.length, 0);
    EXPECT_EQ(chunk.timeStamp, 0);
    EXPECT_EQ(data->Reset(), 0);
    EXPECT_EQ(data->Close(), 0);
    EXPECT_EQ(data->Idle(), 0);
    int32_t length = 5;
    EXPECT_EQ(data->GetVideoChunk(nullptr, &length, nullptr), -1);
    EXPECT_EQ(length, 0);

    EXPECT_EQ(data->LoadFile(WorkPath("demux_case_missing").c_str()), -1);
    EXPECT_EQ(data->Seek(0, 0), 0) << "a load was attempted";
    EXPECT_EQ(Next().result, -1);
}

TEST_F(VideoChunkTest, ResetStartsAgainWithTheFirstPicture) {
    Bytes es = MakeElementaryStream({700, 700, 700, 700});
    LoadBytes("reset", VideoUnits(es, {1000}));
    ChunkResult first = Next();
    Next();
    EXPECT_GT(data->carryLength(), 0);
    EXPECT_EQ(data->Reset(), 0);
    EXPECT_EQ(data->carryLength(), 0);
    EXPECT_TRUE(Next().bytes == first.bytes);
}

// ---- damaged input ----------------------------------------------------------------------------

Bytes Damage(const Bytes& original, std::mt19937& random) {
    Bytes bytes = original;
    switch (random() % 5) {
        case 0:  // scattered byte errors
            for (int i = 0, n = 1 + static_cast<int>(random() % 200); i < n; ++i) {
                bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
            }
            break;
        case 1:  // cut short anywhere
            bytes.resize(random() % bytes.size());
            break;
        case 2: {  // a run of zeros or 0xFF
            size_t at = random() % bytes.size();
            size_t length = std::min<size_t>(bytes.size() - at, random() % 9000);
            std::fill_n(bytes.begin() + static_cast<long>(at), length, random() % 2 ? 0x00 : 0xFF);
            break;
        }
        case 3:  // stray start codes and lengths
            for (int i = 0; i < 60; ++i) {
                size_t at = random() % (bytes.size() - 8);
                const uint8_t codes[] = {0xBA, 0xE0, 0xBD, 0xBF, 0xBB, 0x00, 0xB3};
                bytes[at] = 0;
                bytes[at + 1] = 0;
                bytes[at + 2] = 1;
                bytes[at + 3] = codes[random() % 7];
                bytes[at + 4] = static_cast<uint8_t>(random());
                bytes[at + 5] = static_cast<uint8_t>(random());
            }
            break;
        default: {  // units in the wrong order, some cut
            Bytes shuffled;
            for (int i = 0; i < 60; ++i) {
                size_t at = (random() % (bytes.size() / kUnit)) * kUnit;
                size_t length = random() % 3 ? kUnit : random() % kUnit;
                shuffled.insert(shuffled.end(), bytes.begin() + static_cast<long>(at),
                                bytes.begin() + static_cast<long>(at + length));
            }
            bytes = shuffled;
        }
    }
    return bytes;
}

TEST_F(VideoChunkTest, DamagedStreamsEndCleanly) {
    std::mt19937 random(20240601);
    for (const GeneratedStream& stream : GeneratedStreams()) {
        SCOPED_TRACE(stream.name);
        Bytes original = ReadFileBytes(stream.path);
        for (int variant = 0; variant < 6; ++variant) {
            SCOPED_TRACE(variant);
            Bytes damaged = Damage(original, random);
            std::string path = WriteTemporary("damaged", damaged);
            SetCapacity(variant % 2 ? 4096 : CVideoMpegData::kDefaultChunkCapacity);
            data->LoadFile(path.c_str());
            size_t calls = 0;
            while (calls <= damaged.size() && Next().result != -1) ++calls;
            EXPECT_LE(calls, damaged.size());
            for (int seek = 0; seek < 4; ++seek) {
                data->Seek(static_cast<uint32_t>(random() % (damaged.size() + 1)), 0);
                Next();
                Next();
            }
            data->Close();
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
