// YUV4MPEG2 streams of 4:2:0 pictures: the header with the frame rate, the interlacing and the
// sample aspect ratio, then one "FRAME" per picture.
#pragma once

#include <cstdio>
#include <string>

#include "output_file.h"
#include "pictures.h"
#include "stream_headers.h"

namespace d2ucli {

struct Y4mHeader {
    int32_t width = 0, height = 0;
    Rational frameRate;      // 0/1: unknown
    Rational sampleAspect;   // 0/1: unknown
    char interlacing = 'p';  // 'p' progressive, 't' top field first, 'b' bottom field first
    bool chromaBetweenColumns = false;  // MPEG-1 chroma siting; MPEG-2 sites it on columns
};

std::string FormatY4mHeader(const Y4mHeader& header);
void WriteY4mFrame(OutputFile& out, const YuvPicture& picture);

class Y4mReader {
public:
    // Reads the header; RuntimeError when the file is not a 4:2:0 YUV4MPEG2 stream.
    Y4mReader(FILE* file, const std::string& name);
    const Y4mHeader& header() const { return header_; }
    // The next picture; false at the end of the stream.
    bool ReadFrame(YuvPicture& picture);

private:
    std::string ReadLine(size_t longest);
    void ReadParameter(const std::string& parameter);

    FILE* file_;
    std::string name_;
    Y4mHeader header_;
};

}  // namespace d2ucli
