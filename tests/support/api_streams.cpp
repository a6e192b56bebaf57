#include "support/api_streams.h"

#include <gtest/gtest.h>

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

void ExpectShows(const D2uFrame* frame, const CodedPicture& picture) {
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->temporalReference, picture.temporalReference);
    EXPECT_EQ(frame->pictureType, picture.pictureType);
}

}  // namespace test
}  // namespace d2u
