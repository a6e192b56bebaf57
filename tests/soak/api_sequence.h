// One random sequence of calls on the public interface, in an order the interface allows, over
// one (valid or damaged) input: decoding handles fed from a file or from buffers, previews and
// subtitle handles. Every result is checked against the codes the interface documents.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "soak/soak_inputs.h"

namespace d2u {
namespace soak {

class ApiSequence {
public:
    // workPrefix: a path prefix for the files the sequence writes.
    ApiSequence(const SoakInput& input, Bytes bytes, uint32_t seed, std::string workPrefix);

    // Runs the sequence; false with a description in error() when a call broke its contract.
    bool Run();
    const std::string& error() const { return error_; }
    int64_t calls() const { return calls_; }

private:
    bool RunFileHandle(int operations);
    bool RunBufferHandle(int operations);
    bool RunPreview(int operations);
    bool RunSubtitles(int operations);

    bool FileOperation(uintptr_t handle);
    bool BufferOperation(uintptr_t handle, size_t& feedAt);
    bool CommonOperation(uintptr_t handle);
    bool BitmapCall(uintptr_t handle, const uint8_t* data, int32_t length);
    bool SubtitleOperation(uintptr_t handle);
    bool FeedPiece(size_t& feedAt, const uint8_t*& data, int32_t& length);

    bool Expect(bool condition, const char* call, int32_t result);
    int32_t RandomSize();

    const SoakInput& input_;
    Bytes bytes_;
    std::mt19937 random_;
    std::string filePath_;
    std::string bitmapPath_;
    std::string error_;
    int64_t calls_ = 0;
};

}  // namespace soak
}  // namespace d2u
