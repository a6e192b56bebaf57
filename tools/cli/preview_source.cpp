#include "preview_source.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "cli_errors.h"

namespace d2ucli {
namespace {

bool NamedAsElementaryStream(const std::string& path) {
    if (path.size() < 3) return false;
    std::string tail = path.substr(path.size() - 3);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == "m2v";
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::vector<char> here(4096);
    if (!getcwd(here.data(), here.size())) throw RuntimeError("cannot find the current folder");
    return std::string(here.data()) + "/" + path;
}

}  // namespace

PreviewSource::PreviewSource(const std::string& path, bool elementaryStream) : name_(path) {
    if (NamedAsElementaryStream(path) == elementaryStream) return;
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temporary && *temporary ? temporary : "/tmp") + "/d2udir-preview-XXXXXX";
    std::vector<char> folder(pattern.begin(), pattern.end());
    folder.push_back('\0');
    if (!mkdtemp(folder.data())) {
        throw RuntimeError("cannot make a temporary folder: " + std::string(std::strerror(errno)));
    }
    folder_ = folder.data();
    name_ = folder_ + (elementaryStream ? "/source.m2v" : "/source.mpg");
    if (symlink(AbsolutePath(path).c_str(), name_.c_str()) != 0) {
        int error = errno;
        rmdir(folder_.c_str());
        throw RuntimeError("cannot link '" + path + "': " + std::strerror(error));
    }
}

PreviewSource::~PreviewSource() {
    if (folder_.empty()) return;
    unlink(name_.c_str());
    rmdir(folder_.c_str());
}

}  // namespace d2ucli
