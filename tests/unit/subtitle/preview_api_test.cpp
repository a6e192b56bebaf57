#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "d2udir.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

// A PAL elementary stream or DVD program stream, made once.
std::string PalStream(const std::string& name, const std::string& audio,
                      const std::string& format) {
    return CachedArtifact(name,
                          Ffmpeg("-f lavfi -i testsrc2=size=720x576:rate=25 " + audio +
                                 "-t 3 -c:v mpeg2video -g 12 -bf 2 -b:v 3M " + format + " {out}"));
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
    const std::string es = PalStream("preview_es.m2v", "", "-f mpeg2video");
    ASSERT_FALSE(es.empty());
    // An upper-case name without a dot is an elementary stream too.
    std::string upper = WorkPath("preview_clipM2V");
    WriteFileBytes(upper, ReadFileBytes(es));
    std::string bitmap = WorkPath("preview_100x75.bmp");
    RemoveFile(bitmap);
    ASSERT_EQ(D2uDirStartExtractPreview(upper.c_str(), bitmap.c_str(), 100, 75), 0);
    ASSERT_EQ(D2uDirExtractPreview(0), 0);
    // A bitmap file that ffmpeg reads as 100 x 75 pixels of 4 bytes.
    const std::string raw = bitmap + ".bgra";
    RemoveFile(raw);
    EXPECT_EQ(RunCommand(Ffmpeg("-i '" + bitmap + "' -f rawvideo -pix_fmt bgra '" + raw + "'")), 0);
    EXPECT_EQ(ReadFileBytes(raw).size(), 100u * 75 * 4);
    EXPECT_EQ(D2uDirExtractPreview(1 << 20), -1);  // past the end: no picture
    EXPECT_EQ(D2uDirExtractPreview(0), 0);         // and the stream decodes again
    D2uDirCloseExtractPreview();

    const std::string dvd = PalStream(
        "preview_dvd.vob", "-f lavfi -i sine=frequency=440:sample_rate=48000 ", "-c:a mp2 -f dvd");
    if (dvd.empty()) return;
    ASSERT_EQ(D2uDirStartExtractPreview(dvd.c_str(), "", 100, 75), 0);
    EXPECT_EQ(D2uDirExtractPreview(1 << 20), -1);
    EXPECT_EQ(D2uDirExtractPreview(0), 0);  // the source still works after a failure
    D2uDirCloseExtractPreview();
}

}  // namespace
}  // namespace test
}  // namespace d2u
