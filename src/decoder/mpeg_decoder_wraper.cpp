#include "decoder/mpeg_decoder_wraper.h"

#include <cstdint>

#include "diag/decoder_log.h"
#include "picture/yuv_frame.h"

namespace d2u {

namespace {

// The skip operations refill earlier than the header reader does, so that a saved reading
// position normally stays valid while one header is searched for.
constexpr int64_t kSkipRefillThresholdBytes = CBitstreamDataSource::kSkipRefillThresholdBytes;
// The last pictures before a skip target are decoded, so that the references are rebuilt.
constexpr int32_t kPicturesDecodedBeforeTarget = 15;

// Logs and publishes why the decoder could not start; returns `code`.
int32_t StartFailed(const char* reason, int32_t code) {
    LogFormat(1, "CMpegDecoderWraper::InitDecoder - %s. - ERROR", reason);
    PublishFormat("ERRROR - CMpegDecoderWraper::InitDecoder - %s. - ERROR", reason);
    return code;
}

}  // namespace

int32_t CMpegDecoderWraper::LoadFile(const char* path) {
    return StartOnFile(dataSource.Open(path));
}

int32_t CMpegDecoderWraper::LoadFileW(const wchar_t* path) {
    return StartOnFile(dataSource.OpenW(path));
}

int32_t CMpegDecoderWraper::StartOnFile(int32_t opened) {
    if (opened != 0) return opened;
    headerReader.Init(&dataSource, &headers);
    return InitDecoder();
}

int32_t CMpegDecoderWraper::FeedBuffer(const uint8_t* data, int32_t length) {
    if (!TakesBuffer(data, length)) return -1;
    if (!ready) {
        dataSource.SetDataBuffer(data, length);
        headerReader.Init(&dataSource, &headers);
        const int32_t result = InitDecoder();
        if (result != 0) {
            PublishFormat("GetMpegFrame2 decoder->Init, retCode=%d", result);
            return result;
        }
        ready = 1;
    }
    // Decoding starts at the first byte of this buffer, also on the call that made it ready.
    LoadBuffer(data, length);
    return 0;
}

bool CMpegDecoderWraper::LoadBuffer(const uint8_t* data, int32_t length) {
    if (!TakesBuffer(data, length)) return false;
    dataSource.SetDataBuffer(data, length);
    ended = 0;
    return true;
}

int32_t CMpegDecoderWraper::Reposition(uint32_t low, uint32_t high) {
    if (dataSource.IsBufferedMode()) return -1;
    dataSource.SetInputPosition(low, high);
    searching = 1;
    headerReader.sequenceHeaderSeen = 0;
    // A stream that had reached its end decodes again from the new position.
    ended = 0;
    return 0;
}

int32_t CMpegDecoderWraper::InitDecoder() {
    ended = 0;
    searching = 1;
    skipLeadingB = 1;
    int32_t result;
    do {
        result = headerReader.getHeader();
    } while (!headerReader.sequenceHeaderSeen && result > 0);

    if (!headerReader.sequenceHeaderSeen) {
        return StartFailed("not able to read sequence header codes", -1);
    }
    if (result != 1) return StartFailed("not able to read image header codes", -2008);

    // A decoder made ready before (a buffered start that is tried again) starts afresh.
    decoder.Release();
    if (decoder.Init(&headerReader, &dataSource, &headers) != 0) {
        decoder.Release();
        return StartFailed("not able to set up the picture decoder", -1);
    }

    if (headers.sequence.mpeg2 == 0) {
        headers.sequence.progressive_sequence = 1;
        headers.sequence.chroma_format = 1;
        headers.picture.picture_structure = kFramePicture;
        headers.picture.frame_pred_frame_dct = 1;
        headers.picture.progressive_frame = 1;
    }
    dataSource.Rewind();
    return 0;
}

int32_t CMpegDecoderWraper::ReadNextPictureHeader() {
    int32_t result = headerReader.getHeader();
    while (searching == 1 && !headerReader.sequenceHeaderSeen && result == 1) {
        result = headerReader.getHeader();
    }
    return result;
}

CYUVFrame* CMpegDecoderWraper::GetNextFrame(int32_t) {
    if (ended) return nullptr;
    LogFormat(25, "CMpegDecoderWraper GetNextFrame - start");
    // Not set up, or closed.
    if (!decoder.Pictures().Current()) return nullptr;
    for (;;) {
        if (dataSource.NeedsFill()) dataSource.FillBuffer();
        int32_t result = ReadNextPictureHeader();
        // A host buffer used up: the previous picture once more, unless it is a first field
        // still waiting for its second.
        if (result == -1 && dataSource.IsBufferedMode()) {
            return decoder.Pictures().FrameComplete() ? HandOut() : nullptr;
        }
        if (result < 0 || (searching == 1 && !headerReader.sequenceHeaderSeen)) {
            // No data source, or the stream ended before a sequence header was found again.
            ended = 1;
            return nullptr;
        }
        searching = 0;
        if (result == 0) {
            ended = 1;
            return RepeatLastFrame();
        }
        // Taken before decoding: the second field of a field pair has a header of its own.
        const uint64_t pictureStart = headers.picture.startPosition;
        if (DecodePicture() != 0) return nullptr;
        RecordPictureSize(pictureStart);
        // A host buffer that held only the first field of a frame: the frame goes out whole
        // with the call that brings the second.
        if (!decoder.Pictures().FrameComplete() && dataSource.IsBufferedMode()) {
            firstFieldBytes = decoder.Pictures().Current()->pictureBytes;
            return nullptr;
        }
        if (skipLeadingB == 1 && headers.picture.picture_coding_type == kPictureB) continue;
        lastPictureStart = pictureStart;
        return HandOut();
    }
}

// The frame handed out last, once more, as it was decoded. A B frame, which the host may have
// written into, is decoded again from its bytes into the same picture (the references it reads
// are unchanged); a reference picture is handed to the host as a fresh copy anyway.
CYUVFrame* CMpegDecoderWraper::RepeatLastFrame() {
    CYUVFrame* frame = decoder.Pictures().LastHandedOut();
    if (!frame || decoder.Pictures().IsReference(frame) || dataSource.IsBufferedMode()) {
        return frame;
    }
    dataSource.SetInputPosition(static_cast<uint32_t>(lastPictureStart),
                                static_cast<uint32_t>(lastPictureStart >> 32));
    if (headerReader.getHeader() != 1 || DecodePicture() != 0) return frame;
    RecordPictureSize(lastPictureStart);
    return decoder.Pictures().Current();
}

int32_t CMpegDecoderWraper::DecodePicture() {
    try {
        decoder.getMacroblocks();
    } catch (...) {
        PublishFormat("ERROR - CMpegDecoderWraper GetNextFrame - getMacroblocks - error!!!");
        LogFormat(15, "CMpegDecoderWraper GetNextFrame - getMacroblocks - error!!!");
        return -1;
    }
    // A sequence the decoder refused (its reason is logged) hands out no stale pictures.
    return decoder.GeometryReady() ? 0 : -1;
}

void CMpegDecoderWraper::RecordPictureSize(uint64_t pictureStart) {
    CYUVFrame* frame = decoder.Pictures().Current();
    frame->topFieldFirst = static_cast<int32_t>(headers.picture.top_field_first);
    // The picture ends where the next start code begins (the header reader reads it again),
    // or where the data ends: the filler behind the data is no part of it.
    const StreamMark mark = MarkStream();
    uint64_t dataEnd = dataSource.DataEnd();
    CMpegHeaderReader::FindStartCode(dataSource);
    if (PictureCutAtWindowEnd()) {
        PublishFormat(
            "ERROR - CMpegDecoderWraper GetNextFrame - coded picture larger than 4 MiB, cut "
            "short");
    }
    headerReader.MarkStartCodePosition(headers.picture);
    if (headers.picture.startPosition > dataEnd) headers.picture.startPosition = dataEnd;
    RestoreStream(mark);
    frame->pictureBytes = static_cast<int32_t>(
        static_cast<uint32_t>(headers.picture.startPosition) - static_cast<uint32_t>(pictureStart));
    if (decoder.CompletedEarlierFrame()) frame->pictureBytes += firstFieldBytes;
}

// File mode keeps only kMaxPictureBytes of a picture in the buffer: the end of a larger one
// lies behind the sentinel at the buffer's end while more of the file is still to come.
bool CMpegDecoderWraper::PictureCutAtWindowEnd() const {
    return !dataSource.IsBufferedMode() && !dataSource.endOfFile &&
           dataSource.fileOffset < dataSource.fileSize &&
           dataSource.ConsumedBytes() >= static_cast<int64_t>(dataSource.CapacityWords()) * 4;
}

CYUVFrame* CMpegDecoderWraper::HandOut() {
    const uint32_t type = headers.picture.picture_coding_type;
    if (type == kPictureP) skipLeadingB = 0;
    return decoder.Pictures().HandOut(type);
}

int32_t CMpegDecoderWraper::CloseDecoder() {
    dataSource.Close();
    decoder.Release();
    return 0;
}

int32_t CMpegDecoderWraper::Reset() {
    dataSource.Rewind();
    ended = 0;
    searching = 1;
    skipLeadingB = 1;
    return 0;
}

CMpegDecoderWraper::StreamMark CMpegDecoderWraper::MarkStream() const {
    StreamMark mark;
    mark.wordPtr = dataSource.Bits().Word();
    mark.bitOffset = dataSource.Bits().Offset();
    mark.bufferStart = BufferStart();
    mark.buffer = dataSource.buffer;
    mark.wordStart = mark.bufferStart + static_cast<uint64_t>(dataSource.ConsumedBytes());
    return mark;
}

void CMpegDecoderWraper::RestoreStream(const StreamMark& mark) {
    if (!dataSource.buffer) return;
    uint64_t bufferStart = BufferStart();
    if (dataSource.IsBufferedMode() ||
        (bufferStart == mark.bufferStart && dataSource.buffer == mark.buffer)) {
        dataSource.SetPosition(mark.wordPtr, mark.bitOffset);
        return;
    }
    // The header search refilled the buffer, which moved its contents.
    int64_t words = (static_cast<int64_t>(mark.wordStart) - static_cast<int64_t>(bufferStart)) / 4;
    if (mark.wordStart >= bufferStart && (mark.wordStart - bufferStart) % 4 == 0 &&
        words <= dataSource.CapacityWords()) {
        dataSource.SetPosition(dataSource.buffer + words, mark.bitOffset);
    } else {
        // The position is no longer buffered: read again from its word.
        dataSource.SetInputPosition(static_cast<uint32_t>(mark.wordStart),
                                    static_cast<uint32_t>(mark.wordStart >> 32));
        dataSource.SetPosition(dataSource.Bits().Word(), mark.bitOffset);
    }
}

int32_t CMpegDecoderWraper::ReadHeaderToSkip(StreamMark& mark) {
    if (!dataSource.IsBufferedMode() && dataSource.ConsumedBytes() > kSkipRefillThresholdBytes) {
        dataSource.FillBuffer();
    }
    mark = MarkStream();
    const int32_t result = headerReader.getHeader();
    // A sequence header passed over puts the stream in step again.
    if (headerReader.sequenceHeaderSeen) searching = 0;
    return result;
}

int32_t CMpegDecoderWraper::SkipFrame() {
    StreamMark mark;
    const int32_t result = ReadHeaderToSkip(mark);
    if (result == 1 && headers.picture.picture_coding_type == kPictureB) return 0;
    RestoreStream(mark);
    return 1;
}

int32_t CMpegDecoderWraper::SkipFrames(int32_t count) {
    int32_t passed = 0;
    for (StreamMark mark; passed < count; ++passed) {
        if (ReadHeaderToSkip(mark) != 1) {
            RestoreStream(mark);
            break;
        }
        if (count - passed < kPicturesDecodedBeforeTarget &&
            headers.picture.picture_coding_type != kPictureB) {
            RestoreStream(mark);
            GetNextFrame(1);
        }
    }
    return passed;
}

}  // namespace d2u
