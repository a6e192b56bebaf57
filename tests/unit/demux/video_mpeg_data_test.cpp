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

    ChunkResult Next() {
        ChunkResult chunk{0, -7, -7, {}};
        chunk.result = data.GetVideoChunk(buffer.data(), &chunk.length, &chunk.timeStamp);
        if (chunk.result == 0 && chunk.length > 0)
            chunk.bytes.assign(buffer.begin(), buffer.begin() + chunk.length);
        return chunk;
    }

    std::vector<ChunkResult> AllChunks() {
        std::vector<ChunkResult> chunks;
        for (ChunkResult chunk = Next(); chunk.result != -1 && chunks.size() < 100000;
             chunk = Next()) {
            chunks.push_back(chunk);
        }
        EXPECT_LT(chunks.size(), 100000u) << "chunks never ended";
        return chunks;
    }
};

TEST_F(VideoChunkTest, SeekGivesTheFirstWholePictureAfterTheNextNavigationPacket) {
    for (const ProgramStream& stream : ProgramStreams()) {
        SCOPED_TRACE(stream.name);
        Bytes file = ReadFileBytes(stream.path), es;
        std::vector<NavigationUnit> units = NavigationUnits(file, &es);
        std::vector<uint64_t> offsets = {1, file.size() - 1, file.size(), (1ull << 32) + 7};
        for (const NavigationUnit& unit : units) {
            for (int delta : {-1, 0, 1, 700}) offsets.push_back(unit.offset + delta);
        }
        ASSERT_EQ(data.LoadFile(stream.path.c_str()), 0);
        Next();  // something in the carry that the seek must drop
        for (uint64_t offset : offsets) {
            SCOPED_TRACE(offset);
            // The video after the first unit with navigation packets at or after the offset (the
            // streams have packs at unit starts only).
            size_t start = es.size();
            for (auto unit = units.rbegin(); unit != units.rend() && unit->offset >= offset;
                 ++unit) {
                start = unit->videoAfter;
            }
            size_t end = ReferenceChunkEnd(es, start);
            ASSERT_EQ(data.Seek(static_cast<uint32_t>(offset), offset >> 32), 0);
            ChunkResult chunk = Next();
            EXPECT_EQ(chunk.result, start == es.size() ? -1 : 0);
            EXPECT_EQ(chunk.length, static_cast<int32_t>(end - start));
            EXPECT_TRUE(chunk.bytes == Bytes(es.begin() + start, es.begin() + end));
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
        data.SetChunkCapacity(static_cast<int32_t>(capacity));
        buffer.assign(capacity, 0xA5);
        ASSERT_EQ(data.Reset(), 0);
        for (const ChunkResult& expected : reference) {
            ChunkResult chunk = Next();
            bool fits = expected.bytes.size() <= capacity;
            ASSERT_EQ(chunk.result, fits ? 0 : CVideoMpegData::kChunkTooLarge);
            EXPECT_EQ(chunk.length, fits ? expected.length : 0);
            EXPECT_TRUE(chunk.bytes == expected.bytes || !fits);
        }
        EXPECT_EQ(Next().result, -1);
    }
}

// Pictures within one payload come from the carry, without time stamp; a chunk spanning blocks
// takes the stamp of its first. Each chunk starts at a boundary code and, unless its picture is
// shorter than 50 bytes, ends at the boundary after its first picture.
TEST_F(VideoChunkTest, PictureShorterThanFiftyBytesTakesTheNextPictureAlong) {
    for (size_t shortSize : {30, 60}) {
        SCOPED_TRACE(shortSize);
        // A 20-byte sequence header and group, then pictures; the short one starts at 220.
        Bytes es = Join({{0, 0, 1, 0xB3}, Pattern(8, 1), {0, 0, 1, 0xB8}, Pattern(4, 2)});
        uint8_t seed = 0;
        for (size_t size : {size_t{200}, shortSize, size_t{200}, size_t{200}}) {
            Append(es, Join({{0, 0, 1, 0x00}, Pattern(size - 4, seed++)}));
        }
        // The short picture's start code lies in the second payload: its chunk begins in the
        // carry.
        const size_t cuts[] = {0, 100, 230, es.size()};
        Bytes units;
        for (size_t i = 0; i < 3; ++i) {
            Append(units, VideoUnit(EncodePts(9000 + 3600 * i),
                                    Bytes(es.begin() + cuts[i], es.begin() + cuts[i + 1])));
        }
        ASSERT_EQ(data.LoadFile(WriteWorkFile("demux_case_short", units).c_str()), 0);
        std::vector<ChunkResult> chunks = AllChunks();
        ASSERT_GE(chunks.size(), 3u);
        EXPECT_EQ(chunks[1].bytes.size(), shortSize < 50 ? shortSize + 200 : shortSize);
        Bytes joined;
        for (size_t i = 0; i < chunks.size(); ++i) {
            size_t start = joined.size(), end = ReferenceChunkEnd(es, start);
            Append(joined, chunks[i].bytes);
            ASSERT_TRUE(chunks[i].result == 0 && IsBoundaryCode(es, start)) << "chunk at " << start;
            EXPECT_TRUE(end - start < CVideoMpegData::kShortChunk || joined.size() == end)
                << "chunk at " << start << " ends at " << joined.size() << ", not " << end;
            EXPECT_EQ(chunks[i].timeStamp, i == 0 ? 9000 : i == 1 ? 9000 + 2 * 3600 : 0) << i;
        }
        EXPECT_TRUE(joined == es) << "the chunks do not rebuild the video stream";
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
