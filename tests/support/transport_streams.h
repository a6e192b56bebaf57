// Transport streams made by ffmpeg at test time, with the video elementary stream ffmpeg
// extracts from each (-c:v copy), for the reader's and the command's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace d2u {
namespace test {

struct TransportStream {
    std::string name;
    std::string path;       // the transport stream, "" when it could not be made
    std::string videoPath;  // its video elementary stream, as ffmpeg extracts it
    int32_t container;      // D2U_CONTAINER_TRANSPORT or D2U_CONTAINER_TRANSPORT_192
    int32_t pid;            // the PID asked for (-1: the first video stream)
    int32_t videoPid;       // the PID followed
    int32_t width, height;
};

// The kinds of files the reader must read: 188- and 192-byte packets, MP2 and AC-3 audio, two
// programs (and the second one's video by PID), MPEG-1 video, 1080i at 20 Mbit/s.
const std::vector<TransportStream>& TransportStreams();

}  // namespace test
}  // namespace d2u
