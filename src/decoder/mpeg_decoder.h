// The picture decoder: one coded picture (or the two field pictures of a frame) into the current
// picture of its picture store, its slices decoded by the slice decoder.
//
// A picture coded as two field pictures is decoded whole by one getMacroblocks call when the
// second field follows in the input: the frame leaves complete. When the input ends after the
// first field (a host buffer holding one field), the store's FrameComplete() is false and the
// next call decodes the second field into the same frame.
#pragma once

#include <cstdint>

#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_vlc_tables.h"
#include "decoder/picture_store.h"
#include "decoder/slice_decoder.h"
#include "decoder/slice_threads.h"

namespace d2u {

class CBitstreamDataSource;
class CMpegHeaderReader;

class CMpegDecoder {
public:
    // Bounds of the geometry: the frame record's own limit per side, and at most 16 million
    // luma samples a picture (4096 x 4096; the four pictures then take about 100 MB), so that
    // a damaged or hostile sequence header cannot make the decoder claim gigabytes.
    static constexpr int32_t kMaxDimension = 16384;
#if defined(D2U_MAX_PICTURE_AREA)
    // Builds for fuzzing keep the pictures small enough for the fuzzer's memory limit.
    static constexpr int64_t kMaxLumaSamples = D2U_MAX_PICTURE_AREA;
#else
    static constexpr int64_t kMaxLumaSamples = 4096 * 4096;
#endif
    // Values of chroma_format that decode. 4:4:4 (3) is refused: Init and getMacroblocks
    // return -1 and the reason is logged and published.
    static constexpr uint32_t kChroma420 = 1;
    static constexpr uint32_t kChroma422 = 2;

    CMpegDecoder() = default;
    virtual ~CMpegDecoder();
    CMpegDecoder(const CMpegDecoder&) = delete;
    CMpegDecoder& operator=(const CMpegDecoder&) = delete;

    // Once per stream, after the first picture header: tables, geometry, pictures. 0, or -1
    // when the pictures could not be allocated (the decoder then decodes nothing).
    int32_t Init(CMpegHeaderReader* reader, CBitstreamDataSource* source, MpegHeaders* record);
    // Decodes the picture whose header was just read. 0 when every macroblock position was
    // passed; -1 without a data source, when a start code other than a slice ended the picture
    // early (left unread), or when the picture cannot be decoded.
    int32_t getMacroblocks();
    int32_t Release();

    // Whether the last getMacroblocks decoded the second field of a frame whose first field came
    // with an earlier call.
    bool CompletedEarlierFrame() const {
        return completedEarlierFrame;
    }
    CPictureStore& Pictures() {
        return store;
    }
    // Threads that decode the slices of a picture, the caller's included: 0 asks for one per
    // processor. Returns the count in use.
    int32_t SetThreads(int32_t count) {
        return sliceThreads.SetThreads(count);
    }
    CWorkerPool& Workers() {
        return sliceThreads.Pool();
    }
    int64_t SharedPictures() const {
        return sliceThreads.SharedPictures();
    }
    // 0 when the current sequence could not be set up (too large, or a chroma format that is
    // not decoded): its pictures are not decoded.
    int32_t GeometryReady() const {
        return mb_width > 0 ? 1 : 0;
    }

    CMpegHeaderReader* headerReader = nullptr;   // not owned
    CMpegVlcTables* vlcTables = nullptr;         // owned
    CBitstreamDataSource* dataSource = nullptr;  // not owned
    MpegHeaders* headers = nullptr;              // not owned

    int32_t mb_width = 0;
    int32_t mb_height = 0;
    int32_t lumaWidth = 0;
    int32_t lumaHeight = 0;
    int32_t chromaWidth = 0;
    int32_t chromaHeight = 0;

private:
    int32_t ConfigureGeometry();
    static void ReportUnsupportedChromaFormat(uint32_t chromaFormat);
    bool GeometryMatchesSequence() const;
    int32_t DecodeNewFrame();
    int32_t DecodeSecondField();
    int32_t DecodePicture(bool secondField);
    bool ReadSecondFieldHeader();
    bool IsFieldPicture() const;
    void FinishPicture();

    bool completedEarlierFrame = false;

    CSliceDecoder sliceDecoder;
    CSliceThreads sliceThreads;
    CPictureStore store;
    // The sequence the pictures were last set up for (successfully or not).
    struct SequenceShape {
        uint32_t width = 0xFFFFFFFFu;
        uint32_t height = 0xFFFFFFFFu;
        uint32_t interlaced = 0;
        uint32_t chromaFormat = 0;
        bool operator==(const SequenceShape& other) const {
            return width == other.width && height == other.height &&
                   interlaced == other.interlaced && chromaFormat == other.chromaFormat;
        }
    };
    SequenceShape ShapeOfSequence() const;
    SequenceShape configured;
};

}  // namespace d2u
