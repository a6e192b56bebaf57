// The slices of a picture decoded on the threads of the handle's worker pool, into the picture
// that one thread decoding them in order would make.
//
// The slices are listed first (their start codes and headers); each thread then takes the next
// slice not yet taken, and writes only the macroblocks from its first to the next slice's first,
// so no two threads write the same samples. A picture decoded this way is the one-thread picture
// when every slice ended where the next one begins; damage can make a slice run on over the
// next one's start code or its macroblocks, or stop the picture. The slices write their
// macroblock table entries into a spare table, which becomes the picture's (with the entries
// no slice wrote taken over) only when they ended as on one thread. Otherwise the coverage is
// put back as it was, and the picture is decoded again on one thread into its own table: what
// that leaves undecoded is filled in from the reference afterwards, as on one thread, so nothing
// the threads wrote remains. Pictures whose gaps are not filled (before the first reference)
// are decoded on one thread from the start.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "decoder/slice_decoder.h"
#include "platform/worker_pool.h"

namespace d2u {

class CSliceThreads {
public:
    // 0 asks for one thread per processor; the caller's thread counts. Returns the count in use.
    int32_t SetThreads(int32_t count) { return pool.SetThreads(count); }
    int32_t Threads() const { return pool.Threads(); }
    CWorkerPool& Pool() { return pool; }

    // Decodes the picture that `main` has started with these headers and targets, as
    // main.DecodeSlices(bits, end) would; `tables` are the code tables main was set up with.
    int32_t DecodeSlices(CSliceDecoder& main, CMpegVlcTables* tables, const MpegHeaders& headers,
                         const SliceTargets& targets, BitReader& bits, const uint32_t* end);

private:
    bool PrepareHelpers(CMpegVlcTables* tables);
    static bool SparesTable(const SliceTargets& targets);
    bool PrepareBuffers(const SliceTargets& targets);
    bool SetLimits(int32_t total);
    bool EndedAsInOrder(int32_t total) const;
    void KeepUnwrittenEntries(const CSliceDecoder& main, const uint8_t* table) const;
    void PutBack(CSliceDecoder& main, const SliceTargets& targets);
    static void DecodeShare(void* context, int32_t worker);
    void DecodeSlice(CSliceDecoder& decoder, int32_t index);
    void ShareOut(int32_t threads);

    // The slices of one thread, [front, back) of the list, in one word: the thread takes them
    // from the front; a thread done with its own takes from the back of another's. Each thread
    // keeps about the same rows from picture to picture, so the reference samples it predicts
    // from are mostly those it wrote itself, still in its core's caches.
    struct alignas(64) Band {
        std::atomic<uint32_t> bounds{0};
        bool TakeFront(int32_t& index);
        bool TakeBack(int32_t& index);
    };

    CWorkerPool pool;
    // The slice decoders of the pool's other threads, by worker (0, the caller's, is unused).
    std::unique_ptr<CSliceDecoder> helpers[CWorkerPool::kMostThreads];
    CMpegVlcTables* helperTables = nullptr;
    std::vector<CSliceDecoder::ListedSlice> slices;
    std::vector<CSliceDecoder::SliceOutcome> outcomes;
    std::vector<int32_t> limits;  // the first address each slice may not write
    std::vector<uint8_t> coverageMirror;
    // The picture being decoded.
    struct Round {
        CSliceDecoder* main = nullptr;
        const MpegHeaders* headers = nullptr;
        const SliceTargets* targets = nullptr;
        const uint32_t* end = nullptr;
        int32_t sliceCount = 0;
        const uint32_t* origin = nullptr;  // where the slices' byte positions count from
    };
    Round round;
    Band bands[CWorkerPool::kMostThreads];
};

}  // namespace d2u
