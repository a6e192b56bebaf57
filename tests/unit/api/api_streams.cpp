#include "api_streams.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

ApiStream Make(const std::string& name, const std::string& command) {
    ApiStream stream;
    stream.path = CachedArtifact(name, command);
    EXPECT_FALSE(stream.path.empty()) << "could not make " << name;
    stream.bytes = ReadFileBytes(stream.path);
    stream.layout = ReadStreamLayout(stream.bytes);
    return stream;
}

std::string Encode(const std::string& source, int frames, const std::string& options,
                   const std::string& format) {
    return "ffmpeg -nostdin -v error -y -f lavfi -i '" + source + "' -frames:v " +
           std::to_string(frames) + " -sc_threshold 1000000000 " + options + " -f " + format +
           " {out}";
}

}  // namespace

const ApiStream& IpbStream() {
    static const ApiStream stream =
        Make("api_ipb_cif_v1.m2v", Encode("testsrc2=size=352x288:rate=25", 60,
                                          "-c:v mpeg2video -q:v 4 -g 12 -bf 2", "mpeg2video"));
    return stream;
}

const ApiStream& PalStream() {
    static const ApiStream stream = Make(
        "api_pal_v1.m2v", Encode("testsrc2=size=720x576:rate=25", 6,
                                 "-c:v mpeg2video -q:v 5 -g 12 -bf 2 -aspect 16:9", "mpeg2video"));
    return stream;
}

const ApiStream& LargeStream() {
    static const ApiStream stream =
        Make("api_large_v1.m2v",
             Encode("testsrc2=size=720x576:rate=25", 24,
                    "-vf noise=alls=20:allf=t -c:v mpeg2video -q:v 2 -g 12 -bf 2", "mpeg2video"));
    return stream;
}

const ApiStream& SmallMpeg2Stream() {
    static const ApiStream stream =
        Make("api_small_mpeg2_v1.m2v",
             Encode("testsrc2=size=176x144:rate=25", 15,
                    "-c:v mpeg2video -q:v 5 -g 6 -bf 2 -flags +ildct+ilme -alternate_scan 1",
                    "mpeg2video"));
    return stream;
}

const ApiStream& SmallMpeg1Stream() {
    static const ApiStream stream =
        Make("api_small_mpeg1_v1.m1v", Encode("testsrc2=size=176x144:rate=25", 15,
                                              "-c:v mpeg1video -q:v 5 -g 6 -bf 2", "mpeg1video"));
    return stream;
}

std::vector<YuvImage> ReferenceFrames(const ApiStream& stream) {
    std::string path =
        CachedArtifact(stream.path.substr(stream.path.rfind('/') + 1) + ".ref.yuv",
                       "ffmpeg -nostdin -v error -y -threads 1 -i '" + stream.path +
                           "' -f rawvideo -pix_fmt yuv420p -vsync passthrough {out}");
    return ReadRawYuv420(path, stream.layout.width, stream.layout.height);
}

std::vector<uint8_t> WithSequenceCodes(const std::vector<uint8_t>& stream, int aspectCode,
                                       int frameRateCode) {
    std::vector<uint8_t> copy = stream;
    for (size_t at = 0; at + 8 < copy.size(); ++at) {
        if (copy[at] == 0 && copy[at + 1] == 0 && copy[at + 2] == 1 && copy[at + 3] == 0xB3) {
            copy[at + 7] = static_cast<uint8_t>((aspectCode << 4) | (frameRateCode & 0x0F));
        }
    }
    return copy;
}

std::string WriteWorkFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = WorkPath(name);
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
}

}  // namespace test
}  // namespace d2u
