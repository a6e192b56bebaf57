// Start codes begin with two zero bytes, which compressed video holds far more rarely than
// single zero or one bytes: looking for the pair first skips most of the data at vector speed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace d2u {

// The first index i in [from, end - 1) with data[i] == data[i + 1] == 0, or end - 1 when
// there is none (end when end <= from).
size_t FindZeroPair(const uint8_t* data, size_t from, size_t end);

}  // namespace d2u
