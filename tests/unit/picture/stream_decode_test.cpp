// Whole streams through the header reader and the picture decoder, compared with ffmpeg: the
// kinds the conformance streams lack (field pictures with every prediction mode, concealment
// vectors, dual prime in frame pictures, very tall pictures, slice extras and stuffing).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "decoder/motion_compensator.h"
#include "decoder/mpeg_decoder.h"
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"
#include "support/test_env.h"
#include "support/yuv_image.h"
#include "synthetic_stream_writer.h"

namespace d2u {
namespace test {
namespace {

struct DecodedStream {
    std::vector<YuvImage> frames;  // display order
    int width = 0;
    int height = 0;
    // Predicted macroblocks of P and B pictures by [field picture][motion_type].
    int modes[2][4] = {};
    std::vector<int> statuses;  // getMacroblocks per frame, decoding order
};

YuvImage Snapshot(const CYUVFrame& frame) {
    YuvImage image;
    const int w = frame.width;
    const int h = frame.height;
    image.planes[0] = CopyPlane(frame.Y.data, frame.Y.pitch, w, h);
    image.planes[1] = CopyPlane(frame.U.data, frame.U.pitch, (w + 1) / 2, (h + 1) / 2);
    image.planes[2] = CopyPlane(frame.V.data, frame.V.pitch, (w + 1) / 2, (h + 1) / 2);
    return image;
}

void CountModes(const CYUVFrame& frame, bool fieldPicture, int modes[2][4]) {
    if (!frame.mbInfo || frame.pictureType == static_cast<int32_t>(kPictureI)) return;
    const uint32_t predicted = kMacroblockMotionForward | kMacroblockMotionBackward;
    for (int i = 0; i < frame.mbInfo->columns * frame.mbInfo->rows; ++i) {
        int32_t words[2];
        std::memcpy(words, frame.mbInfo->entries + i * MacroblockInfoBlock::kEntryBytes,
                    sizeof(words));
        if ((words[0] & predicted) && words[1] >= 0 && words[1] < 4)
            ++modes[fieldPicture][words[1]];
    }
}

// Drives the decoder the way the wrapper does, but keeps every picture (no leading B pictures
// dropped) and puts them into display order.
DecodedStream DecodeStreamFile(const std::string& path) {
    DecodedStream result;
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;
    CMpegDecoder decoder;
    if (source.Open(path.c_str()) != 0) return result;
    reader.Init(&source, &headers);
    if (reader.getHeader() != 1 || decoder.Init(&reader, &source, &headers) != 0) return result;
    if (!headers.sequence.mpeg2) headers.sequence.progressive_sequence = 1;
    result.width = static_cast<int>(headers.sequence.horizontal_size);
    result.height = static_cast<int>(headers.sequence.vertical_size);
    std::vector<YuvImage> pendingReference;  // the last I or P picture, shown after B ones
    for (;;) {
        const bool fieldPicture = headers.picture.picture_structure != kFramePicture;
        result.statuses.push_back(decoder.getMacroblocks());
        const CYUVFrame& current = *decoder.currentFrame;
        CountModes(current, fieldPicture, result.modes);
        if (headers.picture.picture_coding_type == kPictureB) {
            result.frames.push_back(Snapshot(current));
        } else {
            result.frames.insert(result.frames.end(), pendingReference.begin(),
                                 pendingReference.end());
            pendingReference.assign(1, Snapshot(current));
            decoder.olderReference->CopyFrom(*decoder.newerReference);
            decoder.newerReference->CopyFrom(current);
        }
        if (source.NeedsFill()) source.FillBuffer();
        if (reader.getHeader() != 1) break;
    }
    result.frames.insert(result.frames.end(), pendingReference.begin(), pendingReference.end());
    return result;
}

std::string FfmpegErrors(const std::string& path) {
    return CaptureCommand("sh -c \"ffmpeg -nostdin -v error -threads 1 -i '" + path +
                          "' -f null - 2>&1 >/dev/null\"");
}

// Expects every frame and plane at minimumPsnr or better against ffmpeg.
void ExpectMatchesFfmpeg(const std::string& path, double minimumPsnr, DecodedStream* out) {
    ASSERT_FALSE(path.empty()) << "the stream could not be made";
    const std::string name = path.substr(path.rfind('/') + 1);
    DecodedStream decoded = DecodeStreamFile(path);
    std::vector<YuvImage> expected = ReferenceDecoding(path, decoded.width, decoded.height);
    ASSERT_GT(expected.size(), 0u) << "ffmpeg could not decode " << name;
    ASSERT_EQ(decoded.frames.size(), expected.size()) << name;
    for (size_t i = 0; i < expected.size(); ++i) {
        for (int p = 0; p < 3; ++p) {
            EXPECT_GE(PlanePsnr(decoded.frames[i].planes[p], expected[i].planes[p]), minimumPsnr)
                << name << " frame " << i << " plane " << p;
        }
    }
    if (out) *out = std::move(decoded);
}

// Saves a stream a test wrote, expects ffmpeg to decode it without complaint, and the decoder
// to give ffmpeg's frames sample for sample, with every picture passed whole.
void ExpectWrittenStreamMatchesFfmpeg(const std::string& name, const std::vector<uint8_t>& bytes,
                                      DecodedStream* out = nullptr) {
    const std::string path = WorkPath(name);
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    RemoveFile(path + ".ref.yuv");  // the reference must follow the stream just written
    EXPECT_EQ(FfmpegErrors(path), "") << name;
    DecodedStream decoded;
    ExpectMatchesFfmpeg(path, kIdenticalPsnr, &decoded);
    for (int status : decoded.statuses) EXPECT_EQ(status, 0) << name;
    if (out) *out = std::move(decoded);
}

constexpr int kWidth = 128;
constexpr int kHeight = 128;
constexpr int kColumns = kWidth / 16;
constexpr int kTop = SyntheticStreamWriter::kTopField;
constexpr int kBottom = SyntheticStreamWriter::kBottomField;
constexpr int kFrame = SyntheticStreamWriter::kFramePicture;

// Random field and frame pictures with every kind of macroblock, whose vectors all stay inside
// the references.
class RandomStreamMaker {
public:
    RandomStreamMaker(unsigned seed, bool concealmentVectors)
        : rng(seed), concealment(concealmentVectors) {}

    std::vector<uint8_t> Make() {
        w.SequenceHeader(kWidth, kHeight, false);
        // Frame 0: an I top field, then a P bottom field that can only look at the top field.
        Picture(1, 0, kTop);
        Picture(2, 0, kBottom, true);
        // Frame 2: P fields with every mode; the bottom field also sees the top one.
        Picture(2, 2, kTop);
        Picture(2, 2, kBottom);
        // Frame 1: B fields between frames 0 and 2, bottom field first.
        Picture(3, 1, kBottom);
        Picture(3, 1, kTop);
        // Frames 4 and 3: frame pictures predicting from the field-coded frames.
        Picture(2, 4, kFrame);
        Picture(3, 3, kFrame);
        w.SequenceEnd();
        return w.Bytes();
    }

private:
    int Random(int low, int high) {
        return low + static_cast<int>(rng() % static_cast<unsigned>(high - low + 1));
    }

    // Whether a block of `height` luma rows at (x, row) of a grid of gridRows rows, moved by
    // the vector, reads only inside the reference; its chroma block then does too.
    static bool Inside(int x, int row, int height, int gridRows, int vx, int vy) {
        auto fits = [](int start, int size, int half, int limit) {
            return start >= 0 && start + size - 1 + half < limit;
        };
        return fits(x + (vx >> 1), 16, vx & 1, kWidth) &&
               fits(row + (vy >> 1), height, vy & 1, gridRows);
    }

    void RandomVector(int x, int row, int height, int gridRows, int out[2]) {
        out[0] = out[1] = 0;
        for (int attempt = 0; attempt < 50; ++attempt) {
            const int vx = Random(-8, 8);
            const int vy = Random(-8, 8);
            if (!Inside(x, row, height, gridRows, vx, vy)) continue;
            out[0] = vx;
            out[1] = vy;
            return;
        }
    }

    // In pictures with concealment vectors, each intra macroblock carries one as well.
    void Intra(int x, int row, int gridRows) {
        int luma[4];
        for (int& v : luma) v = Random(16, 235);
        int vector[2];
        RandomVector(x, row, 16, gridRows, vector);
        w.Intra(luma, Random(64, 192), Random(64, 192), vector, Random(0, 1));
    }

    bool DualPrime(MotionMacroblock& mb, int x, int row, int parity) {
        // (v * m) // 2 with halves away from zero, m = 1.
        auto scale = [](int v) { return v >= 0 ? (v + 1) >> 1 : -((1 - v) >> 1); };
        for (int attempt = 0; attempt < 50; ++attempt) {
            const int vx = Random(-6, 6), vy = Random(-6, 6);
            const int dmx = Random(-1, 1), dmy = Random(-1, 1);
            const int ox = scale(vx) + dmx;
            const int oy = scale(vy) + (parity == 0 ? -1 : 1) + dmy;
            if (!Inside(x, row, 16, kHeight / 2, vx, vy) ||
                !Inside(x, row, 16, kHeight / 2, ox, oy))
                continue;
            mb.motionType = 3;
            mb.vector[0][0][0] = vx;
            mb.vector[0][0][1] = vy;
            mb.dmvector[0] = dmx;
            mb.dmvector[1] = dmy;
            return true;
        }
        return false;
    }

    // Frame vectors, or in field pictures field (16x16) or 16x8 prediction; onlyParity >= 0
    // fixes the field selected.
    void Vectors(MotionMacroblock& mb, int x, int row, bool field, int onlyParity) {
        mb.motionType = field ? Random(1, 2) : 1;
        const int height = mb.motionType == 2 ? 8 : 16;
        for (int s = 0; s < 2; ++s) {
            for (int r = 0; r < 2; ++r) {
                mb.fieldSelect[r][s] = onlyParity >= 0 ? onlyParity : Random(0, 1);
                RandomVector(x, row + (height == 8 ? 8 * r : 0), height,
                             field ? kHeight / 2 : kHeight, mb.vector[r][s]);
            }
        }
    }

    // firstFieldOnly: the second field of an I frame, which has no same-parity reference.
    void Picture(int type, int temporalReference, int structure, bool firstFieldOnly = false) {
        const bool field = structure != kFrame;
        const int gridRows = field ? kHeight / 2 : kHeight;
        const int parity = structure == kBottom ? 1 : 0;
        w.PictureHeader(type, temporalReference, structure, !field, concealment);
        for (int mbRow = 0; mbRow < gridRows / 16; ++mbRow) {
            w.Slice(mbRow, 0, mbRow % 3);  // with extra slice information in some
            bool previousIntra = false;
            for (int column = 0; column < kColumns; ++column) {
                const int x = column * 16;
                const int row = mbRow * 16;
                const int choice = type == 1 ? 0 : Random(0, 9);
                if (choice == 0) {
                    Intra(x, row, gridRows);
                    previousIntra = true;
                    continue;
                }
                // Skipped: not at a slice end, in B pictures never right after intra.
                const bool edge = column == 0 || column == kColumns - 1;
                if (choice == 1 && !edge && !firstFieldOnly && !(type == 3 && previousIntra)) {
                    w.Skip(1);
                    continue;
                }
                previousIntra = false;
                MotionMacroblock mb;
                mb.codedLuma = Random(0, 2) == 0;
                mb.lumaNegative = Random(0, 1) == 1;
                if (type == 3) {
                    const int direction = Random(0, 2);
                    mb.forward = direction != 1;
                    mb.backward = direction != 0;
                    Vectors(mb, x, row, field, -1);
                } else if (choice == 2 && !firstFieldOnly) {
                    mb.forward = false;  // no motion compensation
                    mb.codedLuma = true;
                } else if (!(choice == 3 && field && !firstFieldOnly &&
                             DualPrime(mb, x, row, parity))) {
                    Vectors(mb, x, row, field, firstFieldOnly ? 1 - parity : -1);
                }
                w.Motion(mb);
            }
        }
    }

    std::mt19937 rng;
    bool concealment;
    SyntheticStreamWriter w;
};

TEST(WrittenStreams, FieldPicturesWithEveryPredictionModeMatchFfmpeg) {
    // The last stream also has concealment vectors, which the next macroblock of the slice
    // predicts its own vector from.
    for (unsigned seed : {1u, 2u, 3u}) {
        const std::string name = "picture_fields_" + std::to_string(seed) + ".m2v";
        DecodedStream decoded;
        ExpectWrittenStreamMatchesFfmpeg(name, RandomStreamMaker(seed, seed == 3).Make(), &decoded);
        EXPECT_EQ(decoded.frames.size(), 5u);
        EXPECT_GT(decoded.modes[1][kMotionField], 0);
        EXPECT_GT(decoded.modes[1][kMotion16x8], 0);
        EXPECT_GT(decoded.modes[1][kMotionDualPrime], 0);
        EXPECT_GT(decoded.modes[0][kMotionFrame], 0);
    }
}

TEST(WrittenStreams, TallPictureRowsComeFromTheSliceVerticalPositionExtension) {
    // 2816 lines: 176 macroblock rows, the last 48 addressed through the extension; some
    // slices carry extra information bytes.
    SyntheticStreamWriter w;
    w.SequenceHeader(32, 2816, true);
    w.PictureHeader(1, 0, kFrame, true);
    for (int row = 0; row < 176; ++row) {
        w.Slice(row, 0, row % 3);
        for (int column = 0; column < 2; ++column) {
            const int value = 16 + (row * 7 + column * 31) % 220;
            const int luma[4] = {value, 255 - value, value / 2, 128};
            w.Intra(luma, value, 255 - value);
        }
    }
    w.SequenceEnd();
    ExpectWrittenStreamMatchesFfmpeg("picture_tall.m2v", w.Bytes());
}

// Damaged copies of a written stream with every field-picture mode and concealment vectors:
// byte flips, cuts and overwritten runs decode to the end without touching memory the decoder
// does not own (this runs under AddressSanitizer too). The API tests damage encoded streams.
TEST(WrittenStreams, DamagedFieldPicturesNeverBreakTheDecoder) {
    const std::vector<uint8_t> original = RandomStreamMaker(4, true).Make();
    const std::string path = WorkPath("picture_damaged.m2v");
    std::mt19937 rng(77);
    for (int trial = 0; trial < 150; ++trial) {
        std::vector<uint8_t> damaged = original;
        if (trial % 3 == 0) {
            for (int i = 0; i < 1 + trial % 20; ++i)
                damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        } else if (trial % 3 == 1) {
            damaged.resize(40 + rng() % (damaged.size() - 40));
        } else {
            const size_t at = rng() % damaged.size();
            for (size_t i = at; i < damaged.size() && i < at + 64; ++i)
                damaged[i] = static_cast<uint8_t>(rng());
        }
        ASSERT_TRUE(WriteFileBytes(path, damaged));
        DecodeStreamFile(path);
    }
}

TEST(EncodedStreams, Mpeg2encDualPrimeInFramePicturesMatchesFfmpeg) {
    DecodedStream decoded;
    ExpectMatchesFfmpeg(
        CachedArtifact("picture_mpeg2enc_dualprime.m2v",
                       "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x128:rate=25 "
                       "-frames:v 20 -vf setfield=tff -f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 "
                       "-I 1 --dualprime-mpeg2 -R 0 -b 1500 -o {out}"),
        50.0, &decoded);
    EXPECT_GT(decoded.modes[0][kMotionField], 0);
    EXPECT_GT(decoded.modes[0][kMotionDualPrime], 0);
}

// Every slice of an MPEG-1 stream rewritten with two extra information bytes in its header and
// two macroblock_stuffing codewords before its first macroblock: 40 bits, so the padding at the
// slice's end stays as it was.
std::vector<uint8_t> WithSliceExtrasAndStuffing(const std::vector<uint8_t>& stream) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) starts.push_back(i);
    }
    starts.push_back(stream.size());
    std::vector<uint8_t> out(stream.begin(), stream.begin() + static_cast<long>(starts[0]));
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        const size_t begin = starts[k];
        const size_t end = starts[k + 1];
        const uint8_t code = stream[begin + 3];
        const size_t header = code >= 0x01 && code <= 0xAF ? 4 : end - begin;
        out.insert(out.end(), stream.begin() + static_cast<long>(begin),
                   stream.begin() + static_cast<long>(begin + header));
        if (begin + header == end) continue;
        std::string bits;
        for (size_t n = begin + header; n < end; ++n)
            for (int b = 7; b >= 0; --b) bits += static_cast<char>('0' + ((stream[n] >> b) & 1));
        // After quantiser_scale: two extra bytes; after the final extra_bit_slice: stuffing.
        bits.insert(6,
                    "00000001111"
                    "00000001111");
        bits.insert(5,
                    "1"
                    "10100101"
                    "1"
                    "00111100");
        for (size_t n = 0; n < bits.size(); n += 8)
            out.push_back(static_cast<uint8_t>(std::stoi(bits.substr(n, 8), nullptr, 2)));
    }
    return out;
}

TEST(EncodedStreams, Mpeg1SliceExtrasAndMacroblockStuffingArePassedOver) {
    const std::string plain = CachedArtifact(
        "picture_mpeg1_plain.m1v",
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 6 "
        "-c:v mpeg1video -bf 1 -g 6 -q:v 4 -f mpeg1video {out}");
    ASSERT_FALSE(plain.empty());
    const std::string stuffed = WorkPath("picture_mpeg1_stuffed.m1v");
    ASSERT_TRUE(WriteFileBytes(stuffed, WithSliceExtrasAndStuffing(ReadFileBytes(plain))));
    EXPECT_EQ(FfmpegErrors(stuffed), "");
    const DecodedStream expected = DecodeStreamFile(plain);
    const DecodedStream decoded = DecodeStreamFile(stuffed);
    ASSERT_EQ(decoded.frames.size(), expected.frames.size());
    ASSERT_EQ(decoded.frames.size(), 6u);
    for (size_t i = 0; i < decoded.frames.size(); ++i)
        EXPECT_EQ(MinPsnr(decoded.frames[i], expected.frames[i]), kIdenticalPsnr) << i;
}

}  // namespace
}  // namespace test
}  // namespace d2u
