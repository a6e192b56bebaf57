#include "vlc_stream_writer.h"

namespace d2u {
namespace bench {

void VlcStreamWriter::Put(Ipp32u bits, int length) {
    if (length <= 0) return;
    pending_ = (pending_ << length) | (bits & ((1ull << length) - 1));
    pendingBits_ += length;
    while (pendingBits_ >= 32) {
        pendingBits_ -= 32;
        words_.push_back(static_cast<Ipp32u>(pending_ >> pendingBits_));
    }
}

void VlcStreamWriter::PutRandomBits(int length) {
    Put(static_cast<Ipp32u>(random_()), length);
}

std::vector<Ipp32u> VlcStreamWriter::Finish() {
    if (pendingBits_ > 0) Put(0, 32 - pendingBits_);
    std::vector<Ipp32u> words = words_;
    words.insert(words.end(), 4, 0xFFFFFFFFu);
    return words;
}

}  // namespace bench
}  // namespace d2u
