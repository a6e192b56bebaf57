#include "demux/video_mpeg_data.h"

#include <cstring>
#include <new>

#include "demux/field_pictures.h"
#include "diag/decoder_log.h"
#include "input/start_codes.h"

namespace d2u {

namespace {

constexpr int32_t kStartCodeLookBack = 3;

struct ChunkScan {
    bool found;
    int32_t position;
    bool headerSeen;   // a sequence or group start code was passed while skipping
    bool pictureSeen;  // the skipped picture start code was passed
};

// Copies the last (up to three) of the `available` bytes that end at `end`; returns how many.
int32_t CopyLookBackBytes(const uint8_t* end, int64_t available, uint8_t* destination) {
    int32_t count =
        available < kStartCodeLookBack ? static_cast<int32_t>(available) : kStartCodeLookBack;
    if (count > 0) std::memcpy(destination, end - count, static_cast<size_t>(count));
    return count;
}

bool IsChunkBoundaryCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 &&
           (p[3] == kPictureStartCode || p[3] == kSequenceHeaderCode || p[3] == kGroupStartCode);
}

ChunkScan ScanForChunkBoundary(const uint8_t* buffer, int32_t length, int32_t lookBack,
                               bool skipFirst) {
    ChunkScan scan = {false, 0, false, false};
    if (!buffer) return scan;
    int32_t from =
        lookBack <= 0 ? 0 : -(lookBack < kStartCodeLookBack ? lookBack : kStartCodeLookBack);
    for (int32_t i = from; i < length - 3; ++i) {
        if (!IsChunkBoundaryCode(buffer + i)) continue;
        bool picture = buffer[i + 3] == kPictureStartCode;
        if (skipFirst) {
            if (picture) {
                skipFirst = false;
                scan.pictureSeen = true;
            } else {
                scan.headerSeen = true;
            }
            continue;
        }
        if (picture) scan.headerSeen = false;
        scan.found = true;
        scan.position = i;
        return scan;
    }
    return scan;
}

}  // namespace

int32_t HasPictureStart(const uint8_t* buffer, int32_t length, int32_t* position, int32_t lookBack,
                        int32_t skipFirst, int32_t* headerSeen) {
    ChunkScan scan = ScanForChunkBoundary(buffer, length, lookBack, skipFirst != 0);
    if (position) *position = scan.found ? scan.position : 0;
    if (headerSeen) *headerSeen = scan.headerSeen ? 1 : 0;
    return scan.found ? 1 : 0;
}

CVideoMpegData::~CVideoMpegData() {
    delete[] tempSearchBuff;
}

int32_t CVideoMpegData::Seek(uint32_t offsetLow, uint32_t offsetHigh) {
    if (sourceMode != 1) return -1;
    CMpegData::Seek(offsetLow, offsetHigh);
    for (BlockInfo* block; (block = NextBlock()) != nullptr;) {
        if (block->blockType == CPackReader::kBlockNavigation) break;
    }
    carryLen = 0;
    return 0;
}

int32_t CVideoMpegData::Reset() {
    Log(15, "CVideoMpegData::Reset start ");
    carryLen = 0;
    int32_t result = CMpegData::Reset();
    Log(15, "CVideoMpegData::Reset end retCode = %d", result);
    return result;
}

BlockInfo* CVideoMpegData::NextBlock() {
    BlockInfo* block = packReader.GetNextBlockInfo();
    if (block) return block;
    packReader.Resync();
    return packReader.GetNextBlockInfo();
}

int32_t CVideoMpegData::GetVideoChunk(uint8_t* out, int32_t* length, int32_t* timeStamp) {
    int32_t result = GetPictureChunk(out, length, timeStamp);
    if (result != 0) return result;
    // A decoder fed the first field alone has half a frame to show.
    while (EndsWithLoneFirstField(out, static_cast<size_t>(*length)) && CarryStartsWithPicture()) {
        const int32_t capacity = chunkCapacity_;
        int32_t more = 0, secondStamp = 0;
        chunkCapacity_ = capacity - *length;
        int32_t second = GetPictureChunk(out + *length, &more, &secondStamp);
        chunkCapacity_ = capacity;
        if (second == kChunkTooLarge) {
            *length = 0;
            return second;
        }
        if (second != 0) break;
        *length += more;
    }
    return 0;
}

bool CVideoMpegData::CarryStartsWithPicture() const {
    return carryLen >= 4 && tempSearchBuff[0] == 0 && tempSearchBuff[1] == 0 &&
           tempSearchBuff[2] == 1 && tempSearchBuff[3] == 0;
}

int32_t CVideoMpegData::GetPictureChunk(uint8_t* out, int32_t* length, int32_t* timeStamp) {
    Log(25, "CVideoMpegData::GetVideoChunk start ");
    if (timeStamp) *timeStamp = 0;
    Chunk chunk = {out, chunkCapacity_, 0, false, true, {0, 0, 0}, 0};
    Log(25, "CVideoMpegData::GetVideoChunk - tempSearchBuff %d",
        static_cast<int32_t>(reinterpret_cast<intptr_t>(tempSearchBuff)));
    if (!tempSearchBuff) {
        // Room for a payload staged behind the last bytes of the chunk.
        tempSearchBuff = new (std::nothrow) uint8_t[kCarryBufferSize + kStartCodeLookBack];
    }
    Log(25, "CVideoMpegData::GetVideoChunk - tempSearchBuff %d",
        static_cast<int32_t>(reinterpret_cast<intptr_t>(tempSearchBuff)));
    if (!out || !length || !tempSearchBuff) return FinishChunk(chunk, length, false);
    if (carryLen > 0 && TakeChunkFromCarry(chunk)) return FinishChunk(chunk, length, true);
    GatherVideoBlocks(chunk, timeStamp);
    return FinishChunk(chunk, length, false);
}

bool CVideoMpegData::TakeChunkFromCarry(Chunk& chunk) {
    ChunkScan scan = ScanForChunkBoundary(tempSearchBuff, carryLen, 0, true);
    int32_t taken = scan.found ? scan.position : carryLen;
    if (taken <= chunk.capacity) {
        std::memcpy(chunk.out, tempSearchBuff, static_cast<size_t>(taken));
    } else {
        chunk.overflow = true;
        chunk.tailLen = CopyLookBackBytes(tempSearchBuff + taken, taken, chunk.tail);
    }
    chunk.length = taken;
    if (scan.found) {
        CarryTail(tempSearchBuff + taken, carryLen - taken);
        return true;
    }
    chunk.skipFirst = !scan.pictureSeen;
    carryLen = 0;
    return false;
}

void CVideoMpegData::GatherVideoBlocks(Chunk& chunk, int32_t* timeStamp) {
    for (BlockInfo* block; (block = NextBlock()) != nullptr;) {
        if (block->blockType != CPackReader::kBlockVideo) continue;
        if (timeStamp && *timeStamp == 0) {
            *timeStamp = static_cast<int32_t>(static_cast<uint32_t>(block->pts));
        }
        if (AddVideoPayload(chunk, *block)) return;
    }
}

// The payload goes straight behind the chunk when it fits there; otherwise it is staged in the
// carry buffer (empty while blocks are gathered) behind the chunk's last bytes, so that only
// the part that belongs to the chunk is measured against the capacity.
bool CVideoMpegData::AddVideoPayload(Chunk& chunk, const BlockInfo& block) {
    int32_t payloadLen = block.payloadLen;
    bool stored = !chunk.overflow && chunk.length + payloadLen <= chunk.capacity;
    uint8_t* payload;
    int32_t lookBack;
    if (stored) {
        payload = chunk.out + chunk.length;
        lookBack = chunk.length < kStartCodeLookBack ? static_cast<int32_t>(chunk.length)
                                                     : kStartCodeLookBack;
    } else {
        lookBack = CopyChunkTail(chunk, tempSearchBuff);
        payload = tempSearchBuff + lookBack;
    }
    int32_t capacity = kBlockCapacity;
    if (packReader.GetBlockData(payload, &capacity) != 0) return false;

    ChunkScan scan = ScanForChunkBoundary(payload, payloadLen, lookBack, chunk.skipFirst);
    if (scan.found && scan.position + chunk.length < kShortChunk) {
        scan = ScanForChunkBoundary(payload, payloadLen, lookBack, true);
    }
    if (scan.found) {
        EndChunkAt(chunk, payload, payloadLen, scan.position, stored);
        return true;
    }
    if (!stored) {
        chunk.overflow = true;
        chunk.tailLen = CopyLookBackBytes(payload + payloadLen, lookBack + payloadLen, chunk.tail);
    }
    chunk.length += payloadLen;
    if (scan.pictureSeen) chunk.skipFirst = false;
    return false;
}

// The chunk ends at boundary (relative to payload, down to -3); the bytes from there on are
// carried over to the next chunk.
void CVideoMpegData::EndChunkAt(Chunk& chunk, uint8_t* payload, int32_t payloadLen,
                                int32_t boundary, bool stored) {
    if (!stored && !chunk.overflow && chunk.length + boundary <= chunk.capacity) {
        if (boundary > 0) {
            std::memcpy(chunk.out + chunk.length, payload, static_cast<size_t>(boundary));
        }
    } else if (!stored) {
        chunk.overflow = true;
    }
    chunk.length += boundary;
    CarryTail(payload + boundary, payloadLen - boundary);
}

int32_t CVideoMpegData::CopyChunkTail(const Chunk& chunk, uint8_t* destination) const {
    if (!chunk.overflow) {
        return CopyLookBackBytes(chunk.out + chunk.length, chunk.length, destination);
    }
    if (chunk.tailLen > 0) std::memcpy(destination, chunk.tail, static_cast<size_t>(chunk.tailLen));
    return chunk.tailLen;
}

void CVideoMpegData::CarryTail(const uint8_t* bytes, int32_t count) {
    if (count > kCarryBufferSize) {
        Log(1, "CVideoMpegData::GetVideoChunk - %d bytes after the chunk dropped", count);
        carryLen = 0;
        return;
    }
    std::memmove(tempSearchBuff, bytes, static_cast<size_t>(count));
    carryLen = count;
}

int32_t CVideoMpegData::FinishChunk(const Chunk& chunk, int32_t* length, bool fromCarry) {
    if (chunk.overflow) {
        if (length) *length = 0;
        PublishFormat(
            "ERROR - CVideoMpegData::GetVideoChunk - chunk does not fit the %d-byte buffer",
            static_cast<int32_t>(chunk.capacity));
        Log(15, "CVideoMpegData::GetVideoChunk end, buffLen=%d, retCode=%d", 0, kChunkTooLarge);
        return kChunkTooLarge;
    }
    int32_t chunkLength = static_cast<int32_t>(chunk.length);
    if (length) *length = chunkLength;
    if (chunkLength <= 0) {
        if (length) *length = 0;
        Log(15, "CVideoMpegData::GetVideoChunk end, buffLen=%d, retCode=-1", 0);
        return -1;
    }
    Log(fromCarry ? 15 : 25, "CVideoMpegData::GetVideoChunk end, buffLen=%d, retCode=0",
        chunkLength);
    return 0;
}

}  // namespace d2u
