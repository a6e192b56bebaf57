#include "video_input.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "cli_errors.h"

namespace d2ucli {
namespace {

// Chunks read before giving up on finding a sequence header.
const int kProbeChunks = 64;

std::string LoadError(const std::string& path, int32_t code) {
    if (code == -2008) return "'" + path + "': a sequence header without a picture after it";
    return "'" + path + "': no MPEG video sequence header found (error " + std::to_string(code) +
           ")";
}

// Asks for large pages behind a pixel buffer before its first touch, and for all its pages at
// once: the library reads and writes every byte of it for each picture, and a picture-sized
// buffer of small pages costs a TLB miss every 4 KiB and a page fault per 4 KiB on the first
// fill. Both are hints; the buffer works without them.
void PreparePages(void* memory, size_t bytes) {
    const uintptr_t pageMask = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
    void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(memory) & ~pageMask);
    const size_t length =
        reinterpret_cast<uintptr_t>(memory) + bytes - reinterpret_cast<uintptr_t>(start);
    if (!memory || bytes == 0) return;
#if defined(MADV_HUGEPAGE)
    madvise(start, length, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
    madvise(start, length, MADV_POPULATE_WRITE);
#endif
}

// The library leaves the fourth byte of each pixel alone: it is set once, when the buffer takes
// a new size, and keeps that value from picture to picture.
void SizePixels(std::vector<uint8_t>& pixels, size_t bytes) {
    if (pixels.size() == bytes) return;
    std::vector<uint8_t> fresh;
    fresh.reserve(bytes);
    PreparePages(fresh.data(), bytes);
    fresh.assign(bytes, 255);  // within the reserved capacity: no new allocation
    pixels.swap(fresh);
}

}  // namespace

VideoInput::VideoInput(const std::string& path, int32_t pid) : path_(path), pid_(pid) {
    VideoChunks source(path, pid);
    container_ = source.Info().container;
    if (container_ != D2U_CONTAINER_ELEMENTARY) {
        Probe(source);
        chunks_.reset(new VideoChunks(path, pid));
        InitDecoding(&handle_);
        ReadFramesOnly();
        return;
    }
    int32_t result = D2uDirLoadFile(path.c_str(), &handle_);
    if (result != 0) throw RuntimeError(LoadError(path, result));
    ReadFramesOnly();
}

// The command only reads the library's frames (it draws subtitles on copies of its own), so
// the library need not copy reference pictures for it.
void VideoInput::ReadFramesOnly() {
    D2uDirSetFramesWritable(handle_, 0);
}

void VideoInput::SetThreads(int32_t count) {
    D2uDirSetThreads(handle_, count);
}

VideoInput::~VideoInput() {
    if (handle_) FinishDecoding(&handle_);
}

void VideoInput::ProbeOnce() const {
    if (probed_) return;
    VideoChunks source(path_, pid_);
    Probe(source);
}

void VideoInput::Probe(VideoChunks& source) const {
    probed_ = true;
    std::vector<PictureFacts> pictures;
    const uint8_t* data = nullptr;
    int32_t length = 0;
    for (int count = 0; count < kProbeChunks && source.Next(data, length); ++count) {
        ReadChunkHeaders(std::vector<uint8_t>(data, data + length), sequence_, pictures);
        if (sequence_.found && !pictures.empty()) break;
    }
    if (!sequence_.found) throw RuntimeError(LoadError(path_, -1));
    if (!pictures.empty()) firstTopFieldFirst_ = pictures.front().topFieldFirst;
}

void VideoInput::SetOutputSize(int32_t width, int32_t height) {
    D2uDirSetOutputSize(handle_, width, height);
}

void VideoInput::OutputSize(int32_t& width, int32_t& height) const {
    int32_t bits = 0;
    GetOutputInfo(&width, &height, &bits, handle_);
    // A buffer-driven handle knows its size only after the first picture.
    if (width == 0 || height == 0) {
        width = sequence().width;
        height = sequence().height;
    }
}

void VideoInput::Skip(uint32_t milliseconds) {
    if (milliseconds == 0) return;
    if (!isChunked()) {
        SkipDuration(handle_, milliseconds, 0);
        return;
    }
    Rational rate = sequence().FrameRate();
    if (rate.numerator == 0) return;
    int64_t count = static_cast<int64_t>(milliseconds) * rate.numerator / (rate.denominator * 1000);
    for (int64_t k = 0; k < count && NextChunk(); ++k) {
    }
}

bool VideoInput::NextChunk() {
    return chunks_->Next(chunk_, chunkLength_);
}

bool VideoInput::NextLibraryFrame(D2uFrame*& frame) {
    frame = nullptr;
    if (!isChunked()) return GetMpegFrame(&frame, handle_) == 0 && frame;
    // Chunks that do not decode (data before the first sequence header) are passed over.
    while (NextChunk()) {
        if (GetMpegFrame2(&frame, chunk_, chunkLength_, handle_) == 0 && frame) {
            return true;
        }
    }
    return false;
}

bool VideoInput::NextLibraryBitmap(BitmapPicture& picture) {
    OutputSize(picture.width, picture.height);
    SizePixels(picture.pixels, static_cast<size_t>(picture.width) * picture.height * 4);
    int32_t isReference = 1;
    int32_t length = static_cast<int32_t>(picture.pixels.size());
    if (!isChunked()) {
        int32_t result = GetBitmapData(picture.pixels.data(), &length, handle_, &isReference);
        picture.reference = isReference != 0;
        return result == 0;
    }
    // Chunks that do not decode (data before the first sequence header) are passed over.
    while (NextChunk()) {
        length = static_cast<int32_t>(picture.pixels.size());
        int32_t result = GetBitmapData2(picture.pixels.data(), &length, chunk_, chunkLength_,
                                        handle_, &isReference);
        picture.reference = isReference != 0;
        if (result == 0) return true;
    }
    return false;
}

bool VideoInput::ReadFrame(YuvPicture& picture) {
    D2uFrame* frame = nullptr;
    if (isChunked()) {
        if (!NextLibraryFrame(frame)) return false;
        picture.CopyFrom(*frame);
        return true;
    }
    if (!primed_) {
        if (!NextLibraryFrame(frame)) return false;
        pendingFrame_.CopyFrom(*frame);
        primed_ = true;
    }
    if (!NextLibraryFrame(frame)) return false;
    std::swap(picture, pendingFrame_);
    pendingFrame_.CopyFrom(*frame);  // into the buffer the caller gave back
    return true;
}

bool VideoInput::ReadBitmap(BitmapPicture& picture) {
    if (isChunked()) return NextLibraryBitmap(picture);
    if (!primed_) {
        if (!NextLibraryBitmap(pendingBitmap_)) return false;
        primed_ = true;
    }
    if (!NextLibraryBitmap(scratchBitmap_)) return false;
    std::swap(picture, pendingBitmap_);
    std::swap(pendingBitmap_, scratchBitmap_);
    return true;
}

bool VideoInput::DecodeOnly() {
    D2uFrame* frame = nullptr;
    if (!isChunked() && !primed_) {
        if (!NextLibraryFrame(frame)) return false;
        primed_ = true;
    }
    return NextLibraryFrame(frame);
}

bool VideoInput::DecodeBitmapOnly() {
    if (!isChunked() && !primed_) {
        if (!NextLibraryBitmap(scratchBitmap_)) return false;
        primed_ = true;
    }
    return NextLibraryBitmap(scratchBitmap_);
}

double VideoInput::Progress() const {
    if (isChunked()) return chunks_->Progress();
    uint64_t size = 0, position = 0;
    GetInputSize(handle_, &size);
    GetInputPosition(handle_, &position);
    return size == 0 ? 0.0 : std::min(1.0, static_cast<double>(position) / size);
}

}  // namespace d2ucli
