// One random sequence of calls on the public interface, in an order the interface allows, over
// one (valid or damaged) input: decoding handles fed from a file or from buffers, previews and
// subtitle handles. Every result is checked against the codes the interface documents.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>

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

    bool FileOperation(D2uHandle handle);
    bool BufferOperation(D2uHandle handle, size_t& feedAt);
    bool CommonOperation(D2uHandle handle);
    bool BitmapCall(D2uHandle handle, const uint8_t* data, int32_t length);
    bool SubtitleOperation(D2uHandle handle);
    std::pair<const uint8_t*, int32_t> FeedPiece(size_t& feedAt);

    // Counts the call; false (keeping the first failure) when the result broke the contract.
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
