// Start code values of MPEG video elementary streams: the byte after the prefix 00 00 01.
#pragma once

#include <cstdint>

namespace d2u {

constexpr uint32_t kPictureStartCode = 0x00;
constexpr uint32_t kFirstSliceStartCode = 0x01;
constexpr uint32_t kLastSliceStartCode = 0xAF;
constexpr uint32_t kUserDataStartCode = 0xB2;
constexpr uint32_t kSequenceHeaderCode = 0xB3;
constexpr uint32_t kSequenceErrorCode = 0xB4;
constexpr uint32_t kExtensionStartCode = 0xB5;
constexpr uint32_t kSequenceEndCode = 0xB7;
constexpr uint32_t kGroupStartCode = 0xB8;

}  // namespace d2u
