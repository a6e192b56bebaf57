#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "d2udir.h"
#include "support/test_env.h"

namespace d2u {
namespace {

using test::CachedArtifact;
using test::ReadFileBytes;
using test::WorkPath;

const char kPalSource[] = "-f lavfi -i testsrc2=size=720x576:rate=25 ";
const char kTone[] = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";

// An elementary stream and a DVD program stream, both PAL, made once.
std::string ElementaryStream() {
    return CachedArtifact(
        "preview_es.m2v",
        test::Ffmpeg(std::string(kPalSource) +
                     "-t 3 -c:v mpeg2video -g 12 -bf 2 -b:v 3M -f mpeg2video {out}"));
}

std::string DvdStream() {
    return CachedArtifact(
        "preview_dvd.vob",
        test::Ffmpeg(std::string(kPalSource) + kTone +
                     "-t 3 -c:v mpeg2video -g 12 -bf 2 -b:v 3M -c:a mp2 -f dvd {out}"));
}

// The bitmap file as ffmpeg reads it: rows top first, 4 bytes per pixel in B, G, R, A order.
std::vector<uint8_t> ReadBitmapWithFfmpeg(const std::string& bitmap) {
    std::string raw = bitmap + ".bgra";
    test::RemoveFile(raw);
    if (test::RunCommand(
            test::Ffmpeg("-i '" + bitmap + "' -f rawvideo -pix_fmt bgra '" + raw + "'")) != 0) {
        return {};
    }
    return ReadFileBytes(raw);
}

TEST(PreviewResults, BeforeAStartAndAfterAFailedOne) {
    D2uDirCloseExtractPreview();
    EXPECT_EQ(D2uDirExtractPreview(0), -1);
    EXPECT_EQ(D2uDirStartExtractPreviewW(L"x.m2v", L"x.bmp", 100, 75), 0);
    EXPECT_EQ(D2uDirExtractPreview(0), -1);
    EXPECT_EQ(D2uDirStartExtractPreview(WorkPath("missing.m2v").c_str(), "", 100, 75), -1);
    EXPECT_EQ(D2uDirExtractPreview(0), -1);
    // A program-stream name that cannot be opened leaves a handle without a source.
    EXPECT_EQ(D2uDirStartExtractPreview(WorkPath("missing.vob").c_str(), "", 100, 75), -1);
    EXPECT_NE(D2uDirExtractPreview(0), 0);
    EXPECT_EQ(D2uDirCloseExtractPreview(), 0);
    EXPECT_EQ(D2uDirCloseExtractPreview(), 0);
}

TEST(PreviewResults, NameRuleSizesAndPositionsPastTheEnd) {
    const std::string es = ElementaryStream();
    ASSERT_FALSE(es.empty());
    // An upper-case name without a dot is an elementary stream too.
    std::string upper = WorkPath("preview_clipM2V");
    test::WriteFileBytes(upper, ReadFileBytes(es));
    std::string bitmap = WorkPath("preview_100x75.bmp");
    test::RemoveFile(bitmap);
    ASSERT_EQ(D2uDirStartExtractPreview(upper.c_str(), bitmap.c_str(), 100, 75), 0);
    ASSERT_EQ(D2uDirExtractPreview(0), 0);
    EXPECT_EQ(ReadBitmapWithFfmpeg(bitmap).size(), 100u * 75 * 4);
    EXPECT_EQ(D2uDirExtractPreview(1 << 20), -1);  // past the end: no picture
    EXPECT_EQ(D2uDirExtractPreview(0), 0);         // and the stream decodes again
    D2uDirCloseExtractPreview();

    const std::string dvd = DvdStream();
    if (dvd.empty()) return;
    ASSERT_EQ(D2uDirStartExtractPreview(dvd.c_str(), "", 100, 75), 0);
    EXPECT_EQ(D2uDirExtractPreview(1 << 20), -1);
    EXPECT_EQ(D2uDirExtractPreview(0), 0);  // the source still works after a failure
    D2uDirCloseExtractPreview();
}

}  // namespace
}  // namespace d2u
