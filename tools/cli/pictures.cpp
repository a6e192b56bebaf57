#include "pictures.h"

#include <cstring>

namespace d2ucli {
namespace {

void CopyPlane(const D2uPlane& plane, int32_t width, int32_t height, uint8_t* out) {
    for (int32_t row = 0; row < height; ++row) {
        std::memcpy(out + static_cast<size_t>(row) * width,
                    plane.data + static_cast<size_t>(row) * plane.pitch, width);
    }
}

D2uPlane PlaneOver(uint8_t* data, int32_t width, int32_t height) {
    D2uPlane plane;
    plane.width = width;
    plane.height = height;
    plane.pitch = width;
    plane.data = data;
    return plane;
}

}  // namespace

size_t YuvPicture::ByteCount() const {
    return static_cast<size_t>(width) * height +
           2 * static_cast<size_t>(ChromaWidth()) * ChromaHeight();
}

void YuvPicture::CopyFrom(const D2uFrame& frame) {
    width = frame.width;
    height = frame.height;
    pictureType = frame.pictureType;
    temporalReference = frame.temporalReference;
    samples.resize(ByteCount());
    size_t lumaBytes = static_cast<size_t>(width) * height;
    size_t chromaBytes = static_cast<size_t>(ChromaWidth()) * ChromaHeight();
    CopyPlane(frame.Y, width, height, samples.data());
    CopyPlane(frame.U, ChromaWidth(), ChromaHeight(), samples.data() + lumaBytes);
    CopyPlane(frame.V, ChromaWidth(), ChromaHeight(), samples.data() + lumaBytes + chromaBytes);
}

D2uFrame YuvPicture::AsFrameRecord() {
    D2uFrame frame;
    std::memset(&frame, 0, sizeof frame);
    size_t lumaBytes = static_cast<size_t>(width) * height;
    size_t chromaBytes = static_cast<size_t>(ChromaWidth()) * ChromaHeight();
    frame.Y = PlaneOver(samples.data(), width, height);
    frame.U = PlaneOver(samples.data() + lumaBytes, ChromaWidth(), ChromaHeight());
    frame.V = PlaneOver(samples.data() + lumaBytes + chromaBytes, ChromaWidth(), ChromaHeight());
    frame.width = width;
    frame.height = height;
    frame.chromaFormat = 1;
    frame.pictureType = pictureType;
    frame.temporalReference = temporalReference;
    frame.chromaWidth = ChromaWidth();
    frame.chromaHeight = ChromaHeight();
    return frame;
}

}  // namespace d2ucli
