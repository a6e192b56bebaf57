// Helpers shared by the test programs: paths, files, external commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

// A path inside the build's test work directory.
std::string WorkPath(const std::string& name);
// Runs a shell command, output discarded; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string CaptureCommand(const std::string& command);
bool CommandAvailable(const std::string& name);

// The bytes of a file from `offset` on, at most `length` of them (none when it cannot be read).
std::vector<uint8_t> ReadFileBytes(const std::string& path, size_t offset = 0,
                                   size_t length = SIZE_MAX);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes bytes to `name` in the work directory and returns its path; a write that fails fails
// the running test.
std::string WriteWorkFile(const std::string& name, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);

// The little-endian 32-bit value at `bytes`, as bitmap and subtitle files store them.
inline uint32_t LittleEndian32(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// A quiet ffmpeg command line that overwrites its outputs, with these arguments.
inline std::string Ffmpeg(const std::string& arguments) {
    return "ffmpeg -hide_banner -loglevel error -nostdin -y " + arguments;
}

// Makes `name` in the work directory with a shell command that writes to the path given as
// {out}; the result is kept and reused by later calls and other test programs. Returns the path,
// or "" when the command failed.
std::string CachedArtifact(const std::string& name, const std::string& commandWithOut);

// A short hexadecimal digest of the bytes (64-bit FNV-1a): names cached files made from them.
std::string ContentHash(const std::vector<uint8_t>& bytes);

// Collects what the library publishes while it lives: the stand-in diagnostics library appends
// every text to a file of the work directory.
class PublishedTexts {
public:
    explicit PublishedTexts(const std::string& name);
    ~PublishedTexts();
    PublishedTexts(const PublishedTexts&) = delete;
    PublishedTexts& operator=(const PublishedTexts&) = delete;
    // Whether the text was published, as a whole line behind the library's prefix.
    bool Contains(const std::string& text) const;

private:
    std::string path_;
};

}  // namespace test
}  // namespace d2u
