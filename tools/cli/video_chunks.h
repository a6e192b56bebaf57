// The video of a file through the library's video reader: an elementary, program or transport
// stream, one coded frame per chunk.
#pragma once

#include <cstdint>
#include <string>

#include "d2udir.h"

namespace d2ucli {

class VideoChunks {
public:
    // Opens the file; a RuntimeError says why when the library cannot read its video.
    // pid: a transport stream's video PID, or D2U_ANY_VIDEO.
    VideoChunks(const std::string& path, int32_t pid);
    ~VideoChunks();
    VideoChunks(const VideoChunks&) = delete;
    VideoChunks& operator=(const VideoChunks&) = delete;

    // The next chunk, valid until the next call; false at the end of the file.
    bool Next(const uint8_t*& data, int32_t& length);
    D2uVideoReaderInfo Info() const;
    // How far the reading has come, 0 to 1.
    double Progress() const;

private:
    D2uHandle reader_ = 0;
};

// "MPEG transport stream (188-byte packets)" and the like.
std::string ContainerName(int32_t container);

}  // namespace d2ucli
