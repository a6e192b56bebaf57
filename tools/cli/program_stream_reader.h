// Reads the video elementary stream out of an MPEG program stream (DVD VOBs, MPEG-1 system
// streams): pack headers, system headers and the packets of other streams are passed over;
// the payload of the first video stream's packets comes out in order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace d2ucli {

class ProgramStreamReader {
public:
    explicit ProgramStreamReader(FILE* file) : file_(file) {}
    // Appends the next video payload to `out`; false at the end of the file.
    bool ReadVideoPayload(std::vector<uint8_t>& out);

private:
    bool NextStartCode(uint8_t& code);
    bool SkipPackHeader();
    bool ReadPacket(uint8_t streamId, std::vector<uint8_t>& out);
    bool Skip(size_t count);
    // Where the payload starts inside a packet body (MPEG-1 or MPEG-2 packet header).
    static size_t PayloadOffset(const std::vector<uint8_t>& body);

    FILE* file_;
    int32_t videoStream_ = -1;  // the stream id followed, once seen
    std::vector<uint8_t> body_;
};

// True when the file starts (after zero bytes) with a pack header.
bool LooksLikeProgramStream(FILE* file);

}  // namespace d2ucli
