// Field pictures come in pairs that make one frame; a chunk of the video that ends after the
// first field of a pair is not a whole frame yet.
#pragma once

#include <cstddef>
#include <cstdint>

namespace d2u {

// True when the last picture in data is the first field of a pair (its picture coding extension
// says field, and the picture before it is not the first field of the same pair).
bool EndsWithLoneFirstField(const uint8_t* data, size_t length);

}  // namespace d2u
