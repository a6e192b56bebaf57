#include "diag/decoder_log.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/test_env.h"

namespace d2u {
namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::RemoveFile;
using test::WorkPath;

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Creates the marker file for the lifetime of the object.
class LogMarker {
public:
    LogMarker() { test::WriteFileBytes(D2U_TEST_LOG_MARKER_PATH, {}); }
    ~LogMarker() { RemoveFile(D2U_TEST_LOG_MARKER_PATH); }
};

TEST(DecoderLog, WithoutTheMarkerNothingIsWritten) {
    RemoveFile(D2U_TEST_LOG_MARKER_PATH);
    std::string path = WorkPath("log_without_marker.txt");
    RemoveFile(path);
    {
        CDecoderLog log(path.c_str());
        EXPECT_EQ(log.threshold(), 0);
        EXPECT_EQ(log.Write("an error", 1), 0);
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(DecoderLog, WithTheMarkerLevelsUpToTenReachTheFile) {
    LogMarker marker;
    std::string path = WorkPath("log_with_marker.txt");
    test::WriteFileBytes(path, {'o', 'l', 'd'});
    {
        CDecoderLog log(path.c_str());
        EXPECT_EQ(log.threshold(), 10);
        log.Write("GetMpegFrame start", 10);
        log.Write("InitDecoding start", 15);
        log.Log15("traced only");
        log.Write("an error", 1);
    }
    EXPECT_EQ(ReadText(path), "GetMpegFrame start\r\nan error\r\n");
}

TEST(DecoderLog, PublishedTextsReachTheDiagnosticsLibrary) {
    std::string sink = WorkPath("tv_info.txt");
    RemoveFile(sink);
    setenv("D2U_TV_INFO_FILE", sink.c_str(), 1);
    {
        CDecoderLog log(WorkPath("unused_log.txt").c_str());
        log.Publish("ERRROR - something - ERROR");
        log.Publish(std::string(2000, 'x').c_str());  // longer than the buffer: cut, not overrun
    }
    unsetenv("D2U_TV_INFO_FILE");
    std::string text = ReadText(sink);
    EXPECT_EQ(text.substr(0, text.find('\n')), "decoder072401 ERRROR - something - ERROR");
    std::string second = text.substr(text.find('\n') + 1);
    EXPECT_EQ(second.size(), 1024u);  // 1023 characters and the line end
    EXPECT_EQ(second.substr(0, 14), "decoder072401 ");
}

TEST(DecoderLog, LoadedLibraryLogsBesideItselfOnlyWithTheMarker) {
    std::string library = D2U_LIBRARY_FILE;
    std::string logPath = library.substr(0, library.rfind('/') + 1) + "logDecoder.txt";
    RemoveFile(logPath);
    RemoveFile(D2U_TEST_LOG_MARKER_PATH);
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    dlclose(handle);
    EXPECT_FALSE(FileExists(logPath));
    {
        LogMarker marker;
        handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        using InitFunction = int32_t (*)(uintptr_t*);
        auto init = reinterpret_cast<InitFunction>(dlsym(handle, "InitDecoding"));
        auto finish = reinterpret_cast<InitFunction>(dlsym(handle, "FinishDecoding"));
        ASSERT_TRUE(init && finish);
        uintptr_t decoder = 0;
        init(&decoder);
        finish(&decoder);
        dlclose(handle);
    }
    EXPECT_TRUE(FileExists(logPath));
    EXPECT_EQ(ReadText(logPath), "");  // start and end traces are level 15
    RemoveFile(logPath);
}

}  // namespace
}  // namespace d2u
