// The d2udir command as a user runs it: decoding checked against ffmpeg's decoding, info against
// ffprobe, previews against each other, subtitles drawn while decoding or afterwards, refusals,
// and the C host example that README.md quotes. Samples, generated, transport streams and field
// pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "d2udir.h"
#include "stream_generator.h"
#include "support/cli_runner.h"
#include "support/elementary_stream.h"
#include "support/transport_streams.h"

namespace d2u {
namespace test {
namespace {

const int32_t kWidth = 720, kHeight = 576;

// ffmpeg's decoding of a sample as a raw file.
std::string SampleReference(const std::string& sample) {
    return FfmpegRaw(SamplePath(sample), "cli_reference_" + sample + ".yuv");
}

// The rows of the picture table that `info --frames` prints after its summary and a heading.
std::vector<std::string> PictureRows(const std::string& info) {
    std::istringstream lines(info.substr(info.find("\n\n") + 2));
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
}

// Each sample as ffmpeg and ffprobe see it. The YUV4MPEG2 output (of the elementary stream
// through standard output), read back by ffmpeg: every picture, in ffmpeg's display order, and
// the header says what ffmpeg finds in the source. What info says, and its table of pictures.
TEST(CliDecode, SamplesAsFfmpegSeesThem) {
    for (const std::string sample : {"sample.m2v", "sample.vob"}) {
        std::string source = SamplePath(sample), y4m = WorkPath("cli_" + sample + ".y4m");
        const bool piped = sample == "sample.m2v";
        RemoveFile(y4m);
        CommandResult run =
            RunCliOk("decode " + Quoted(source) + " -o " + (piped ? "-" : Quoted(y4m)));
        EXPECT_EQ(run.err, "");  // quiet by default
        EXPECT_EQ(run.out.empty(), !piped);
        if (piped) WriteFileBytes(y4m, std::vector<uint8_t>(run.out.begin(), run.out.end()));
        std::string reference = SampleReference(sample);
        long pictures = CountPictures(reference, kWidth, kHeight, false);
        ASSERT_GT(pictures, 0);
        ExpectSamePictures(y4m, reference, kWidth, kHeight, pictures);
        const char* fields = "r_frame_rate,sample_aspect_ratio,field_order";
        EXPECT_EQ(ProbeField(y4m, fields), ProbeField(source, fields)) << sample;

        std::string info = RunCliOk("info " + Quoted(source)).out;
        EXPECT_EQ(InfoValue(info, "size"),
                  ProbeField(source, "width") + " x " + ProbeField(source, "height"));
        // Coding types of every picture as ffprobe counts them, e.g. "7 I, 19 P, 49 B".
        std::string types = CaptureCommand(
            "ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 " +
            Quoted(source));
        std::string counts, frames = ProbeField(source, "nb_read_frames -count_frames");
        for (char type : {'I', 'P', 'B'}) {
            long count = std::count(types.begin(), types.end(), type);
            if (count > 0)
                counts += (counts.empty() ? "" : ", ") + std::to_string(count) + " " + type;
        }
        EXPECT_EQ(InfoValue(info, "frames"), frames + " (" + counts + ")");
        EXPECT_EQ(InfoValue(info, "interlacing").find("top field first") != std::string::npos,
                  ProbeField(source, "field_order") == "tt")
            << sample;
        EXPECT_NE(InfoValue(info, "video").find("MPEG-2, Main profile, Main level"),
                  std::string::npos);
        // One row per picture, beginning with an I picture.
        std::vector<std::string> rows =
            PictureRows(RunCliOk("info --frames " + Quoted(source)).out);
        ASSERT_FALSE(rows.empty());
        EXPECT_NE(rows[0].find(" I "), std::string::npos) << rows[0];
        EXPECT_EQ(std::to_string(rows.size()), frames);
    }
}

// Every picture as ffmpeg decodes the same video, none more or less; info names the container
// and the PID.
TEST(CliTransport, DecodesAsFfmpegAndNamesContainerAndPid) {
    ASSERT_FALSE(TransportStreams().empty());
    for (const TransportStream& stream : TransportStreams()) {
        SCOPED_TRACE(stream.name);
        std::string pid = stream.pid < 0 ? "" : " --pid " + std::to_string(stream.pid);
        std::string output =
            RunCliInto("decode " + Quoted(stream.path) + pid, "cli_" + stream.name + ".y4m");
        std::string reference = FfmpegRaw(stream.videoPath, "cli_" + stream.name + "_ref.yuv");
        long pictures = CountPictures(reference, stream.width, stream.height, false);
        ASSERT_GT(pictures, 0);
        ExpectSamePictures(output, reference, stream.width, stream.height, pictures);

        std::string info = RunCliOk("info " + Quoted(stream.path) + pid).out;
        EXPECT_EQ(InfoValue(info, "container"),
                  std::string("MPEG transport stream (") +
                      (stream.container == D2U_CONTAINER_TRANSPORT ? "188" : "192") +
                      "-byte packets)");
        EXPECT_EQ(InfoValue(info, "video PID").rfind(std::to_string(stream.videoPid) + " ", 0), 0u);
        EXPECT_EQ(InfoValue(info, "frames").rfind(std::to_string(pictures) + " ", 0), 0u);
    }
}

// Raw output in display order and, with --decode-order, in the stream's decoding order (open
// groups of 9 with two B pictures).
TEST(CliDecode, DecodeOrderIsTheStreamOrder) {
    const GeneratedStream stream = GenerateStream(
        "cli_open_gops_v1.m2v", TestPatternInput("176x144", "25", 30) +
                                    " -sc_threshold 1000000000 -c:v mpeg2video -q:v 4 -g 9 -bf 2 "
                                    "-f mpeg2video {out}");
    const auto& pictures = stream.layout.pictures;
    std::vector<YuvImage> reference = ReferenceDecoding(stream.path, 176, 144);
    ASSERT_EQ(reference.size(), pictures.size());
    for (bool decodeOrder : {false, true}) {
        std::vector<YuvImage> frames =
            ReadRawYuv420(RunCliInto("decode " + Quoted(stream.path), "cli_decoded.yuv",
                                     decodeOrder ? " --decode-order" : ""),
                          176, 144);
        ASSERT_EQ(frames.size(), pictures.size());
        for (size_t k = 0; k < frames.size(); ++k) {
            const YuvImage& expected = reference[decodeOrder ? pictures[k].displayIndex : k];
            EXPECT_GE(MinPsnr(frames[k], expected), 50.0) << decodeOrder << " " << k;
        }
    }
}

// --frames and --skip-ms shorten the output; --size scales it.
TEST(CliDecode, LengthAndSizeOptions) {
    std::string decode = "decode " + Quoted(SamplePath("sample.m2v")), y4m = "cli_options.y4m";
    std::string reference = SampleReference("sample.m2v");
    ExpectSamePictures(RunCliInto(decode, y4m, " --frames 10"), reference, kWidth, kHeight, 10);
    EXPECT_EQ(CountPictures(RunCliInto(decode, y4m, " --skip-ms 1000"), kWidth, kHeight, true),
              CountPictures(reference, kWidth, kHeight, false) - 25);
    std::string scaled = RunCliInto(decode, y4m, " --size 360x288 --frames 5");
    EXPECT_EQ(ProbeField(scaled, "width,height"), "360\n288");
    EXPECT_EQ(CountPictures(scaled, 360, 288, true), 5);
}

// Mean absolute difference between a bitmap and a picture converted with the library's colour
// matrix (full-range samples, chroma of the 2x2 block).
double MeanColourError(const Bitmap& bmp, const YuvImage& picture) {
    const PlaneImage* planes = picture.planes;
    if (bmp.width != planes[0].width || bmp.height != planes[0].height) return 255.0;
    double total = 0;
    for (size_t at = 0; at < planes[0].samples.size(); ++at) {
        int32_t x = static_cast<int32_t>(at % bmp.width), y = static_cast<int32_t>(at / bmp.width);
        size_t chroma = static_cast<size_t>(y / 2) * planes[1].width + x / 2;
        double luma = planes[0].samples[at], cb = planes[1].samples[chroma] - 128.0,
               cr = planes[2].samples[chroma] - 128.0;
        double expected[3] = {luma + 2.032 * cb, luma - 0.394 * cb - 0.581 * cr, luma + 1.140 * cr};
        for (int c = 0; c < 3; ++c)
            total += std::abs(bmp.Pixel(x, y)[c] - std::min(255.0, std::max(0.0, expected[c])));
    }
    return total / (3.0 * bmp.width * bmp.height);
}

// Numbered bitmap files hold the pictures in display order, converted to colour, and are named
// after the pattern given.
TEST(CliDecode, BitmapFilesHoldTheConvertedPictures) {
    std::string decode = "decode " + Quoted(SamplePath("sample.vob")) + " -o ";
    auto numbered = [](const char* stem, int k) {
        return WorkPath(stem + std::to_string(k) + ".bmp");
    };
    for (int k = 1; k <= 4; ++k) RemoveFile(numbered("cli_picture_00", k));
    RunCliOk(decode + Quoted(WorkPath("cli_picture_%03d.bmp")) + " --frames 3");
    EXPECT_FALSE(FileExists(numbered("cli_picture_00", 4)));
    std::vector<YuvImage> reference = ReadRawYuv420(SampleReference("sample.vob"), kWidth, kHeight);
    ASSERT_GT(reference.size(), 33u);
    for (size_t k = 0; k < 3; ++k) {
        Bitmap bmp = ReadBitmap(numbered("cli_picture_00", k + 1));
        EXPECT_LT(MeanColourError(bmp, reference[k]), 2.0) << k;
        EXPECT_GT(MeanColourError(bmp, reference[k + 30]), 2.0) << k;
        // The header's file size, a 32-bit field beyond 64 KiB here.
        ASSERT_GT(bmp.bytes.size(), 65536u);
        EXPECT_EQ(LittleEndian32(&bmp.bytes[2]), bmp.bytes.size());
    }
    // Without a number in the name, the number goes before the extension, five digits wide.
    for (std::string name : {"cli_unnumbered.bmp", "cli_unnumbered"}) {
        for (int k = 1; k <= 2; ++k) RemoveFile(numbered("cli_unnumbered-0000", k));
        RunCliOk(decode + Quoted(WorkPath(name)) + " --format bmp --frames 2");
        EXPECT_TRUE(FileExists(numbered("cli_unnumbered-0000", 1)) &&
                    FileExists(numbered("cli_unnumbered-0000", 2)))
            << name;
    }
}

// Luma of frame `index` of a 720x576 YUV4MPEG2 file.
std::vector<uint8_t> Y4mLuma(const std::string& path, size_t index) {
    size_t header = Text(ReadFileBytes(path, 0, 256)).find('\n') + 1, luma = 720 * 576;
    return ReadFileBytes(path, header + index * (6 + luma * 3 / 2) + 6, luma);
}

// The subtitles change only the caption's box, only while a record is shown; drawing while
// decoding gives the same stream as drawing afterwards.
TEST(CliSubtitle, CaptionsDrawnWhereAndWhenTheyBelong) {
    std::string decode = "decode " + Quoted(SamplePath("sample.m2v")) + " --frames 46";
    std::string subtitles = Quoted(SamplePath("sample.sub"));
    std::string video = RunCliInto(decode, "cli_plain.y4m");
    std::string drawn = RunCliInto("subtitle " + Quoted(video) + " " + subtitles, "cli_drawn.y4m");
    std::string whileDecoding =
        RunCliInto(decode + " --subtitles " + subtitles, "cli_drawn_decoding.y4m");
    EXPECT_EQ(RunCommand("cmp -s " + Quoted(drawn) + " " + Quoted(whileDecoding)), 0);

    ASSERT_EQ(CountPictures(drawn, 720, 576, true), 46);
    // Records: 0.2 s to 1.4 s and 1.6 s to 2.8 s at x 280, y 470, 156 x 44 pixels.
    for (size_t frame : {2u, 20u, 38u, 44u}) {
        std::vector<uint8_t> plain = Y4mLuma(video, frame), captioned = Y4mLuma(drawn, frame);
        ASSERT_TRUE(plain.size() == 720u * 576u && captioned.size() == plain.size());
        int inside = 0, outside = 0;
        for (size_t at = 0; at < plain.size(); ++at) {
            size_t x = at % 720, y = at / 720;
            bool inBox = x >= 280 && x < 280 + 156 && y >= 470 && y < 470 + 44;
            (inBox ? inside : outside) += plain[at] != captioned[at];
        }
        EXPECT_EQ(outside, 0) << frame;
        bool shown = (frame >= 5 && frame <= 35) || (frame >= 40 && frame <= 70);
        EXPECT_EQ(inside > 1000, shown) << frame << ": " << inside;
    }
}

// What the command says when it cannot do its work: one line on standard error starting with
// "d2udir: ", nothing on standard output, status 2 for the command line and 1 for the work. Work
// that writes no file (--null, also with conversion to pixels, for both kinds of input) prints
// nothing at all.
TEST(CliUsage, FailuresSayOneLineWorkWithoutFilesNothing) {
    const std::string text = WorkPath("cli_text_file.m2v");
    ASSERT_TRUE(WriteFileBytes(text, std::vector<uint8_t>(1000, 'x')));
    const std::string s = " " + Quoted(SamplePath("sample.m2v"));
    const std::string missing = " " + Quoted(WorkPath("cli_no_such_file.m2v"));
    const struct {
        std::string arguments;
        int status;
        const char* saying;  // a part of the message
    } cases[] = {
        {"", 2, "missing COMMAND"},
        {"transcode" + s, 2, "unknown command 'transcode'"},
        {"decode", 2, "missing input FILE"},
        {"decode" + s, 2, "missing -o OUT"},
        {"decode" + s + " -o x.y4m extra", 2, "unexpected argument 'extra'"},
        {"decode" + s + " --null --bogus", 2, "unknown option '--bogus'"},
        {"decode" + s + " --null --frames 0", 2, "--frames wants a whole number"},
        {"decode" + s + " --null --threads 33", 2, "--threads wants a whole number"},
        {"decode" + s + " --null --size 720", 2, "--size wants WIDTHxHEIGHT"},
        {"decode" + s + " -o x.y4m --format png", 2, "--format wants y4m, yuv or bmp"},
        {"decode" + s + " -o 'out_%s.bmp'", 2, "one %d or %0Nd"},
        {"decode" + s + " --format bmp -o -", 2, "cannot go to standard output"},
        {"decode" + s + " --null --decode-order=yes", 2, "takes no value"},
        {"decode" + missing + " --null", 1, "cannot open"},
        {"decode " + Quoted(text) + " --null", 1, "not an MPEG-1/MPEG-2 video"},
        {"info" + s + " --pid 256", 1, "--pid applies to transport streams only"},
        {"decode" + s + " -o " + Quoted(WorkPath("cli_no_such_folder/out.y4m")), 1, "cannot write"},
        {"decode" + s + " --subtitles" + missing + " -o /dev/full", 1, "cannot open"},
        {"decode" + s + " --frames 2 -o /dev/full", 1, "failed"},
        {"info" + s + s, 2, "unexpected argument"},
        {"preview" + s, 2, "missing -o OUT.bmp"},
        {"preview" + s + " -o p.bmp --at 1 --at-percent 5", 2, "not both"},
        {"preview" + s + " -o p.bmp --at-percent 150", 2, "--at-percent wants a number"},
        {"preview" + s + " -o p.bmp --count 4 --at 3", 2, "takes no --at"},
        {"preview" + s + " -o p.bmp --size 2000x100", 2, "at most 720"},
        {"preview" + s + " -o p.bmp --at 100000", 1, "no picture found"},
        {"subtitle" + s, 2, "missing VIDEO.y4m and SUBTITLES"},
        {"subtitle" + missing + missing + " -o x.y4m", 1, "cannot open"},
        {"subtitle" + s + s + " -o x.y4m", 1, "not a YUV4MPEG2 stream"},
        {"decode " + Quoted(SamplePath("sample.vob")) + " --null", 0, ""},
        {"decode" + s + " --format bmp --null --frames 20", 0, ""},
        {"decode" + s + " -o /dev/null --frames 3", 0, ""},
        {"decode" + s + " --null --size 16x16 --frames 2", 0, ""},
    };
    for (const auto& run : cases) {
        CommandResult result = RunCli(run.arguments);
        EXPECT_EQ(result.status, run.status) << run.arguments << "\n" << result.err;
        // Work that succeeds prints nothing; a failure says one line, on standard error.
        const std::string& err = result.err;
        EXPECT_TRUE(result.out.empty() &&
                    (run.status == 0
                         ? err.empty()
                         : err.rfind("d2udir: ", 0) == 0 && err.find('\n') == err.size() - 1 &&
                               err.find(run.saying) != std::string::npos))
            << run.arguments << "\n"
            << result.out << err;
    }
}

// The example, built by the C compiler against the public header and the shared library,
// decodes a generated stream: the size, and the first picture's mean luma as ffmpeg decodes it.
TEST(CliExample, MinimalHostDecodesAStream) {
    const GeneratedStream stream =
        GenerateStream("cli_minimal_host_v1.m2v", TestPatternInput("176x144", "25", 12) +
                                                      " -c:v mpeg2video -q:v 3 -g 6 -bf 2 "
                                                      "-f mpeg2video {out}");
    std::string output =
        CaptureCommand(Emulated(D2U_MINIMAL_HOST_FILE) + " " + Quoted(stream.path));
    std::vector<YuvImage> reference = ReferenceDecoding(stream.path, 176, 144);
    ASSERT_FALSE(reference.empty());
    const std::vector<uint8_t>& luma = reference[0].planes[0].samples;
    unsigned long mean = std::accumulate(luma.begin(), luma.end(), 0UL) / (176 * 144);
    EXPECT_TRUE(output.rfind("176 x 144\n", 0) == 0 &&
                output.find("picture 0: type 1, mean luma " + std::to_string(mean) + "\n") !=
                    std::string::npos &&
                output.find("picture " + std::to_string(reference.size() - 1) + ":") !=
                    std::string::npos)
        << output;
}

// A contact sheet's first tile is the preview at the start of the file, and no tile is left
// empty, not even the last one near the end of the file.
TEST(CliPreview, ContactSheetTilesAreThePreviews) {
    std::string preview = "preview " + Quoted(SamplePath("sample.vob"));
    Bitmap first = ReadBitmap(RunCliInto(preview + " --at 0 --size 160x90", "cli_preview.bmp"));
    Bitmap contact = ReadBitmap(RunCliInto(preview + " --count 9 --size 160x90", "cli_sheet.bmp"));
    ASSERT_TRUE(first.width == 160 && first.height == 90) << first.width << "x" << first.height;
    // Three rows of three tiles, 4 pixels apart and from the edges.
    ASSERT_TRUE(contact.width >= 4 + 3 * (160 + 4) && contact.height >= 4 + 3 * (90 + 4));
    const uint8_t* background = contact.Pixel(0, 0);
    for (int tile = 0; tile < 9; ++tile) {
        int32_t left = 4 + (tile % 3) * (160 + 4), top = 4 + (tile / 3) * (90 + 4);
        int pictured = 0, mismatches = 0;
        for (int32_t y = 0; y < 90; ++y) {
            for (int32_t x = 0; x < 160; ++x) {
                const uint8_t* pixel = contact.Pixel(left + x, top + y);
                pictured += std::memcmp(pixel, background, 3) != 0;
                mismatches += tile == 0 && std::memcmp(pixel, first.Pixel(x, y), 3) != 0;
            }
        }
        EXPECT_GT(pictured, 160 * 90 / 2) << "tile " << tile;
        EXPECT_EQ(mismatches, 0) << "tile " << tile;
    }

    // An elementary stream, half way in: a picture of the default width.
    preview = "preview " + Quoted(SamplePath("sample.m2v")) + " --at-percent 50";
    EXPECT_EQ(ReadBitmap(RunCliInto(preview, "cli_preview_middle.bmp")).width, 320);
}

// Previews of a transport stream anywhere in it are whole pictures: each equals a preview of its
// elementary stream taken at one of its sequence headers.
TEST(CliTransport, PreviewsAreWholePictures) {
    const TransportStream& stream = TransportStreams().front();
    std::string video = Text(ReadFileBytes(stream.videoPath));
    std::string elementary = WorkPath("cli_preview_source.m2v");
    WriteFileBytes(elementary, std::vector<uint8_t>(video.begin(), video.end()));
    auto preview = [&](const std::string& path, size_t kib) {
        return ReadFileBytes(RunCliInto(
            "preview " + Quoted(path) + " --at " + std::to_string(kib) + " --size 176x144",
            "cli_preview.bmp"));
    };
    // The elementary stream's reader goes on at the next sequence header: one preview per KiB.
    const std::string sequenceHeader("\0\0\1\xB3", 4);
    std::set<std::vector<uint8_t>> atSequenceHeaders;
    for (size_t at = video.find(sequenceHeader); at != std::string::npos;
         at = video.find(sequenceHeader, (at / 1024 + 1) * 1024 + 1))
        atSequenceHeaders.insert(preview(elementary, at / 1024));
    ASSERT_GE(atSequenceHeaders.size(), 3u);
    const size_t kib = ReadFileBytes(stream.path).size() / 1024;
    for (size_t at : {size_t{0}, kib / 4, kib / 2, kib * 3 / 4})
        EXPECT_EQ(atSequenceHeaders.count(preview(stream.path, at)), 1u) << "at " << at << " KiB";
}

// A stream of field pictures (with frame pictures among them) from the syntax generator, as an
// elementary and as a program stream: info counts frames as ffprobe does and field pictures
// apart; a preview of the program stream is the whole first frame, as for the elementary stream.
TEST(CliFieldPictures, FramesCountedOnceAndPreviewedWhole) {
    std::string fields = WorkPath("cli_fields.m2v"), program = WorkPath("cli_fields.vob");
    ASSERT_TRUE(WriteFileBytes(fields, streamgen::StreamGenerator({}).Generate().bytes));
    ASSERT_EQ(RunCommand(Ffmpeg("-i " + Quoted(fields) + " -c:v copy -f dvd " + Quoted(program))),
              0);
    std::string probed = ProbeField(fields, "nb_read_frames -count_frames");
    for (const std::string& path : {fields, program}) {
        std::string info = RunCliOk("info --frames " + Quoted(path)).out;
        std::string frames = InfoValue(info, "frames"), counted = InfoValue(info, "field pictures");
        EXPECT_EQ(frames.substr(0, frames.find(' ')), probed) << path;
        size_t fieldRows = 0, frameRows = 0;
        for (const std::string& row : PictureRows(info)) {
            std::string structure;  // the fourth column
            std::istringstream(row) >> structure >> structure >> structure >> structure;
            fieldRows += structure == "top" || structure == "bottom";
            frameRows += structure == "frame";
        }
        EXPECT_EQ(counted.substr(0, counted.find(' ')), std::to_string(fieldRows)) << path;
        EXPECT_EQ(std::to_string(frameRows + fieldRows / 2), probed) << path;
        RunCliOk("preview " + Quoted(path) + " --size 160x128 -o " + Quoted(path + ".bmp"));
    }
    EXPECT_TRUE(ReadFileBytes(program + ".bmp") == ReadFileBytes(fields + ".bmp"));
}

}  // namespace
}  // namespace test
}  // namespace d2u
