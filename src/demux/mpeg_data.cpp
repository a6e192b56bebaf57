#include "demux/mpeg_data.h"

#include <cstdarg>
#include <cstdio>

#include "diag/decoder_log.h"

namespace d2u {

CMpegData::CMpegData() {
    logText[0] = '\0';
}

CMpegData::~CMpegData() = default;

void CMpegData::Log(int32_t level, const char* format, ...) {
    CDecoderLog* log = CDecoderLog::GetLogger();
    if (!log || level > log->threshold()) return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(logText, sizeof logText, format, arguments);
    va_end(arguments);
    log->Write(logText, level);
}

int32_t CMpegData::LoadFile(const char* fileName) {
    Log(15, "CMpegData::LoadFile start fn=%s", fileName ? fileName : "");
    sourceMode = 1;
    int32_t result = packReader.Open(fileName);
    Log(15, "CMpegData::LoadFile end retCode=%d", result);
    return result;
}

int32_t CMpegData::Close() {
    Log(15, "CMpegData::Close start");
    if (sourceMode == 1) packReader.Close();
    Log(15, "CMpegData::Close end retCode=%d", 0);
    return 0;
}

int32_t CMpegData::Reset() {
    Log(15, "CMpegData::Reset start");
    if (sourceMode == 1) packReader.Reset();
    Log(15, "CMpegData::Reset end retCode=%d", 0);
    return 0;
}

int32_t CMpegData::Seek(uint32_t offsetLow, uint32_t offsetHigh) {
    if (sourceMode != 1) return -1;
    packReader.Seek(offsetLow, offsetHigh);
    return 0;
}

}  // namespace d2u
