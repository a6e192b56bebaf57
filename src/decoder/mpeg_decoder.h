// The picture decoder: slices and macroblocks of one coded picture into the current picture,
// with the four picture buffers and the coefficient buffer it owns for a stream.
//
// A picture coded as two field pictures is decoded whole by one getMacroblocks call when the
// second field follows in the input: the frame leaves complete, and the reference pictures
// (which the wrapper rotates after each I or P frame) stay those of the frame. Each new frame
// goes into the one picture of three that is not a reference; what it leaves undecoded is
// taken from the newer reference (see CFrameCoverage). When the input ends after the first
// field (a host buffer holding one field), FrameComplete() is 0 and the next call decodes the
// second field into the same frame; the references must not be rotated in between, since the
// second field predicts from the same ones as the first.
//
// Hosts may write into the frames they are handed. A B frame is handed out as decoded: nothing
// reads it again. A reference frame is handed out as a copy in a fourth picture (ForHost), so
// that what the host writes never reaches the pictures predicted from it.
#pragma once

#include <cstdint>

#include "decoder/frame_coverage.h"
#include "decoder/mpeg_headers.h"
#include "decoder/mpeg_vlc_tables.h"
#include "decoder/slice_decoder.h"
#include "decoder/yuv_frame.h"

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

    CMpegDecoder();
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

    // 1 when the last getMacroblocks left a whole frame: a frame picture, or both fields.
    int32_t FrameComplete() const {
        return pendingFieldParity < 0 ? 1 : 0;
    }
    // Whether the last getMacroblocks decoded the second field of a frame whose first field came
    // with an earlier call.
    bool CompletedEarlierFrame() const {
        return completedEarlierFrame;
    }
    // The frame to give a host for `frame`: a reference picture is copied into the host's
    // picture (with the macroblock table, which moves along), anything else is its own.
    CYUVFrame* ForHost(CYUVFrame* frame);
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

    // Owned: three that take turns as references and decoding target, and the host's copy of
    // references (kHostPicture).
    static constexpr int32_t kHostPicture = 3;
    CYUVFrame* pictures[4] = {};
    // Slots over the first three pictures: the wrapper moves them on after each I or P frame
    // (the newer reference becomes the older, the current picture the newer) and remembers the
    // picture it handed out last.
    CYUVFrame* olderReference = nullptr;
    CYUVFrame* newerReference = nullptr;
    CYUVFrame* currentFrame = nullptr;
    CYUVFrame* lastFrame = nullptr;

private:
    int32_t ConfigureGeometry();
    static void ReportUnsupportedChromaFormat(uint32_t chromaFormat);
    bool GeometryMatchesSequence() const;
    int32_t DecodePicture(bool secondField);
    bool ReadSecondFieldHeader();
    bool IsSecondFieldOfPending() const;
    int32_t CurrentParity() const;
    void FinishPicture();
    CYUVFrame* BeginFrame();
    void CompleteFrame(CYUVFrame* fillSource);
    void DescribeFrameByFirstField(const PictureInfo& firstField);
    // Gives `holder` the macroblock table that describes the picture decoded last.
    void MoveTableTo(CYUVFrame* holder);

    // Whether CompleteFrame fills what the current frame leaves unmarked (set by BeginFrame).
    bool undecodedFilled = false;
    // The picture whose macroblock table describes the picture decoded last.
    CYUVFrame* tableHolder = nullptr;
    bool completedEarlierFrame = false;
    CSliceDecoder sliceDecoder;
    CFrameCoverage coverage;
    // The first field decoded last, while its pair has not been decoded.
    int32_t pendingFieldParity = -1;
    uint32_t pendingTemporalReference = 0;
    uint32_t pendingCodingType = 0;
    uint64_t pendingStartPosition = 0;
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
