// Scaling and re-placement of a subtitle picture for a host frame of another size than the one
// the subtitles were made for. The picture is centred horizontally on the maximum width and
// kept above the maximum height.
#pragma once

#include <cstdint>

#include "subtitle/subtitle_record.h"

namespace d2u {

struct SubtitleScaling {
    double xFactor = 1.0;
    double yFactor = 1.0;
    int32_t maxWidth = 0;  // 0: not set
    int32_t maxHeight = 0;
};

struct SubtitlePlacement {
    bool scaled = false;
    double xFactor = 1.0;  // the factors actually applied
    double yFactor = 1.0;
    int32_t width = 0;  // picture size after scaling (not limited to the planes)
    int32_t height = 0;
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;
};

// Factors within 1% of 1.0 leave the record as it is. So do factors that are not positive
// finite numbers, a maximum size that has not been set (or is not positive) and a scaled
// position whose edges sum to 0: the picture then stays unscaled where the record puts it.
// Positions may come out negative or beyond the screen; drawing clips them.
SubtitlePlacement PlaceSubtitle(const SubtitleRecord& record, const SubtitleScaling& scaling);

}  // namespace d2u
