#include "input/output_frame_source.h"

#include "primitives/resize.h"

namespace d2u {
namespace {

void ScalePlaneCubic(const YUVPlane& source, YUVPlane& destination) {
    if (!source.data || !destination.data || source.width <= 0 || source.height <= 0) return;
    IppiSize sourceSize = {source.width, source.height};
    IppiRect region = {0, 0, source.width, source.height};
    IppiSize destinationSize = {destination.width, destination.height};
    ippiResize_8u_C1R(source.data, sourceSize, source.pitch, region, destination.data,
                      destination.pitch, destinationSize,
                      static_cast<double>(destination.width) / source.width,
                      static_cast<double>(destination.height) / source.height, IPPI_INTER_CUBIC);
}

}  // namespace

int32_t COutputFrameSource::SetDecoder(CFrameSource* wrapper) {
    inner = wrapper;
    return 0;
}

int32_t COutputFrameSource::SetOutputSize(int32_t width, int32_t height) {
    outputWidth = width;
    outputHeight = height;
    if (outputFrame.Allocate(width, height) != 0) outputWidth = outputHeight = 0;
    return 0;
}

CYUVFrame* COutputFrameSource::GetNextFrame(int32_t n) {
    if (!inner) return nullptr;
    if (outputWidth == 0 || outputHeight == 0) return inner->GetNextFrame(n);
    CYUVFrame* frame = inner->GetNextFrame(n);
    if (!frame) return nullptr;
    ScalePlaneCubic(frame->Y, outputFrame.Y);
    ScalePlaneCubic(frame->U, outputFrame.U);
    ScalePlaneCubic(frame->V, outputFrame.V);
    outputFrame.temporalReference = frame->temporalReference;
    outputFrame.pictureType = frame->pictureType;
    return &outputFrame;
}

}  // namespace d2u
