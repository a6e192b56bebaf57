// Gathers the sections of one PID from the payloads of its transport packets: a section may
// begin in one packet and end in another, and one packet may hold the end of a section and the
// beginnings of others (after the pointer_field).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace d2u {

class CPsiSectionAssembler {
public:
    using Sections = std::vector<std::vector<uint8_t>>;

    // Adds a packet's payload; whole sections are appended to `completed`.
    void Feed(const uint8_t* payload, size_t length, bool unitStart, Sections& completed);
    // Forgets a section begun before lost packets.
    void Drop() {
        pending_.clear();
        synced_ = false;
    }

private:
    // Takes section bytes from data; returns how many were used.
    size_t Collect(const uint8_t* data, size_t length, Sections& completed);

    std::vector<uint8_t> pending_;
    bool synced_ = false;  // pending_ holds the beginning of a section
};

}  // namespace d2u
