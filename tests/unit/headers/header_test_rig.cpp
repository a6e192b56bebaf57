#include "header_test_rig.h"

#include "support/test_env.h"

namespace d2u {
namespace test {

bool HeaderRig::LoadBuffer(const std::vector<uint8_t>& bytes) {
    return source.SetDataBuffer(bytes.data(), static_cast<int32_t>(bytes.size())) == 0;
}

bool HeaderRig::OpenFile(const std::vector<uint8_t>& bytes, const std::string& name) {
    std::string path = WorkPath(name);
    if (!WriteFileBytes(path, bytes)) return false;
    return OpenPath(path);
}

bool HeaderRig::OpenPath(const std::string& path) {
    return source.Open(path.c_str()) == 0;
}

std::vector<PictureInfo> HeaderRig::ReadAllPictures(int32_t* finalResult) {
    std::vector<PictureInfo> pictures;
    int32_t result;
    // Bounded: a reader that never ends would otherwise hang the test.
    while ((result = reader.getHeader()) == 1 && pictures.size() < 100000) {
        pictures.push_back(headers.picture);
    }
    if (finalResult) *finalResult = result;
    return pictures;
}

}  // namespace test
}  // namespace d2u
