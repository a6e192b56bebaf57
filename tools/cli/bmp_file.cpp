#include "bmp_file.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "cli_errors.h"
#include "input_file.h"
#include "output_file.h"

namespace d2ucli {
namespace {

const size_t kFileHeaderBytes = 14;
const size_t kInfoHeaderBytes = 40;

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

uint32_t Get32(const uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint32_t Get16(const uint8_t* at) {
    return at[0] | (at[1] << 8);
}

// Where the "%d" conversion sits, and its field width; npos when there is none.
size_t FindConversion(const std::string& pattern, int& width) {
    size_t found = std::string::npos;
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] != '%') continue;
        if (at + 1 < pattern.size() && pattern[at + 1] == '%') {
            ++at;
            continue;
        }
        size_t end = at + 1;
        while (end < pattern.size() && pattern[end] >= '0' && pattern[end] <= '9') ++end;
        if (end >= pattern.size() || pattern[end] != 'd' || found != std::string::npos ||
            end - at > 3) {
            throw UsageError("decode: the output name '" + pattern +
                             "' may hold one %d or %0Nd for the picture number, nothing else");
        }
        found = at;
        width = end > at + 1 ? std::stoi(pattern.substr(at + 1, end - at - 1)) : 0;
    }
    return found;
}

std::string Unescape(const std::string& text) {
    std::string plain;
    for (size_t at = 0; at < text.size(); ++at) {
        plain += text[at];
        if (text[at] == '%' && at + 1 < text.size() && text[at + 1] == '%') ++at;
    }
    return plain;
}

}  // namespace

void WriteBmpFile(const std::string& path, const BitmapPicture& picture) {
    size_t rowBytes = static_cast<size_t>(picture.width) * 4;
    uint32_t imageBytes = static_cast<uint32_t>(rowBytes * picture.height);
    uint8_t header[kFileHeaderBytes + kInfoHeaderBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<uint32_t>(sizeof header) + imageBytes);
    Put32(header + 10, sizeof header);
    uint8_t* info = header + kFileHeaderBytes;
    Put32(info, kInfoHeaderBytes);
    Put32(info + 4, static_cast<uint32_t>(picture.width));
    Put32(info + 8, static_cast<uint32_t>(picture.height));  // bottom row first
    Put16(info + 12, 1);
    Put16(info + 14, 32);
    Put32(info + 20, imageBytes);
    OutputFile file(path);
    file.Write(header, sizeof header);
    for (int32_t row = picture.height - 1; row >= 0; --row) {
        file.Write(picture.pixels.data() + row * rowBytes, rowBytes);
    }
    file.Close();
}

BitmapPicture ReadBmpFile(const std::string& path) {
    FILE* file = OpenInputFile(path);
    std::vector<uint8_t> bytes(FileSize(file));
    bool read = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    const std::string bad = "'" + path + "' is not an uncompressed 24- or 32-bit bitmap file";
    if (!read || bytes.size() < kFileHeaderBytes + kInfoHeaderBytes || bytes[0] != 'B' ||
        bytes[1] != 'M') {
        throw RuntimeError(bad);
    }
    const uint8_t* info = bytes.data() + kFileHeaderBytes;
    int32_t width = static_cast<int32_t>(Get32(info + 4));
    int32_t height = static_cast<int32_t>(Get32(info + 8));
    uint32_t bits = Get16(info + 14);
    bool topDown = height < 0;
    if (topDown) height = -height;
    if ((bits != 24 && bits != 32) || Get32(info + 16) != 0 || width <= 0 || height <= 0 ||
        width > 16384 || height > 16384) {
        throw RuntimeError(bad);
    }
    size_t rowBytes = (static_cast<size_t>(width) * bits / 8 + 3) / 4 * 4;
    size_t offset = Get32(bytes.data() + 10);
    if (offset > bytes.size() || (bytes.size() - offset) / rowBytes < static_cast<size_t>(height))
        throw RuntimeError(bad);
    BitmapPicture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.assign(static_cast<size_t>(width) * height * 4, 255);
    for (int32_t row = 0; row < height; ++row) {
        int32_t fileRow = topDown ? row : height - 1 - row;
        const uint8_t* from = bytes.data() + offset + fileRow * rowBytes;
        uint8_t* to = picture.pixels.data() + static_cast<size_t>(row) * width * 4;
        for (int32_t x = 0; x < width; ++x) std::memcpy(to + x * 4, from + x * bits / 8, 3);
    }
    return picture;
}

void CheckNumberedPattern(const std::string& pattern) {
    int width = 0;
    FindConversion(pattern, width);
}

std::string NumberedPath(const std::string& pattern, int64_t index) {
    int width = 0;
    size_t at = FindConversion(pattern, width);
    std::string number = std::to_string(index);
    if (at == std::string::npos) {
        number = std::string(number.size() < 5 ? 5 - number.size() : 0, '0') + number;
        size_t slash = pattern.rfind('/');
        size_t dot = pattern.rfind('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
            return Unescape(pattern) + "-" + number + ".bmp";
        }
        return Unescape(pattern.substr(0, dot)) + "-" + number + Unescape(pattern.substr(dot));
    }
    if (number.size() < static_cast<size_t>(width)) {
        number = std::string(static_cast<size_t>(width) - number.size(), '0') + number;
    }
    size_t end = pattern.find('d', at);
    return Unescape(pattern.substr(0, at)) + number + Unescape(pattern.substr(end + 1));
}

}  // namespace d2ucli
