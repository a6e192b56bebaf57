// Random, broken and cut subtitle input: nothing may crash, hang or write outside the host
// frame's documented area (RGB: x2 x y2 of the record, at most 720 x 576 unscaled and the
// maximum size scaled; YUV: the planes). Host frames are exactly that large and carry guard
// bytes; the sanitizer build also sees every stray access.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <optional>
#include <random>

#include "d2udir.h"
#include "subtitle_test_support.h"

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
    const auto width = static_cast<int32_t>(1 + random() % 120);
    const auto height = static_cast<int32_t>(1 + random() % 60);
    const auto maxRun = static_cast<int32_t>(1 + random() % 80);
    IndexRows rows = RandomPicture(random(), width, height, maxRun);
    const auto x1 = static_cast<int32_t>(random() % 600), y1 = static_cast<int32_t>(random() % 500);
    Scene scene = MakeScene(rows, x1, y1, start, start + static_cast<float>(random() % 3));
    RecordFields& f = scene.fields;
    for (int c = 0; c < 4; ++c) {
        f.colour[c] = static_cast<uint32_t>(random());
        f.visibility[c] = static_cast<int32_t>(random() % 3) - 1;
    }
    EncodeRows(scene.rows, random() % 2 == 0, scene.top, scene.bottom);
    const bool spoilData = random() % 4 == 0;
    int32_t* spoilable[] = {&f.x1,        &f.y1,     &f.x2,         &f.y2,
                            &f.width,     &f.height, &f.headerSize, &f.bottomFieldOffset,
                            &f.recordSize};
    for (auto spoilt = random() % 4; spoilt > 0; --spoilt) {
        *spoilable[random() % 9] = InterestingValue(random);
    }
    for (auto& byte : scene.top) {
        if (spoilData && random() % 8 == 0) byte = static_cast<uint8_t>(random());
    }
    return scene.Record();
}

std::vector<uint8_t> RandomFile(std::mt19937& random) {
    std::vector<uint8_t> bytes;
    float start = 0.0f;
    for (auto records = 1 + random() % 5; records > 0; --records) {
        std::vector<uint8_t> record = RandomRecord(random, start);
        bytes.insert(bytes.end(), record.begin(), record.end());
        start += static_cast<float>(random() % 4);
    }
    if (random() % 3 == 0) bytes.resize(random() % (bytes.size() + 1));  // cut at any byte
    if (random() % 5 == 0) {
        for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<uint8_t>(random()));
    }
    return bytes;
}

// Puts a run of frames onto host frames exactly as large as drawing may reach, scaled or not;
// false at the first write outside. Counts the frames drawn on.
bool DrawAll(const std::string& path, Kind kind, bool scaled, std::mt19937& random,
             int& framesDrawn) {
    SubtitleHandle handle;
    if (LoadFor(kind, path, 10.0f, handle) != 0) return false;
    auto width = 720u, height = 576u;
    if (scaled) {
        static const double kFactors[] = {0.0, 0.3, 0.5, 0.995, 1.0, 1.02, 1.5, 2.0, 3.7, 50.0};
        width = 1 + random() % 720;
        height = 1 + random() % 576;
        D2uDirSubSetMaxSize(handle.Get(), static_cast<int32_t>(width),
                            static_cast<int32_t>(height));
        D2uDirSubSetScaleFactors(handle.Get(), kFactors[random() % 10], kFactors[random() % 10]);
    }
    if (kind == Kind::kYuv) {
        width = 2 + random() % 400;
        height = 2 + random() % 300;
    }
    std::optional<HostFrame> frame;
    int32_t number = 0;
    for (int put = 0; put < 12; ++put) {
        if (!frame)
            frame.emplace(kind, static_cast<int32_t>(width), static_cast<int32_t>(height), 0);
        number += static_cast<int32_t>(random() % 8);
        frame->Put(handle.Get(), number);
        if (!frame->GuardsIntact()) return false;
        if (!frame->Untouched()) {
            ++framesDrawn;
            frame.reset();
        }
    }
    return true;
}

TEST(SubtitleRobustness, RandomFilesNeverWriteOutsideTheHostFrame) {
    std::mt19937 random(8);
    int framesDrawn = 0;
    for (int file = 0; file < 60; ++file) {
        std::string path = WriteSubtitleFile("random.sub", {RandomFile(random)});
        Kind kind = kAllKinds[file % 3];
        ASSERT_TRUE(DrawAll(path, kind, random() % 2 == 0, random, framesDrawn))
            << "file " << file << " " << KindName(kind);
    }
    // The input is spoilt only in part: plenty of frames must really have been drawn on.
    EXPECT_GT(framesDrawn, 60);
}

TEST(SubtitleRobustness, RandomRecordsFromMemoryNeverWriteOutside) {
    std::mt19937 random(10);
    for (int round = 0; round < 40; ++round) {
        Kind kind = round % 2 ? Kind::kRgb32 : Kind::kYuv;
        SubtitleHandle handle;
        ASSERT_EQ(LoadFor(kind, "/nonexistent/random_memory.sub", 5.0f, handle), 0);
        HostFrame frame(kind, kind == Kind::kYuv ? 100 : 720, kind == Kind::kYuv ? 60 : 576, 0);
        for (int32_t number = 0; number < 60; number += 3) {
            std::vector<uint8_t> record = RandomRecord(random, static_cast<float>(number) / 5.0f);
            // The data exactly as long as the header claims (within the record area), so that
            // any read past them shows up.
            int32_t recordSize;
            std::memcpy(&recordSize, record.data() + 72, 4);
            const int64_t claimed = static_cast<int64_t>(recordSize) - 76;
            MemoryRecord memory(record, claimed > 0 && claimed <= 65460 ? claimed : 0);
            D2uDirSetSubtitleData(handle.Get(), memory.Get());
            frame.Put(handle.Get(), number);
            ASSERT_TRUE(frame.GuardsIntact());
            // The read, if any, happened during the put: the memory may go now.
            D2uDirSetSubtitleData(handle.Get(), nullptr);
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
