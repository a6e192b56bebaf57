#include "demux/field_pictures.h"

#include "input/start_codes.h"

namespace d2u {
namespace {

constexpr uint8_t kPictureCodingExtensionId = 8;
constexpr int kFramePicture = 3;

}  // namespace

bool EndsWithLoneFirstField(const uint8_t* data, size_t length) {
    bool firstFieldOpen = false;
    for (size_t at = 0; at + 7 <= length; ++at) {
        if (data[at + 2] > 1) {
            at += 2;  // no prefix can end within the next two bytes
            continue;
        }
        if (data[at] != 0 || data[at + 1] != 0 || data[at + 2] != 1) continue;
        if (data[at + 3] == kExtensionStartCode &&
            (data[at + 4] >> 4) == kPictureCodingExtensionId) {
            bool field = (data[at + 6] & 3) != kFramePicture;
            firstFieldOpen = field && !firstFieldOpen;
        }
        at += 3;
    }
    return firstFieldOpen;
}

}  // namespace d2u
