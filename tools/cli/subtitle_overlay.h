// A subtitle file drawn onto pictures through the library's subtitle handle.
#pragma once

#include <string>

#include "d2udir.h"
#include "pictures.h"
#include "stream_headers.h"

namespace d2ucli {

class SubtitleOverlay {
public:
    // RuntimeError when the file cannot be read or the frame rate is unknown. Records are
    // placed on a 720 x 576 screen; pictures of another size get them scaled to fit.
    SubtitleOverlay(const std::string& path, Rational frameRate, int32_t width, int32_t height);
    ~SubtitleOverlay();
    SubtitleOverlay(const SubtitleOverlay&) = delete;
    SubtitleOverlay& operator=(const SubtitleOverlay&) = delete;

    // Draws the record current at `frameNumber` (counted in display order from 0).
    void Draw(YuvPicture& picture, int32_t frameNumber);

private:
    D2uHandle handle_ = 0;
};

}  // namespace d2ucli
