// Memory figures of the running process: bytes the allocator has handed out and not got back
// (the sanitizer's allocator under the address sanitizer, glibc's mallinfo2 otherwise) and the
// resident set size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace soak {

struct MemorySample {
    int64_t sequence = 0;
    int64_t heapInUse = -1;  // -1 where the allocator cannot tell
    int64_t residentBytes = -1;
};

MemorySample SampleMemory(int64_t sequence);

// The flatness rule: after warm-up (the first 20% of the sequences) memory must not grow. The
// library keeps some state between sequences (the preview's objects size their buffers to the
// last preview), so single samples move up and down; a leak lifts the floor. Heap in use: the
// smallest sample of the last 20% may not exceed the smallest between the 10% and 20% marks by
// more than heapMargin, and no sample after the 20% mark may exceed the largest of that window
// by more than 8 x heapMargin. Resident size: the same floor rule with residentMargin (it also
// moves with fragmentation, hence the wider margin); a negative residentMargin leaves it
// unjudged (the address sanitizer's quarantine keeps freed memory resident).
struct FlatnessVerdict {
    bool flat = true;
    std::string report;
};
FlatnessVerdict JudgeFlatness(const std::vector<MemorySample>& samples, int64_t sequences,
                              int64_t heapMargin, int64_t residentMargin);

}  // namespace soak
}  // namespace d2u
