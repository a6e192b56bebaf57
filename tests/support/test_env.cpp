#include "support/test_env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace d2u {
namespace test {

std::string WorkPath(const std::string& name) {
    return std::string(D2U_TEST_WORK_DIR) + "/" + name;
}

int RunCommand(const std::string& command) {
    std::string quiet = command + " >/dev/null 2>&1";
    int status = std::system(quiet.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string CaptureCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

bool CommandAvailable(const std::string& name) {
    return RunCommand("command -v " + name) == 0;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path, size_t offset, size_t length) {
    std::vector<uint8_t> bytes;
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    if (error || !in || offset >= size) return bytes;
    bytes.resize(std::min<uintmax_t>(length, size - offset));
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string WriteWorkFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = WorkPath(name);
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
    return path;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

void RemoveFile(const std::string& path) {
    std::remove(path.c_str());
}

std::string CachedArtifact(const std::string& name, const std::string& commandWithOut) {
    std::string path = WorkPath(name);
    if (FileExists(path)) return path;
    // Build under a private name, then rename: other test programs may race for the same file.
    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    std::string extension;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) extension = name.substr(dot);
    temporary += extension;
    std::string command = commandWithOut;
    for (size_t at; (at = command.find("{out}")) != std::string::npos;) {
        command.replace(at, 5, "'" + temporary + "'");
    }
    if (RunCommand(command) != 0 || !FileExists(temporary)) {
        RemoveFile(temporary);
        return "";
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return "";
    return path;
}

std::string ContentHash(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

PublishedTexts::PublishedTexts(const std::string& name) : path_(WorkPath(name)) {
    RemoveFile(path_);
    setenv("D2U_TV_INFO_FILE", path_.c_str(), 1);
}

PublishedTexts::~PublishedTexts() {
    unsetenv("D2U_TV_INFO_FILE");
}

bool PublishedTexts::Contains(const std::string& text) const {
    std::vector<uint8_t> bytes = ReadFileBytes(path_);
    return std::string(bytes.begin(), bytes.end()).find("decoder072401 " + text + "\n") !=
           std::string::npos;
}

}  // namespace test
}  // namespace d2u
