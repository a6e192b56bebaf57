// The error texts that the frame and file exports hand to the outside diagnostics library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "api_streams.h"
#include "d2udir.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

// Collects what is published while it lives (the stand-in library appends to a file).
class PublishedTexts {
public:
    PublishedTexts() : path_(WorkPath("api_published.txt")) {
        RemoveFile(path_);
        setenv("D2U_TV_INFO_FILE", path_.c_str(), 1);
    }
    ~PublishedTexts() { unsetenv("D2U_TV_INFO_FILE"); }
    bool Contains(const std::string& text) const {
        std::vector<uint8_t> bytes = ReadFileBytes(path_);
        return std::string(bytes.begin(), bytes.end()).find("decoder072401 " + text + "\n") !=
               std::string::npos;
    }

private:
    std::string path_;
};

TEST(PublishedMessages, BufferStartErrorsAndNullHandles) {
    const ApiStream& stream = IpbStream();
    const CodedPicture& first = stream.layout.pictures.front();
    std::vector<uint8_t> headersOnly(stream.bytes.begin(),
                                     stream.bytes.begin() + static_cast<long>(first.pictureStart));
    PublishedTexts published;
    D2uHandle handle = 0;
    InitDecoding(&handle);
    D2uFrame* frame = nullptr;
    EXPECT_EQ(
        GetMpegFrame2(&frame, headersOnly.data(), static_cast<int32_t>(headersOnly.size()), handle),
        -2008);
    EXPECT_EQ(GetMpegFrame2(&frame, headersOnly.data(), 4, 0), -1);
    FinishDecoding(&handle);
    EXPECT_TRUE(published.Contains("GetMpegFrame2 decoder->Init, retCode=-2008"));
    EXPECT_TRUE(published.Contains("ERROR - GetMpegFrame2 frameSource=NULL"));
}

TEST(PublishedMessages, WideFileLoadsPublishTheirResult) {
    PublishedTexts published;
    D2uHandle handle = 0;
    EXPECT_EQ(D2uDirLoadFileW(L"/nonexistent/api_missing.m2v", &handle), -1);
    std::string path = IpbStream().path;
    ASSERT_EQ(D2uDirLoadFileW(std::wstring(path.begin(), path.end()).c_str(), &handle), 0);
    FinishDecoding(&handle);
    EXPECT_TRUE(published.Contains("D2uDirLoadFileW end retCode = -1"));
    EXPECT_TRUE(published.Contains("D2uDirLoadFileW end retCode = 0"));
}

}  // namespace
}  // namespace test
}  // namespace d2u
