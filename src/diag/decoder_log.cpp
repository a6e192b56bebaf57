#include "diag/decoder_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace d2u {

CDecoderLog* CDecoderLog::singleton_ = nullptr;

namespace {
// Handles may run on several threads at once: each thread formats into its own buffer, and the
// cached pointer is refreshed by one thread while others read it.
thread_local char sharedMessage[CDecoderLog::kMessageSize];
std::atomic<CDecoderLog*> cachedLogger{nullptr};
const char kLogFileName[] = "logDecoder.txt";
}  // namespace

CDecoderLog::CDecoderLog() {
    Construct(kLogFileName);
}

CDecoderLog::CDecoderLog(const char* logPath) {
    Construct(logPath ? logPath : kLogFileName);
}

void CDecoderLog::Construct(const char* logPath) {
    if (platform::FileExists(platform::LogMarkerPath())) threshold_ = kFileThreshold;
    if (threshold_ != 0) {
        logFile_ = platform::CreateForWriting(logPath);
        platform::SeekToEnd(logFile_);
    }
    zoridaZeraModule_ = platform::LoadLibraryByName(platform::DiagnosticsLibraryName());
    if (zoridaZeraModule_) {
        tvInfo_ =
            reinterpret_cast<TvInfoFunction>(platform::LookUpEntry(zoridaZeraModule_, "TV_Info"));
    }
}

CDecoderLog::~CDecoderLog() {
    platform::Close(logFile_);
    platform::UnloadLibrary(zoridaZeraModule_);
}

CDecoderLog* CDecoderLog::GetLogger() {
    if (!singleton_) singleton_ = new (std::nothrow) CDecoderLog();
    return singleton_;
}

void CDecoderLog::CreateLoggerForModule() {
    if (singleton_) return;
    char directory[256];
    char path[300];
    if (platform::ModuleDirectory(directory, sizeof directory) > 0) {
        std::snprintf(path, sizeof path, "%s%s", directory, kLogFileName);
    } else {
        std::snprintf(path, sizeof path, "%s", kLogFileName);
    }
    singleton_ = new (std::nothrow) CDecoderLog(path);
}

void CDecoderLog::DestroyLogger() {
    CDecoderLog* expected = singleton_;
    cachedLogger.compare_exchange_strong(expected, nullptr);
    delete singleton_;
    singleton_ = nullptr;
}

int32_t CDecoderLog::Write(const char* text, int32_t level) {
    if (level > threshold_ || !text) return 0;
    platform::Write(logFile_, text, std::strlen(text));
    platform::Write(logFile_, "\r\n", 2);
    return 0;
}

int32_t CDecoderLog::Publish(const char* text) {
    if (!tvInfo_ || !text) return 0;
    // "decoder%s %s" with the fixed identifier, cut to the buffer; the buffer is the caller's
    // own, as two threads may publish at once.
    static const char kPrefix[] = "decoder072401 ";
    char publishText[kMessageSize];
    size_t prefixLength = sizeof kPrefix - 1;
    size_t textLength = std::strlen(text);
    if (textLength > sizeof publishText - 1 - prefixLength) {
        textLength = sizeof publishText - 1 - prefixLength;
    }
    std::memcpy(publishText, kPrefix, prefixLength);
    std::memcpy(publishText + prefixLength, text, textLength);
    publishText[prefixLength + textLength] = '\0';
    tvInfo_(publishText);
    return 0;
}

char* SharedMessageBuffer() {
    return sharedMessage;
}

CDecoderLog* CachedLogger() {
    CDecoderLog* cached = cachedLogger.load();
    return cached ? cached : CDecoderLog::GetLogger();
}

void RefreshCachedLogger() {
    cachedLogger.store(CDecoderLog::GetLogger());
}

void LogFormat(int32_t level, const char* format, ...) {
    CDecoderLog* log = CachedLogger();
    if (!log || level > log->threshold()) return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(sharedMessage, sizeof sharedMessage, format, arguments);
    va_end(arguments);
    log->Write(sharedMessage, level);
}

void PublishFormat(const char* format, ...) {
    CDecoderLog* log = CachedLogger();
    if (!log) return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(sharedMessage, sizeof sharedMessage, format, arguments);
    va_end(arguments);
    log->Publish(sharedMessage);
}

}  // namespace d2u
