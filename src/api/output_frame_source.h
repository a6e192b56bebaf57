// The decoding handle: draws frames from its decoder wrapper and, once the host has set an
// output size, scales every frame into a frame of its own.
#pragma once

#include <cstdint>

#include "decoder/frame_source.h"
#include "picture/yuv_frame.h"

namespace d2u {

class COutputFrameSource : public CFrameSource {
public:
    COutputFrameSource() = default;
    ~COutputFrameSource() override = default;

    int32_t SetDecoder(CFrameSource* wrapper);
    int32_t SetOutputSize(int32_t width, int32_t height);

    CYUVFrame* GetNextFrame(int32_t n) override;
    int32_t GetWidth() override { return outputWidth ? outputWidth : CFrameSource::GetWidth(); }
    int32_t GetHeight() override { return outputHeight ? outputHeight : CFrameSource::GetHeight(); }

private:
    int32_t outputWidth = 0;
    int32_t outputHeight = 0;
    CYUVFrame outputFrame;
};

}  // namespace d2u
