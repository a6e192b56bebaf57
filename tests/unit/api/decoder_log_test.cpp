#include "diag/decoder_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/test_env.h"

namespace d2u {
namespace {

using namespace test;

// Without the marker file nothing is written (not even an empty file); with it, levels up to ten
// replace what the file held.
TEST(DecoderLog, OnlyWithTheMarkerLevelsUpToTenReachTheFile) {
    std::string path = WorkPath("decoder_log.txt");
    for (bool marked : {false, true}) {
        RemoveFile(D2U_TEST_LOG_MARKER_PATH);
        if (marked) WriteFileBytes(D2U_TEST_LOG_MARKER_PATH, {});
        marked ? void(WriteFileBytes(path, {'o', 'l', 'd'})) : RemoveFile(path);
        {
            CDecoderLog log(path.c_str());
            EXPECT_EQ(log.threshold(), marked ? 10 : 0);
            log.Write("GetMpegFrame start", 10);
            log.Write("InitDecoding start", 15);
            log.Log15("traced only");
            log.Write("an error", 1);
        }
        const std::vector<uint8_t> text = ReadFileBytes(path);
        EXPECT_EQ(std::string(text.begin(), text.end()),
                  marked ? "GetMpegFrame start\r\nan error\r\n" : "");
        EXPECT_EQ(FileExists(path), marked);
    }
    RemoveFile(D2U_TEST_LOG_MARKER_PATH);
}

}  // namespace
}  // namespace d2u
