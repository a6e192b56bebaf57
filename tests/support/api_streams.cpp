#include "support/api_streams.h"

#include <gtest/gtest.h>

#include "support/api_test_host.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
const GeneratedStream& IpbStream() {
    static const GeneratedStream stream = GenerateStream(
        "api_ipb_cif_v1.m2v", TestPatternInput("352x288", "25", 60) +
                                  " -sc_threshold 1000000000 -c:v mpeg2video -q:v 4 -g 12 -bf 2"
                                  " -f mpeg2video {out}");
    EXPECT_FALSE(stream.layout.pictures.empty()) << "could not make the IPB stream";
    return stream;
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

void ExpectShows(const D2uFrame* frame, const CodedPicture& picture) {
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->temporalReference, picture.temporalReference);
    EXPECT_EQ(frame->pictureType, picture.pictureType);
}

}  // namespace test
}  // namespace d2u
