// A header reader over its own data source and record, fed from memory or from a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "input/bitstream_data_source.h"

namespace d2u {
namespace test {

struct HeaderRig {
    CBitstreamDataSource source;
    MpegHeaders headers{};
    CMpegHeaderReader reader;

    HeaderRig() { reader.Init(&source, &headers); }
    bool LoadBuffer(const std::vector<uint8_t>& bytes);
    // Writes the bytes to a work file of this name and opens it.
    bool OpenFile(const std::vector<uint8_t>& bytes, const std::string& name);
    bool OpenPath(const std::string& path);
    // getHeader until it returns something other than 1; the pictures read, in order.
    std::vector<PictureInfo> ReadAllPictures(int32_t* finalResult = nullptr);
};

}  // namespace test
}  // namespace d2u
