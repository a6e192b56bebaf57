// The library reads a preview source whose name ends in "m2v" as an elementary stream, and tells
// program and transport streams apart by content. A file whose name says otherwise is handed
// over under a fitting name: a symbolic link in a private temporary folder.
#pragma once

#include <string>

namespace d2ucli {

class PreviewSource {
public:
    PreviewSource(const std::string& path, bool elementaryStream);
    ~PreviewSource();
    PreviewSource(const PreviewSource&) = delete;
    PreviewSource& operator=(const PreviewSource&) = delete;

    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::string folder_;  // empty when the file goes under its own name
};

}  // namespace d2ucli
