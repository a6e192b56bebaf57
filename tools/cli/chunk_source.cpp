#include "chunk_source.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli_errors.h"

namespace d2ucli {
namespace {

const size_t kElementaryBlock = 64 * 1024;

}  // namespace

FILE* OpenInputFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw RuntimeError("cannot open '" + path + "': " + std::strerror(errno));
    struct stat status;
    if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fclose(file);
        throw RuntimeError("cannot read '" + path + "': it is a directory");
    }
    return file;
}

uint64_t FileSize(FILE* file) {
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || status.st_size < 0) return 0;
    return static_cast<uint64_t>(status.st_size);
}

ChunkSource::ChunkSource(const std::string& path)
    : streamBuffer_(kElementaryBlock), file_(OpenInputFile(path)) {
    std::setvbuf(file_, streamBuffer_.data(), _IOFBF, streamBuffer_.size());
    fileSize_ = FileSize(file_);
    if (LooksLikeProgramStream(file_)) programStream_.reset(new ProgramStreamReader(file_));
}

ChunkSource::~ChunkSource() {
    std::fclose(file_);
}

bool ChunkSource::Next(std::vector<uint8_t>& chunk) {
    while (!chunker_.Next(chunk)) {
        if (ended_ || !ReadMore()) {
            ended_ = true;
            return chunker_.Finish(chunk);
        }
    }
    return true;
}

bool ChunkSource::ReadMore() {
    block_.clear();
    if (programStream_) {
        if (!programStream_->ReadVideoPayload(block_)) return false;
    } else {
        block_.resize(kElementaryBlock);
        block_.resize(std::fread(block_.data(), 1, block_.size(), file_));
        if (block_.empty()) return false;
    }
    chunker_.Push(block_.data(), block_.size());
    return true;
}

double ChunkSource::Progress() const {
    if (fileSize_ == 0) return 0.0;
    off_t position = ftello(file_);
    return position < 0 ? 0.0 : static_cast<double>(position) / static_cast<double>(fileSize_);
}

}  // namespace d2ucli
