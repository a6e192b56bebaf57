// Puts pictures that arrive in decoding order into display order: an I or P picture waits
// until the next I or P picture arrives (the B pictures between them are shown before it) or
// the stream ends. In decoding-order mode pictures pass straight through.
#pragma once

#include <utility>

namespace d2ucli {

template <class Picture>
class DisplayOrder {
public:
    explicit DisplayOrder(bool decodeOrder) : decodeOrder_(decodeOrder) {}

    // `picture` may be swapped with a held one: the caller keeps it as a buffer to reuse.
    template <class Emit>
    void Add(Picture& picture, Emit emit) {
        if (decodeOrder_ || !picture.IsReference()) {
            emit(picture);
            return;
        }
        if (held_) emit(heldPicture_);
        std::swap(heldPicture_, picture);
        held_ = true;
    }

    template <class Emit>
    void Finish(Emit emit) {
        if (held_) emit(heldPicture_);
        held_ = false;
    }

private:
    bool decodeOrder_;
    bool held_ = false;
    Picture heldPicture_;
};

}  // namespace d2ucli
