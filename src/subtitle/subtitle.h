// One subtitle handle: reads subtitle records forward from a file or from memory, keeps the
// record that is current for the frames being drawn, and draws its picture through a mask onto
// RGB frames or YUV frame records.
//
// Records are read only forward and in the order of their times: a put reads on while the
// frame's time lies after the current record's end. A record is shown for the frames whose time
// t = frame number / frame rate satisfies startTime <= t <= endTime.
#pragma once

#include <cstdint>
#include <memory>

#include "picture/yuv_frame.h"
#include "platform/platform.h"
#include "subtitle/subtitle_placement.h"
#include "subtitle/subtitle_planes.h"
#include "subtitle/subtitle_record.h"

namespace d2u {

class CSubtitle {
public:
    // Results of ReadNextRecord and the put operations.
    static constexpr int32_t kNoRecord = -1;
    static constexpr int32_t kBadSize = -1003;
    static constexpr int32_t kBadPosition = -1004;
    static constexpr int32_t kWrongOutput = -1;
    static constexpr int32_t kNothingShown = -2;

    CSubtitle();
    virtual ~CSubtitle();
    CSubtitle(const CSubtitle&) = delete;
    CSubtitle& operator=(const CSubtitle&) = delete;

    // Takes the file (kInvalidFile: records come only from memory) and allocates the planes.
    // A frame rate that is not a positive finite number, or an RGB depth other than 24 and 32
    // bits, makes a handle that never draws. Returns 0, or -1 for such a handle.
    int32_t Load(platform::FileHandle file, float frameRate, int32_t rgbOutput,
                 int32_t bitsPerPixel);

    // Reads, checks and decodes the next record. 0; -1 without a file and a pending record
    // (both times move on by one second), at the end of the file, or for a record that is
    // structurally broken; -1003 for a bad picture size; -1004 for a bad position. Every
    // rejected record gets the times 100000.0 and is never shown.
    int32_t ReadNextRecord();
    // The record is read by the next read that needs one, and only while there is no file.
    // It is a 76-byte header followed at byte 76 by a pointer to its picture data; the memory
    // must stay valid until then. A null record withdraws one still pending.
    int32_t SetPendingRecord(const void* record);

    // Draws the record current at the frame onto an RGB frame whose top row starts at topRow
    // and whose rows are `stride` bytes apart. The whole picture is drawn at (x1, y1) as placed,
    // clipped to the screen only. 0 drawn, -1 handle for YUV output, -2 nothing shown.
    int32_t PutRGB(uint8_t* topRow, int32_t stride, int32_t frameNumber);
    // The same onto a YUV frame record, clipped to the screen and to its planes.
    int32_t PutYUV(const YUVFrameFields& frame, int32_t frameNumber);

    // Take effect from the next record read.
    int32_t SetScaleFactors(double xFactor, double yFactor);
    int32_t SetMaxSize(int32_t maxWidth, int32_t maxHeight);

    // For inspection: the current header, its geometry as placed.
    const SubtitleRecord& Header() const { return header; }

private:
    bool IsShownAt(int32_t frameNumber);
    void ReadUntil(float time);
    void SkipIdleTime(float time);
    bool ReadHeader(uint8_t* bytes, const uint8_t*& pendingData);
    bool ReadData(int64_t size, const uint8_t* pendingData);
    void SkipInFile(int64_t size);
    void DecodeAndPlace(int32_t dataSize);
    void NeverShow();
    void CloseFile();

    platform::FileHandle file;
    uint64_t filePosition;
    bool reachedEndOfFile;
    SubtitleRecord header;
    float frameRate;
    bool drawable;
    bool rgbOutput;
    std::unique_ptr<uint8_t[]> recordArea;
    const uint8_t* pendingRecord;
    bool hasPendingRecord;
    bool pictureReady;  // the planes hold the current record, placed
    // What the current record may cover: the maximum size when one was set as it was read,
    // else the 720 x 576 screen that record positions address. It is the only bound known for
    // RGB frames; YUV frames are bounded by their planes as well.
    int64_t screenWidth;
    int64_t screenHeight;
    SubtitleScaling scaling;
    CSubtitlePlanes planes;
};

}  // namespace d2u
