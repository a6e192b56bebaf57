#include "decoder/mpeg_decoder_wraper.h"

#include <cstdint>
#include <cstring>

#include "diag/decoder_log.h"
#include "picture/yuv_frame.h"

namespace d2u {

namespace {

// The skip operations refill earlier than the header reader does, so that a saved reading
// position normally stays valid while one header is searched for.
constexpr int64_t kSkipRefillThresholdBytes = CBitstreamDataSource::kSkipRefillThresholdBytes;
// The last pictures before a skip target are decoded, so that the references are rebuilt.
constexpr int32_t kPicturesDecodedBeforeTarget = 15;

void Log(const char* text, int32_t level) {
    if (CDecoderLog* log = CachedLogger()) log->Write(text, level);
}

void Publish(const char* text) {
    if (CDecoderLog* log = CachedLogger()) log->Publish(text);
}

}  // namespace

CMpegDecoderWraper::CMpegDecoderWraper() {
    std::memset(&headers, 0, sizeof headers);
}

CMpegDecoderWraper::~CMpegDecoderWraper() = default;

int32_t CMpegDecoderWraper::LoadFile(const char* path) {
    int32_t result = dataSource.Open(path);
    if (result != 0) return result;
    headerReader.Init(&dataSource, &headers);
    return InitDecoder();
}

int32_t CMpegDecoderWraper::LoadFileW(const wchar_t* path) {
    int32_t result = dataSource.OpenW(path);
    if (result != 0) return result;
    headerReader.Init(&dataSource, &headers);
    return InitDecoder();
}

int32_t CMpegDecoderWraper::Init(const uint8_t* data, int32_t length) {
    Log("CMpegDecoderWraper::Init before dataSource.SetDataBuffer", 1);
    dataSource.SetDataBuffer(data, length);
    Log("CMpegDecoderWraper::Init before headerReader.Init", 1);
    headerReader.Init(&dataSource, &headers);
    Log("CMpegDecoderWraper::Init before InitDecoder", 1);
    int32_t result = InitDecoder();
    ended = 0;
    if (result == 0) ready = 1;
    return result;
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
        Log("CMpegDecoderWraper::InitDecoder - not able to read sequence header codes. - ERROR", 1);
        Publish(
            "ERRROR - CMpegDecoderWraper::InitDecoder - not able to read sequence header codes. "
            "- ERROR");
        return -1;
    }
    if (result != 1) {
        Log("CMpegDecoderWraper::InitDecoder - not able to read image header codes. - ERROR", 1);
        Publish(
            "ERRROR - CMpegDecoderWraper::InitDecoder - not able to read image header codes. - "
            "ERROR");
        return -2008;
    }

    // A decoder made ready before (a buffered start that is tried again) starts afresh.
    decoder.Release();
    if (decoder.Init(&headerReader, &dataSource, &headers) != 0) {
        Log("CMpegDecoderWraper::InitDecoder - not able to set up the picture decoder. - ERROR", 1);
        Publish(
            "ERRROR - CMpegDecoderWraper::InitDecoder - not able to set up the picture decoder. "
            "- ERROR");
        decoder.Release();
        return -1;
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
    Log("CMpegDecoderWraper GetNextFrame - start", 25);
    // Not set up, or closed.
    if (!decoder.currentFrame) return nullptr;
    for (;;) {
        if (dataSource.NeedsFill()) dataSource.FillBuffer();
        int32_t result = ReadNextPictureHeader();
        // A host buffer used up: the previous picture once more, unless it is a first field
        // still waiting for its second.
        if (result == -1 && dataSource.IsBufferedMode()) {
            return decoder.FrameComplete() ? HandOut() : nullptr;
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
        if (!decoder.FrameComplete() && dataSource.IsBufferedMode()) {
            firstFieldBytes = decoder.currentFrame->pictureBytes;
            return nullptr;
        }
        if (skipLeadingB == 1 && headers.picture.picture_coding_type == kPictureB) continue;
        lastPictureStart = pictureStart;
        return HandOut();
    }
}

// The frame handed out last, once more, as it was decoded. A B frame, which the host may have
// written into, is decoded again from its bytes (the references it reads are unchanged); a
// reference picture is handed to the host as a fresh copy anyway.
CYUVFrame* CMpegDecoderWraper::RepeatLastFrame() {
    CYUVFrame* frame = decoder.lastFrame;
    if (!frame || frame == decoder.olderReference || frame == decoder.newerReference ||
        dataSource.IsBufferedMode()) {
        return frame;
    }
    dataSource.SetInputPosition(static_cast<uint32_t>(lastPictureStart),
                                static_cast<uint32_t>(lastPictureStart >> 32));
    if (headerReader.getHeader() != 1 || DecodePicture() != 0) return frame;
    RecordPictureSize(lastPictureStart);
    decoder.lastFrame = decoder.currentFrame;
    return decoder.lastFrame;
}

int32_t CMpegDecoderWraper::DecodePicture() {
    try {
        decoder.getMacroblocks();
    } catch (...) {
        Publish("ERROR - CMpegDecoderWraper GetNextFrame - getMacroblocks - error!!!");
        Log("CMpegDecoderWraper GetNextFrame - getMacroblocks - error!!!", 15);
        return -1;
    }
    // A sequence the decoder refused (its reason is logged) hands out no stale pictures.
    return decoder.GeometryReady() ? 0 : -1;
}

void CMpegDecoderWraper::RecordPictureSize(uint64_t pictureStart) {
    CYUVFrame* frame = decoder.currentFrame;
    frame->topFieldFirst = static_cast<int32_t>(headers.picture.top_field_first);
    // The picture ends where the next start code begins (the header reader reads it again),
    // or where the data ends: the filler behind the data is no part of it.
    uint32_t* wordPtr = dataSource.wordPtr;
    int32_t bitOffset = dataSource.bitOffset;
    uint64_t dataEnd = dataSource.DataEnd();
    CMpegHeaderReader::FindStartCode(dataSource);
    if (PictureCutAtWindowEnd()) {
        Publish(
            "ERROR - CMpegDecoderWraper GetNextFrame - coded picture larger than 4 MiB, cut "
            "short");
    }
    headerReader.MarkStartCodePosition(headers.picture);
    if (headers.picture.startPosition > dataEnd) headers.picture.startPosition = dataEnd;
    dataSource.wordPtr = wordPtr;
    dataSource.bitOffset = bitOffset;
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
    uint32_t type = headers.picture.picture_coding_type;
    if (type == kPictureP) skipLeadingB = 0;
    // A first field alone (a host buffer holding one field) leaves the references as they
    // are: its frame becomes a reference once the second field has been decoded into it.
    // The pictures are not copied: the slots move on, and the decoder puts the next frame into
    // a picture that no slot holds.
    if (type < kPictureB && decoder.FrameComplete() && decoder.olderReference &&
        decoder.newerReference) {
        decoder.olderReference = decoder.newerReference;
        decoder.newerReference = decoder.currentFrame;
    }
    decoder.lastFrame = decoder.currentFrame;
    if (type == kPictureI) decoder.currentFrame->isKeyFrame = 1;
    return decoder.lastFrame;
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
    mark.wordPtr = dataSource.wordPtr;
    mark.bitOffset = dataSource.bitOffset;
    mark.byteInWord = (31 - dataSource.bitOffset) / 8;
    mark.wordStart = dataSource.GetBytePosition() - static_cast<uint64_t>(mark.byteInWord);
    mark.bufferStart = BufferStart();
    return mark;
}

uint64_t CMpegDecoderWraper::BufferStart() const {
    if (!dataSource.buffer) return 0;
    int64_t index = dataSource.wordPtr - dataSource.buffer;
    return dataSource.GetBytePosition() - static_cast<uint64_t>(index * 4) -
           static_cast<uint64_t>((31 - dataSource.bitOffset) / 8);
}

void CMpegDecoderWraper::RestoreStream(const StreamMark& mark) {
    if (!dataSource.buffer) return;
    uint64_t bufferStart = BufferStart();
    if (dataSource.IsBufferedMode() || bufferStart == mark.bufferStart) {
        dataSource.wordPtr = mark.wordPtr;
        dataSource.bitOffset = mark.bitOffset;
        return;
    }
    // The header search refilled the buffer, which moved its contents.
    int64_t words = (static_cast<int64_t>(mark.wordStart) - static_cast<int64_t>(bufferStart)) / 4;
    if (mark.wordStart >= bufferStart && (mark.wordStart - bufferStart) % 4 == 0 &&
        words <= dataSource.CapacityWords()) {
        dataSource.wordPtr = dataSource.buffer + words;
    } else {
        // The position is no longer buffered: read again from its word.
        dataSource.SetInputPosition(static_cast<uint32_t>(mark.wordStart),
                                    static_cast<uint32_t>(mark.wordStart >> 32));
    }
    dataSource.bitOffset = mark.bitOffset;
}

void CMpegDecoderWraper::RefillBeforeSkip() {
    if (!dataSource.IsBufferedMode() && dataSource.ConsumedBytes() > kSkipRefillThresholdBytes) {
        dataSource.FillBuffer();
    }
}

int32_t CMpegDecoderWraper::SkipFrame() {
    RefillBeforeSkip();
    StreamMark mark = MarkStream();
    int32_t result = headerReader.getHeader();
    // A sequence header passed over puts the stream in step again.
    if (headerReader.sequenceHeaderSeen) searching = 0;
    if (result == 1 && headers.picture.picture_coding_type == kPictureB) return 0;
    RestoreStream(mark);
    return 1;
}

int32_t CMpegDecoderWraper::SkipFrames(int32_t count) {
    if (count < 1) return 0;
    int32_t passed = 0;
    while (passed < count) {
        int32_t remaining = count - passed;
        RefillBeforeSkip();
        StreamMark mark = MarkStream();
        int32_t result = headerReader.getHeader();
        if (headerReader.sequenceHeaderSeen) searching = 0;
        if (result != 1) {
            RestoreStream(mark);
            break;
        }
        if (remaining < kPicturesDecodedBeforeTarget &&
            headers.picture.picture_coding_type != kPictureB) {
            RestoreStream(mark);
            GetNextFrame(1);
        }
        ++passed;
    }
    return passed;
}

}  // namespace d2u
