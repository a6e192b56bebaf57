#include "demux/video_mpeg_data.h"

#include <gtest/gtest.h>

#include "support/program_streams.h"

namespace d2u {
namespace test {
namespace {

struct ChunkResult {
    int32_t result;
    int32_t length;
    int32_t timeStamp;
    Bytes bytes;
};

class VideoChunkTest : public ::testing::Test {
protected:
    CVideoMpegData data;
    // Exactly as large as the capacity, so that a write past it is a sanitizer error.
    Bytes buffer = Bytes(CVideoMpegData::kDefaultChunkCapacity);

    void SetCapacity(size_t capacity) {
        data.SetChunkCapacity(static_cast<int32_t>(capacity));
        buffer.assign(capacity, 0xA5);
    }

    void Load(const std::string& name, const Bytes& bytes) {
        ASSERT_EQ(data.LoadFile(WriteWorkFile("demux_case_" + name, bytes).c_str()), 0);
    }

    ChunkResult Next() {
        ChunkResult chunk{0, -7, -7, {}};
        chunk.result = data.GetVideoChunk(buffer.data(), &chunk.length, &chunk.timeStamp);
        if (chunk.result == 0 && chunk.length > 0)
            chunk.bytes.assign(buffer.begin(), buffer.begin() + chunk.length);
        return chunk;
    }

    std::vector<ChunkResult> AllChunks() {
        std::vector<ChunkResult> chunks;
        for (ChunkResult chunk = Next(); chunk.result != -1; chunk = Next()) {
            chunks.push_back(chunk);
            if (chunks.size() > 100000) {
                ADD_FAILURE() << "chunks never ended";
                break;
            }
        }
        return chunks;
    }
};

// Each chunk starts at a boundary code and, unless its picture is shorter than 50 bytes, ends at
// the boundary after its first picture; together they rebuild the stream.
void ExpectPictureChunks(const Bytes& es, const std::vector<ChunkResult>& chunks) {
    Bytes joined;
    for (const ChunkResult& chunk : chunks) {
        size_t start = joined.size(), end = ReferenceChunkEnd(es, start);
        Append(joined, chunk.bytes);
        ASSERT_TRUE(chunk.result == 0 && IsBoundaryCode(es, start)) << "chunk at " << start;
        if (end - start >= CVideoMpegData::kShortChunk) {
            EXPECT_EQ(joined.size(), end) << "chunk at " << start;
        }
    }
    EXPECT_TRUE(joined == es) << "the chunks do not rebuild the video stream";
}

TEST_F(VideoChunkTest, SeekGivesTheFirstWholePictureAfterTheNextNavigationPacket) {
    for (const ProgramStream& stream : ProgramStreams()) {
        SCOPED_TRACE(stream.name);
        Bytes file = ReadFileBytes(stream.path), es;
        std::vector<UnitContents> units = WalkUnits(file, &es);
        std::vector<uint64_t> offsets = {1, file.size() - 1, file.size(), (1ull << 32) + 7};
        for (const UnitContents& unit : units) {
            for (int delta : {-1, 0, 1, 700}) {
                if (unit.navigationPackets > 0) offsets.push_back(unit.offset + delta);
            }
        }
        ASSERT_EQ(data.LoadFile(stream.path.c_str()), 0);
        Next();  // something in the carry that the seek must drop
        for (uint64_t offset : offsets) {
            SCOPED_TRACE(offset);
            // The video after the first unit with navigation packets at or after the offset (the
            // streams have packs at unit starts only).
            auto next = std::find_if(units.begin(), units.end(), [&](const UnitContents& unit) {
                return unit.offset >= offset && unit.navigationPackets > 0;
            });
            size_t start = next == units.end() ? es.size() : next->videoAfter;
            size_t end = ReferenceChunkEnd(es, start);
            ASSERT_EQ(data.Seek(static_cast<uint32_t>(offset), static_cast<uint32_t>(offset >> 32)),
                      0);
            ChunkResult chunk = Next();
            EXPECT_EQ(chunk.result, start == es.size() ? -1 : 0);
            EXPECT_EQ(chunk.length, static_cast<int32_t>(end - start));
            EXPECT_TRUE(chunk.bytes == Bytes(es.begin() + static_cast<long>(start),
                                             es.begin() + static_cast<long>(end)));
        }
    }
}

TEST_F(VideoChunkTest, ChunksLargerThanTheCapacityAreRefusedWithoutOverrun) {
    if (ProgramStreams().empty()) GTEST_SKIP() << "no generated stream";
    ASSERT_EQ(data.LoadFile(ProgramStreams().back().path.c_str()), 0);
    std::vector<ChunkResult> reference = AllChunks();
    std::vector<size_t> sizes;
    for (const ChunkResult& chunk : reference) sizes.push_back(chunk.bytes.size());
    std::sort(sizes.begin(), sizes.end());
    for (size_t capacity : {sizes.back(), sizes.back() - 1, sizes[sizes.size() / 2], size_t{100}}) {
        SCOPED_TRACE(capacity);
        SetCapacity(capacity);
        ASSERT_EQ(data.Reset(), 0);
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

// Pictures within one payload come from the carry, without time stamp; a chunk spanning blocks
// takes the stamp of its first.
TEST_F(VideoChunkTest, PictureShorterThanFiftyBytesTakesTheNextPictureAlong) {
    for (size_t shortSize : {30, 60}) {
        SCOPED_TRACE(shortSize);
        Bytes es = MakeElementaryStream({200, shortSize, 200, 200});
        const size_t shortStart = 20 + 200;
        // The short picture's start code ends the second payload: its chunk begins in the carry.
        Load("short", VideoUnits(es, {100, shortStart - 100 + 10, 2000}, 9000));
        std::vector<ChunkResult> chunks = AllChunks();
        ASSERT_GE(chunks.size(), 3u);
        EXPECT_EQ(chunks[1].bytes.size(), shortSize < 50 ? shortSize + 200 : shortSize);
        ExpectPictureChunks(es, chunks);
        EXPECT_EQ(chunks[0].timeStamp, 9000);
        EXPECT_EQ(chunks[1].timeStamp, 9000 + 2 * 3600);
        for (size_t i = 2; i < chunks.size(); ++i) EXPECT_EQ(chunks[i].timeStamp, 0);
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
