// Uncompressed bitmap files of 32-bit pixels (blue, green, red, fourth byte), as the preview
// functions write them and as the command writes decoded pictures and contact sheets.
#pragma once

#include <cstdint>
#include <string>

#include "pictures.h"

namespace d2ucli {

// Writes pixels given top row first; RuntimeError on failure.
void WriteBmpFile(const std::string& path, const BitmapPicture& picture);
// Reads a 24- or 32-bit uncompressed bitmap file into top-row-first 32-bit pixels.
BitmapPicture ReadBmpFile(const std::string& path);

// The file name of picture `index` for an output name: "%d" or "%0Nd" in it is replaced by the
// number, otherwise "-NNNNN" goes before the extension. UsageError for other % conversions.
std::string NumberedPath(const std::string& pattern, int64_t index);
void CheckNumberedPattern(const std::string& pattern);

}  // namespace d2ucli
