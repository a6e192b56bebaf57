// Scales decoded pictures plane by plane, in their rounded plane sizes, to the size of a frame
// of its own; preview extraction keeps one for its pictures.
#pragma once

#include <cstdint>

#include "picture/yuv_frame.h"

namespace d2u {

// Scales each plane of source over the whole matching plane of destination with the resize
// kernel's interpolation mode. Planes without data are left alone.
void ScaleFramePlanes(const CYUVFrame& source, CYUVFrame& destination, int interpolation);

class CYUVFrameResizer {
public:
    CYUVFrameResizer() = default;
    virtual ~CYUVFrameResizer() = default;

    // Allocates the output frame: 0, or -1 for a size out of range or memory running short.
    int32_t Init(int32_t width, int32_t height);
    CYUVFrame* ResizeFrame(const CYUVFrame* source);

private:
    CYUVFrame outputFrame;
};

}  // namespace d2u
