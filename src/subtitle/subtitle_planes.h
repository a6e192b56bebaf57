// The planes a subtitle picture is decoded into and drawn from. The picture is decoded into a
// mask: one byte per pixel holding the pixel's intensity where it is drawn and 0 where it is
// not, which is also the picture's luma. Scaling resizes the mask (and the chroma mask of YUV
// output), so that both output kinds show the same picture. RGB output then packs the mask into
// grey pixels of 3 or 4 bytes; YUV output draws the mask as luma and neutral chroma under the
// chroma mask. Everything is allocated once, for the largest picture (720 x 576).
#pragma once

#include <cstdint>
#include <memory>

#include "subtitle/subtitle_record.h"
#include "subtitle/subtitle_run_decoder.h"

namespace d2u {

// A rectangle of a host frame that drawing may write: columns [0, width), rows [0, height).
struct HostPlane {
    uint8_t* data;  // first byte of the top row
    int64_t pitch;  // may be negative for bottom-up frames
    int64_t width;
    int64_t height;
};

class CSubtitlePlanes : public CSubtitleRunSink {
public:
    CSubtitlePlanes() = default;
    ~CSubtitlePlanes() override = default;
    CSubtitlePlanes(const CSubtitlePlanes&) = delete;
    CSubtitlePlanes& operator=(const CSubtitlePlanes&) = delete;

    // Allocates the planes of one output kind. RGB output takes 24 or 32 bits per pixel; any
    // other value, or memory running short, leaves the planes unusable (false).
    bool Allocate(bool rgbOutput, int32_t bitsPerPixel);
    bool IsReady() const { return ready; }

    // Sets the plane sizes for the record's picture, clears them and takes its colour table.
    void Prepare(const SubtitleRecord& record);
    void PutRun(const SubtitleRun& run) override;
    // Scales the decoded picture to width x height with nearest-neighbour resizing; a picture
    // scaled beyond 720 x 576 keeps its top-left 720 x 576.
    void ResizePicture(int32_t width, int32_t height);
    // Makes the picture drawable once it is decoded and scaled.
    void FinishPicture();

    // Copies the picture through its mask with its top-left corner at (x, y) of the host
    // frame, writing only inside the host rectangle.
    void DrawRGB(const HostPlane& frame, int64_t x, int64_t y) const;
    void DrawYUV(const HostPlane& luma, const HostPlane& cb, const HostPlane& cr, int64_t x,
                 int64_t y) const;

private:
    struct Bitmap {
        int32_t stride = 0;
        int32_t bitsPerPixel = 0;
        std::unique_ptr<uint8_t[]> data;
    };

    void PutChromaRun(const SubtitleRun& run, uint8_t intensity);
    void ResizeMask(int32_t width, int32_t height, double xFactor, double yFactor);
    void ResizeChromaMask(int32_t width, int32_t height);
    void PackBitmap();
    int32_t BytesPerPixel() const { return bitmap.bitsPerPixel / 8; }

    bool ready = false;
    bool rgbOutput = true;
    int32_t pictureWidth = 0;
    int32_t pictureHeight = 0;
    std::unique_ptr<uint8_t[]> mask;
    int32_t maskPitch = 0;
    std::unique_ptr<uint8_t[]> resizeArea;
    Bitmap bitmap;  // RGB output
    // YUV output: the chroma mask marks the chroma samples under drawn pixels (both lines of a
    // pair contribute); the neutral chroma is what is drawn there.
    std::unique_ptr<uint8_t[]> chromaMask;
    std::unique_ptr<uint8_t[]> neutralChroma;
    int32_t chromaWidth = 0;
    int32_t chromaHeight = 0;
    int32_t chromaPitch = 0;
    bool visible[4] = {false, false, false, false};
    uint8_t intensity[4] = {0, 0, 0, 0};
};

}  // namespace d2u
