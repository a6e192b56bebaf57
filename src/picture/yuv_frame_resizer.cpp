#include "picture/yuv_frame_resizer.h"

#include "primitives/resize.h"

namespace d2u {
namespace {

void ScalePlane(const YUVPlane& source, YUVPlane& destination, int interpolation) {
    if (!source.data || !destination.data || source.width <= 0 || source.height <= 0 ||
        destination.width <= 0 || destination.height <= 0) {
        return;
    }
    IppiSize sourceSize = {source.width, source.height};
    IppiRect region = {0, 0, source.width, source.height};
    IppiSize destinationSize = {destination.width, destination.height};
    ippiResize_8u_C1R(source.data, sourceSize, source.pitch, region, destination.data,
                      destination.pitch, destinationSize,
                      static_cast<double>(destination.width) / source.width,
                      static_cast<double>(destination.height) / source.height, interpolation);
}

}  // namespace

void ScaleFramePlanes(const CYUVFrame& source, CYUVFrame& destination, int interpolation) {
    ScalePlane(source.Y, destination.Y, interpolation);
    ScalePlane(source.U, destination.U, interpolation);
    ScalePlane(source.V, destination.V, interpolation);
}

int32_t CYUVFrameResizer::Init(int32_t width, int32_t height) {
    return outputFrame.Allocate(width, height);
}

CYUVFrame* CYUVFrameResizer::ResizeFrame(const CYUVFrame* source) {
    if (source) ScaleFramePlanes(*source, outputFrame, IPPI_INTER_LINEAR);
    return &outputFrame;
}

}  // namespace d2u
