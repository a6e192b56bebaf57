// The planes a subtitle picture is decoded into and drawn from. RGB output keeps a packed
// bitmap (3 or 4 bytes per pixel) and a mask; YUV output keeps a picture frame (luma, with
// chroma held at 128), a work frame for resizing, a mask and a chroma mask. A mask byte holds
// the pixel's intensity where the pixel is drawn and 0 where it is not. Everything is
// allocated once, for the largest picture (720 x 576).
#pragma once

#include <cstdint>
#include <memory>

#include "decoder/yuv_frame.h"
#include "subtitle/subtitle_record.h"
#include "subtitle/subtitle_run_decoder.h"

namespace d2u {

// A rectangle of a host frame that drawing may write: columns [0, width), rows [0, height).
// For a YUV host plane the plane itself; for an RGB frame what the record promises.
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
    // YUV output: scales the decoded picture to width x height (clipped to the planes) with
    // nearest-neighbour resizing of the picture and both masks. RGB pictures are only moved.
    void ResizePicture(int32_t width, int32_t height);

    // Copies the picture through its mask with its top-left corner at (x, y) of the host
    // frame, writing only inside the host rectangle.
    void DrawRGB(const HostPlane& frame, int64_t x, int64_t y) const;
    void DrawYUV(const HostPlane& luma, const HostPlane& cb, const HostPlane& cr, int64_t x,
                 int64_t y) const;

    // The decoded picture, for inspection.
    int32_t PictureWidth() const;
    int32_t PictureHeight() const;
    const uint8_t* Mask() const { return mask.get(); }
    int32_t MaskPitch() const { return maskPitch; }
    const uint8_t* ChromaMask() const { return chromaMask.get(); }
    int32_t ChromaMaskPitch() const { return pictureFrame.U.pitch; }
    const YUVPlane& PictureLuma() const { return pictureFrame.Y; }

private:
    struct Bitmap {
        int32_t width = 0;
        int32_t height = 0;
        int32_t stride = 0;
        int16_t bitsPerPixel = 0;
        std::unique_ptr<uint8_t[]> data;
    };

    void PrepareRGB(int32_t width, int32_t height);
    void PrepareYUV(int32_t width, int32_t height);
    void PutRunRGB(const SubtitleRun& run, uint8_t intensity);
    void PutRunYUV(const SubtitleRun& run, uint8_t intensity);
    void ResizeLuma(int32_t width, int32_t height, double xFactor, double yFactor);
    void ResizeChromaMask(int32_t width, int32_t height);
    int32_t BytesPerPixel() const { return bitmap.bitsPerPixel / 8; }

    bool ready = false;
    bool rgbOutput = true;
    Bitmap bitmap;
    CYUVFrame pictureFrame;
    CYUVFrame workFrame;
    std::unique_ptr<uint8_t[]> mask;
    std::unique_ptr<uint8_t[]> chromaMask;
    int32_t maskPitch = 0;
    bool visible[4] = {false, false, false, false};
    uint8_t intensity[4] = {0, 0, 0, 0};
};

}  // namespace d2u
