#include "demux/psi_section_assembler.h"

namespace d2u {
namespace {

constexpr size_t kSectionHeader = 3;
constexpr uint8_t kStuffingTableId = 0xFF;

}  // namespace

void CPsiSectionAssembler::Feed(const uint8_t* payload, size_t length, bool unitStart,
                                Sections& completed) {
    if (length == 0) return;
    if (!unitStart) {
        if (synced_) Collect(payload, length, completed);
        return;
    }
    size_t pointer = payload[0];
    if (1 + pointer > length) {
        Drop();
        return;
    }
    if (synced_) Collect(payload + 1, pointer, completed);
    pending_.clear();
    size_t at = 1 + pointer;
    while (at < length && payload[at] != kStuffingTableId) {
        synced_ = true;
        size_t used = Collect(payload + at, length - at, completed);
        if (synced_) return;  // the section goes on in the next packet
        at += used;
    }
}

size_t CPsiSectionAssembler::Collect(const uint8_t* data, size_t length, Sections& completed) {
    size_t used = 0;
    // The header first, so that the section's length is known.
    while (pending_.size() < kSectionHeader && used < length) pending_.push_back(data[used++]);
    if (pending_.size() < kSectionHeader) return used;
    size_t total = kSectionHeader + (((pending_[1] & 0x0F) << 8) | pending_[2]);
    size_t wanted = total - pending_.size();
    size_t take = wanted < length - used ? wanted : length - used;
    pending_.insert(pending_.end(), data + used, data + used + take);
    used += take;
    if (pending_.size() == total) {
        completed.push_back(pending_);
        pending_.clear();
        synced_ = false;
    }
    return used;
}

}  // namespace d2u
