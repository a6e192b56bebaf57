// A file the command writes, or standard output for "-"; write failures become RuntimeErrors.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace d2ucli {

class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const void* data, size_t length);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Flushes and closes; a failure is reported here.
    void Close();

private:
    [[noreturn]] void Failed();

    std::string path_;
    FILE* file_ = nullptr;
    bool standardOutput_ = false;
};

}  // namespace d2ucli
