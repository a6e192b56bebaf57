// Input files the command reads itself (bitmaps, subtitles).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace d2ucli {

// Opens a file for reading, or throws a RuntimeError naming the file and the reason.
FILE* OpenInputFile(const std::string& path);
// The size of an open file in bytes.
uint64_t FileSize(FILE* file);

}  // namespace d2ucli
