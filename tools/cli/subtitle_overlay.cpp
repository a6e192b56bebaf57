#include "subtitle_overlay.h"

#include <cmath>
#include <cstdio>

#include "cli_errors.h"
#include "input_file.h"

namespace d2ucli {
namespace {

const int32_t kScreenWidth = 720;
const int32_t kScreenHeight = 576;

}  // namespace

SubtitleOverlay::SubtitleOverlay(const std::string& path, Rational frameRate, int32_t width,
                                 int32_t height) {
    // The library draws nothing from a file it cannot open; the user hears about it here.
    std::fclose(OpenInputFile(path));
    if (frameRate.numerator <= 0) {
        throw RuntimeError("cannot time subtitles: the video's frame rate is unknown");
    }
    float rate = static_cast<float>(static_cast<double>(frameRate.numerator) /
                                    static_cast<double>(frameRate.denominator));
    if (D2uDirLoadSubtitle(path.c_str(), &handle_, rate, 0, 0) != 0 || !handle_) {
        throw RuntimeError("cannot load subtitles from '" + path + "'");
    }
    if (width != kScreenWidth || height != kScreenHeight) {
        D2uDirSubSetMaxSize(handle_, width, height);
        D2uDirSubSetScaleFactors(handle_, static_cast<double>(width) / kScreenWidth,
                                 static_cast<double>(height) / kScreenHeight);
    }
}

SubtitleOverlay::~SubtitleOverlay() {
    D2uDirCloseSubtitle(&handle_);
}

void SubtitleOverlay::Draw(YuvPicture& picture, int32_t frameNumber) {
    D2uFrame frame = picture.AsFrameRecord();
    D2uDirPutSubtitleYUV(handle_, &frame, frameNumber);
}

}  // namespace d2ucli
