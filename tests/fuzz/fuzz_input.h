// What the fuzz targets share: the input split into control bytes and payload, and a
// temporary file holding the payload for the functions that read files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace d2u {
namespace fuzz {

// Defines a target with the count of control bytes at the front of its inputs (the bytes that
// steer it; the rest is the stream): by itself (libFuzzer) as LLVMFuzzerTestOneInput; linked
// together with the others into the soak, as d2u::fuzz::Name with NameControlBytes.
#if defined(D2U_FUZZ_TARGETS_TOGETHER)
#define D2U_FUZZ_TARGET(Name, control)                \
    extern const size_t Name##ControlBytes = control; \
    int Name(const uint8_t* data, size_t size)
#else
#define D2U_FUZZ_TARGET(Name, control) \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#endif

// The targets, as the soak calls them.
#define D2U_FUZZ_DECLARE(Name)              \
    extern const size_t Name##ControlBytes; \
    int Name(const uint8_t* data, size_t size);
D2U_FUZZ_DECLARE(BufferDecode)
D2U_FUZZ_DECLARE(FileDecode)
D2U_FUZZ_DECLARE(HeaderParser)
D2U_FUZZ_DECLARE(PackReader)
D2U_FUZZ_DECLARE(Subtitle)
D2U_FUZZ_DECLARE(TransportStream)
#undef D2U_FUZZ_DECLARE

// Control values taken from the front of the input; zeros once it is used up.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() {
        if (position_ >= size_) return 0;
        return data_[position_++];
    }
    uint32_t Word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
        return value;
    }
    // The bytes not yet taken.
    const uint8_t* Rest() const { return data_ + position_; }
    size_t RestSize() const { return size_ - position_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// The bytes in a file of their own, removed again when the object goes.
class TemporaryFile {
public:
    TemporaryFile(const uint8_t* data, size_t size, const char* suffix) {
        const char* folder = std::getenv("TMPDIR");
        path_ = std::string(folder && *folder ? folder : "/tmp") + "/d2u-fuzz-XXXXXX" + suffix;
        std::string pattern = path_;
        int descriptor =
            mkstemps(&pattern[0], static_cast<int>(std::char_traits<char>::length(suffix)));
        if (descriptor < 0) {
            path_.clear();
            return;
        }
        path_ = pattern;
        size_t written = 0;
        while (written < size) {
            ssize_t count = write(descriptor, data + written, size - written);
            if (count <= 0) break;
            written += static_cast<size_t>(count);
        }
        close(descriptor);
    }
    ~TemporaryFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Ok() const { return !path_.empty(); }
    const char* Path() const { return path_.c_str(); }

private:
    std::string path_;
};

}  // namespace fuzz
}  // namespace d2u
