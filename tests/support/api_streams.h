// Streams and small helpers shared by the export tests.
#pragma once

#include "d2udir.h"
#include "support/api_test_host.h"

namespace d2u {
namespace test {

// MPEG-2, 352x288 at 25 frames/s, groups of 12 with two B pictures: I0 P3 B1 B2 P6 ...
const GeneratedStream& IpbStream();

// Checks that a frame is the picture (its temporal reference and coding type); how pictures
// decode is the conformance suite's business.
void ExpectShows(const D2uFrame* frame, const CodedPicture& picture);

}  // namespace test
}  // namespace d2u
