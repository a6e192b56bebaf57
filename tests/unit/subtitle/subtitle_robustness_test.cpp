// Random, broken and cut subtitle input: nothing may crash, hang or write outside the host
// frame's documented area (RGB: x2 x y2 of the record, at most 720 x 576 unscaled and the
// maximum size scaled; YUV: the planes). Host frames are exactly that large and carry guard
// bytes; the sanitizer build also sees every stray access.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>

#include "d2udir.h"
#include "subtitle_scene.h"
#include "subtitle_test_records.h"

namespace d2u {
namespace test {
namespace {

int32_t InterestingValue(std::mt19937& random) {
    static const int32_t kValues[] = {INT_MIN, -77, -1,   0,     1,     2,      3,   75,
                                      76,      77,  359,  360,   575,   576,    577, 719,
                                      720,     721, 1000, 65536, 65537, INT_MAX};
    if (random() % 3 == 0) return static_cast<int32_t>(random() % 800);
    return kValues[random() % (sizeof kValues / sizeof kValues[0])];
}

// A record that starts out valid and gets some of its header fields and data bytes spoilt.
std::vector<uint8_t> RandomRecord(std::mt19937& random, float start) {
    int32_t width = 1 + static_cast<int32_t>(random() % 120);
    int32_t height = 1 + static_cast<int32_t>(random() % 60);
    IndexRows rows =
        RandomPicture(random(), width, height, 1 + static_cast<int32_t>(random() % 80));
    RecordFields fields = FieldsForPicture(rows, static_cast<int32_t>(random() % 600),
                                           static_cast<int32_t>(random() % 500), start,
                                           start + static_cast<float>(random() % 3));
    for (int c = 0; c < 4; ++c) {
        fields.colour[c] = static_cast<uint32_t>(random());
        fields.visibility[c] = static_cast<int32_t>(random() % 3) - 1;
    }
    EncodedPicture picture = EncodePicture(rows, random() % 2 == 0);
    int32_t* spoilable[] = {
        &fields.x1,        &fields.y1,     &fields.x2,         &fields.y2,
        &fields.width,     &fields.height, &fields.headerSize, &fields.bottomFieldOffset,
        &fields.recordSize};
    int spoilt = static_cast<int>(random() % 4);
    for (int i = 0; i < spoilt; ++i) *spoilable[random() % 9] = InterestingValue(random);
    if (random() % 4 == 0) {
        for (auto& byte : picture.top) {
            if (random() % 8 == 0) byte = static_cast<uint8_t>(random());
        }
    }
    // Keep recordSize honest unless it was spoilt on purpose.
    return BuildRecord(fields, picture.top, picture.bottom);
}

std::vector<uint8_t> RandomFile(std::mt19937& random) {
    std::vector<uint8_t> bytes;
    float start = 0.0f;
    int records = 1 + static_cast<int>(random() % 5);
    for (int i = 0; i < records; ++i) {
        std::vector<uint8_t> record = RandomRecord(random, start);
        bytes.insert(bytes.end(), record.begin(), record.end());
        start += static_cast<float>(random() % 4);
    }
    if (random() % 3 == 0) bytes.resize(random() % (bytes.size() + 1));  // cut anywhere
    if (random() % 5 == 0) {
        for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<uint8_t>(random()));
    }
    return bytes;
}

struct Scaling {
    bool set;
    double x, y;
    int32_t maxWidth, maxHeight;
};

Scaling RandomScaling(std::mt19937& random) {
    static const double kFactors[] = {0.0, 0.3, 0.5, 0.995, 1.0, 1.02, 1.5, 2.0, 3.7, 50.0};
    Scaling scaling{random() % 2 == 0, kFactors[random() % 10], kFactors[random() % 10],
                    1 + static_cast<int32_t>(random() % 720),
                    1 + static_cast<int32_t>(random() % 576)};
    return scaling;
}

bool AnyByteOtherThan(const GuardedBuffer& buffer, uint8_t fill) {
    const uint8_t* data = const_cast<GuardedBuffer&>(buffer).Data();
    return std::any_of(data, data + buffer.Size(), [fill](uint8_t byte) { return byte != fill; });
}

void Refill(GuardedBuffer& buffer, uint8_t fill) {
    std::memset(buffer.Data(), fill, buffer.Size());
}

// Puts a run of frames onto exactly-sized host frames; returns false at the first stray write.
// Counts the frames that were drawn on.
bool DrawAll(const std::string& path, FrameKind kind, const Scaling& scaling, std::mt19937& random,
             int& framesDrawn) {
    SubtitleHandle handle;
    if (LoadFor(kind, path, 10.0f, handle) != 0) return false;
    // RGB frames must cover x2, y2: 720 x 576 unscaled, the maximum size once scaled.
    int32_t width = 720, height = 576;
    if (scaling.set) {
        D2uDirSubSetMaxSize(handle.Get(), scaling.maxWidth, scaling.maxHeight);
        D2uDirSubSetScaleFactors(handle.Get(), scaling.x, scaling.y);
        width = scaling.maxWidth;
        height = scaling.maxHeight;
    }
    if (kind == FrameKind::kYuv) {
        width = 2 + static_cast<int32_t>(random() % 400);
        height = 2 + static_cast<int32_t>(random() % 300);
    }
    const int32_t bytes = kind == FrameKind::kRgb24 ? 3 : 4;
    HostYuvFrame yuv(kind == FrameKind::kYuv ? width : 2, kind == FrameKind::kYuv ? height : 2, 1,
                     2);
    HostRgbFrame rgb(kind == FrameKind::kYuv ? 1 : width, kind == FrameKind::kYuv ? 1 : height,
                     bytes, 1);
    rgb.stride = rgb.width * bytes;
    rgb.pixels = GuardedBuffer(static_cast<size_t>(rgb.stride) * rgb.height, 1);
    int32_t frame = 0;
    for (int put = 0; put < 12; ++put) {
        frame += static_cast<int32_t>(random() % 8);
        if (kind == FrameKind::kYuv) {
            D2uDirPutSubtitleYUV(handle.Get(), yuv.Frame(), frame);
            if (!yuv.y.GuardsIntact() || !yuv.u.GuardsIntact() || !yuv.v.GuardsIntact()) {
                return false;
            }
            if (AnyByteOtherThan(yuv.y, 1)) {
                ++framesDrawn;
                Refill(yuv.y, 1);
                Refill(yuv.u, 2);
                Refill(yuv.v, 2);
            }
        } else {
            D2uRgbFrame descriptor = rgb.Descriptor();
            D2uDirPutSubtitleRGB(handle.Get(), &descriptor, frame);
            if (!rgb.pixels.GuardsIntact()) return false;
            if (AnyByteOtherThan(rgb.pixels, 1)) {
                ++framesDrawn;
                Refill(rgb.pixels, 1);
            }
        }
    }
    return true;
}

TEST(SubtitleRobustness, RandomFilesNeverWriteOutsideTheHostFrame) {
    std::mt19937 random(8);
    const FrameKind kinds[] = {FrameKind::kRgb24, FrameKind::kRgb32, FrameKind::kYuv};
    int framesDrawn = 0;
    for (int file = 0; file < 60; ++file) {
        std::vector<uint8_t> bytes = RandomFile(random);
        std::string path = WriteSubtitleFile("random.sub", {bytes});
        Scaling scaling = RandomScaling(random);
        FrameKind kind = kinds[file % 3];
        ASSERT_TRUE(DrawAll(path, kind, scaling, random, framesDrawn))
            << "file " << file << " " << KindName(kind);
    }
    // The input is spoilt only in part: plenty of frames must really have been drawn on.
    EXPECT_GT(framesDrawn, 60);
}

TEST(SubtitleRobustness, FilesCutAtAnyByteEndCleanly) {
    std::mt19937 random(9);
    std::vector<uint8_t> whole;
    for (int i = 0; i < 3; ++i) {
        Scene scene;
        scene.rows = RandomPicture(random(), 50, 21, 30);
        scene.fields = FieldsForPicture(scene.rows, 10 * i, 5 * i, static_cast<float>(i),
                                        static_cast<float>(i) + 0.5f);
        for (int c = 0; c < 4; ++c)
            scene.fields.colour[c] = ColourEntry(static_cast<uint8_t>(40 + c));
        std::vector<uint8_t> record = scene.Record();
        whole.insert(whole.end(), record.begin(), record.end());
    }
    int framesDrawn = 0;
    for (size_t cut = 0; cut <= whole.size(); cut += 1 + cut / 8) {
        std::string path = WriteSubtitleFile(
            "cut.sub", {std::vector<uint8_t>(whole.begin(), whole.begin() + cut)});
        Scaling none{false, 1.0, 1.0, 0, 0};
        ASSERT_TRUE(
            DrawAll(path, cut % 2 ? FrameKind::kRgb24 : FrameKind::kYuv, none, random, framesDrawn))
            << "cut at " << cut;
    }
    EXPECT_GT(framesDrawn, 10);
}

TEST(SubtitleRobustness, RandomRecordsFromMemoryNeverWriteOutside) {
    std::mt19937 random(10);
    for (int round = 0; round < 40; ++round) {
        FrameKind kind = round % 2 ? FrameKind::kRgb32 : FrameKind::kYuv;
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, "/nonexistent/random_memory.sub", 5.0f, handle), 0);
        HostYuvFrame yuv(100, 60, 1, 2);
        HostRgbFrame rgb(720, 576, 4, 1);
        rgb.stride = 720 * 4;
        rgb.pixels = GuardedBuffer(720u * 576u * 4u, 1);
        for (int32_t frame = 0; frame < 60; frame += 3) {
            std::vector<uint8_t> record = RandomRecord(random, static_cast<float>(frame) / 5.0f);
            // The data exactly as long as the header claims (within the record area), so that
            // any read past it shows up.
            int64_t claimed = static_cast<int64_t>(static_cast<int32_t>(
                                  record[72] | record[73] << 8 | record[74] << 16 |
                                  static_cast<uint32_t>(record[75]) << 24)) -
                              76;
            size_t dataSize = claimed > 0 && claimed <= 65460 ? static_cast<size_t>(claimed) : 0;
            std::vector<uint8_t> data(record.begin() + 76, record.end());
            data.resize(dataSize, 0x5A);
            data.shrink_to_fit();
            std::vector<uint8_t> memory(record.begin(), record.begin() + 76);
            const uint8_t* pointer = data.empty() ? nullptr : data.data();
            memory.resize(76 + sizeof pointer);
            std::memcpy(memory.data() + 76, &pointer, sizeof pointer);
            D2uDirSetSubtitleData(handle.Get(), memory.data());
            if (kind == FrameKind::kYuv) {
                D2uDirPutSubtitleYUV(handle.Get(), yuv.Frame(), frame);
                ASSERT_TRUE(yuv.y.GuardsIntact() && yuv.u.GuardsIntact() && yuv.v.GuardsIntact());
            } else {
                D2uRgbFrame descriptor = rgb.Descriptor();
                D2uDirPutSubtitleRGB(handle.Get(), &descriptor, frame);
                ASSERT_TRUE(rgb.pixels.GuardsIntact());
            }
            // The read, if any, happened during the put: the memory may go now.
            D2uDirSetSubtitleData(handle.Get(), nullptr);
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
