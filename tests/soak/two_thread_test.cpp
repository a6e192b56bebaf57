// Decoding handles share nothing but the logger: two handles on two threads must give the same
// pictures, byte for byte, as the same handles one after the other. Run under the thread
// sanitizer this also finds unguarded shared state.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "d2udir.h"
#include "soak/soak_inputs.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"

namespace d2u {
namespace soak {
namespace {

using Pictures = std::vector<Bytes>;

struct Inputs {
    std::string progressive, interlaced, program;  // paths
};

const Inputs& TestInputs() {
    static const Inputs inputs = [] {
        Inputs made;
        for (const SoakInput& input : MakeValidInputs()) {
            std::string path = test::WorkPath(input.name);
            if (input.name == "soak_mpeg2_qcif.m2v") made.progressive = path;
            if (input.name == "soak_mpeg2_interlaced.m2v") made.interlaced = path;
            if (input.name == "soak_mplex.mpg") made.program = path;
        }
        return made;
    }();
    return inputs;
}

// The visible samples of the three planes.
Bytes PictureBytes(const D2uFrame& frame) {
    Bytes bytes;
    for (const D2uPlane* plane : {&frame.Y, &frame.U, &frame.V}) {
        for (int32_t row = 0; row < plane->height; ++row) {
            const uint8_t* line = plane->data + static_cast<size_t>(row) * plane->pitch;
            bytes.insert(bytes.end(), line, line + plane->width);
        }
    }
    return bytes;
}

Pictures DecodeFile(const std::string& path) {
    Pictures pictures;
    D2uHandle handle = 0;
    if (D2uDirLoadFile(path.c_str(), &handle) != 0) return pictures;
    D2uFrame* frame = nullptr;
    while (pictures.size() < 500 && GetMpegFrame(&frame, handle) == 0) {
        pictures.push_back(PictureBytes(*frame));
    }
    FinishDecoding(&handle);
    return pictures;
}

Pictures DecodeBuffers(const std::string& path) {
    Bytes stream = ReadBytes(path);
    Pictures pictures;
    D2uHandle handle = 0;
    InitDecoding(&handle);
    for (const test::CodedPicture& picture : test::ReadStreamLayout(stream).pictures) {
        Bytes chunk = test::PictureChunk(stream, picture);
        D2uFrame* frame = nullptr;
        if (GetMpegFrame2(&frame, chunk.data(), static_cast<int32_t>(chunk.size()), handle) == 0) {
            pictures.push_back(PictureBytes(*frame));
        }
    }
    FinishDecoding(&handle);
    return pictures;
}

// Scaled bitmaps, with a skip now and then.
Pictures DecodeBitmaps(const std::string& path) {
    Pictures pictures;
    D2uHandle handle = 0;
    if (D2uDirLoadFile(path.c_str(), &handle) != 0) return pictures;
    D2uDirSetOutputSize(handle, 130, 98);
    for (int call = 0; call < 200; ++call) {
        if (call % 4 == 3) SkipFrame(handle);
        Bytes bitmap(130 * 98 * 4, 0);
        int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
        if (GetBitmapData(bitmap.data(), &length, handle, &isReference) != 0) break;
        pictures.push_back(bitmap);
    }
    FinishDecoding(&handle);
    return pictures;
}

// Preview bitmap files at several positions; the preview source is library-wide, so only one
// thread makes previews at a time.
Pictures MakePreviews(const std::string& path, const std::string& bitmapPath) {
    Pictures pictures;
    if (D2uDirStartExtractPreview(path.c_str(), bitmapPath.c_str(), 160, 120) != 0) return pictures;
    for (int32_t kib : {0, 40, 90, 20}) {
        test::RemoveFile(bitmapPath);
        int32_t result = D2uDirExtractPreview(kib);
        pictures.push_back(result == 0 ? ReadBytes(bitmapPath) : Bytes{});
    }
    D2uDirCloseExtractPreview();
    return pictures;
}

using Job = std::function<Pictures()>;

// Runs both jobs one after the other, then a few times on two threads at once, and compares.
void ExpectSameOnTwoThreads(const Job& first, const Job& second) {
    Pictures alone1 = first(), alone2 = second();
    ASSERT_FALSE(alone1.empty());
    ASSERT_FALSE(alone2.empty());
    for (int round = 0; round < 2; ++round) {
        Pictures together1, together2;
        std::thread thread1([&] { together1 = first(); });
        std::thread thread2([&] { together2 = second(); });
        thread1.join();
        thread2.join();
        EXPECT_TRUE(together1 == alone1) << "first job, round " << round;
        EXPECT_TRUE(together2 == alone2) << "second job, round " << round;
    }
}

TEST(TwoThreads, TwoStreamsGiveThePicturesOfOneAtATime) {
    const Inputs& in = TestInputs();
    ASSERT_FALSE(in.progressive.empty() || in.interlaced.empty());
    ExpectSameOnTwoThreads([&] { return DecodeFile(in.progressive); },
                           [&] { return DecodeFile(in.interlaced); });
    ExpectSameOnTwoThreads([&] { return DecodeBuffers(in.interlaced); },
                           [&] { return DecodeBuffers(in.progressive); });
    ExpectSameOnTwoThreads([&] { return DecodeBitmaps(in.interlaced); },
                           [&] { return DecodeBuffers(in.progressive); });
}

TEST(TwoThreads, OneFileThroughTwoHandles) {
    const Inputs& in = TestInputs();
    ASSERT_FALSE(in.interlaced.empty());
    ExpectSameOnTwoThreads([&] { return DecodeFile(in.interlaced); },
                           [&] { return DecodeFile(in.interlaced); });
    ExpectSameOnTwoThreads([&] { return DecodeBuffers(in.interlaced); },
                           [&] { return DecodeBuffers(in.interlaced); });
    ExpectSameOnTwoThreads([&] { return DecodeFile(in.interlaced); },
                           [&] { return DecodeBuffers(in.interlaced); });
}

TEST(TwoThreads, PreviewsBesideDecoding) {
    const Inputs& in = TestInputs();
    ASSERT_FALSE(in.program.empty() || in.interlaced.empty());
    std::string bitmap = test::WorkPath("soak_threads_preview.bmp");
    ExpectSameOnTwoThreads([&] { return MakePreviews(in.program, bitmap); },
                           [&] { return DecodeBitmaps(in.interlaced); });
    ExpectSameOnTwoThreads([&] { return MakePreviews(in.interlaced, bitmap); },
                           [&] { return DecodeBuffers(in.progressive); });
}

}  // namespace
}  // namespace soak
}  // namespace d2u
