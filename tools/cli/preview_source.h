// The library picks the reader of a preview source by its name: elementary streams end in
// "m2v", anything else is read as a program stream. A file whose content says otherwise is
// handed over under a fitting name: a symbolic link in a private temporary folder.
#pragma once

#include <string>

namespace d2ucli {

class PreviewSource {
public:
    PreviewSource(const std::string& path, bool programStream);
    ~PreviewSource();
    PreviewSource(const PreviewSource&) = delete;
    PreviewSource& operator=(const PreviewSource&) = delete;

    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::string folder_;  // empty when the file goes under its own name
};

}  // namespace d2ucli
