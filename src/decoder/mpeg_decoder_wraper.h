// The decoder wrapper: one MPEG video decoding pipeline behind a decoding handle. It owns the
// data source, the header record, the header reader and the picture decoder, starts decoding
// at the first sequence and picture header, hands out pictures in decoding order, keeps the
// two reference pictures and offers skipping.
#pragma once

#include <cstdint>

#include "decoder/frame_source.h"
#include "decoder/mpeg_decoder.h"
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"

namespace d2u {

class CYUVFrame;

class CMpegDecoderWraper : public CFrameSource {
public:
    CMpegDecoderWraper();
    ~CMpegDecoderWraper() override;

    // The argument is ignored. A picture in decoding order, or null at the end of the stream.
    CYUVFrame* GetNextFrame(int32_t n) override;
    int32_t GetWidth() override { return static_cast<int32_t>(headers.sequence.horizontal_size); }
    int32_t GetHeight() override { return static_cast<int32_t>(headers.sequence.vertical_size); }
    int32_t QueryFifth() override { return 0; }
    int32_t QuerySixth() override { return -1; }
    int32_t QuerySeventh() override { return 0; }
    CMpegDecoderWraper* GetDecoder() override { return this; }

    int32_t LoadFile(const char* path);
    int32_t LoadFileW(const wchar_t* path);
    // Buffered start on the caller's first block of stream data.
    int32_t Init(const uint8_t* data, int32_t length);
    // 0; -1 without a sequence header; -2008 with a sequence header but no picture header.
    int32_t InitDecoder();
    int32_t CloseDecoder();
    int32_t Reset();
    // 0 when the next picture was a B picture and has been passed over, else 1.
    int32_t SkipFrame();
    // The number of pictures passed.
    int32_t SkipFrames(int32_t count);

    CBitstreamDataSource dataSource;
    MpegHeaders headers;
    CMpegHeaderReader headerReader;
    CMpegDecoder decoder;
    int32_t searching = 1;       // a sequence header has to be found before decoding
    int32_t ended = 0;           // the end of the stream was reached
    int32_t skipLeadingB = 1;    // B pictures are not handed out until the first P picture
    int32_t ready = 0;           // a buffered Init succeeded
    int32_t framesWritable = 1;  // the host may write into the frames handed out

private:
    // A reading position that survives a refill of the data source.
    struct StreamMark {
        uint32_t* wordPtr;
        int32_t bitOffset;
        int32_t byteInWord;
        uint64_t wordStart;    // stream offset of the first byte of the current word
        uint64_t bufferStart;  // stream offset of the buffer's first byte
    };
    StreamMark MarkStream() const;
    uint64_t BufferStart() const;
    void RestoreStream(const StreamMark& mark);

    // Coded bytes of a first field decoded alone, added to the frame when its second comes.
    int32_t firstFieldBytes = 0;
    // Stream offset of the picture handed out last (file mode).
    uint64_t lastPictureStart = 0;

    int32_t DecodePicture();
    void RecordPictureSize(uint64_t pictureStart);
    CYUVFrame* RepeatLastFrame();
    bool PictureCutAtWindowEnd() const;
    CYUVFrame* HandOut();
    void RefillBeforeSkip();
    // getHeader until a sequence header has been read while searching.
    int32_t ReadNextPictureHeader();
};

}  // namespace d2u
