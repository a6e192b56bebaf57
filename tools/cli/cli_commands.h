// The subcommands of the d2udir command, and what they share.
#pragma once

#include <cstdint>
#include <vector>

#include "d2udir.h"

namespace d2ucli {

// d2udir info FILE
int RunInfo(int argc, char** argv);
// d2udir decode FILE OUT.yuv [--display-order]
int RunDecode(int argc, char** argv);
// d2udir bitmap FILE OUT.bgra [COUNT]
int RunBitmap(int argc, char** argv);
// d2udir preview FILE OUT.bmp WIDTH HEIGHT POSITION_KIB
int RunPreview(int argc, char** argv);
// d2udir subtitle VIDEO SUBTITLES OUT.yuv
int RunSubtitle(int argc, char** argv);

// The display area of a frame as raw yuv420p: Y, then Cb, then Cr, without padding.
std::vector<uint8_t> CopyDisplayArea(const D2uFrame& frame);
// A frame record over a picture made by CopyDisplayArea, with the description of `like`.
D2uFrame FrameOver(std::vector<uint8_t>& picture, const D2uFrame& like);
// Opens a file-driven handle; prints the error and returns 0 when that fails.
D2uHandle OpenStream(const char* path);

}  // namespace d2ucli
