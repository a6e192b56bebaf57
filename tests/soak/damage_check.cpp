// d2udir_damage_check FILE-OR-FOLDER...: runs each file through every way the library reads input
// and reports a call that breaks its documented results. Built with the sanitizers, a memory fault
// or undefined behaviour ends the run with the sanitizer's report; scripts/damage-check.sh runs
// one file per process under a time limit.
//   .m1v/.m2v: file-driven and buffer-driven decoding, bitmaps, skips, previews
//   .mpg/.vob: the same, with video chunks cut from the program stream
//   .sub: subtitle records drawn onto RGB and YUV frames, from the file and from memory
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "d2udir.h"
#include "demux/video_mpeg_data.h"
#include "soak/soak_inputs.h"
#include "support/elementary_stream.h"
#include "support/test_env.h"

namespace d2u {
namespace soak {
namespace {

struct Checker {
    std::string path;
    Bytes bytes;
    std::string failure;

    void Require(bool condition, const char* call, int32_t result) {
        if (!condition && failure.empty()) failure = call + (" returned " + std::to_string(result));
    }
    // Each picture needs a start code, so a decode of a file ends within this many calls.
    size_t MaxCalls() const { return bytes.size() / 4 + 8; }

    void DecodeFileDriven() {
        D2uHandle handle = 0;
        int32_t opened = D2uDirLoadFile(path.c_str(), &handle);
        Require(opened == 0 || opened == -1 || opened == -2008, "D2uDirLoadFile", opened);
        if (!handle) return;
        size_t calls = 0;
        for (D2uFrame* frame = nullptr; calls < MaxCalls(); ++calls) {
            int32_t result = GetMpegFrame(&frame, handle);
            Require(result == 0 || result == -1, "GetMpegFrame", result);
            if (result != 0) break;
            Require(FrameIsSound(frame, true), "GetMpegFrame (frame)", result);
        }
        Require(calls < MaxCalls(), "GetMpegFrame (never ending)", 0);
        // Again with scaled bitmaps, skips and a jump into the middle.
        ResetDecoder(handle);
        D2uDirSetOutputSize(handle, 97, 61);
        Bytes bitmap(97 * 61 * 4);
        for (calls = 0; calls < MaxCalls(); ++calls) {
            int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
            if (calls % 5 == 2) SkipFrame(handle);
            if (calls == 3)
                D2uDirSetInputPosition(handle, static_cast<uint32_t>(bytes.size() / 2), 0);
            int32_t result = GetBitmapData(bitmap.data(), &length, handle, &isReference);
            Require(result == 0 || result == -1, "GetBitmapData", result);
            if (result != 0) break;
        }
        Require(calls < MaxCalls(), "GetBitmapData (never ending)", 0);
        int32_t skipped = SkipDuration(handle, 500, 1);
        Require(skipped >= 0 && skipped <= 600, "SkipDuration", skipped);
        FinishDecoding(&handle);
    }

    // Each chunk as frames, then again as scaled bitmaps.
    void DecodeBuffers(const std::vector<Bytes>& chunks) {
        D2uHandle handle = 0;
        InitDecoding(&handle);
        for (const Bytes& chunk : chunks) {
            D2uFrame* frame = nullptr;
            int32_t result =
                GetMpegFrame2(&frame, chunk.data(), static_cast<int32_t>(chunk.size()), handle);
            Require(result == 0 || result == -1 || result == -2008, "GetMpegFrame2", result);
            Require(result != 0 || FrameIsSound(frame, true), "GetMpegFrame2 (frame)", result);
        }
        D2uDirSetOutputSize(handle, 33, 47);
        Bytes bitmap(33 * 47 * 4);
        for (const Bytes& chunk : chunks) {
            int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
            int32_t result =
                GetBitmapData2(bitmap.data(), &length, chunk.data(),
                               static_cast<int32_t>(chunk.size()), handle, &isReference);
            Require(result == 0 || result == -1 || result == -2008, "GetBitmapData2", result);
        }
        FinishDecoding(&handle);
    }

    // The pictures, then the whole input in pieces of 3000 bytes, as a host with no idea of
    // pictures would cut it.
    std::vector<Bytes> ElementaryChunks() {
        std::vector<Bytes> chunks;
        for (const test::CodedPicture& picture : test::ReadStreamLayout(bytes).pictures) {
            chunks.push_back(test::PictureChunk(bytes, picture));
        }
        for (size_t at = 0; at < bytes.size(); at += 3000) {
            chunks.emplace_back(
                bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + 3000)));
        }
        return chunks;
    }

    // The video chunks of a program stream from its start; then the reader jumps to the middle.
    std::vector<Bytes> ProgramChunks() {
        std::vector<Bytes> chunks;
        CVideoMpegData reader;
        if (reader.LoadFile(path.c_str()) != 0) return chunks;
        Bytes out(CVideoMpegData::kDefaultChunkCapacity);
        for (size_t from : {size_t{0}, bytes.size() / 2}) {
            reader.Seek(static_cast<uint32_t>(from), 0);
            for (size_t calls = 0; calls < bytes.size() / 2048 + 16; ++calls) {
                int32_t length = 0, timeStamp = 0;
                int32_t result = reader.GetVideoChunk(out.data(), &length, &timeStamp);
                Require(result == 0 || result == -1 || result == CVideoMpegData::kChunkTooLarge,
                        "GetVideoChunk", result);
                if (result == -1) break;
                Require(length >= 0 && length <= static_cast<int32_t>(out.size()),
                        "GetVideoChunk length", length);
                if (result == 0 && from == 0)
                    chunks.emplace_back(out.begin(), out.begin() + length);
            }
        }
        reader.Close();
        return chunks;
    }

    void Previews() {
        int32_t started = D2uDirStartExtractPreview(path.c_str(), "", 120, 90);
        Require(started == 0 || started == -1, "D2uDirStartExtractPreview", started);
        int32_t kib = static_cast<int32_t>(bytes.size() / 1024);
        for (int32_t position : {0, kib / 3, kib / 2, kib - 1, kib + 5}) {
            int32_t result = D2uDirExtractPreview(position);
            Require(result <= 0, "D2uDirExtractPreview", result);
        }
        D2uDirCloseExtractPreview();
    }

    void DrawSubtitles(int32_t rgbOutput, int32_t bitsPerPixel, SubtitleScreen& screen) {
        D2uHandle handle = 0;
        int32_t result = D2uDirLoadSubtitle(path.c_str(), &handle, 25.0f, rgbOutput, bitsPerPixel);
        Require(result == 0 && handle != 0, "D2uDirLoadSubtitle", result);
        for (int32_t frame = 0; frame < 300; frame += 2) {
            if (frame == 150) {
                D2uDirSubSetMaxSize(handle, 720, 576);
                D2uDirSubSetScaleFactors(handle, 0.5, 1.5);
            }
            result = rgbOutput ? D2uDirPutSubtitleRGB(handle, &screen.rgb, frame)
                               : D2uDirPutSubtitleYUV(handle, &screen.yuv, frame);
            Require(result == 0, "D2uDirPutSubtitle", result);
        }
        D2uDirCloseSubtitle(&handle);
    }

    // The file's records handed over one at a time from memory.
    void SubtitlesFromMemory(SubtitleScreen& screen) {
        D2uHandle handle = 0;
        D2uDirLoadSubtitle((path + ".none").c_str(), &handle, 25.0f, 1, 32);
        MemoryRecord record;
        size_t at = 0;
        for (int32_t frame = 0; at + 76 <= bytes.size() && frame < 1000; frame += 10) {
            record.Load(bytes, at);
            D2uDirSetSubtitleData(handle, record.header);
            D2uDirPutSubtitleRGB(handle, &screen.rgb, frame);
            int32_t recordSize = 0;
            std::memcpy(&recordSize, record.header + 72, 4);
            at += recordSize > 76 ? static_cast<size_t>(recordSize) : 76;
        }
        D2uDirCloseSubtitle(&handle);
    }

    void Run() {
        bytes = test::ReadFileBytes(path);
        std::string extension = path.substr(path.rfind('.') + 1);
        if (extension == "sub") {
            SubtitleScreen screen;
            DrawSubtitles(1, 32, screen);
            DrawSubtitles(1, 24, screen);
            DrawSubtitles(0, 0, screen);
            return SubtitlesFromMemory(screen);
        }
        DecodeFileDriven();
        bool program = extension == "mpg" || extension == "vob";
        DecodeBuffers(program ? ProgramChunks() : ElementaryChunks());
        Previews();
    }
};

}  // namespace
}  // namespace soak
}  // namespace d2u

int main(int argc, char** argv) {
    // The arguments, with every folder among them replaced by the files in it.
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::vector<std::string> inside;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
            if (entry.path().filename().string()[0] != '.') inside.push_back(entry.path());
        }
        std::sort(inside.begin(), inside.end());
        if (error) inside = {argv[i]};
        files.insert(files.end(), inside.begin(), inside.end());
    }
    int failures = 0;
    for (const std::string& file : files) {
        d2u::soak::Checker checker;
        checker.path = file;
        checker.Run();
        if (!checker.failure.empty()) {
            std::printf("FAIL %s: %s\n", file.c_str(), checker.failure.c_str());
            ++failures;
        }
    }
    std::printf("%zu files checked, %d failed\n", files.size(), failures);
    return failures || files.empty() ? 1 : 0;
}
