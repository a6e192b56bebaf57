#pragma once

#include <string>

#include "d2udir.h"

namespace d2u {

// A file-driven handle, closed at the end of the scope.
struct FileHandle {
    D2uHandle handle = 0;
    int32_t openResult;
    explicit FileHandle(const std::string& path)
        : openResult(D2uDirLoadFile(path.c_str(), &handle)) {}
    ~FileHandle() { FinishDecoding(&handle); }
};

}  // namespace d2u
