// The decoder wrapper: one MPEG video decoding pipeline behind a decoding handle. It owns the
// data source, the header record, the header reader and the picture decoder, starts decoding
// at the first sequence and picture header, hands out pictures in decoding order and offers
// skipping. The host's buffers (buffer-driven handles) come in through FeedBuffer.
#pragma once

#include <cstdint>

#include "decoder/frame_source.h"
#include "decoder/mpeg_decoder.h"
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"

namespace d2u {

class CMpegDecoderWraper : public CFrameSource {
public:
    ~CMpegDecoderWraper() override = default;

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
    int32_t CloseDecoder();
    int32_t Reset();
    // 0 when the next picture was a B picture and has been passed over, else 1.
    int32_t SkipFrame();
    // The number of pictures passed.
    int32_t SkipFrames(int32_t count);

    // The host's next buffer, read from its first byte on. A buffer-driven decoder starts on
    // the first buffer that holds a sequence header and a picture header; until then every
    // buffer tries again. 0; -1 for a handle that reads a file or without data; otherwise why
    // the start failed (see InitDecoder).
    int32_t FeedBuffer(const uint8_t* data, int32_t length);
    // Loads the host's buffer without starting the decoder (skipping reads it as it is). False
    // for a handle that reads a file or without data.
    bool LoadBuffer(const uint8_t* data, int32_t length);
    bool TakesBuffer(const uint8_t* data, int32_t length) const {
        return data && length > 0 && dataSource.IsBufferedMode();
    }
    bool Started() const { return ready != 0; }
    // Decoding goes on from the next sequence header at or after the file offset: 0, or -1
    // for a buffer-driven handle.
    int32_t Reposition(uint32_t low, uint32_t high);
    void SetReadLimit(uint32_t low, uint32_t high) { dataSource.SetFileReadLimit(low, high); }
    bool ReadsFile() const { return !dataSource.IsBufferedMode(); }
    uint64_t InputSize() const { return dataSource.fileSize; }
    // 0 for a buffer-driven handle.
    uint64_t InputPosition() const {
        return dataSource.buffer && ReadsFile() ? dataSource.GetBytePosition() : 0;
    }
    const SequenceInfo& Sequence() const { return headers.sequence; }
    bool Ended() const { return ended != 0; }
    void SetFramesWritable(bool writable) { framesWritable = writable; }
    // Threads that decode and convert this handle's pictures (see CMpegDecoder::SetThreads).
    int32_t SetThreads(int32_t count) {
        const int32_t used = decoder.SetThreads(count);
        dataSource.ShareReadsWith(used > 1 ? &decoder.Workers() : nullptr);
        return used;
    }
    CWorkerPool& Workers() { return decoder.Workers(); }
    // Pictures whose slices were shared out to the threads (see CSliceThreads::SharedPictures).
    int64_t SharedPictures() const { return decoder.SharedPictures(); }
    // The frame to give a host that may write into it (see CPictureStore::ForHost).
    CYUVFrame* ForHost(CYUVFrame* frame) {
        return framesWritable ? decoder.Pictures().ForHost(frame) : frame;
    }
    // Stream offset of the data source's first buffered byte.
    uint64_t BufferStart() const {
        return dataSource.buffer ? static_cast<uint64_t>(dataSource.BufferStartPosition()) : 0;
    }

private:
    // A reading position that survives a refill of the data source.
    struct StreamMark {
        const uint32_t* wordPtr;
        int32_t bitOffset;
        uint64_t wordStart;      // stream offset of the first byte of the current word
        uint64_t bufferStart;    // stream offset of the buffer's first byte
        const uint32_t* buffer;  // the buffer's first word (a grown file window moves it)
    };
    StreamMark MarkStream() const;
    void RestoreStream(const StreamMark& mark);
    // The next header, from a mark to go back to (refilled a little early beforehand).
    int32_t ReadHeaderToSkip(StreamMark& mark);
    int32_t StartOnFile(int32_t opened);
    // 0; -1 without a sequence header; -2008 with a sequence header but no picture header.
    int32_t InitDecoder();

    CBitstreamDataSource dataSource;
    MpegHeaders headers{};
    CMpegHeaderReader headerReader;
    CMpegDecoder decoder;
    int32_t searching = 1;       // a sequence header has to be found before decoding
    int32_t ended = 0;           // the end of the stream was reached
    int32_t skipLeadingB = 1;    // B pictures are not handed out until the first P picture
    int32_t ready = 0;           // a buffered Init succeeded
    bool framesWritable = true;  // the host may write into the frames handed out

    // Coded bytes of a first field decoded alone, added to the frame when its second comes.
    int32_t firstFieldBytes = 0;
    // Stream offset of the picture handed out last (file mode).
    uint64_t lastPictureStart = 0;

    int32_t DecodePicture();
    void RecordPictureSize(uint64_t pictureStart);
    CYUVFrame* RepeatLastFrame();
    bool PictureCutAtWindowEnd() const;
    CYUVFrame* HandOut();
    // getHeader until a sequence header has been read while searching.
    int32_t ReadNextPictureHeader();
};

}  // namespace d2u
