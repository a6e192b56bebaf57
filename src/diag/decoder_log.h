// The process-wide logger: diagnostic lines to "logDecoder.txt" while a marker file exists,
// and published error texts to an optional outside diagnostics library.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace d2u {

class CDecoderLog {
public:
    static constexpr int32_t kMessageSize = 1024;
    static constexpr int32_t kFileThreshold = 10;

    CDecoderLog();
    explicit CDecoderLog(const char* logPath);
    virtual ~CDecoderLog();
    CDecoderLog(const CDecoderLog&) = delete;
    CDecoderLog& operator=(const CDecoderLog&) = delete;

    // The singleton; made with the default log path when there is none.
    static CDecoderLog* GetLogger();
    // At library load: the singleton with the log file beside the library's own file.
    static void CreateLoggerForModule();
    static void DestroyLogger();

    int32_t Write(const char* text, int32_t level);
    int32_t Log15(const char* text) { return Write(text, 15); }
    int32_t Publish(const char* text);

    int32_t threshold() const { return threshold_; }

private:
    using TvInfoFunction = void(
#if defined(_WIN32) && !defined(_WIN64)
        __stdcall
#endif
            *)(const char*);

    void Construct(const char* logPath);

    int32_t threshold_ = 0;
    platform::FileHandle logFile_ = platform::kInvalidFile;
    platform::LibraryHandle zoridaZeraModule_ = nullptr;
    TvInfoFunction tvInfo_ = nullptr;

    static CDecoderLog* singleton_;
};

// The message buffer into which exported functions format their messages (one per thread).
char* SharedMessageBuffer();
// The cached logger of the exported functions; refreshed by the handle-creating exports.
CDecoderLog* CachedLogger();
void RefreshCachedLogger();

// printf-style helpers over the shared message buffer.
void LogFormat(int32_t level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void PublishFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace d2u
