// Reads an MPEG-2 program stream in 2048-byte units and hands out one block at a time: a pack
// header with the packet that follows it, or a packet alone.
#pragma once

#include <cstdint>

#include "platform/platform.h"

#if defined(_WIN32) && !defined(_WIN64)
#define D2U_PACK_FILTER_CALL __stdcall
#else
#define D2U_PACK_FILTER_CALL
#endif

namespace d2u {

// What the reader found in the last block. Lives inside the reader; overwritten by the next call.
struct BlockInfo {
    int32_t blockType;      // one of the kBlock* values of CPackReader
    int32_t blockLen;       // bytes from the start of this block to the start of the next one
    int32_t payloadOffset;  // elementary-stream payload, counted from the block start (types 1, 2)
    int32_t payloadLen;     // payload bytes (types 1, 2)
    uint64_t pts;           // presentation time stamp, 90 kHz (types 1, 2)
};

class CPackReader {
public:
    static constexpr int32_t kBlockOther = 0;
    static constexpr int32_t kBlockAudio = 1;
    static constexpr int32_t kBlockVideo = 2;
    static constexpr int32_t kBlockNavigation = 3;
    static constexpr int32_t kBlockSystemHeader = 4;

    static constexpr int32_t kUnitSize = 2048;
    static constexpr int32_t kScanReadSize = 16380;
    static constexpr int32_t kScanCarry = 4;
    static constexpr int32_t kBufferSize = 16384;

    // GetBlockData results beside 0.
    static constexpr int32_t kNoDataOrTooSmall = -1;
    static constexpr int32_t kNotAPayloadBlock = -2;
    // The payload does not lie wholly within the bytes of the unit read.
    static constexpr int32_t kPayloadOutsideUnit = -3;

    CPackReader();
    virtual ~CPackReader();
    CPackReader(const CPackReader&) = delete;
    CPackReader& operator=(const CPackReader&) = delete;

    int32_t Open(const char* fileName);
    int32_t Close();
    int32_t Reset();
    int32_t Seek(uint32_t offsetLow, uint32_t offsetHigh);
    int32_t Resync();
    BlockInfo* GetNextBlockInfo();
    // Copies the current block's payload (navigation blocks: the packet's data bytes) to
    // destination. The capacity word holds the payload length on return, except after
    // kNotAPayloadBlock and when no file is open.
    int32_t GetBlockData(uint8_t* destination, int32_t* capacity);

    bool IsOpen() const { return file_ != platform::kInvalidFile; }
    int32_t syncState() const { return syncState_; }
    uint64_t fileSize() const { return fileSize_; }
    int64_t position() const { return position_; }

private:
    using IniFunction = int32_t(D2U_PACK_FILTER_CALL*)(const char* fileName);
    using DecFunction = int32_t(D2U_PACK_FILTER_CALL*)(uint8_t* unit, int32_t count);

    // Where the packet of the current block starts, and what the block turned out to be.
    struct ParsedBlock {
        BlockInfo info;
        int32_t dataStart;  // offset in blockBuffer of the bytes GetBlockData copies
        int32_t dataLen;
    };

    void LoadFilter(const char* fileName);
    void UnloadFilter();
    void ForgetBlock();
    void MoveFilePointer(uint64_t offset);
    int32_t ReadUnit();
    bool ParseBlock(int32_t blockOffset, ParsedBlock& parsed) const;
    bool ParsePesHeader(int32_t blockOffset, int32_t packet, bool packHeader,
                        ParsedBlock& parsed) const;
    int32_t PacketStart(int32_t blockOffset, bool packHeader) const;
    bool HasStartCodePrefix(int32_t offset) const;
    bool Within(int32_t offset, int32_t count) const;
    int32_t LogPosition() const { return static_cast<int32_t>(position_); }

    platform::FileHandle file_ = platform::kInvalidFile;
    uint64_t fileSize_ = 0;
    int64_t position_ = 0;
    uint8_t scanBuffer[kBufferSize];
    int32_t syncState_ = 0;
    BlockInfo blockInfo_ = {};
    IniFunction Ini = nullptr;
    DecFunction Dec = nullptr;
    platform::LibraryHandle filterLibrary_ = nullptr;
    uint8_t blockBuffer[kBufferSize];
    uint8_t* blockPtr = blockBuffer;
    int32_t bytesInBuffer = 0;

    // Where the file pointer stands; the platform layer has no "tell".
    uint64_t filePointer_ = 0;
    int32_t dataStart_ = 0;
    int32_t dataLen_ = -1;
};

}  // namespace d2u
