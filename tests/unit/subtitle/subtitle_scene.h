// Drawing subtitle handles onto fresh host frames and telling which record came out.
#pragma once

#include <string>
#include <vector>

#include "d2udir.h"
#include "subtitle_test_records.h"

namespace d2u {
namespace test {

enum class FrameKind { kRgb24, kRgb32, kYuv };

const char* KindName(FrameKind kind);

// One record's picture and header.
struct Scene {
    IndexRows rows;
    RecordFields fields;
    bool endCode = true;
    std::vector<uint8_t> Record() const { return BuildRecord(fields, rows, endCode); }
};

// A subtitle handle closed at the end of the scope.
class SubtitleHandle {
public:
    SubtitleHandle() = default;
    ~SubtitleHandle() { D2uDirCloseSubtitle(&handle); }
    SubtitleHandle(const SubtitleHandle&) = delete;
    SubtitleHandle& operator=(const SubtitleHandle&) = delete;
    D2uHandle* Out() { return &handle; }
    D2uHandle Get() const { return handle; }

private:
    D2uHandle handle = 0;
};

// Loads a file for a frame kind at the given frame rate.
int32_t LoadFor(FrameKind kind, const std::string& path, float frameRate, SubtitleHandle& handle);

// Host frames of one size, with the scenes as they should look drawn onto them.
class SceneJudge {
public:
    static constexpr int32_t kWidth = 96;
    static constexpr int32_t kHeight = 48;
    static constexpr uint8_t kLumaFill = 7;
    static constexpr uint8_t kChromaFill = 200;

    SceneJudge(FrameKind kind, const std::vector<Scene>& scenes);
    // Puts the handle's subtitle onto a fresh frame: the index of the scene that came out,
    // kNothing for an untouched frame, kSomethingElse otherwise (also for writes outside).
    static constexpr int kNothing = -1;
    static constexpr int kSomethingElse = -2;
    int Put(D2uHandle handle, int32_t frameNumber) const;

private:
    FrameKind kind;
    std::vector<std::vector<uint8_t>> expectedRgb;
    std::vector<ExpectedYuv> expectedYuv;
};

}  // namespace test
}  // namespace d2u
