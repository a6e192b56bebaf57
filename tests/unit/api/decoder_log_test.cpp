#include "diag/decoder_log.h"

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

// Without the marker file nothing is written (not even an empty file); with it, levels up to ten
// replace what the file held.
TEST(DecoderLog, OnlyWithTheMarkerLevelsUpToTenReachTheFile) {
    std::string path = WorkPath("decoder_log.txt");
    for (bool marked : {false, true}) {
        RemoveFile(D2U_TEST_LOG_MARKER_PATH);
        if (marked) test::WriteFileBytes(D2U_TEST_LOG_MARKER_PATH, {});
        marked ? void(test::WriteFileBytes(path, {'o', 'l', 'd'})) : RemoveFile(path);
        {
            CDecoderLog log(path.c_str());
            EXPECT_EQ(log.threshold(), marked ? 10 : 0);
            log.Write("GetMpegFrame start", 10);
            log.Write("InitDecoding start", 15);
            log.Log15("traced only");
            log.Write("an error", 1);
        }
        EXPECT_EQ(ReadText(path), marked ? "GetMpegFrame start\r\nan error\r\n" : "");
        EXPECT_EQ(FileExists(path), marked);
    }
    RemoveFile(D2U_TEST_LOG_MARKER_PATH);
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

}  // namespace
}  // namespace d2u
