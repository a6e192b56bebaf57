#include "subtitle_scene.h"

namespace d2u {
namespace test {

const char* KindName(FrameKind kind) {
    switch (kind) {
        case FrameKind::kRgb24:
            return "RGB 24";
        case FrameKind::kRgb32:
            return "RGB 32";
        default:
            return "YUV";
    }
}

int32_t LoadFor(FrameKind kind, const std::string& path, float frameRate, SubtitleHandle& handle) {
    int32_t rgb = kind == FrameKind::kYuv ? 0 : 1;
    int32_t bits = kind == FrameKind::kRgb24 ? 24 : 32;
    return D2uDirLoadSubtitle(path.c_str(), handle.Out(), frameRate, rgb, bits);
}

SceneJudge::SceneJudge(FrameKind frameKind, const std::vector<Scene>& scenes) : kind(frameKind) {
    for (const Scene& scene : scenes) {
        if (kind == FrameKind::kYuv) {
            HostYuvFrame frame(kWidth, kHeight, kLumaFill, kChromaFill);
            expectedYuv.push_back(ExpectedYuvFrame(frame, kLumaFill, kChromaFill, scene.rows,
                                                   scene.fields, scene.endCode));
        } else {
            HostRgbFrame frame(kWidth, kHeight, kind == FrameKind::kRgb24 ? 3 : 4, kLumaFill);
            expectedRgb.push_back(ExpectedRgbFrame(frame, kLumaFill, scene.rows, scene.fields));
        }
    }
}

int SceneJudge::Put(D2uHandle handle, int32_t frameNumber) const {
    if (kind == FrameKind::kYuv) {
        HostYuvFrame frame(kWidth, kHeight, kLumaFill, kChromaFill);
        if (D2uDirPutSubtitleYUV(handle, frame.Frame(), frameNumber) != 0) return kSomethingElse;
        if (!frame.y.GuardsIntact() || !frame.u.GuardsIntact() || !frame.v.GuardsIntact()) {
            return kSomethingElse;
        }
        ExpectedYuv contents{frame.y.Contents(), frame.u.Contents(), frame.v.Contents()};
        HostYuvFrame untouched(kWidth, kHeight, kLumaFill, kChromaFill);
        if (contents.y == untouched.y.Contents() && contents.u == untouched.u.Contents() &&
            contents.v == untouched.v.Contents()) {
            return kNothing;
        }
        for (size_t i = 0; i < expectedYuv.size(); ++i) {
            const ExpectedYuv& expected = expectedYuv[i];
            if (contents.y == expected.y && contents.u == expected.u && contents.v == expected.v) {
                return static_cast<int>(i);
            }
        }
        return kSomethingElse;
    }
    HostRgbFrame frame(kWidth, kHeight, kind == FrameKind::kRgb24 ? 3 : 4, kLumaFill);
    D2uRgbFrame descriptor = frame.Descriptor();
    if (D2uDirPutSubtitleRGB(handle, &descriptor, frameNumber) != 0) return kSomethingElse;
    if (!frame.pixels.GuardsIntact()) return kSomethingElse;
    std::vector<uint8_t> contents = frame.pixels.Contents();
    if (contents == std::vector<uint8_t>(contents.size(), kLumaFill)) return kNothing;
    for (size_t i = 0; i < expectedRgb.size(); ++i) {
        if (contents == expectedRgb[i]) return static_cast<int>(i);
    }
    return kSomethingElse;
}

}  // namespace test
}  // namespace d2u
