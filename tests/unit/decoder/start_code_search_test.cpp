// Finding start codes: garbage, zero runs, word boundaries, refills and the end of the stream.
#include <gtest/gtest.h>

#include "stream_writer.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

struct WrittenPicture {
    size_t position;
    uint32_t temporal_reference;
};

// Pictures with a sequence and group header in front of each, slices of `sliceBytes`.
struct SyntheticStream {
    StreamWriter w;
    std::vector<WrittenPicture> pictures;

    void Picture(uint32_t temporal_reference, size_t sliceBytes, bool withSequence = true) {
        if (withSequence) {
            WriteSequenceHeader(w, SequenceFields());
            WriteGroupHeader(w, GopFields());
        }
        PictureFields picture;
        picture.temporal_reference = temporal_reference & 1023;
        w.AlignWithZeros();
        pictures.push_back({w.BytePosition(), picture.temporal_reference});
        WritePictureHeader(w, picture);
        WriteSlice(w, 1, 5, sliceBytes, temporal_reference);
    }
    void SequenceEnd() { w.StartCode(0xB7); }
};

std::vector<uint8_t> Prefixed(const std::vector<uint8_t>& prefix,
                              const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> bytes = prefix;
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    return bytes;
}

void ExpectPictures(const std::vector<PictureInfo>& read,
                    const std::vector<WrittenPicture>& written, size_t shift) {
    ASSERT_EQ(read.size(), written.size()) << "shift " << shift;
    for (size_t i = 0; i < read.size(); ++i) {
        ASSERT_EQ(read[i].temporal_reference, written[i].temporal_reference) << i;
        ASSERT_EQ(read[i].startPosition, written[i].position + shift) << i;
    }
}

TEST(StartCodeSearch, SkipsGarbageAndZeroRunsAtEveryAlignment) {
    SyntheticStream stream;
    for (uint32_t i = 0; i < 3; ++i) stream.Picture(i, 33 + i);
    const std::vector<uint8_t> garbage = {0x00, 0x00, 0x02, 0x01, 0x00, 0x01,
                                          0xB3, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (size_t length = 0; length <= garbage.size(); ++length) {
        std::vector<uint8_t> prefix(garbage.begin(), garbage.begin() + length);
        HeaderRig rig;
        ASSERT_TRUE(rig.OpenFile(Prefixed(prefix, stream.w.bytes()), "headers_garbage.m2v"));
        int32_t result;
        ExpectPictures(rig.ReadAllPictures(&result), stream.pictures, length);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(rig.headers.sequence.horizontal_size, 176u);
    }
}

TEST(StartCodeSearch, InputWithoutStartCodesEndsCleanly) {
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(1 + i * 7 % 250);
    HeaderRig buffered;
    ASSERT_TRUE(buffered.LoadBuffer(noise));
    EXPECT_EQ(buffered.reader.getHeader(), -1);
    EXPECT_EQ(buffered.reader.sequenceHeaderSeen, 0);
    HeaderRig file;
    ASSERT_TRUE(file.OpenFile(noise, "headers_noise.m2v"));
    EXPECT_EQ(file.reader.getHeader(), 0);
    HeaderRig empty;
    ASSERT_TRUE(empty.LoadBuffer({}));
    EXPECT_EQ(empty.reader.getHeader(), -1);
}

TEST(StartCodeSearch, HeadersAcrossTheRefillThresholdAreReadOnce) {
    // Filler pictures up to a picture start code a few bytes before the point where the reader
    // refills, then more pictures; each shift moves that start code by one byte.
    constexpr size_t kStraddle = 639990;
    SyntheticStream stream;
    uint32_t temporal_reference = 0;
    while (stream.w.BytePosition() + 4200 < kStraddle) stream.Picture(temporal_reference++, 4000);
    // Slice bytes so that the next picture start code lands exactly on kStraddle.
    size_t headers = 12 + 8;  // sequence header without matrices, group header
    // This picture, then the sequence and group headers in front of the next one.
    stream.Picture(temporal_reference++, kStraddle - stream.w.BytePosition() - 2 * headers - 8 - 5);
    size_t straddling = stream.pictures.size();
    for (int i = 0; i < 5; ++i) stream.Picture(temporal_reference++, 3000 + i, i % 2 == 0);
    ASSERT_EQ(stream.pictures[straddling].position, kStraddle);
    const std::vector<uint8_t>& bytes = stream.w.bytes();

    for (size_t shift = 0; shift < 20; ++shift) {
        HeaderRig rig;
        ASSERT_TRUE(
            rig.OpenFile(Prefixed(std::vector<uint8_t>(shift, 0xFF), bytes), "headers_refill.m2v"));
        int32_t result;
        ExpectPictures(rig.ReadAllPictures(&result), stream.pictures, shift);
        EXPECT_EQ(result, 0);
    }
}

// Joined sequences go on after a sequence end code, in a file shorter than the buffer as in a
// host buffer; only the end of the data ends the stream.
TEST(SequenceEnd, EndsTheStreamOnlyWhereTheDataEnds) {
    SyntheticStream stream;
    stream.Picture(0, 100);
    stream.SequenceEnd();
    stream.Picture(1, 100);
    stream.Picture(2, 100, false);
    stream.SequenceEnd();
    const std::vector<uint8_t>& bytes = stream.w.bytes();

    HeaderRig file;
    ASSERT_TRUE(file.OpenFile(bytes, "headers_sequence_end.m2v"));
    int32_t result;
    EXPECT_EQ(file.ReadAllPictures(&result).size(), 3u);
    EXPECT_EQ(result, 0);

    HeaderRig buffered;
    ASSERT_TRUE(buffered.LoadBuffer(bytes));
    EXPECT_EQ(buffered.ReadAllPictures(&result).size(), 3u);
    EXPECT_EQ(result, -1);
}

TEST(SequenceEnd, IsPassedOverInAFileLongerThanTheBuffer) {
    SyntheticStream stream;
    uint32_t temporal_reference = 0;
    stream.Picture(temporal_reference++, 5000);
    stream.SequenceEnd();
    size_t fileBytes = static_cast<size_t>(CBitstreamDataSource::kFileBufferWords) * 4 +
                       CBitstreamDataSource::kRefillThresholdBytes + 100000;
    while (stream.w.BytePosition() < fileBytes) {
        stream.Picture(temporal_reference, 60000, temporal_reference % 8 == 0);
        ++temporal_reference;
    }
    stream.SequenceEnd();
    HeaderRig rig;
    ASSERT_TRUE(rig.OpenFile(stream.w.bytes(), "headers_long.m2v"));
    int32_t result;
    ExpectPictures(rig.ReadAllPictures(&result), stream.pictures, 0);
    EXPECT_EQ(result, 0);
    test::RemoveFile(test::WorkPath("headers_long.m2v"));
}

}  // namespace
}  // namespace test
}  // namespace d2u
