// d2udir_damage_check FILE-OR-FOLDER...: runs each file through every way the library reads input
// and reports a call that breaks its documented results. Built with the sanitizers, a memory fault
// or undefined behaviour ends the run with the sanitizer's report; scripts/damage-check.sh runs
// one file per process under a time limit.
//   .m1v/.m2v: file-driven and buffer-driven decoding, bitmaps, skips, previews
//   .mpg/.vob: the same, plus video chunks cut from the program stream
//   .sub: subtitle records drawn onto RGB and YUV frames, from the file and from memory
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d2udir.h"
#include "demux/video_mpeg_data.h"
#include "soak/soak_inputs.h"
#include "support/elementary_stream.h"

namespace d2u {
namespace soak {
namespace {

struct Checker {
    std::string path;
    Bytes bytes;
    std::string failure;

    void Fail(const char* call, int32_t result) {
        if (failure.empty()) failure = std::string(call) + " returned " + std::to_string(result);
    }
    void Require(bool condition, const char* call, int32_t result) {
        if (!condition) Fail(call, result);
    }
    // Each picture needs a start code, so a decode of a file ends within this many calls.
    size_t MaxCalls() const { return bytes.size() / 4 + 8; }

    void TouchEverySample(const D2uFrame* frame, const char* call) {
        if (!frame) return Fail(call, 0);
        volatile uint32_t sum = 0;
        for (const D2uPlane* plane : {&frame->Y, &frame->U, &frame->V}) {
            if (plane->width > plane->pitch || (plane->width > 0 && !plane->data)) {
                return Fail(call, 0);
            }
            for (int32_t row = 0; row < plane->height; ++row) {
                const uint8_t* line = plane->data + static_cast<size_t>(row) * plane->pitch;
                for (int32_t column = 0; column < plane->width; ++column) sum = sum + line[column];
            }
        }
    }

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
            TouchEverySample(frame, "GetMpegFrame");
        }
        Require(calls < MaxCalls(), "GetMpegFrame (never ending)", 0);
        // Again with scaled bitmaps, skips and a jump into the middle.
        ResetDecoder(handle);
        D2uDirSetOutputSize(handle, 97, 61);
        std::vector<uint8_t> bitmap(97 * 61 * 4);
        for (calls = 0; calls < MaxCalls(); ++calls) {
            int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
            if (calls % 5 == 2) SkipFrame(handle);
            if (calls == 3) {
                uint32_t middle = static_cast<uint32_t>(bytes.size() / 2);
                D2uDirSetInputPosition(handle, middle, 0);
            }
            int32_t result = GetBitmapData(bitmap.data(), &length, handle, &isReference);
            Require(result == 0 || result == -1, "GetBitmapData", result);
            if (result != 0) break;
        }
        Require(calls < MaxCalls(), "GetBitmapData (never ending)", 0);
        int32_t skipped = SkipDuration(handle, 500, 1);
        Require(skipped >= 0 && skipped <= 600, "SkipDuration", skipped);
        FinishDecoding(&handle);
    }

    void DecodeBuffers(const std::vector<Bytes>& chunks) {
        D2uHandle handle = 0;
        InitDecoding(&handle);
        for (const Bytes& chunk : chunks) {
            D2uFrame* frame = nullptr;
            int32_t result =
                GetMpegFrame2(&frame, chunk.data(), static_cast<int32_t>(chunk.size()), handle);
            Require(result == 0 || result == -1 || result == -2008, "GetMpegFrame2", result);
            if (result == 0) TouchEverySample(frame, "GetMpegFrame2");
        }
        D2uDirSetOutputSize(handle, 33, 47);
        std::vector<uint8_t> bitmap(33 * 47 * 4);
        for (const Bytes& chunk : chunks) {
            int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
            int32_t result =
                GetBitmapData2(bitmap.data(), &length, chunk.data(),
                               static_cast<int32_t>(chunk.size()), handle, &isReference);
            Require(result == 0 || result == -1 || result == -2008, "GetBitmapData2", result);
        }
        FinishDecoding(&handle);
    }

    std::vector<Bytes> ElementaryChunks() {
        std::vector<Bytes> chunks;
        for (const test::CodedPicture& picture : test::ReadStreamLayout(bytes).pictures) {
            chunks.push_back(test::PictureChunk(bytes, picture));
        }
        // And the whole input in pieces of 3000 bytes, as a host with no idea of pictures.
        for (size_t at = 0; at < bytes.size(); at += 3000) {
            chunks.emplace_back(
                bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + 3000)));
        }
        return chunks;
    }

    std::vector<Bytes> ProgramChunks() {
        std::vector<Bytes> chunks;
        CVideoMpegData reader;
        if (reader.LoadFile(path.c_str()) != 0) return chunks;
        std::vector<uint8_t> out(CVideoMpegData::kDefaultChunkCapacity);
        for (int pass = 0; pass < 2; ++pass) {
            uint64_t from = pass == 0 ? 0 : bytes.size() / 2;
            reader.Seek(static_cast<uint32_t>(from), 0);
            for (size_t calls = 0; calls < bytes.size() / 2048 + 16; ++calls) {
                int32_t length = 0, timeStamp = 0;
                int32_t result = reader.GetVideoChunk(out.data(), &length, &timeStamp);
                Require(result == 0 || result == -1 || result == CVideoMpegData::kChunkTooLarge,
                        "GetVideoChunk", result);
                if (result == -1) break;
                Require(length >= 0 && length <= static_cast<int32_t>(out.size()),
                        "GetVideoChunk length", length);
                if (result == 0 && pass == 0)
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

    void DrawSubtitles(int32_t rgbOutput, int32_t bitsPerPixel) {
        D2uHandle handle = 0;
        int32_t result = D2uDirLoadSubtitle(path.c_str(), &handle, 25.0f, rgbOutput, bitsPerPixel);
        Require(result == 0 && handle != 0, "D2uDirLoadSubtitle", result);
        std::vector<uint8_t> screen(720 * 576 * 4);
        D2uRgbFrame rgb = {};
        rgb.stride = 720 * 4;
        rgb.data = screen.data();
        D2uFrame yuv = {};
        yuv.Y = {720, 576, 720, screen.data()};
        yuv.U = {360, 288, 360, screen.data() + 720 * 576};
        yuv.V = {360, 288, 360, screen.data() + 720 * 576 + 360 * 288};
        yuv.width = 720;
        yuv.height = 576;
        yuv.chromaFormat = 1;
        for (int32_t frame = 0; frame < 300; frame += 2) {
            if (frame == 150) D2uDirSubSetMaxSize(handle, 720, 576);
            if (frame == 150) D2uDirSubSetScaleFactors(handle, 0.5, 1.5);
            result = rgbOutput ? D2uDirPutSubtitleRGB(handle, &rgb, frame)
                               : D2uDirPutSubtitleYUV(handle, &yuv, frame);
            Require(result == 0, "D2uDirPutSubtitle", result);
        }
        D2uDirCloseSubtitle(&handle);
    }

    // The file's records handed over one at a time from memory.
    void SubtitlesFromMemory() {
        D2uHandle handle = 0;
        D2uDirLoadSubtitle((path + ".none").c_str(), &handle, 25.0f, 1, 32);
        std::vector<uint8_t> screen(720 * 576 * 4);
        D2uRgbFrame rgb = {};
        rgb.stride = 720 * 4;
        rgb.data = screen.data();
        std::vector<uint8_t> data(65536);
        uint8_t record[76 + sizeof(void*)];
        size_t at = 0;
        for (int32_t frame = 0; at + 76 <= bytes.size() && frame < 1000; frame += 10) {
            std::memcpy(record, bytes.data() + at, 76);
            std::fill(data.begin(), data.end(), 0);
            size_t available = std::min(data.size(), bytes.size() - at - 76);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + 76), available,
                        data.begin());
            uint8_t* pointer = data.data();
            std::memcpy(record + 76, &pointer, sizeof pointer);
            D2uDirSetSubtitleData(handle, record);
            D2uDirPutSubtitleRGB(handle, &rgb, frame);
            int32_t recordSize = 0;
            std::memcpy(&recordSize, bytes.data() + at + 72, 4);
            at += recordSize > 76 ? static_cast<size_t>(recordSize) : 76;
        }
        D2uDirCloseSubtitle(&handle);
    }

    void Run() {
        bytes = ReadBytes(path);
        std::string extension = path.substr(path.rfind('.') + 1);
        if (extension == "sub") {
            DrawSubtitles(1, 32);
            DrawSubtitles(1, 24);
            DrawSubtitles(0, 0);
            SubtitlesFromMemory();
            return;
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

namespace {

// The arguments, with every folder among them replaced by the files in it.
std::vector<std::string> FilesOf(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        DIR* folder = opendir(argv[i]);
        if (!folder) {
            files.push_back(argv[i]);
            continue;
        }
        std::vector<std::string> inside;
        while (dirent* entry = readdir(folder)) {
            if (entry->d_name[0] != '.')
                inside.push_back(std::string(argv[i]) + "/" + entry->d_name);
        }
        closedir(folder);
        std::sort(inside.begin(), inside.end());
        files.insert(files.end(), inside.begin(), inside.end());
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    std::vector<std::string> files = FilesOf(argc, argv);
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
