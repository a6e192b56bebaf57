#include "stream_comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "decoder/motion_compensator.h"
#include "decoder/mpeg_decoder.h"
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

YuvImage Snapshot(const CYUVFrame& frame) {
    YuvImage image;
    const int w = frame.width;
    const int h = frame.height;
    image.planes[0] = CopyPlane(frame.Y.data, frame.Y.pitch, w, h);
    image.planes[1] = CopyPlane(frame.U.data, frame.U.pitch, (w + 1) / 2, (h + 1) / 2);
    image.planes[2] = CopyPlane(frame.V.data, frame.V.pitch, (w + 1) / 2, (h + 1) / 2);
    return image;
}

int CountDualPrime(const CYUVFrame& frame) {
    if (!frame.mbInfo || frame.pictureType != static_cast<int32_t>(kPictureP)) return 0;
    int count = 0;
    for (int i = 0; i < frame.mbInfo->columns * frame.mbInfo->rows; ++i) {
        const uint8_t* entry = frame.mbInfo->entries + i * MacroblockInfoBlock::kEntryBytes;
        int32_t words[2];
        std::memcpy(words, entry, sizeof(words));
        if (words[1] == kMotionDualPrime && (words[0] & kMacroblockMotionForward)) ++count;
    }
    return count;
}

}  // namespace

DecodedStream DecodeStreamFile(const std::string& path) {
    DecodedStream result;
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    CMpegDecoder decoder;
    if (source.Open(path.c_str()) != 0) return result;
    reader.Init(&source, &headers);
    if (reader.getHeader() != 1) return result;
    if (decoder.Init(&reader, &source, &headers) != 0) return result;
    if (!headers.sequence.mpeg2) headers.sequence.progressive_sequence = 1;
    result.width = static_cast<int>(headers.sequence.horizontal_size);
    result.height = static_cast<int>(headers.sequence.vertical_size);
    bool havePending = false;
    YuvImage pending;
    for (;;) {
        if (headers.picture.picture_structure != kFramePicture) ++result.fieldFrames;
        result.statuses.push_back(decoder.getMacroblocks());
        const CYUVFrame& current = *decoder.currentFrame;
        result.dualPrimeMacroblocks += CountDualPrime(current);
        if (headers.picture.picture_coding_type == kPictureB) {
            result.frames.push_back(Snapshot(current));
        } else {
            if (havePending) result.frames.push_back(pending);
            pending = Snapshot(current);
            havePending = true;
            decoder.olderReference->CopyFrom(*decoder.newerReference);
            decoder.newerReference->CopyFrom(current);
        }
        if (source.NeedsFill()) source.FillBuffer();
        if (reader.getHeader() != 1) break;
    }
    if (havePending) result.frames.push_back(pending);
    return result;
}

std::string ReferenceDecoding(const std::string& streamPath, const std::string& name) {
    return CachedArtifact(name + ".ref.yuv", "ffmpeg -nostdin -v error -y -threads 1 -i '" +
                                                 streamPath +
                                                 "' -fps_mode passthrough -f rawvideo "
                                                 "-pix_fmt yuv420p {out}");
}

std::string ReferenceDecoderErrors(const std::string& streamPath) {
    return CaptureCommand("sh -c \"ffmpeg -nostdin -v error -threads 1 -i '" + streamPath +
                          "' -f null - 2>&1 >/dev/null\"");
}

void ExpectMatchesReference(const std::string& name, const std::string& streamPath,
                            DecodedStream* out) {
    ASSERT_FALSE(streamPath.empty()) << "could not make " << name;
    std::string reference = ReferenceDecoding(streamPath, name);
    ASSERT_FALSE(reference.empty()) << "ffmpeg could not decode " << name;
    DecodedStream decoded = DecodeStreamFile(streamPath);
    std::vector<YuvImage> expected = ReadRawYuv420(reference, decoded.width, decoded.height);
    ASSERT_GT(expected.size(), 0u);
    ASSERT_EQ(decoded.frames.size(), expected.size()) << name;
    double worst[3] = {kIdenticalPsnr, kIdenticalPsnr, kIdenticalPsnr};
    for (size_t i = 0; i < expected.size(); ++i) {
        for (int p = 0; p < 3; ++p) {
            double psnr = PlanePsnr(decoded.frames[i].planes[p], expected[i].planes[p]);
            worst[p] = std::min(worst[p], psnr);
            EXPECT_GE(psnr, kMinimumPsnr) << name << " frame " << i << " plane " << p;
        }
    }
    std::printf("[ psnr     ] %-34s %3zu frames, lowest Y %6.2f U %6.2f V %6.2f dB\n", name.c_str(),
                expected.size(), worst[0], worst[1], worst[2]);
    if (out) *out = std::move(decoded);
}

}  // namespace test
}  // namespace d2u
