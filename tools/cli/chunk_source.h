// The command's chunk reader: a video elementary-stream file or a program-stream file, cut into
// one-picture chunks (see PictureChunker).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "picture_chunker.h"
#include "program_stream_reader.h"

namespace d2ucli {

class ChunkSource {
public:
    // Opens the file; a RuntimeError names the reason when it cannot be read.
    explicit ChunkSource(const std::string& path);
    ~ChunkSource();
    ChunkSource(const ChunkSource&) = delete;
    ChunkSource& operator=(const ChunkSource&) = delete;

    bool isProgramStream() const { return programStream_ != nullptr; }
    // The next chunk; false at the end of the file.
    bool Next(std::vector<uint8_t>& chunk);
    // How far the reading has come, 0 to 1.
    double Progress() const;
    uint64_t fileSize() const { return fileSize_; }

private:
    bool ReadMore();

    // The stream's buffer: program streams are read a packet at a time, and a larger buffer
    // means fewer system calls. Declared before file_, so that it outlives the stream.
    std::vector<char> streamBuffer_;
    FILE* file_ = nullptr;
    uint64_t fileSize_ = 0;
    std::unique_ptr<ProgramStreamReader> programStream_;
    PictureChunker chunker_;
    std::vector<uint8_t> block_;
    bool ended_ = false;
};

// Opens a file for reading, or throws a RuntimeError naming the file and the reason.
FILE* OpenInputFile(const std::string& path);
// The size of an open file in bytes.
uint64_t FileSize(FILE* file);

}  // namespace d2ucli
