#include "support/subtitle_scenes.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

// Appends a run in its shortest code (length 0: 16 bits), high nibble first; `half` says whether
// the last byte still has its low nibble free.
void PutRun(std::vector<uint8_t>& bytes, bool& half, int32_t length, int32_t colour) {
    const int nibbles = length == 0 ? 4 : length < 4 ? 1 : length < 16 ? 2 : length < 64 ? 3 : 4;
    const uint32_t code = static_cast<uint32_t>(length) << 2 | static_cast<uint32_t>(colour);
    for (int i = nibbles - 1; i >= 0; --i, half = !half) {
        const auto nibble = static_cast<uint8_t>(code >> (4 * i) & 15u);
        if (half) {
            bytes.back() |= nibble;
        } else {
            bytes.push_back(static_cast<uint8_t>(nibble << 4));
        }
    }
}

}  // namespace

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

static_assert(sizeof(RecordFields) == 76, "the header as stored");

std::vector<uint8_t> Scene::Record() const {
    std::vector<uint8_t> data[2] = {top, bottom};
    for (size_t y = 0; top.empty() && bottom.empty() && y < rows.size(); ++y) {
        bool half = false;  // every row starts on a whole byte
        for (const Run& run : RunsOfRow(rows[y], endCode))
            PutRun(data[y % 2], half, run.length, run.colour);
    }
    RecordFields header = fields;
    const auto topSize = static_cast<int32_t>(data[0].size());
    if (header.bottomFieldOffset < 0) header.bottomFieldOffset = 76 + topSize;
    if (header.recordSize < 0) header.recordSize = 76 + topSize + int32_t(data[1].size());
    std::vector<uint8_t> out(76);
    std::memcpy(out.data(), &header, 76);
    for (const auto& field : data) out.insert(out.end(), field.begin(), field.end());
    return out;
}

Scene MakeScene(IndexRows rows, int32_t x1, int32_t y1, float start, float end) {
    const auto height = static_cast<int32_t>(rows.size());
    const int32_t width = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
    Scene scene{std::move(rows), {x1, y1, x1 + width, y1 + height, width, height}, true, {}, {}};
    scene.fields.startTime = start;
    scene.fields.endTime = end;
    return scene;
}

std::string WriteSubtitleFile(const std::string& name,
                              const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> bytes;
    for (const auto& record : records) bytes.insert(bytes.end(), record.begin(), record.end());
    std::string path = WorkPath(name);
    WriteFileBytes(path, bytes);
    return path;
}

}  // namespace test
}  // namespace d2u
