// d2udir_damage_check FILE-OR-FOLDER...: runs each file through the library and reports a call
// that breaks its documented results: a file-driven decode to the end that reads every sample,
// the same again as scaled bitmaps with skips and a jump into the middle, then the soak's random
// call sequences of a few fixed seeds (buffer-driven handles, previews, subtitle handles). Built
// with the sanitizers, a memory fault or undefined behaviour ends the run with the sanitizer's
// report; scripts/damage-check.sh runs one file per process under a time limit.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "d2udir.h"
#include "soak/api_sequence.h"
#include "soak/soak_inputs.h"
#include "support/test_env.h"

namespace d2u {
namespace soak {
namespace {

constexpr uint32_t kSequenceSeeds = 12;

struct Checker {
    std::string path;
    Bytes bytes;
    std::string failure;

    void Require(bool condition, const char* call, int32_t result) {
        if (!condition && failure.empty()) failure = call + (" returned " + std::to_string(result));
    }

    void DecodeFileDriven() {
        D2uHandle handle = 0;
        int32_t opened = D2uDirLoadFile(path.c_str(), &handle);
        Require(opened == 0 || opened == -1 || opened == -2008, "D2uDirLoadFile", opened);
        if (!handle) return;
        // Each picture needs a start code, so a decode of a file ends within this many calls.
        const size_t maxCalls = bytes.size() / 4 + 8;
        size_t calls = 0;
        for (D2uFrame* frame = nullptr; calls < maxCalls; ++calls) {
            int32_t result = GetMpegFrame(&frame, handle);
            Require(result == 0 || result == -1, "GetMpegFrame", result);
            if (result != 0) break;
            Require(FrameIsSound(frame, true), "GetMpegFrame (frame)", result);
        }
        Require(calls < maxCalls, "GetMpegFrame (never ending)", 0);
        ResetDecoder(handle);
        D2uDirSetOutputSize(handle, 97, 61);
        Bytes bitmap(97 * 61 * 4);
        for (calls = 0; calls < maxCalls; ++calls) {
            int32_t length = static_cast<int32_t>(bitmap.size()), isReference = 0;
            if (calls % 5 == 2) SkipFrame(handle);
            if (calls == 3)
                D2uDirSetInputPosition(handle, static_cast<uint32_t>(bytes.size() / 2), 0);
            int32_t result = GetBitmapData(bitmap.data(), &length, handle, &isReference);
            Require(result == 0 || result == -1, "GetBitmapData", result);
            if (result != 0) break;
        }
        Require(calls < maxCalls, "GetBitmapData (never ending)", 0);
        int32_t skipped = SkipDuration(handle, 500, 1);
        Require(skipped >= 0 && skipped <= 600, "SkipDuration", skipped);
        FinishDecoding(&handle);
    }

    void Run() {
        bytes = test::ReadFileBytes(path);
        DecodeFileDriven();
        std::string extension = path.substr(path.rfind('.') + 1);
        SoakInput input{path, InputKind::kElementary, bytes};
        if (extension == "mpg" || extension == "vob") input.kind = InputKind::kProgram;
        if (extension == "sub") input.kind = InputKind::kSubtitle;
        std::string prefix = test::WorkPath("damage_check_" + std::to_string(::getpid()));
        for (uint32_t seed = 1; seed <= kSequenceSeeds && failure.empty(); ++seed) {
            ApiSequence sequence(input, bytes, seed, prefix);
            if (!sequence.Run())
                failure = "sequence " + std::to_string(seed) + ": " + sequence.error();
        }
        test::RemoveFile(prefix + ExtensionOf(input.kind));
        test::RemoveFile(prefix + ".bmp");
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
