// What the fuzz targets share: control bytes at the front of the input, a temporary file holding
// the rest for the calls that read files, and the host calls both decoding targets make.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d2udir.h"

// Defines target `name` in d2u::fuzz, registered for the soak (which links all targets
// together); built by itself for libFuzzer, also as LLVMFuzzerTestOneInput.
#if defined(D2U_FUZZ_TARGETS_TOGETHER)
#define D2U_FUZZ_ENTRY(name)
#else
#define D2U_FUZZ_ENTRY(name)                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
        return d2u::fuzz::name(data, size);                                   \
    }
#endif
#define D2U_FUZZ_TARGET(name, control)                       \
    namespace d2u::fuzz {                                    \
    static int name(const uint8_t* data, size_t size);       \
    [[maybe_unused]] static const bool name##Registered =    \
        (Targets().push_back({#name, control, name}), true); \
    }                                                        \
    D2U_FUZZ_ENTRY(name)                                     \
    int d2u::fuzz::name(const uint8_t* data, size_t size)

namespace d2u::fuzz {

// A target as the soak drives it: its name (that of its corpus folder), the count of control
// bytes at the front of its inputs, and its entry.
struct Target {
    const char* name;
    size_t controlBytes;
    int (*run)(const uint8_t* data, size_t size);
};
inline std::vector<Target>& Targets() {
    static std::vector<Target> targets;
    return targets;
}

// Control values are taken from the front; zeros once the input is used up, so that any input
// is a valid one. What is left is the stream.
struct FuzzInput {
    const uint8_t* data;
    size_t size;

    uint8_t Byte() { return size > 0 ? (--size, *data++) : 0; }
};

// The bytes in a file of their own, removed again when the object goes.
struct TemporaryFile {
    TemporaryFile(const uint8_t* data, size_t size, const char* suffix) {
        const char* folder = std::getenv("TMPDIR");
        path = std::string(folder && *folder ? folder : "/tmp") + "/d2u-fuzz-XXXXXX" + suffix;
        const int file = mkstemps(&path[0], static_cast<int>(std::strlen(suffix)));
        if (file < 0) path.clear();
        for (ssize_t n = 0; file >= 0 && size > 0 && (n = write(file, data, size)) > 0; size -= n)
            data += n;
        if (file >= 0) close(file);
    }
    ~TemporaryFile() {
        if (Ok()) unlink(Path());
    }
    bool Ok() const { return !path.empty(); }
    const char* Path() const { return path.c_str(); }
    std::string path;
};

// Reads every visible sample (or only the first and last of each plane), so that a plane the
// record places wrongly shows up under the address sanitizer; false when a plane is visibly
// broken.
inline bool FrameIsSound(const D2uFrame* frame, bool everySample) {
    if (!frame) return false;
    volatile uint32_t sum = 0;
    for (const D2uPlane* plane : {&frame->Y, &frame->U, &frame->V}) {
        if (plane->width <= 0 || plane->height <= 0) continue;
        if (!plane->data || plane->width > plane->pitch) return false;
        const uint8_t* last = plane->data + static_cast<size_t>(plane->height - 1) * plane->pitch;
        for (const uint8_t* line = plane->data; line <= last; line += plane->pitch) {
            if (!everySample && line != plane->data && line != last) continue;
            for (int32_t x = 0; x < plane->width; ++x) sum = sum + line[x];
        }
    }
    return true;
}

// A bitmap of the handle's output size in a buffer `shortBy` bytes short of it; from the chunk
// for a buffer-driven handle.
inline void GetBitmap(D2uHandle handle, int32_t shortBy, const uint8_t* chunk = nullptr,
                      int32_t length = 0) {
    int32_t width = 0, height = 0, bits = 0;
    GetOutputInfo(&width, &height, &bits, handle);
    int64_t capacity = static_cast<int64_t>(width) * height * 4 - shortBy;
    if (capacity < 0 || capacity > (16 << 20)) capacity = 0;
    std::vector<uint8_t> bitmap(static_cast<size_t>(capacity));
    int32_t room = static_cast<int32_t>(capacity), isReference = -1;
    chunk ? GetBitmapData2(bitmap.data(), &room, chunk, length, handle, &isReference)
          : GetBitmapData(bitmap.data(), &room, handle, &isReference);
}

}  // namespace d2u::fuzz
