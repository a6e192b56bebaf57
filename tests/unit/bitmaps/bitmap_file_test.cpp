#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "colour_reference.h"
#include "decoder/yuv_frame.h"
#include "diag/decoder_log.h"
#include "picture/bmp_utils.h"
#include "platform/platform.h"
#include "support/test_env.h"

namespace d2u {
namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::RemoveFile;
using test::WorkPath;

uint32_t ReadLittleEndian(const std::vector<uint8_t>& bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<size_t>(i)];
    return value;
}

void FillCounting(CBmpUtils& bitmap) {
    size_t bytes = static_cast<size_t>(bitmap.bmWidthBytes) * std::abs(bitmap.bmHeight);
    for (size_t i = 0; i < bytes; ++i) bitmap.bmBits[i] = static_cast<uint8_t>(i * 13 + 5);
}

std::vector<uint8_t> SaveAndRead(CBmpUtils& bitmap, const std::string& name) {
    std::string path = WorkPath(name);
    RemoveFile(path);
    EXPECT_EQ(bitmap.SaveBitmap(path.c_str()), 0);
    return ReadFileBytes(path);
}

TEST(BitmapFile, HeaderDescribesTheBitmapAndPixelsFollowAsInMemory) {
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(4, 2, 32), 0);
    FillCounting(bitmap);
    std::vector<uint8_t> file = SaveAndRead(bitmap, "bitmap_4x2.bmp");
    ASSERT_EQ(file.size(), 90u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(ReadLittleEndian(file, 2, 4), 90u);
    EXPECT_EQ(ReadLittleEndian(file, 6, 4), 0u);
    EXPECT_EQ(ReadLittleEndian(file, 10, 4), 58u);
    EXPECT_EQ(ReadLittleEndian(file, 14, 4), 40u);
    EXPECT_EQ(ReadLittleEndian(file, 18, 4), 4u);
    EXPECT_EQ(ReadLittleEndian(file, 22, 4), 2u);
    EXPECT_EQ(ReadLittleEndian(file, 26, 2), 1u);
    EXPECT_EQ(ReadLittleEndian(file, 28, 2), 32u);
    for (size_t at = 30; at < 58; at += 4) EXPECT_EQ(ReadLittleEndian(file, at, 4), 0u) << at;
    EXPECT_EQ(0, std::memcmp(file.data() + 58, bitmap.bmBits, 32));
}

TEST(BitmapFile, PaddedRowsAndTopDownHeightsAreWrittenAsTheyAre) {
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(3, 1, 24), 0);
    FillCounting(bitmap);
    std::vector<uint8_t> file = SaveAndRead(bitmap, "bitmap_3x1.bmp");
    ASSERT_EQ(file.size(), 70u);
    EXPECT_EQ(ReadLittleEndian(file, 2, 4), 70u);
    EXPECT_EQ(ReadLittleEndian(file, 28, 2), 24u);
    EXPECT_EQ(0, std::memcmp(file.data() + 58, bitmap.bmBits, 12));

    ASSERT_EQ(bitmap.Create(5, -3, 32), 0);
    FillCounting(bitmap);
    file = SaveAndRead(bitmap, "bitmap_top_down.bmp");
    ASSERT_EQ(file.size(), 58u + 60u);
    EXPECT_EQ(ReadLittleEndian(file, 2, 4), 118u);
    EXPECT_EQ(static_cast<int32_t>(ReadLittleEndian(file, 22, 4)), -3);
    EXPECT_EQ(0, std::memcmp(file.data() + 58, bitmap.bmBits, 60));
}

TEST(BitmapFile, ReplacesAnExistingLongerFile) {
    std::string path = WorkPath("bitmap_replaced.bmp");
    test::WriteFileBytes(path, std::vector<uint8_t>(500, 0x77));
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(2, 2, 32), 0);
    FillCounting(bitmap);
    EXPECT_EQ(bitmap.SaveBitmap(path.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(path).size(), 74u);
}

// Swaps the process-wide logger for one that writes its file beside the module (the marker file
// exists only while it is made), and restores a silent logger afterwards.
class FileWritingLogger {
public:
    FileWritingLogger() {
        char directory[512];
        platform::ModuleDirectory(directory, sizeof directory);
        path_ = std::string(directory) + "logDecoder.txt";
        for (int attempt = 0; attempt < 20; ++attempt) {
            CDecoderLog::DestroyLogger();
            test::WriteFileBytes(D2U_TEST_LOG_MARKER_PATH, {});
            CDecoderLog::CreateLoggerForModule();
            RemoveFile(D2U_TEST_LOG_MARKER_PATH);
            // Another test program may have removed the marker in between.
            if (CDecoderLog::GetLogger()->threshold() > 0) break;
        }
    }
    ~FileWritingLogger() {
        CDecoderLog::DestroyLogger();
        CDecoderLog::CreateLoggerForModule();
        RemoveFile(path_);
    }
    bool active() const { return CDecoderLog::GetLogger()->threshold() > 0; }
    std::string Text() const {
        std::vector<uint8_t> bytes = ReadFileBytes(path_);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    std::string path_;
};

TEST(BitmapFile, PathInAMissingDirectoryIsLoggedAndCreatesNothing) {
    std::string directory = WorkPath("no_such_directory");
    test::RunCommand("rm -rf '" + directory + "'");
    std::string path = directory + "/preview.bmp";
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(4, 4, 32), 0);
    FillCounting(bitmap);
    std::string log;
    {
        FileWritingLogger logger;
        ASSERT_TRUE(logger.active());
        EXPECT_EQ(bitmap.SaveBitmap(path.c_str()), 0);
        log = logger.Text();
    }
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(log, "CBmpUtils::SaveBitmap - ERROR unable to create file " + path + "\r\n");
}

// A picture whose top and bottom, left and right differ in colour, so that a reader showing it
// upside down or mirrored is caught.
void MakeOrientedFrame(CYUVFrame& frame, int32_t width, int32_t height) {
    test::MakeFrame(frame, width, height, [&](int plane, int x, int y) -> uint8_t {
        if (plane == 0) return static_cast<uint8_t>(30 + (x * 150) / width + (y * 60) / height);
        if (plane == 1) return static_cast<uint8_t>(y < height / 4 ? 200 : 110);  // blue on top
        return static_cast<uint8_t>(2 * x < width / 2 ? 190 : 120);               // red at left
    });
}

// ffmpeg's reading of a bitmap file, as rows of blue, green, red from the top.
std::vector<uint8_t> ReadWithFfmpeg(const std::string& path, const std::string& name) {
    std::string raw = WorkPath(name + ".raw");
    RemoveFile(raw);
    // image2 picks the reader by the file name; probing by content can take a flat picture for
    // raw audio.
    int status = test::RunCommand("ffmpeg -nostdin -v error -y -f image2 -i '" + path +
                                  "' -f rawvideo -pix_fmt bgr24 '" + raw + "'");
    EXPECT_EQ(status, 0);
    return ReadFileBytes(raw);
}

std::vector<uint8_t> ColourBytesTopDown(const CBmpUtils& bitmap, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* pixel = bitmap.bmBits + y * bitmap.bmWidthBytes + 4 * x;
            bytes.insert(bytes.end(), pixel, pixel + 3);
        }
    }
    return bytes;
}

TEST(BitmapFile, FfmpegReadsFlippedAndTopDownFilesUprightWithTheSamePixels) {
    if (!test::CommandAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const int32_t width = 45;
    const int32_t height = 31;
    CYUVFrame frame;
    MakeOrientedFrame(frame, width, height);
    CBmpUtils bitmap;
    ASSERT_EQ(bitmap.Create(width, height, 32), 0);
    ASSERT_EQ(bitmap.FromYUV(frame), 0);
    std::vector<uint8_t> upright = ColourBytesTopDown(bitmap, width, height);

    // Top-down: the converted rows with a negative height.
    bitmap.bmHeight = -height;
    std::string topDown = WorkPath("bitmap_top_down_read.bmp");
    bitmap.SaveBitmap(topDown.c_str());
    EXPECT_EQ(ReadWithFfmpeg(topDown, "bitmap_top_down_read"), upright);

    // Preview style: flipped rows with a positive height.
    bitmap.bmHeight = height;
    bitmap.FlipVertical();
    std::string flipped = WorkPath("bitmap_flipped_read.bmp");
    bitmap.SaveBitmap(flipped.c_str());
    EXPECT_EQ(ReadWithFfmpeg(flipped, "bitmap_flipped_read"), upright);
}

}  // namespace
}  // namespace d2u
