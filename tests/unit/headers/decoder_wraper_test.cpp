// The decoder wrapper over real streams: starting, pictures in decoding order, references,
// the end of the stream, restarting, skipping and large pictures.
#include <gtest/gtest.h>

#include <memory>

#include "decoder/mpeg_decoder_wraper.h"
#include "decoder/yuv_frame.h"
#include "reference_streams.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"
#include "support/yuv_image.h"

namespace d2u {
namespace test {
namespace {

std::vector<uint8_t> Bytes(const YUVPlane& plane) {
    return std::vector<uint8_t>(plane.data, plane.data + plane.pitch * plane.height);
}

struct Snapshot {
    int32_t pictureType = 0;
    int32_t temporalReference = 0;
    std::vector<uint8_t> y, u, v;
};

Snapshot Take(const CYUVFrame& frame) {
    return {frame.pictureType, frame.temporalReference, Bytes(frame.Y), Bytes(frame.U),
            Bytes(frame.V)};
}

void ExpectSamePicture(const Snapshot& a, const Snapshot& b, const std::string& what) {
    EXPECT_EQ(a.pictureType, b.pictureType) << what;
    EXPECT_EQ(a.temporalReference, b.temporalReference) << what;
    EXPECT_TRUE(a.y == b.y && a.u == b.u && a.v == b.v) << what << ": samples differ";
}

std::unique_ptr<CMpegDecoderWraper> Loaded(const std::string& path) {
    auto wrapper = std::make_unique<CMpegDecoderWraper>();
    if (wrapper->LoadFile(path.c_str()) != 0) return nullptr;
    return wrapper;
}

// Every picture a fresh file-driven wrapper hands out, in order.
std::vector<Snapshot> DecodeAll(const std::string& path, size_t limit = 100000) {
    std::vector<Snapshot> pictures;
    auto wrapper = Loaded(path);
    if (!wrapper) return pictures;
    CYUVFrame* previous = nullptr;
    while (pictures.size() < limit) {
        CYUVFrame* frame = wrapper->GetNextFrame(1);
        if (!frame || wrapper->ended) break;
        pictures.push_back(Take(*frame));
        previous = frame;
    }
    (void)previous;
    return pictures;
}

#define REQUIRE_FFMPEG() \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg not available"

TEST(DecoderWraperStart, ReportsMissingSequenceAndPictureHeaders) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegMpeg2ProgressiveStream();
    ASSERT_FALSE(path.empty());
    std::vector<uint8_t> stream = ReadFileBytes(path);
    StreamLayout layout = ReadStreamLayout(stream);
    ASSERT_GE(layout.pictures.size(), 2u);
    const CodedPicture& first = layout.pictures[0];

    CMpegDecoderWraper noSequence;
    std::vector<uint8_t> slices(stream.begin() + first.pictureStart, stream.begin() + first.end);
    EXPECT_EQ(noSequence.Init(slices.data(), static_cast<int32_t>(slices.size())), -1);
    EXPECT_EQ(noSequence.ready, 0);

    CMpegDecoderWraper noPicture;
    std::vector<uint8_t> headersOnly(stream.begin(), stream.begin() + first.pictureStart);
    EXPECT_EQ(noPicture.Init(headersOnly.data(), static_cast<int32_t>(headersOnly.size())), -2008);
    EXPECT_EQ(noPicture.ready, 0);
    // The host tries again with a whole picture.
    std::vector<uint8_t> chunk = PictureChunk(stream, first);
    EXPECT_EQ(noPicture.Init(chunk.data(), static_cast<int32_t>(chunk.size())), 0);
    EXPECT_EQ(noPicture.ready, 1);
    EXPECT_EQ(noPicture.GetWidth(), 176);
    EXPECT_EQ(noPicture.GetHeight(), 144);
    EXPECT_EQ(noPicture.searching, 1);
    EXPECT_EQ(noPicture.skipLeadingB, 1);

    CMpegDecoderWraper missingFile;
    EXPECT_EQ(missingFile.LoadFile(WorkPath("headers_no_such_file.m2v").c_str()), -1);
    std::string headersFile = WorkPath("headers_sequence_header_only.m2v");
    ASSERT_TRUE(WriteFileBytes(headersFile, headersOnly));
    CMpegDecoderWraper fileWithoutPicture;
    EXPECT_EQ(fileWithoutPicture.LoadFile(headersFile.c_str()), -2008);
    std::string noiseFile = WorkPath("headers_no_sequence_header.m2v");
    ASSERT_TRUE(WriteFileBytes(noiseFile, slices));
    CMpegDecoderWraper fileWithoutSequence;
    EXPECT_EQ(fileWithoutSequence.LoadFile(noiseFile.c_str()), -1);
    EXPECT_EQ(fileWithoutSequence.GetNextFrame(1), nullptr);
}

TEST(DecoderWraperStart, Mpeg1StreamsGetFramePictureSettings) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegMpeg1Stream();
    ASSERT_FALSE(path.empty());
    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    const MpegHeaders& h = wrapper->headers;
    EXPECT_EQ(h.sequence.mpeg2, 0u);
    EXPECT_EQ(h.sequence.progressive_sequence, 1u);
    EXPECT_EQ(h.sequence.chroma_format, 1u);
    EXPECT_EQ(h.picture.picture_structure, 3u);
    EXPECT_EQ(h.picture.frame_pred_frame_dct, 1u);
    EXPECT_EQ(h.picture.progressive_frame, 1u);
    // Decoding starts again from the first byte.
    EXPECT_EQ(wrapper->dataSource.GetBytePosition(), 0u);
    EXPECT_EQ(wrapper->searching, 1);
}

TEST(DecoderWraperOrder, PicturesLeaveInDecodingOrderWithTheirReferences) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegMpeg2ProgressiveStream();
    ASSERT_FALSE(path.empty());
    std::vector<uint8_t> stream = ReadFileBytes(path);
    StreamLayout layout = ReadStreamLayout(stream);
    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    CMpegDecoder& decoder = wrapper->decoder;

    std::vector<Snapshot> references;  // I and P pictures as handed out
    CYUVFrame* last = nullptr;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        const CodedPicture& coded = layout.pictures[i];
        CYUVFrame* frame = wrapper->GetNextFrame(1);
        ASSERT_NE(frame, nullptr) << i;
        EXPECT_EQ(frame->pictureType, coded.pictureType) << i;
        EXPECT_EQ(frame->temporalReference, coded.temporalReference) << i;
        EXPECT_EQ(frame->isKeyFrame, coded.pictureType == 1 ? 1 : 0) << i;
        EXPECT_EQ(frame->pictureBytes, static_cast<int32_t>(coded.end - coded.pictureStart)) << i;
        EXPECT_EQ(frame->topFieldFirst, 0) << i;
        if (coded.pictureType != 3) references.push_back(Take(*frame));
        if (references.size() >= 2) {
            ExpectSamePicture(Take(*decoder.newerReference), references.back(), "newer");
            ExpectSamePicture(Take(*decoder.olderReference), references[references.size() - 2],
                              "older");
        }
        last = frame;
    }
    ASSERT_GE(references.size(), 3u);
    // Past the last picture: the previous picture once more, then nothing.
    EXPECT_EQ(wrapper->GetNextFrame(1), last);
    EXPECT_EQ(wrapper->ended, 1);
    EXPECT_EQ(wrapper->GetNextFrame(1), nullptr);
    EXPECT_EQ(wrapper->GetNextFrame(1), nullptr);

    // Reset starts over at the first picture.
    Snapshot firstAgainExpected = DecodeAll(path, 1).at(0);
    EXPECT_EQ(wrapper->Reset(), 0);
    CYUVFrame* again = wrapper->GetNextFrame(1);
    ASSERT_NE(again, nullptr);
    ExpectSamePicture(Take(*again), firstAgainExpected, "after Reset");
}

TEST(DecoderWraperOrder, BPicturesBeforeTheFirstPPictureAreNotHandedOut) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegLongStream();
    ASSERT_FALSE(path.empty());
    std::vector<uint8_t> stream = ReadFileBytes(path);
    StreamLayout full = ReadStreamLayout(stream);
    // Cut at the second group: it is open, B pictures follow its I picture.
    size_t cut = 0;
    for (const CodedPicture& picture : full.pictures) {
        if (picture.group == 1) {
            cut = picture.chunkStart;
            break;
        }
    }
    ASSERT_GT(cut, 0u);
    std::vector<uint8_t> tail(stream.begin() + static_cast<std::ptrdiff_t>(cut), stream.end());
    StreamLayout layout = ReadStreamLayout(tail);
    ASSERT_EQ(layout.pictures[0].pictureType, 1);
    ASSERT_EQ(layout.pictures[1].pictureType, 3);
    std::string tailPath = WorkPath("headers_open_group.m2v");
    ASSERT_TRUE(WriteFileBytes(tailPath, tail));

    std::vector<bool> handedOut = HandedOutAfterStart(layout);
    std::vector<const CodedPicture*> expected;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        if (handedOut[i]) expected.push_back(&layout.pictures[i]);
    }
    std::vector<Snapshot> decoded = DecodeAll(tailPath);
    ASSERT_EQ(decoded.size(), expected.size());
    EXPECT_EQ(decoded[0].pictureType, 1);
    EXPECT_EQ(decoded[1].pictureType, 2);
    for (size_t i = 0; i < decoded.size(); ++i) {
        EXPECT_EQ(decoded[i].pictureType, expected[i]->pictureType) << i;
        EXPECT_EQ(decoded[i].temporalReference, expected[i]->temporalReference) << i;
    }
}

TEST(DecoderWraperPosition, RepositioningFindsTheNextSequenceHeaderOrEndsTheStream) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegLongStream();
    ASSERT_FALSE(path.empty());
    StreamLayout layout = ReadStreamLayout(ReadFileBytes(path));
    std::vector<Snapshot> all = DecodeAll(path);
    ASSERT_EQ(all.size(), layout.pictures.size());
    size_t lastSequence = 0, middleSequence = 0;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        if (!layout.pictures[i].startsSequence) continue;
        if (middleSequence == 0 && i >= layout.pictures.size() / 2) middleSequence = i;
        lastSequence = i;
    }
    ASSERT_GT(middleSequence, 0u);

    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    for (int i = 0; i < 5; ++i) ASSERT_NE(wrapper->GetNextFrame(1), nullptr);
    // As the position export does: a few bytes before a sequence header.
    auto reposition = [&](size_t offset) {
        wrapper->dataSource.SetInputPosition(static_cast<uint32_t>(offset), 0);
        wrapper->searching = 1;
        wrapper->headerReader.sequenceHeaderSeen = 0;
    };
    reposition(layout.pictures[middleSequence].chunkStart - 3);
    CYUVFrame* frame = wrapper->GetNextFrame(1);
    ASSERT_NE(frame, nullptr);
    ExpectSamePicture(Take(*frame), all[middleSequence], "after repositioning");

    // Past the last sequence header the stream cannot be picked up again: it ends.
    reposition(layout.pictures[lastSequence].pictureStart);
    EXPECT_EQ(wrapper->GetNextFrame(1), nullptr);
    EXPECT_EQ(wrapper->ended, 1);
    EXPECT_EQ(wrapper->GetNextFrame(1), nullptr);
    wrapper->Reset();
    frame = wrapper->GetNextFrame(1);
    ASSERT_NE(frame, nullptr);
    ExpectSamePicture(Take(*frame), all[0], "after Reset");
}

TEST(DecoderWraperBuffered, OnePictureChunkPerCallAsTheHostFeedsIt) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegMpeg2ProgressiveStream();
    ASSERT_FALSE(path.empty());
    std::vector<uint8_t> stream = ReadFileBytes(path);
    StreamLayout layout = ReadStreamLayout(stream);
    std::vector<Snapshot> fromFile = DecodeAll(path);
    ASSERT_EQ(fromFile.size(), layout.pictures.size());

    CMpegDecoderWraper wrapper;
    CYUVFrame* previous = nullptr;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        std::vector<uint8_t> chunk = PictureChunk(stream, layout.pictures[i]);
        int32_t length = static_cast<int32_t>(chunk.size());
        if (!wrapper.ready) {
            ASSERT_EQ(wrapper.Init(chunk.data(), length), 0);
        }
        wrapper.dataSource.SetDataBuffer(chunk.data(), length);
        wrapper.ended = 0;
        CYUVFrame* frame = wrapper.GetNextFrame(1);
        ASSERT_NE(frame, nullptr) << i;
        ExpectSamePicture(Take(*frame), fromFile[i], "picture " + std::to_string(i));
        // The data source keeps whole words: zero bytes that close a host buffer inside its
        // last word cannot be told from the padding behind them.
        int32_t exact =
            static_cast<int32_t>(layout.pictures[i].end - layout.pictures[i].pictureStart);
        if (chunk.back() != 0) {
            EXPECT_EQ(frame->pictureBytes, exact) << i;
        } else {
            EXPECT_LE(frame->pictureBytes, exact) << i;
            EXPECT_GE(frame->pictureBytes, exact - 3) << i;
        }
        previous = frame;
    }
    // A buffer without a picture gives the previous picture again.
    Snapshot before = Take(*previous);
    const uint8_t noPicture[] = {0, 0, 1, 0xB2, 'x', 'y', 'z', 0, 0, 0, 0, 0};
    wrapper.dataSource.SetDataBuffer(noPicture, sizeof noPicture);
    wrapper.ended = 0;
    CYUVFrame* again = wrapper.GetNextFrame(1);
    EXPECT_EQ(again, previous);
    if (again) {
        EXPECT_EQ(again->pictureType, before.pictureType);
        EXPECT_TRUE(Bytes(again->Y) == before.y);
    }
}

// The large-picture stream behind bytes without start codes, so that a B picture begins
// before the point where the skip operations refill, and its slices reach past the point
// where the header reader refills: passing it moves the buffer under a saved position.
std::string LargePicturesBehindJunk() {
    std::string path = FfmpegLargePictures();
    if (path.empty()) return "";
    std::vector<uint8_t> bytes(100000, 0x5A);
    std::vector<uint8_t> stream = ReadFileBytes(path);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    std::string shifted = WorkPath("headers_large_behind_junk.m2v");
    return WriteFileBytes(shifted, bytes) ? shifted : "";
}

uint64_t BufferStart(const CBitstreamDataSource& source) {
    return source.GetBytePosition() - static_cast<uint64_t>(source.ConsumedBytes()) -
           static_cast<uint64_t>((31 - source.bitOffset) / 8);
}

TEST(DecoderWraperSkip, SkipFrameDropsOnlyBPictures) {
    REQUIRE_FFMPEG();
    std::string path = LargePicturesBehindJunk();
    ASSERT_FALSE(path.empty());
    StreamLayout layout = ReadStreamLayout(ReadFileBytes(path));
    std::vector<Snapshot> all = DecodeAll(path);
    ASSERT_EQ(all.size(), layout.pictures.size());

    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    CBitstreamDataSource& source = wrapper->dataSource;
    int restoredAfterRefill = 0;
    for (size_t i = 0; i < layout.pictures.size(); ++i) {
        uint64_t bufferStartBefore = BufferStart(source);
        int32_t skipped = wrapper->SkipFrame();
        bool isB = layout.pictures[i].pictureType == 3;
        EXPECT_EQ(skipped, isB ? 0 : 1) << i;
        if (isB) continue;
        if (BufferStart(source) != bufferStartBefore) ++restoredAfterRefill;
        CYUVFrame* frame = wrapper->GetNextFrame(1);
        ASSERT_NE(frame, nullptr) << i;
        ExpectSamePicture(Take(*frame), all[i], "picture " + std::to_string(i));
    }
    EXPECT_GE(restoredAfterRefill, 1);
    EXPECT_EQ(wrapper->SkipFrame(), 1);  // at the end nothing is skipped
}

TEST(DecoderWraperSkip, SkipFramesAcrossRefillsDecodesTheRightPictures) {
    REQUIRE_FFMPEG();
    std::string path = LargePicturesBehindJunk();
    ASSERT_FALSE(path.empty());
    std::vector<Snapshot> all = DecodeAll(path);
    ASSERT_EQ(all.size(), 12u);
    for (int32_t count : {4, 6, 8}) {
        auto wrapper = Loaded(path);
        ASSERT_TRUE(wrapper);
        ASSERT_EQ(wrapper->SkipFrames(count), count);
        CYUVFrame* frame = wrapper->GetNextFrame(1);
        ASSERT_NE(frame, nullptr);
        ExpectSamePicture(Take(*frame), all[count], "after skipping " + std::to_string(count));
    }
}

TEST(DecoderWraperSkip, SkipFramesRebuildsTheReferencesBeforeItsTarget) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegLongStream();
    ASSERT_FALSE(path.empty());
    std::vector<Snapshot> all = DecodeAll(path);
    ASSERT_EQ(all.size(), 120u);

    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    EXPECT_EQ(wrapper->SkipFrames(0), 0);
    EXPECT_EQ(wrapper->SkipFrames(-4), 0);
    EXPECT_EQ(wrapper->SkipFrames(100), 100);
    CYUVFrame* frame = wrapper->GetNextFrame(1);
    ASSERT_NE(frame, nullptr);
    ExpectSamePicture(Take(*frame), all[100], "after skipping 100");
    // Short of the end it passes what is left.
    EXPECT_EQ(wrapper->SkipFrames(50), 19);
    EXPECT_EQ(wrapper->SkipFrames(5), 0);

    for (int32_t count : {1, 13, 14, 15, 37}) {
        auto fresh = Loaded(path);
        ASSERT_TRUE(fresh);
        ASSERT_EQ(fresh->SkipFrames(count), count);
        CYUVFrame* next = fresh->GetNextFrame(1);
        ASSERT_NE(next, nullptr);
        ExpectSamePicture(Take(*next), all[count], "after skipping " + std::to_string(count));
    }
}

TEST(DecoderWraperSkip, SkipFramesAfterResetFindsTheStartAgain) {
    REQUIRE_FFMPEG();
    std::string path = Mpeg2encInterlacedStream();
    if (!Mpeg2encAvailable()) GTEST_SKIP() << "mpeg2enc not available";
    ASSERT_FALSE(path.empty());
    std::vector<Snapshot> all = DecodeAll(path);
    ASSERT_GE(all.size(), 12u);
    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    for (int i = 0; i < 3; ++i) ASSERT_NE(wrapper->GetNextFrame(1), nullptr);
    wrapper->Reset();
    ASSERT_EQ(wrapper->SkipFrames(10), 10);
    CYUVFrame* frame = wrapper->GetNextFrame(1);
    ASSERT_NE(frame, nullptr);
    ExpectSamePicture(Take(*frame), all[10], "skip after Reset");
}

TEST(DecoderWraperLarge, APictureOfMegabytesAfterTheRefillPointDecodesWhole) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegHugePicture();
    std::string reference = FfmpegHugePictureYuv();
    ASSERT_FALSE(path.empty() || reference.empty());
    std::vector<uint8_t> stream = ReadFileBytes(path);
    ASSERT_GT(stream.size(), 2000000u);
    std::vector<YuvImage> expected = ReadRawYuv420(reference, 1920, 1080);
    ASSERT_EQ(expected.size(), 1u);
    // Bytes without start codes in front put the picture right at the refill point.
    for (size_t lead : {size_t(0), size_t(639990), size_t(640010)}) {
        std::vector<uint8_t> bytes(lead, 0x5A);
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        std::string file = WorkPath("headers_huge_shifted.m2v");
        ASSERT_TRUE(WriteFileBytes(file, bytes));
        auto wrapper = Loaded(file);
        ASSERT_TRUE(wrapper) << lead;
        CYUVFrame* frame = wrapper->GetNextFrame(1);
        ASSERT_NE(frame, nullptr) << lead;
        StreamLayout layout = ReadStreamLayout(stream);
        const CodedPicture& coded = layout.pictures.at(0);
        EXPECT_EQ(frame->pictureBytes, static_cast<int32_t>(coded.end - coded.pictureStart))
            << lead;
        // Band by band, so that a picture cut short shows in its last rows.
        for (int band = 0; band < 1080; band += 120) {
            PlaneImage ours =
                CopyPlane(frame->Y.data + band * frame->Y.pitch, frame->Y.pitch, 1920, 120);
            PlaneImage theirs;
            theirs.width = 1920;
            theirs.height = 120;
            theirs.samples.assign(expected[0].planes[0].samples.begin() + band * 1920,
                                  expected[0].planes[0].samples.begin() + (band + 120) * 1920);
            EXPECT_GT(PlanePsnr(ours, theirs), 40.0) << "lead " << lead << " band " << band;
        }
        RemoveFile(file);
    }
}

TEST(DecoderWraperClose, NothingIsDecodedAfterClosing) {
    REQUIRE_FFMPEG();
    std::string path = FfmpegMpeg1Stream();
    ASSERT_FALSE(path.empty());
    auto wrapper = Loaded(path);
    ASSERT_TRUE(wrapper);
    ASSERT_NE(wrapper->GetNextFrame(1), nullptr);
    EXPECT_EQ(wrapper->CloseDecoder(), 0);
    EXPECT_EQ(wrapper->GetNextFrame(1), nullptr);
    EXPECT_EQ(wrapper->SkipFrame(), 1);
    EXPECT_EQ(wrapper->SkipFrames(3), 0);
    EXPECT_EQ(wrapper->CloseDecoder(), 0);
}

}  // namespace
}  // namespace test
}  // namespace d2u
