// Pulls the video elementary stream out of a program stream and cuts it into chunks of one
// coded picture each, ready for a buffer-driven decoding handle.
#pragma once

#include <cstdint>

#include "demux/mpeg_data.h"

namespace d2u {

class CVideoMpegData : public CMpegData {
public:
    static constexpr int32_t kBlockCapacity = 40000;
    static constexpr int32_t kCarryBufferSize = 40000;
    // A boundary closer than this to the chunk start does not end the chunk.
    static constexpr int32_t kShortChunk = 50;
    // The preview hands in a buffer of this size.
    static constexpr int32_t kDefaultChunkCapacity = 1048576;
    // GetVideoChunk result for a chunk larger than the chunk capacity (length 0, nothing
    // written past the capacity; the next call starts at the chunk's end).
    static constexpr int32_t kChunkTooLarge = -3;

    CVideoMpegData() = default;
    ~CVideoMpegData() override;

    // After the move, reads on to the first navigation packet at or after the offset.
    int32_t Seek(uint32_t offsetLow, uint32_t offsetHigh) override;
    int32_t Reset() override;

    // One coded frame: a chunk that ends after the first field of a pair takes the second field
    // in too.
    int32_t GetVideoChunk(uint8_t* out, int32_t* length, int32_t* timeStamp);

    // Bytes GetVideoChunk may write into its output buffer.
    void SetChunkCapacity(int32_t capacity) { chunkCapacity_ = capacity > 0 ? capacity : 0; }
    int32_t chunkCapacity() const { return chunkCapacity_; }
    int32_t carryLength() const { return carryLen; }

private:
    struct Chunk {
        uint8_t* out;
        int64_t capacity;
        int64_t length;  // also counts bytes not stored once the chunk overflowed
        bool overflow;
        bool skipFirst;   // the chunk's own picture start code is still to come
        uint8_t tail[3];  // last bytes of an overflowed chunk, for start codes split after it
        int32_t tailLen;
    };

    // One coded picture.
    int32_t GetPictureChunk(uint8_t* out, int32_t* length, int32_t* timeStamp);
    bool CarryStartsWithPicture() const;
    BlockInfo* NextBlock();
    bool TakeChunkFromCarry(Chunk& chunk);
    void GatherVideoBlocks(Chunk& chunk, int32_t* timeStamp);
    bool AddVideoPayload(Chunk& chunk, const BlockInfo& block);
    void EndChunkAt(Chunk& chunk, uint8_t* payload, int32_t payloadLen, int32_t boundary,
                    bool stored);
    // Copies the last (up to three) bytes of the chunk to destination; returns how many.
    int32_t CopyChunkTail(const Chunk& chunk, uint8_t* destination) const;
    void CarryTail(const uint8_t* bytes, int32_t count);
    int32_t FinishChunk(const Chunk& chunk, int32_t* length, bool fromCarry);

    uint8_t* tempSearchBuff = nullptr;
    int32_t carryLen = 0;
    int32_t chunkCapacity_ = kDefaultChunkCapacity;
};

// Looks for the end of a chunk: the next picture, sequence header or group start code. With
// skipFirst the first picture start code belongs to the chunk and is passed over, and so are
// sequence and group start codes before it (they set headerSeen). The scan also looks at up to
// three bytes before buffer when lookBack says they exist. Returns 1 with the boundary's position
// relative to buffer (down to -3), or 0 with position 0.
int32_t HasPictureStart(const uint8_t* buffer, int32_t length, int32_t* position, int32_t lookBack,
                        int32_t skipFirst, int32_t* headerSeen);

}  // namespace d2u
