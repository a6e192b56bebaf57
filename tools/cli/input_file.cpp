#include "input_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli_errors.h"

namespace d2ucli {

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

}  // namespace d2ucli
