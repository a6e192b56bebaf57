#include "support/subtitle_scenes.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

constexpr uint8_t kGuardByte = 0xA5;

// Whether `size` bytes all hold `value`; memcmp keeps this fast in sanitizer builds too.
bool AllBytes(const uint8_t* bytes, size_t size, uint8_t value) {
    return size == 0 || (bytes[0] == value && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

}  // namespace

NibbleWriter& NibbleWriter::Put(uint32_t nibble) {
    if (highNext) {
        bytes.push_back(static_cast<uint8_t>((nibble & 15u) << 4));
    } else {
        bytes.back() = static_cast<uint8_t>(bytes.back() | (nibble & 15u));
    }
    highNext = !highNext;
    return *this;
}

NibbleWriter& NibbleWriter::Run(int32_t length, int32_t colour) {
    const int nibbles = length == 0 ? 4 : length < 4 ? 1 : length < 16 ? 2 : length < 64 ? 3 : 4;
    uint32_t code = static_cast<uint32_t>(length) << 2 | static_cast<uint32_t>(colour);
    for (int32_t i = nibbles - 1; i >= 0; --i) Put(code >> (4 * i));
    return *this;
}

NibbleWriter& NibbleWriter::EndRow(uint32_t filler) {
    return highNext ? *this : Put(filler);
}

IndexRows RandomPicture(uint32_t seed, int32_t width, int32_t height, int32_t maxRun) {
    std::mt19937 random(seed);
    IndexRows rows(height);
    for (auto& row : rows) {
        while (static_cast<int32_t>(row.size()) < width) {
            const auto colour = static_cast<int32_t>(random() % 4);
            const size_t length = 1 + random() % maxRun;
            row.resize(std::min<size_t>(row.size() + length, width), colour);
        }
    }
    return rows;
}

std::vector<Run> RunsOfRow(const std::vector<int32_t>& row, bool endCode) {
    std::vector<Run> runs;
    for (size_t x = 0; x < row.size(); ++x) {
        if (!runs.empty() && runs.back().colour == row[x] && runs.back().length < 255) {
            ++runs.back().length;
        } else {
            runs.push_back(Run{static_cast<int32_t>(x), 1, row[x]});
        }
    }
    if (endCode && !runs.empty()) {
        while (runs.size() > 1 && runs[runs.size() - 2].colour == runs.back().colour) {
            runs.pop_back();
        }
        runs.back().length = 0;
    }
    return runs;
}

void EncodeRows(const IndexRows& rows, bool endCode, std::vector<uint8_t>& top,
                std::vector<uint8_t>& bottom) {
    NibbleWriter fields[2];
    for (size_t y = 0; y < rows.size(); ++y) {
        for (const Run& run : RunsOfRow(rows[y], endCode))
            fields[y % 2].Run(run.length, run.colour);
        fields[y % 2].EndRow();
    }
    top = fields[0].bytes;
    bottom = fields[1].bytes;
}

static_assert(sizeof(RecordFields) == 76, "the header as stored");

std::vector<uint8_t> Scene::Record() const {
    std::vector<uint8_t> first = top, second = bottom;
    if (first.empty() && second.empty()) EncodeRows(rows, endCode, first, second);
    RecordFields header = fields;
    if (header.bottomFieldOffset < 0) header.bottomFieldOffset = 76 + int32_t(first.size());
    if (header.recordSize < 0) header.recordSize = 76 + int32_t(first.size() + second.size());
    std::vector<uint8_t> out(76);
    std::memcpy(out.data(), &header, 76);
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

Scene MakeScene(IndexRows rows, int32_t x1, int32_t y1, float start, float end) {
    Scene scene;
    RecordFields& f = scene.fields;
    f.height = static_cast<int32_t>(rows.size());
    f.width = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
    f.x1 = x1;
    f.y1 = y1;
    f.x2 = x1 + f.width;
    f.y2 = y1 + f.height;
    f.startTime = start;
    f.endTime = end;
    scene.rows = std::move(rows);
    return scene;
}

MemoryRecord::MemoryRecord(const std::vector<uint8_t>& fileRecord, int64_t dataSize)
    : data(fileRecord.begin() + 76, fileRecord.end()),
      header(fileRecord.begin(), fileRecord.begin() + 76) {
    if (dataSize >= 0) data.resize(static_cast<size_t>(dataSize), 0x5A);
    data.shrink_to_fit();  // a read past the data shows up under the sanitizer
    const uint8_t* pointer = data.empty() ? nullptr : data.data();
    header.resize(76 + sizeof pointer);
    std::memcpy(header.data() + 76, &pointer, sizeof pointer);
}

std::string WriteSubtitleFile(const std::string& name,
                              const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> bytes;
    for (const auto& record : records) bytes.insert(bytes.end(), record.begin(), record.end());
    std::string path = WorkPath(name);
    WriteFileBytes(path, bytes);
    return path;
}

const char* KindName(Kind kind) {
    return kind == Kind::kRgb24 ? "RGB 24" : kind == Kind::kRgb32 ? "RGB 32" : "YUV";
}

int32_t LoadFor(Kind kind, const std::string& path, float frameRate, SubtitleHandle& handle) {
    return D2uDirLoadSubtitle(path.c_str(), handle.Out(), frameRate, kind == Kind::kYuv ? 0 : 1,
                              kind == Kind::kRgb24 ? 24 : 32);
}

HostFrame::HostFrame(Kind frameKind, int32_t w, int32_t h, int32_t pad)
    : kind(frameKind),
      width(w),
      height(h),
      bytesPerPixel(frameKind == Kind::kYuv     ? 1
                    : frameKind == Kind::kRgb24 ? 3
                                                : 4) {
    auto addPlane = [&](int32_t rowPitch, int32_t rows, uint8_t fill) {
        pitch[planes.size()] = rowPitch;
        planes.emplace_back(static_cast<size_t>(rowPitch) * rows + 2 * kGuard, fill);
        std::fill_n(planes.back().begin(), kGuard, kGuardByte);
        std::fill_n(planes.back().end() - kGuard, kGuard, kGuardByte);
        return planes.back().data() + kGuard;
    };
    if (kind != Kind::kYuv) {
        rgb.stride = w * bytesPerPixel + pad;
        rgb.data = addPlane(rgb.stride, h, kFill);
        return;
    }
    yuv.Y = D2uPlane{w, h, w + pad, addPlane(w + pad, h, kFill)};
    const int32_t chromaPitch = w / 2 + pad / 2 + 1;
    yuv.U = D2uPlane{w / 2, h / 2, chromaPitch, addPlane(chromaPitch, h / 2, kChromaFill)};
    yuv.V = D2uPlane{w / 2, h / 2, chromaPitch, addPlane(chromaPitch, h / 2, kChromaFill)};
    yuv.width = w;
    yuv.height = h;
}

int32_t HostFrame::Put(D2uHandle handle, int32_t frameNumber) {
    return kind == Kind::kYuv ? D2uDirPutSubtitleYUV(handle, &yuv, frameNumber)
                              : D2uDirPutSubtitleRGB(handle, &rgb, frameNumber);
}

uint8_t& HostFrame::At(int plane, int32_t x, int32_t y, int32_t offset) {
    return planes[plane][kGuard + y * pitch[plane] + x * bytesPerPixel + offset];
}

void HostFrame::Model(const Scene& scene, int32_t screenWidth, int32_t screenHeight) {
    const RecordFields& f = scene.fields;
    const bool yuvFrame = kind == Kind::kYuv;
    const int32_t right = std::min(width, screenWidth), bottom = std::min(height, screenHeight);
    for (int32_t y = 0; y < f.height; ++y) {
        for (int32_t x = 0; x < f.width; ++x) {
            const int32_t c = scene.rows[y][x];
            const int32_t hx = f.x1 + x, hy = f.y1 + y;
            if (!f.Drawn(c) || hx >= right || hy >= bottom) continue;
            for (int32_t k = 0; k < std::min(bytesPerPixel, 3); ++k)
                At(0, hx, hy, k) = f.Intensity(c);
            if (bytesPerPixel == 4) At(0, hx, hy, 3) = 0;  // the fourth byte of drawn pixels
        }
    }
    if (!yuvFrame) return;
    // Each run marks its length / 2 chroma samples from x0 / 2 in chroma row line / 2.
    for (int32_t line = 0; line < f.height / 2 * 2; ++line) {
        for (const Run& run : RunsOfRow(scene.rows[line], scene.endCode)) {
            const int32_t length = run.length == 0 ? f.width - run.x0 : run.length;
            const int32_t end = std::min(run.x0 / 2 + length / 2, f.width / 2);
            for (int32_t i = run.x0 / 2; f.Drawn(run.colour) && i < end; ++i) {
                const int32_t cx = f.x1 / 2 + i, cy = f.y1 / 2 + line / 2;
                if (cx < (right + 1) / 2 && cx < width / 2 && cy < (bottom + 1) / 2 &&
                    cy < height / 2) {
                    At(1, cx, cy) = At(2, cx, cy) = 128;
                }
            }
        }
    }
}

bool HostFrame::GuardsIntact() const {
    return std::all_of(planes.begin(), planes.end(), [](const std::vector<uint8_t>& plane) {
        return AllBytes(plane.data(), kGuard, kGuardByte) &&
               AllBytes(plane.data() + plane.size() - kGuard, kGuard, kGuardByte);
    });
}

bool HostFrame::Untouched() const {
    for (size_t p = 0; p < planes.size(); ++p) {
        const uint8_t fill = p == 0 ? kFill : kChromaFill;
        if (!AllBytes(planes[p].data() + kGuard, planes[p].size() - 2 * kGuard, fill)) return false;
    }
    return true;
}

int Shown(Kind kind, D2uHandle handle, int32_t frameNumber, const std::vector<Scene>& scenes) {
    HostFrame frame(kind, 96, 48);
    if (frame.Put(handle, frameNumber) != 0 || !frame.GuardsIntact()) return kSomethingElse;
    if (frame.Untouched()) return kNothing;
    for (size_t i = 0; i < scenes.size(); ++i) {
        HostFrame expected(kind, 96, 48);
        expected.Model(scenes[i]);
        if (frame == expected) return static_cast<int>(i);
    }
    return kSomethingElse;
}

}  // namespace test
}  // namespace d2u
