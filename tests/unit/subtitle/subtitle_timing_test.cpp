#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "d2udir.h"
#include "support/subtitle_scenes.h"

namespace d2u {
namespace test {
namespace {

struct Kind {
    const char* name;
    int32_t rgb, bitsPerPixel, bytesPerPixel;  // the last one of the host frame's first plane
    int32_t chromaFormat;                      // of YUV frames: 1 is 4:2:0, 2 is 4:2:2
};
const Kind kKinds[] = {{"RGB 24", 1, 24, 3, 0},
                       {"RGB 32", 1, 32, 4, 0},
                       {"YUV 4:2:0", 0, 32, 1, 1},
                       {"YUV 4:2:2", 0, 32, 1, 2}};

// A 720 x 48 host frame, as wide as the screen (so that a record at its right edge meets the
// chroma clipping), filled with 7 (YUV chroma: 200), its rows with spare bytes and each plane
// between guard bytes: comparing whole planes also shows writes outside the picture.
struct HostFrame {
    static constexpr int32_t kWidth = 720, kHeight = 48;
    static constexpr size_t kGuard = 64;

    explicit HostFrame(const Kind& frameKind) : kind(frameKind) {
        rgb.stride = kWidth * kind.bytesPerPixel + 8;  // also the pitch of Y
        rgb.data = AddPlane(rgb.stride, kHeight, 7);
        if (kind.rgb) return;
        yuv.Y = D2uPlane{kWidth, kHeight, rgb.stride, rgb.data};
        const int32_t chromaRows = kHeight / (3 - kind.chromaFormat);
        for (D2uPlane* chroma : {&yuv.U, &yuv.V}) {
            *chroma = D2uPlane{kWidth / 2, chromaRows, kWidth / 2 + 5,
                               AddPlane(kWidth / 2 + 5, chromaRows, 200)};
        }
        yuv.width = kWidth;
        yuv.height = kHeight;
        yuv.chromaFormat = kind.chromaFormat;
    }

    uint8_t* AddPlane(int32_t rowPitch, int32_t rows, uint8_t fill) {
        pitch[planes.size()] = rowPitch;
        planes.emplace_back(static_cast<size_t>(rowPitch) * rows + 2 * kGuard, fill);
        std::fill_n(planes.back().begin(), kGuard, 0xA5);
        std::fill_n(planes.back().end() - kGuard, kGuard, 0xA5);
        return planes.back().data() + kGuard;
    }

    // Draws the scene (lying inside the frame) as it must come out: its drawn pixels at (x1, y1),
    // 0 in a fourth byte; on YUV frames every run gives its length / 2 chroma samples from x0 / 2
    // in chroma row line / 2 the value 128, but that of an odd height's last line (4:2:2 frames:
    // in both rows of that row's pair).
    void Model(const Scene& scene) {
        const RecordFields& f = scene.fields;
        auto at = [&](int plane, int32_t x, int32_t y) -> uint8_t* {
            return &planes[plane][kGuard + y * pitch[plane] + x * kind.bytesPerPixel];
        };
        for (int32_t y = 0; y < f.height; ++y) {
            for (int32_t x = 0; x < f.width; ++x) {
                const int32_t c = scene.rows[y][x];
                for (int32_t k = 0; f.Drawn(c) && k < kind.bytesPerPixel; ++k)
                    at(0, f.x1 + x, f.y1 + y)[k] = k < 3 ? f.Intensity(c) : 0;
            }
        }
        for (int32_t line = 0; !kind.rgb && line < f.height / 2 * 2; ++line) {
            for (const Run& run : RunsOfRow(scene.rows[line], scene.endCode)) {
                const int32_t length = run.length == 0 ? f.width - run.x0 : run.length;
                const int32_t row = f.y1 / 2 + line / 2, pair = kind.chromaFormat == 2 ? 2 : 1;
                for (int32_t i = run.x0 / 2; f.Drawn(run.colour) && i < run.x0 / 2 + length / 2;
                     ++i) {
                    for (int32_t r = row * pair; r < (row + 1) * pair; ++r) {
                        *at(1, f.x1 / 2 + i, r) = 128;
                        *at(2, f.x1 / 2 + i, r) = 128;
                    }
                }
            }
        }
    }

    const Kind& kind;
    D2uRgbFrame rgb{};
    D2uFrame yuv{};
    std::vector<std::vector<uint8_t>> planes;
    int32_t pitch[3] = {};
};

// The index of the scene that came out, -1 for an untouched frame, -2 for anything else.
int Shown(const Kind& kind, D2uHandle handle, int32_t frameNumber,
          const std::vector<Scene>& scenes) {
    HostFrame frame(kind);
    if ((kind.rgb ? D2uDirPutSubtitleRGB(handle, &frame.rgb, frameNumber)
                  : D2uDirPutSubtitleYUV(handle, &frame.yuv, frameNumber)) != 0) {
        return -2;
    }
    if (frame.planes == HostFrame(kind).planes) return -1;
    for (size_t i = 0; i < scenes.size(); ++i) {
        HostFrame model(kind);
        model.Model(scenes[i]);
        if (frame.planes == model.planes) return static_cast<int>(i);
    }
    return -2;
}

// Records handed over in memory, at 10 frames/s: without a record to read, the times move on one
// second per read, so a record is read by the first put past the time reached so far (frame 11
// moves them to 1 s to 2 s: the second record is read at frame 21), and shown to its end; a
// record still ahead keeps one handed over after it from being read.
TEST(SubtitleTiming, RecordsFromMemoryShowInTurnAndNotAfterTheirEnd) {
    std::vector<Scene> scenes = {MakeScene(RandomPicture(5, 25, 11, 9), 3, 5, 0.0f, 1.0f),
                                 MakeScene(RandomPicture(6, 33, 9, 9), 687, 30, 2.0f, 3.0f),
                                 MakeScene(RandomPicture(3, 20, 10, 9), 4, 4, 6.0f, 8.0f),
                                 MakeScene(RandomPicture(4, 20, 10, 9), 30, 20, 6.0f, 8.0f)};
    // As handed over: the header, then a pointer to the data, kept in a block of their own so
    // that a read past them shows under the sanitizer.
    std::vector<std::vector<uint8_t>> headers, data;
    for (const Scene& scene : scenes) {
        const std::vector<uint8_t> record = scene.Record();
        data.emplace_back(record.begin() + 76, record.end());
        const uint8_t* pointer = data.back().data();
        headers.emplace_back(record.begin(), record.begin() + 76);
        headers.back().resize(76 + sizeof pointer);
        std::memcpy(headers.back().data() + 76, &pointer, sizeof pointer);
    }
    const struct {
        int handOver;  // the record handed over before the frames, or -1
        int32_t first, last;
        int expected;
    } steps[] = {{-1, 0, 0, -1},  {0, 1, 10, 0},   {-1, 11, 11, -1},
                 {1, 12, 20, -1}, {-1, 21, 30, 1}, {-1, 31, 50, -1},
                 {2, 51, 51, -1}, {3, 52, 59, -1}, {-1, 60, 80, 2}};
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        D2uHandle handle = 0;
        ASSERT_EQ(D2uDirLoadSubtitle("/nonexistent/memory.sub", &handle, 10.0f, kind.rgb,
                                     kind.bitsPerPixel),
                  0);
        for (const auto& step : steps) {
            if (step.handOver >= 0) {
                EXPECT_EQ(D2uDirSetSubtitleData(handle, headers[step.handOver].data()), 0);
            }
            for (int32_t frame = step.first; frame <= step.last; ++frame)
                EXPECT_EQ(Shown(kind, handle, frame, scenes), step.expected) << frame;
        }
        D2uDirCloseSubtitle(&handle);
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
