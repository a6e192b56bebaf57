#include "api/output_frame_source.h"

#include "picture/yuv_frame_resizer.h"
#include "primitives/resize.h"

namespace d2u {

int32_t COutputFrameSource::SetDecoder(CFrameSource* wrapper) {
    inner = wrapper;
    return 0;
}

int32_t COutputFrameSource::SetOutputSize(int32_t width, int32_t height) {
    outputWidth = width;
    outputHeight = height;
    // A size the frame cannot take switches scaling off rather than scaling into nothing.
    if (outputFrame.Allocate(width, height) != 0) outputWidth = outputHeight = 0;
    return 0;
}

CYUVFrame* COutputFrameSource::GetNextFrame(int32_t n) {
    if (!inner) return nullptr;
    if (outputWidth == 0 || outputHeight == 0) return inner->GetNextFrame(n);
    CYUVFrame* frame = inner->GetNextFrame(n);
    if (!frame) return nullptr;
    ScaleFramePlanes(*frame, outputFrame, IPPI_INTER_CUBIC);
    outputFrame.temporalReference = frame->temporalReference;
    outputFrame.pictureType = frame->pictureType;
    return &outputFrame;
}

}  // namespace d2u
