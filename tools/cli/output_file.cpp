#include "output_file.h"

#include <cerrno>
#include <cstring>

#include "cli_errors.h"

namespace d2ucli {

OutputFile::OutputFile(const std::string& path) : path_(path) {
    if (path == "-") {
        file_ = stdout;
        standardOutput_ = true;
        return;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) throw RuntimeError("cannot write '" + path + "': " + std::strerror(errno));
}

OutputFile::~OutputFile() {
    if (file_ && !standardOutput_) std::fclose(file_);
}

void OutputFile::Write(const void* data, size_t length) {
    if (length != 0 && std::fwrite(data, 1, length, file_) != length) Failed();
}

void OutputFile::Close() {
    if (!file_) return;
    FILE* file = file_;
    file_ = nullptr;
    bool failed = standardOutput_ ? std::fflush(file) != 0 : std::fclose(file) != 0;
    if (failed) Failed();
}

void OutputFile::Failed() {
    int error = errno;
    std::string target = standardOutput_ ? "standard output" : "'" + path_ + "'";
    throw RuntimeError("writing " + target + " failed: " + std::strerror(error));
}

}  // namespace d2ucli
