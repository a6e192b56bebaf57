#include "subtitle/subtitle.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "diag/decoder_log.h"
#include "subtitle/subtitle_run_decoder.h"

namespace d2u {
namespace {

constexpr int32_t kMaxDataSize = kSubtitleRecordAreaSize - kSubtitleHeaderSize;
// Without any record source the times move on one second per read; far behind, they jump.
constexpr int32_t kIdleReadsOneByOne = 1024;

HostPlane HostPlaneOf(const YUVPlane& plane) {
    if (!plane.data || plane.pitch <= 0 || plane.width <= 0 || plane.height <= 0) {
        return HostPlane{nullptr, 0, 0, 0};
    }
    return HostPlane{plane.data, plane.pitch, std::min(plane.width, plane.pitch), plane.height};
}

HostPlane Within(const HostPlane& plane, int64_t width, int64_t height) {
    return HostPlane{plane.data, plane.pitch, std::min(plane.width, width),
                     std::min(plane.height, height)};
}

// The even (parity 0) or odd rows of a plane, as a plane of their own.
HostPlane RowsOfParity(const HostPlane& plane, int32_t parity) {
    if (!plane.data || plane.height <= parity) return HostPlane{nullptr, 0, 0, 0};
    return HostPlane{plane.data + parity * plane.pitch, 2 * plane.pitch, plane.width,
                     (plane.height - parity + 1) / 2};
}

}  // namespace

CSubtitle::CSubtitle()
    : file(platform::kInvalidFile),
      filePosition(0),
      reachedEndOfFile(false),
      header{},
      frameRate(0.0f),
      drawable(false),
      rgbOutput(true),
      pendingRecord(nullptr),
      hasPendingRecord(false),
      pictureReady(false),
      screenWidth(0),
      screenHeight(0) {}

CSubtitle::~CSubtitle() {
    CloseFile();
}

void CSubtitle::CloseFile() {
    if (file != platform::kInvalidFile) platform::Close(file);
    file = platform::kInvalidFile;
}

int32_t CSubtitle::Load(platform::FileHandle subtitleFile, float rate, int32_t rgb,
                        int32_t bitsPerPixel) {
    CloseFile();
    file = subtitleFile;
    filePosition = 0;
    frameRate = rate;
    rgbOutput = rgb != 0;
    header.endTime = -1.0f;
    recordArea.reset(new (std::nothrow) uint8_t[kSubtitleRecordAreaSize]);
    bool planesReady = planes.Allocate(rgbOutput, bitsPerPixel);
    drawable = recordArea && planesReady && std::isfinite(rate) && rate > 0.0f;
    return drawable ? 0 : -1;
}

int32_t CSubtitle::SetPendingRecord(const void* record) {
    pendingRecord = static_cast<const uint8_t*>(record);
    hasPendingRecord = record != nullptr;
    return 0;
}

int32_t CSubtitle::SetScaleFactors(double xFactor, double yFactor) {
    scaling.xFactor = xFactor;
    scaling.yFactor = yFactor;
    return 0;
}

int32_t CSubtitle::SetMaxSize(int32_t maxWidth, int32_t maxHeight) {
    scaling.maxWidth = maxWidth;
    scaling.maxHeight = maxHeight;
    return 0;
}

void CSubtitle::NeverShow() {
    header.startTime = kSubtitleNeverShown;
    header.endTime = kSubtitleNeverShown;
}

int32_t CSubtitle::ReadNextRecord() {
    pictureReady = false;
    reachedEndOfFile = false;
    if (!recordArea) {
        NeverShow();
        return kNoRecord;
    }
    if (file == platform::kInvalidFile && !hasPendingRecord) {
        header.startTime += 1.0f;
        header.endTime += 1.0f;
        return kNoRecord;
    }
    uint8_t bytes[kSubtitleHeaderSize];
    const uint8_t* pendingData = nullptr;
    if (!ReadHeader(bytes, pendingData)) {
        // The end of the file, or a header cut short by it.
        reachedEndOfFile = true;
        NeverShow();
        return kNoRecord;
    }
    header = ParseSubtitleRecord(bytes);
    std::memcpy(recordArea.get(), bytes, kSubtitleHeaderSize);
    if (header.headerSize != kSubtitleHeaderSize) {
        // The layout is unknown; the record size still says where the next record starts.
        NeverShow();
        SkipInFile(static_cast<int64_t>(header.recordSize) - kSubtitleHeaderSize);
        return kNoRecord;
    }
    const int64_t dataSize = header.DataSize();
    if (dataSize < 0 || dataSize > kMaxDataSize) {
        // Larger than the record area: rejected and passed over.
        PublishFormat("ERROR - CSubtitle - record of %d bytes rejected (at most %d)",
                      static_cast<int>(header.recordSize),
                      static_cast<int>(kSubtitleRecordAreaSize));
        NeverShow();
        SkipInFile(dataSize);
        return kNoRecord;
    }
    if (!ReadData(dataSize, pendingData)) {
        NeverShow();
        return kNoRecord;
    }
    if (!header.HasValidSize()) {
        NeverShow();
        return kBadSize;
    }
    if (!header.HasValidPosition()) {
        NeverShow();
        return kBadPosition;
    }
    DecodeAndPlace(static_cast<int32_t>(dataSize));
    return 0;
}

bool CSubtitle::ReadHeader(uint8_t* bytes, const uint8_t*& pendingData) {
    hasPendingRecord = false;
    if (file != platform::kInvalidFile) {
        size_t count = platform::Read(file, bytes, kSubtitleHeaderSize);
        filePosition += count;
        return count == static_cast<size_t>(kSubtitleHeaderSize);
    }
    std::memcpy(bytes, pendingRecord, kSubtitleHeaderSize);
    // The data pointer follows the header; on 64-bit hosts it is not aligned.
    std::memcpy(&pendingData, pendingRecord + kSubtitleHeaderSize, sizeof pendingData);
    return true;
}

bool CSubtitle::ReadData(int64_t size, const uint8_t* pendingData) {
    uint8_t* target = recordArea.get() + kSubtitleHeaderSize;
    if (size == 0) return true;
    if (file != platform::kInvalidFile) {
        size_t count = platform::Read(file, target, static_cast<size_t>(size));
        filePosition += count;
        // A record cut short by the end of the file ends the subtitles like the end itself.
        if (count < static_cast<size_t>(size)) reachedEndOfFile = true;
        return !reachedEndOfFile;
    }
    if (!pendingData) return false;
    std::memcpy(target, pendingData, static_cast<size_t>(size));
    return true;
}

void CSubtitle::SkipInFile(int64_t size) {
    if (file == platform::kInvalidFile || size <= 0) return;
    filePosition += static_cast<uint64_t>(size);
    platform::Seek(file, filePosition);
}

void CSubtitle::DecodeAndPlace(int32_t dataSize) {
    planes.Prepare(header);
    CSubtitleRunDecoder decoder(recordArea.get(), kSubtitleHeaderSize,
                                kSubtitleHeaderSize + dataSize);
    decoder.Decode(header.width, header.height, header.bottomFieldOffset, planes);

    SubtitlePlacement placement = PlaceSubtitle(header, scaling);
    if (placement.scaled) {
        header.x1 = placement.x1;
        header.y1 = placement.y1;
        header.x2 = placement.x2;
        header.y2 = placement.y2;
        header.width = placement.width;
        header.height = placement.height;
        planes.ResizePicture(placement.width, placement.height);
    }
    planes.FinishPicture();
    const bool maxSizeSet = scaling.maxWidth > 0 && scaling.maxHeight > 0;
    screenWidth = maxSizeSet ? scaling.maxWidth : kSubtitleMaxWidth;
    screenHeight = maxSizeSet ? scaling.maxHeight : kSubtitleMaxHeight;
    pictureReady = planes.IsReady();
}

void CSubtitle::SkipIdleTime(float time) {
    for (int32_t i = 0; i < kIdleReadsOneByOne && time > header.endTime; ++i) ReadNextRecord();
    if (!(time > header.endTime)) return;
    double gap = std::ceil(static_cast<double>(time) - static_cast<double>(header.endTime));
    header.startTime = static_cast<float>(header.startTime + gap);
    header.endTime = static_cast<float>(header.endTime + gap);
    if (time > header.endTime) header.endTime = time;
}

void CSubtitle::ReadUntil(float time) {
    while (time > header.endTime) {
        if (file == platform::kInvalidFile && !hasPendingRecord) {
            SkipIdleTime(time);
            return;
        }
        ReadNextRecord();
        // Past the end every further read would find the end again.
        if (reachedEndOfFile) return;
    }
}

bool CSubtitle::IsShownAt(int32_t frameNumber) {
    if (!drawable) return false;
    // Rounded to a 32-bit float also where the arithmetic runs wider (x87).
    volatile float time = static_cast<float>(frameNumber) / frameRate;
    ReadUntil(time);
    return pictureReady && !(time < header.startTime) && !(time > header.endTime);
}

int32_t CSubtitle::PutRGB(uint8_t* topRow, int32_t stride, int32_t frameNumber) {
    if (!rgbOutput) return kWrongOutput;
    if (!IsShownAt(frameNumber)) return kNothingShown;
    planes.DrawRGB(HostPlane{topRow, stride, screenWidth, screenHeight}, header.x1, header.y1);
    return 0;
}

int32_t CSubtitle::PutYUV(const YUVFrameFields& frame, int32_t frameNumber) {
    if (rgbOutput) return kWrongOutput;
    if (!IsShownAt(frameNumber)) return kNothingShown;
    const HostPlane luma = Within(HostPlaneOf(frame.Y), screenWidth, screenHeight);
    const int64_t chromaColumns = (screenWidth + 1) / 2;
    if (frame.chromaFormat != 2) {
        const int64_t chromaRows = (screenHeight + 1) / 2;
        planes.DrawYUV(luma, Within(HostPlaneOf(frame.U), chromaColumns, chromaRows),
                       Within(HostPlaneOf(frame.V), chromaColumns, chromaRows), header.x1,
                       header.y1);
        return 0;
    }
    // 4:2:2 chroma has a row for every luma row: each chroma row of the subtitle covers the two
    // rows of its pair, drawn as the even and the odd rows (the luma is the same both times).
    const HostPlane cb = Within(HostPlaneOf(frame.U), chromaColumns, screenHeight);
    const HostPlane cr = Within(HostPlaneOf(frame.V), chromaColumns, screenHeight);
    for (int32_t parity = 0; parity < 2; ++parity) {
        planes.DrawYUV(luma, RowsOfParity(cb, parity), RowsOfParity(cr, parity), header.x1,
                       header.y1);
    }
    return 0;
}

}  // namespace d2u
