// Decoding handles share nothing but the logger: handles on several threads must give the same
// pictures, byte for byte, as the same handles one after the other; and a handle that decodes
// its slices on several threads gives the pictures of one thread, damaged input included. Run
// under the thread sanitizer this also finds unguarded shared state.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "soak/soak_inputs.h"
#include "support/api_test_host.h"
#include "support/test_env.h"

namespace d2u::soak {
namespace {

using Pictures = std::vector<Bytes>;

// The path of one of the soak's valid inputs, "" when it could not be made.
std::string Input(const std::string& name) {
    static const std::vector<SoakInput> inputs = MakeValidInputs();
    for (const SoakInput& input : inputs)
        if (input.name == name) return test::WorkPath(name);
    return "";
}

// The visible samples of every frame handed out, and its macroblock table.
Pictures Samples(const test::HostRun& run) {
    Pictures pictures;
    for (const test::HostFrame& frame : run.frames) {
        Bytes& bytes = pictures.emplace_back();
        for (const test::PlaneImage& plane : frame.image.planes)
            bytes.insert(bytes.end(), plane.samples.begin(), plane.samples.end());
        bytes.insert(bytes.end(), frame.table.begin(), frame.table.end());
    }
    return pictures;
}

Pictures DecodeFile(const std::string& path, int32_t threads = 1) {
    return Samples(test::DecodeFileDriven(path, 500, threads));
}

Pictures DecodeBuffers(const std::string& path, int32_t threads = 1) {
    const Bytes stream = test::ReadFileBytes(path);
    return Samples(test::DecodeBufferDriven(stream, test::ReadStreamLayout(stream), threads));
}

// Scaled bitmaps, with a skip now and then.
Pictures DecodeBitmaps(const std::string& path, int32_t threads = 1) {
    Pictures pictures;
    D2uHandle handle = 0;
    if (D2uDirLoadFile(path.c_str(), &handle) != 0) return pictures;
    D2uDirSetThreads(handle, threads);
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
        pictures.push_back(D2uDirExtractPreview(kib) == 0 ? test::ReadFileBytes(bitmapPath)
                                                          : Bytes{});
    }
    D2uDirCloseExtractPreview();
    return pictures;
}

// Every valid input, and copies of it with each kind of damage, through handles that decode on
// one, two and three threads, file-driven and one picture per buffer: the same frames and the
// same results of every call. Damage makes slices run on past the next one's start, overlap or
// come out of order, which the threads must put right.
TEST(SliceThreads, GiveThePicturesOfOneThread) {
    std::mt19937 random(29);
    const std::string path = test::WorkPath("soak_slice_threads.m2v");
    for (const SoakInput& input : MakeValidInputs()) {
        if (input.kind == InputKind::kSubtitle) continue;
        std::vector<Bytes> variants = {input.bytes};
        for (const Damage& damage : Damages()) {
            if (!damage.AppliesTo(input.kind)) continue;
            for (int copy = 0; copy < 2; ++copy) variants.push_back(damage.apply(input, random));
        }
        for (size_t v = 0; v < variants.size(); ++v) {
            ASSERT_TRUE(test::WriteFileBytes(path, variants[v]));
            const test::HostRun alone = test::DecodeFileDriven(path, 2000, 1);
            const test::StreamLayout layout = test::ReadStreamLayout(variants[v]);
            const test::HostRun bufferedAlone = test::DecodeBufferDriven(variants[v], layout, 1);
            for (int32_t threads : {2, 3}) {
                const test::HostRun shared = test::DecodeFileDriven(path, 2000, threads);
                EXPECT_TRUE(Samples(shared) == Samples(alone) && shared.results == alone.results)
                    << input.name << " variant " << v << ", " << threads << " threads";
                if (input.kind != InputKind::kElementary) continue;
                const test::HostRun buffered =
                    test::DecodeBufferDriven(variants[v], layout, threads);
                EXPECT_TRUE(Samples(buffered) == Samples(bufferedAlone) &&
                            buffered.results == bufferedAlone.results)
                    << input.name << " variant " << v << ", buffers, " << threads << " threads";
            }
        }
    }
}

// A copy of the stream made with change(copy, slice, code) at the start code of each picture's
// slice number `slice` (from 1), before the start code is copied with `code` as its last byte.
template <class Change>
Bytes ChangeEachPicture(const Bytes& source, Change change) {
    Bytes copy;
    int32_t slice = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        uint8_t byte = source[i];
        if (i >= 3 && source[i - 3] == 0 && source[i - 2] == 0 && source[i - 1] == 1) {
            if (byte == 0) slice = 0;
            if (byte >= 1 && byte <= 0xAF) {
                copy.resize(copy.size() - 3);
                change(copy, ++slice, byte);
                copy.insert(copy.end(), {0, 0, 1});
            }
        }
        copy.push_back(byte);
    }
    return copy;
}

// Damage in every picture that one thread decoding in order and the threads must handle alike.
// A picture that loses the two bytes before its third slice's start code: one thread reads on
// into that start code, misses the slice and fills its place from the reference; the threads
// have decoded it, and what they wrote there (samples, macroblock table) must go. A picture
// whose last slice (of 18, one a row) claims the first row: the slices are out of order, found
// only when the other thread has decoded the slices listed before, whose writes must go too.
TEST(SliceThreads, DamageInEveryPictureGivesThePicturesOfOneThread) {
    const std::string source = test::CachedArtifact(
        "soak_slice_cut_source.m2v",
        test::Ffmpeg("-f lavfi -i testsrc2=size=352x288:rate=25,noise=alls=24:allf=t -frames:v 12 "
                     "-c:v mpeg2video -g 6 -bf 2 -q:v 3 -f mpeg2video {out}"));
    ASSERT_FALSE(source.empty());
    const Bytes stream = test::ReadFileBytes(source);
    const Bytes cut = ChangeEachPicture(stream, [](Bytes& copy, int32_t slice, uint8_t&) {
        if (slice == 3) copy.resize(copy.size() - 2);
    });
    const Bytes lastToTop = ChangeEachPicture(stream, [](Bytes&, int32_t slice, uint8_t& code) {
        if (slice == 18) code = 1;
    });
    ASSERT_NE(lastToTop, stream);
    const std::string path = test::WorkPath("soak_slice_damage.m2v");
    for (const Bytes& damaged : {cut, lastToTop}) {
        ASSERT_TRUE(test::WriteFileBytes(path, damaged));
        const Pictures alone = DecodeFile(path);
        EXPECT_EQ(alone.size(), 13u);  // the last frame twice
        EXPECT_TRUE(DecodeFile(path, 2) == alone);
    }
}

// Hosts on nine threads at once, twice: handles that decode on the host's thread only or on
// threads of their own, file-driven, one picture per buffer and as scaled bitmaps, one file
// through several handles, and previews beside them (the preview source is library-wide, so
// one host makes them). Each gets what it gets alone.
TEST(ManyHosts, EachGetsThePicturesItGetsAlone) {
    const std::string progressive = Input("soak_mpeg2_qcif.m2v");
    const std::string interlaced = Input("soak_mpeg2_interlaced.m2v");
    const std::string program = Input("soak_mplex.mpg");
    ASSERT_FALSE(progressive.empty() || interlaced.empty() || program.empty());
    const std::string bitmap = test::WorkPath("soak_threads_preview.bmp");
    const std::function<Pictures()> jobs[] = {[&] { return DecodeFile(progressive); },
                                              [&] { return DecodeFile(interlaced); },
                                              [&] { return DecodeBuffers(interlaced); },
                                              [&] { return DecodeBitmaps(interlaced); },
                                              [&] {
                                                  Pictures previews = MakePreviews(program, bitmap);
                                                  Pictures more = MakePreviews(interlaced, bitmap);
                                                  previews.insert(previews.end(), more.begin(),
                                                                  more.end());
                                                  return previews;
                                              },
                                              [&] { return DecodeFile(progressive, 2); },
                                              [&] { return DecodeBuffers(interlaced, 3); },
                                              [&] { return DecodeBitmaps(interlaced, 2); },
                                              [&] { return DecodeFile(interlaced, 0); }};
    constexpr size_t kJobs = std::size(jobs);
    Pictures expected[kJobs];
    for (size_t job = 0; job < kJobs; ++job) {
        expected[job] = jobs[job]();
        EXPECT_FALSE(expected[job].empty()) << "job " << job;
    }
    for (int round = 0; round < 2; ++round) {
        Pictures results[kJobs];
        std::vector<std::thread> hosts;
        for (size_t job = 0; job < kJobs; ++job)
            hosts.emplace_back([&, job] { results[job] = jobs[job](); });
        for (std::thread& host : hosts) host.join();
        for (size_t job = 0; job < kJobs; ++job)
            EXPECT_TRUE(results[job] == expected[job]) << "job " << job << ", round " << round;
    }
}

// The count in use: one per processor for 0, at most 32, fewer never below 1; a negative count
// and, for the preview's decoding (handle 0), the count it will use. A count changed between
// pictures changes nothing in them.
TEST(SliceThreads, CountsAndChangesBetweenPictures) {
    const std::string interlaced = Input("soak_mpeg2_interlaced.m2v");
    ASSERT_FALSE(interlaced.empty());
    D2uHandle handle = 0;
    ASSERT_EQ(D2uDirLoadFile(interlaced.c_str(), &handle), 0);
    EXPECT_EQ(D2uDirSetThreads(handle, -1), -1);
    EXPECT_EQ(D2uDirSetThreads(handle, 1), 1);
    EXPECT_EQ(D2uDirSetThreads(handle, 0),
              std::min<int32_t>(static_cast<int32_t>(std::thread::hardware_concurrency()), 32));
    EXPECT_EQ(D2uDirSetThreads(handle, 100), 32);
    EXPECT_EQ(D2uDirSetThreads(0, 3), 3);
    EXPECT_EQ(D2uDirSetThreads(0, 1), 1);
    Pictures changing;
    for (int32_t call = 0;; ++call) {
        D2uDirSetThreads(handle, 1 + call % 3);
        D2uFrame* frame = nullptr;
        if (GetMpegFrame(&frame, handle) != 0 || !frame) break;
        test::HostRun run;
        run.frames.push_back(test::CopyFrame(*frame));
        changing.push_back(Samples(run).front());
    }
    FinishDecoding(&handle);
    EXPECT_TRUE(changing == DecodeFile(interlaced));
}

}  // namespace
}  // namespace d2u::soak
