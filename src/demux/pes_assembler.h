// Joins the transport packets of one PID back into PES packets and pushes their payload, with
// each packet's time stamp, into a picture chunker. The PES header may span transport packets;
// bytes of a PES packet whose beginning was not seen are dropped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "demux/picture_chunker.h"

namespace d2u {

class CPesAssembler {
public:
    void Feed(const uint8_t* payload, size_t length, bool unitStart, CPictureChunker& chunker);
    // Waits for the next PES packet to begin.
    void Reset() {
        state_ = State::kWaiting;
        headerLength_ = 0;
    }
    // PES packets that did not begin with a valid header.
    uint64_t badHeaders() const { return badHeaders_; }

private:
    enum class State { kWaiting, kHeader, kPayload };

    // Takes header bytes; returns how many were used.
    size_t CollectHeader(const uint8_t* data, size_t length, CPictureChunker& chunker);
    void StartPayload(CPictureChunker& chunker);
    void PushPayload(const uint8_t* data, size_t length, CPictureChunker& chunker);

    static constexpr size_t kFixedHeader = 9;  // up to PES_header_data_length
    static constexpr size_t kLargestHeader = kFixedHeader + 255;

    State state_ = State::kWaiting;
    uint8_t header_[kLargestHeader];
    size_t headerLength_ = 0;
    bool bounded_ = false;    // the PES packet gives its length
    uint64_t remaining_ = 0;  // payload bytes still to come when bounded
    uint64_t badHeaders_ = 0;
};

}  // namespace d2u
