#include "program_stream_reader.h"

namespace d2ucli {
namespace {

const uint8_t kPackHeader = 0xBA;
const uint8_t kProgramEnd = 0xB9;

bool IsVideoStream(uint8_t streamId) {
    return streamId >= 0xE0 && streamId <= 0xEF;
}

}  // namespace

bool ProgramStreamReader::ReadVideoPayload(std::vector<uint8_t>& out) {
    uint8_t code = 0;
    while (NextStartCode(code)) {
        if (code == kPackHeader) {
            if (!SkipPackHeader()) return false;
        } else if (code == kProgramEnd) {
            continue;
        } else if (code >= 0xBB) {
            size_t before = out.size();
            if (!ReadPacket(code, out)) return false;
            if (out.size() > before) return true;
        }
        // Any other start code here is stray data: the search goes on behind it.
    }
    return false;
}

bool ProgramStreamReader::NextStartCode(uint8_t& code) {
    uint32_t window = 0xFFFFFFFF;
    int next;
    while ((next = std::fgetc(file_)) != EOF) {
        window = (window << 8) | static_cast<uint32_t>(next);
        if ((window & 0xFFFFFF00) == 0x00000100) {
            code = static_cast<uint8_t>(window & 0xFF);
            return true;
        }
    }
    return false;
}

bool ProgramStreamReader::SkipPackHeader() {
    uint8_t fields[10];
    int first = std::fgetc(file_);
    if (first == EOF) return false;
    if ((first & 0xC0) == 0x40) {
        // MPEG-2: 9 more bytes, the last of which gives the stuffing length.
        if (std::fread(fields, 1, 9, file_) != 9) return false;
        return Skip(fields[8] & 7);
    }
    // MPEG-1: 7 more bytes.
    return std::fread(fields, 1, 7, file_) == 7;
}

bool ProgramStreamReader::ReadPacket(uint8_t streamId, std::vector<uint8_t>& out) {
    uint8_t lengthBytes[2];
    if (std::fread(lengthBytes, 1, 2, file_) != 2) return false;
    size_t length = (static_cast<size_t>(lengthBytes[0]) << 8) | lengthBytes[1];
    bool wanted = IsVideoStream(streamId) && (videoStream_ < 0 || videoStream_ == streamId);
    if (!wanted) return Skip(length);
    videoStream_ = streamId;
    body_.resize(length);
    if (std::fread(body_.data(), 1, length, file_) != length) return false;
    size_t offset = PayloadOffset(body_);
    if (offset < length) out.insert(out.end(), body_.begin() + offset, body_.end());
    return true;
}

// Reads past the bytes instead of seeking: a seek empties the stream's buffer, and a DVD
// title would then cost a seek and a refill for each of its audio and navigation packets.
bool ProgramStreamReader::Skip(size_t count) {
    uint8_t discarded[2048];
    while (count > 0) {
        const size_t part = count < sizeof discarded ? count : sizeof discarded;
        if (std::fread(discarded, 1, part, file_) != part) return false;
        count -= part;
    }
    return true;
}

size_t ProgramStreamReader::PayloadOffset(const std::vector<uint8_t>& body) {
    if (body.size() >= 3 && (body[0] & 0xC0) == 0x80) return 3 + size_t{body[2]};
    size_t at = 0;
    while (at < body.size() && at < 16 && body[at] == 0xFF) ++at;  // stuffing
    if (at < body.size() && (body[at] & 0xC0) == 0x40) at += 2;    // buffer size
    if (at >= body.size()) return body.size();
    if ((body[at] & 0xF0) == 0x20) return at + 5;   // a presentation time
    if ((body[at] & 0xF0) == 0x30) return at + 10;  // presentation and decoding times
    return at + 1;                                  // 0x0F: none
}

bool LooksLikeProgramStream(FILE* file) {
    uint8_t head[4] = {0, 0, 0, 0};
    size_t got = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    return got == 4 && head[0] == 0 && head[1] == 0 && head[2] == 1 && head[3] == kPackHeader;
}

}  // namespace d2ucli
