#include "demux/pack_reader.h"

#include <cstring>

#include "diag/decoder_log.h"

namespace d2u {

namespace {

const uint8_t kPackStartCode[4] = {0x00, 0x00, 0x01, 0xBA};

constexpr uint8_t kStreamSystemHeader = 0xBB;
constexpr uint8_t kStreamPrivate1 = 0xBD;
constexpr uint8_t kStreamPrivate2 = 0xBF;
constexpr uint8_t kStreamFirstAudio = 0xC0;
constexpr uint8_t kStreamFirstVideo = 0xE0;
constexpr uint8_t kPrivateAudioSubstream = 0x80;

constexpr int32_t kPackHeaderLen = 14;
constexpr int32_t kMpeg1PackHeaderLen = 12;
constexpr int32_t kPacketHeaderLen = 6;  // start code prefix, stream id, length
constexpr int32_t kPesFixedLen = 9;      // up to and including PES_header_data_length
constexpr int32_t kPtsLen = 5;
constexpr int32_t kPrivateHeaderLen = 4;  // substream number and three more bytes
constexpr int32_t kShiftedPacket = 2;

// First 00 00 01 BA lying wholly within data[0, length), or -1.
int32_t FindPackStartCode(const uint8_t* data, int32_t length) {
    for (int32_t i = 0; i + 4 <= length; ++i) {
        if (data[i + 3] == 0xBA && data[i + 2] == 0x01 && data[i + 1] == 0 && data[i] == 0) {
            return i;
        }
    }
    return -1;
}

// Time stamp from the five PTS bytes of a PES header; all 0xFF bytes give 0.
uint64_t ReadPesTimeStamp(const uint8_t* b) {
    if (b[0] == 0xFF && b[1] == 0xFF && b[2] == 0xFF && b[3] == 0xFF && b[4] == 0xFF) return 0;
    return (static_cast<uint64_t>((b[0] >> 1) & 0x07) << 30) | (static_cast<uint64_t>(b[1]) << 22) |
           (static_cast<uint64_t>(b[2] >> 1) << 15) | (static_cast<uint64_t>(b[3]) << 7) |
           static_cast<uint64_t>(b[4] >> 1);
}

}  // namespace

CPackReader::CPackReader() {
    std::memset(scanBuffer, 0, sizeof scanBuffer);
    std::memset(blockBuffer, 0, sizeof blockBuffer);
}

CPackReader::~CPackReader() {
    Close();
}

int32_t CPackReader::Open(const char* fileName) {
    Close();
    if (!fileName) return -1;
    file_ = platform::OpenForReading(fileName);
    if (file_ == platform::kInvalidFile) return -1;
    fileSize_ = platform::Size(file_);
    position_ = 0;
    filePointer_ = 0;
    syncState_ = 0;
    ForgetBlock();
    LoadFilter(fileName);
    return Resync();
}

int32_t CPackReader::Close() {
    if (file_ != platform::kInvalidFile) platform::Close(file_);
    file_ = platform::kInvalidFile;
    UnloadFilter();
    return 0;
}

void CPackReader::LoadFilter(const char* fileName) {
    filterLibrary_ = platform::LoadLibraryByName(platform::PackFilterLibraryName());
    if (!filterLibrary_) return;
    Ini = reinterpret_cast<IniFunction>(platform::LookUpEntry(filterLibrary_, "Ini"));
    Dec = reinterpret_cast<DecFunction>(platform::LookUpEntry(filterLibrary_, "Dec"));
    if (Ini) Ini(fileName);
}

void CPackReader::UnloadFilter() {
    if (filterLibrary_) platform::UnloadLibrary(filterLibrary_);
    filterLibrary_ = nullptr;
    Ini = nullptr;
    Dec = nullptr;
}

void CPackReader::ForgetBlock() {
    blockPtr = blockBuffer;
    bytesInBuffer = 0;
    blockInfo_ = BlockInfo{};
    dataStart_ = 0;
    dataLen_ = -1;
}

int32_t CPackReader::Reset() {
    if (!IsOpen()) return -1;
    fileSize_ = platform::Size(file_);
    position_ = 0;
    MoveFilePointer(0);
    syncState_ = 0;
    return Resync();
}

int32_t CPackReader::Seek(uint32_t offsetLow, uint32_t offsetHigh) {
    uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    position_ = static_cast<int64_t>(offset);
    if (IsOpen()) MoveFilePointer(offset);
    Resync();
    return 0;
}

// An offset the file cannot take leaves the reader at the end, where reads deliver nothing.
void CPackReader::MoveFilePointer(uint64_t offset) {
    if (platform::Seek(file_, offset)) {
        filePointer_ = offset;
        return;
    }
    platform::SeekToEnd(file_);
    filePointer_ = platform::Size(file_);
}

int32_t CPackReader::Resync() {
    if (!IsOpen()) return -1;
    int32_t carried = 0;
    for (;;) {
        size_t count = platform::Read(file_, scanBuffer + carried, kScanReadSize);
        filePointer_ += count;
        if (count == 0) {
            LogFormat(1, "reach end of file without resync");
            syncState_ = 0;
            return -1;
        }
        int32_t scanned = carried + static_cast<int32_t>(count);
        int32_t match = FindPackStartCode(scanBuffer, scanned);
        if (match >= 0) {
            MoveFilePointer(filePointer_ - static_cast<uint64_t>(scanned - match));
            ForgetBlock();
            syncState_ = 1;
            return 0;
        }
        LogFormat(1, "unable to find a packet start code at position %d", LogPosition());
        syncState_ = 0;
        carried = scanned < kScanCarry ? scanned : kScanCarry;
        std::memmove(scanBuffer, scanBuffer + scanned - carried, static_cast<size_t>(carried));
    }
}

int32_t CPackReader::ReadUnit() {
    size_t count = platform::Read(file_, blockBuffer, kUnitSize);
    filePointer_ += count;
    bytesInBuffer = static_cast<int32_t>(count);
    blockPtr = blockBuffer;
    if (count > 0 && Dec) Dec(blockBuffer, bytesInBuffer);
    return bytesInBuffer;
}

BlockInfo* CPackReader::GetNextBlockInfo() {
    if (!IsOpen()) return nullptr;
    if (syncState_ == 0 && Resync() != 0) {
        LogFormat(1, "unable to Resync %d", LogPosition());
        return nullptr;
    }
    int64_t candidate = (blockPtr - blockBuffer) + static_cast<int64_t>(blockInfo_.blockLen);
    if (candidate >= bytesInBuffer - 2) {
        if (ReadUnit() == 0) {
            dataLen_ = -1;
            LogFormat(1, "0 bytes read from file as position %d", LogPosition());
            return nullptr;
        }
        candidate = 0;
    }
    blockPtr = blockBuffer + candidate;
    ParsedBlock parsed;
    if (!ParseBlock(static_cast<int32_t>(candidate), parsed)) {
        syncState_ = 0;
        dataLen_ = -1;
        LogFormat(1, "not a valid mpeg code at position %d", LogPosition());
        return nullptr;
    }
    blockInfo_ = parsed.info;
    dataStart_ = parsed.dataStart;
    dataLen_ = parsed.dataLen;
    position_ = static_cast<int64_t>(filePointer_);
    return &blockInfo_;
}

bool CPackReader::Within(int32_t offset, int32_t count) const {
    return offset >= 0 && count >= 0 && offset <= bytesInBuffer - count;
}

bool CPackReader::HasStartCodePrefix(int32_t offset) const {
    return Within(offset, 3) && blockBuffer[offset] == 0 && blockBuffer[offset + 1] == 0 &&
           blockBuffer[offset + 2] == 1;
}

// Packet start after a pack header (MPEG-2 layout without stuffing, else MPEG-1 layout), or at
// the block start (else two bytes on); -1 when none of these holds a start code prefix.
int32_t CPackReader::PacketStart(int32_t blockOffset, bool packHeader) const {
    int32_t first = blockOffset + (packHeader ? kMpeg1PackHeaderLen : 0);
    int32_t second = blockOffset + (packHeader ? kPackHeaderLen : kShiftedPacket);
    if (HasStartCodePrefix(first)) return first;
    if (HasStartCodePrefix(second)) return second;
    return -1;
}

// A block whose header does not lie within the bytes read is not taken as a block. Anything
// else that starts neither with a pack nor with a packet (four zero bytes, say) is not guessed
// at either: the caller's resync scan finds the next real pack start code.
bool CPackReader::ParseBlock(int32_t blockOffset, ParsedBlock& parsed) const {
    bool packHeader =
        Within(blockOffset, 4) && std::memcmp(blockBuffer + blockOffset, kPackStartCode, 4) == 0;
    int32_t packet = PacketStart(blockOffset, packHeader);
    if (packet < 0 || !Within(packet, kPacketHeaderLen)) return false;
    const uint8_t* bytes = blockBuffer + packet;
    int32_t packetLen = (bytes[4] << 8) | bytes[5];
    parsed.info = blockInfo_;
    parsed.info.blockLen = packetLen + kPacketHeaderLen + (packHeader ? kPackHeaderLen : 0);
    parsed.dataStart = 0;
    parsed.dataLen = -1;
    switch (bytes[3]) {
        case kStreamFirstVideo:
        case kStreamFirstAudio:
        case kStreamPrivate1:
            return ParsePesHeader(blockOffset, packet, packHeader, parsed);
        case kStreamPrivate2:
            parsed.info.blockType = kBlockNavigation;
            parsed.dataStart = packet + kPacketHeaderLen;
            parsed.dataLen = packetLen;
            return true;
        case kStreamSystemHeader:
            parsed.info.blockType = kBlockSystemHeader;
            return true;
        default:
            parsed.info.blockType = kBlockOther;
            return true;
    }
}

bool CPackReader::ParsePesHeader(int32_t blockOffset, int32_t packet, bool packHeader,
                                 ParsedBlock& parsed) const {
    if (!Within(packet, kPesFixedLen)) return false;
    const uint8_t* bytes = blockBuffer + packet;
    int32_t headerDataLen = bytes[8];
    int32_t payloadOffset = kPesFixedLen + headerDataLen;
    int32_t payloadLen = parsed.info.blockLen - kPesFixedLen - headerDataLen;
    if (bytes[3] == kStreamPrivate1) {
        if (!Within(packet + payloadOffset, 1)) return false;
        if (bytes[payloadOffset] != kPrivateAudioSubstream) {
            parsed.info.blockType = kBlockOther;
            return true;
        }
        payloadOffset += kPrivateHeaderLen;
        payloadLen -= kPrivateHeaderLen;
    }
    parsed.info.blockType = bytes[3] == kStreamFirstVideo ? kBlockVideo : kBlockAudio;
    if (headerDataLen > 0) {
        if (!Within(packet + kPesFixedLen, kPtsLen)) return false;
        parsed.info.pts = ReadPesTimeStamp(bytes + kPesFixedLen);
    }
    if (packHeader) payloadLen -= kPackHeaderLen;
    parsed.info.payloadOffset = packet - blockOffset + payloadOffset;
    parsed.info.payloadLen = payloadLen;
    parsed.dataStart = packet + payloadOffset;
    parsed.dataLen = payloadLen;
    return true;
}

int32_t CPackReader::GetBlockData(uint8_t* destination, int32_t* capacity) {
    if (!IsOpen()) return kNoDataOrTooSmall;
    int32_t type = blockInfo_.blockType;
    if (type != kBlockAudio && type != kBlockVideo && type != kBlockNavigation) {
        return kNotAPayloadBlock;
    }
    if (!capacity) return kNoDataOrTooSmall;
    int32_t needed = type == kBlockNavigation ? dataLen_ : blockInfo_.payloadLen;
    int32_t available = *capacity;
    *capacity = needed;
    if (available < needed || !destination) return kNoDataOrTooSmall;
    if (dataLen_ < 0 || !Within(dataStart_, dataLen_)) return kPayloadOutsideUnit;
    std::memcpy(destination, blockBuffer + dataStart_, static_cast<size_t>(dataLen_));
    return 0;
}

}  // namespace d2u
