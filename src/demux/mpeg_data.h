// A program-stream file held open through its pack reader, and positioned.
#pragma once

#include <cstdint>

#include "demux/pack_reader.h"

namespace d2u {

class CMpegData {
public:
    static constexpr int32_t kLogTextSize = 1024;

    CMpegData();
    // Refused with -1 until a file was loaded.
    virtual int32_t Seek(uint32_t offsetLow, uint32_t offsetHigh);
    virtual int32_t Reset();
    virtual ~CMpegData();
    // Room for readers with pending work to finish; this one never has any.
    virtual int32_t Idle() { return 0; }

    CMpegData(const CMpegData&) = delete;
    CMpegData& operator=(const CMpegData&) = delete;

    int32_t LoadFile(const char* fileName);
    int32_t Close();

protected:
    void Log(int32_t level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    CPackReader packReader;
    int32_t sourceMode = 0;
    char logText[kLogTextSize];
};

}  // namespace d2u
