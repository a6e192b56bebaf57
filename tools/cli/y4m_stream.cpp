#include "y4m_stream.h"

#include <cstdlib>

#include "cli_errors.h"

namespace d2ucli {
namespace {

const char kSignature[] = "YUV4MPEG2";

Rational ParseRatio(const std::string& text) {
    Rational value;
    long long numerator = 0, denominator = 0;
    if (std::sscanf(text.c_str(), "%lld:%lld", &numerator, &denominator) == 2 && numerator >= 0 &&
        denominator > 0) {
        value.numerator = numerator;
        value.denominator = denominator;
    }
    return value;
}

}  // namespace

std::string FormatY4mHeader(const Y4mHeader& header) {
    std::string text = std::string(kSignature) + " W" + std::to_string(header.width) + " H" +
                       std::to_string(header.height);
    if (header.frameRate.numerator > 0) {
        text += " F" + std::to_string(header.frameRate.numerator) + ":" +
                std::to_string(header.frameRate.denominator);
    }
    text += std::string(" I") + header.interlacing;
    text += " A" + std::to_string(header.sampleAspect.numerator) + ":" +
            std::to_string(header.sampleAspect.numerator > 0 ? header.sampleAspect.denominator : 0);
    return text + (header.chromaBetweenColumns ? " C420jpeg\n" : " C420mpeg2\n");
}

void WriteY4mFrame(OutputFile& out, const YuvPicture& picture) {
    out.Write("FRAME\n", 6);
    out.Write(picture.samples.data(), picture.samples.size());
}

Y4mReader::Y4mReader(FILE* file, const std::string& name) : file_(file), name_(name) {
    std::string line = ReadLine(1024);
    if (line.compare(0, sizeof kSignature - 1, kSignature) != 0) {
        throw RuntimeError("'" + name + "' is not a YUV4MPEG2 stream");
    }
    size_t at = sizeof kSignature - 1;
    while (at < line.size()) {
        size_t end = line.find(' ', at + 1);
        if (end == std::string::npos) end = line.size();
        if (end > at + 1) ReadParameter(line.substr(at + 1, end - at - 1));
        at = end;
    }
    if (header_.width <= 0 || header_.height <= 0 || header_.width > 16384 ||
        header_.height > 16384) {
        throw RuntimeError("'" + name + "': picture size missing or out of range");
    }
}

void Y4mReader::ReadParameter(const std::string& parameter) {
    std::string value = parameter.substr(1);
    switch (parameter[0]) {
        case 'W':
            header_.width = std::atoi(value.c_str());
            break;
        case 'H':
            header_.height = std::atoi(value.c_str());
            break;
        case 'F':
            header_.frameRate = ParseRatio(value);
            break;
        case 'A':
            header_.sampleAspect = ParseRatio(value);
            break;
        case 'I':
            header_.interlacing = value.empty() ? 'p' : value[0];
            break;
        case 'C':
            if (value.compare(0, 3, "420") != 0) {
                throw RuntimeError("'" + name_ + "': only 4:2:0 pictures are supported, not C" +
                                   value);
            }
            break;
    }
}

std::string Y4mReader::ReadLine(size_t longest) {
    std::string line;
    int next;
    while ((next = std::fgetc(file_)) != EOF && next != '\n') {
        if (line.size() >= longest) throw RuntimeError("'" + name_ + "': header line too long");
        line += static_cast<char>(next);
    }
    if (next == EOF && !line.empty()) throw RuntimeError("'" + name_ + "': truncated header");
    return line;
}

bool Y4mReader::ReadFrame(YuvPicture& picture) {
    std::string line = ReadLine(1024);
    if (line.empty() && std::feof(file_)) return false;
    if (line.compare(0, 5, "FRAME") != 0) {
        throw RuntimeError("'" + name_ + "': a frame does not start with FRAME");
    }
    picture.width = header_.width;
    picture.height = header_.height;
    picture.samples.resize(picture.ByteCount());
    if (std::fread(picture.samples.data(), 1, picture.samples.size(), file_) !=
        picture.samples.size()) {
        throw RuntimeError("'" + name_ + "': the last frame is cut short");
    }
    return true;
}

}  // namespace d2ucli
