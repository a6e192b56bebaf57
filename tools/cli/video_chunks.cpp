#include "video_chunks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli_errors.h"

namespace d2ucli {
namespace {

std::string OpenError(const std::string& path, int32_t pid, int32_t code) {
    const std::string name = "'" + path + "': ";
    switch (code) {
        case D2U_UNKNOWN_CONTENT:
            return name +
                   "not an MPEG-1/MPEG-2 video elementary, program or transport stream "
                   "(MP4, H.264 and other formats cannot be read)";
        case D2U_NO_MPEG_VIDEO:
            return name +
                   "a transport stream without MPEG-1/MPEG-2 video (H.264 and other "
                   "video cannot be decoded)";
        case D2U_NOT_A_VIDEO_PID:
            return name + "PID " + std::to_string(pid) + " carries no MPEG-1/MPEG-2 video stream";
        case D2U_PID_WITHOUT_TRANSPORT:
            return name + "--pid applies to transport streams only";
        default: {
            FILE* file = std::fopen(path.c_str(), "rb");
            if (!file) return "cannot open '" + path + "': " + std::strerror(errno);
            std::fclose(file);
            return "cannot read '" + path + "'";
        }
    }
}

}  // namespace

VideoChunks::VideoChunks(const std::string& path, int32_t pid) {
    int32_t result = D2uDirOpenVideoReader(path.c_str(), pid, &reader_);
    if (result != 0) throw RuntimeError(OpenError(path, pid, result));
}

VideoChunks::~VideoChunks() {
    D2uDirCloseVideoReader(&reader_);
}

bool VideoChunks::Next(const uint8_t*& data, int32_t& length) {
    int64_t pts = 0;
    return D2uDirReadVideoChunk(reader_, &data, &length, &pts) == 0;
}

D2uVideoReaderInfo VideoChunks::Info() const {
    D2uVideoReaderInfo info = {};
    D2uDirGetVideoReaderInfo(reader_, &info);
    return info;
}

double VideoChunks::Progress() const {
    D2uVideoReaderInfo info = Info();
    if (info.fileSize == 0) return 0.0;
    double done = static_cast<double>(info.position) / static_cast<double>(info.fileSize);
    return done < 1.0 ? done : 1.0;
}

std::string ContainerName(int32_t container) {
    switch (container) {
        case D2U_CONTAINER_ELEMENTARY:
            return "MPEG video elementary stream";
        case D2U_CONTAINER_PROGRAM:
            return "MPEG program stream";
        case D2U_CONTAINER_TRANSPORT:
            return "MPEG transport stream (188-byte packets)";
        case D2U_CONTAINER_TRANSPORT_192:
            return "MPEG transport stream (192-byte packets)";
        default:
            return "unknown";
    }
}

}  // namespace d2ucli
