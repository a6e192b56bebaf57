// The slices of a picture decoded on the threads of the handle's worker pool, into the picture
// that one thread decoding them in order would make.
//
// The caller's thread lists the slices (their start codes and headers) while the other threads
// already decode, from the top of the picture down, the slices listed so far; with the list
// complete, the caller's thread decodes from the bottom up until the two meet. Where they meet
// moves little from picture to picture, so each thread keeps about the same rows, and the
// reference samples it predicts from are mostly those it wrote itself, still in its core's caches;
// the rows that change hands lie next to the meeting point, whose predictions reach over to the
// other thread's rows anyway. (Halving the slices between the threads instead, with the one done
// first taking from the far end of the other's half, handed the picture's last rows from one thread
// to the other and back, and those slices decoded a quarter to half slower.) A slice writes only
// the macroblocks from its first to the next slice's first, so no two threads write the same
// samples. A picture decoded this way is the one-thread picture when every slice ended where the
// next one begins; damage can make a slice run on over the next one's start code or its
// macroblocks, or stop the picture. The slices write their macroblock table entries into a spare
// table, which becomes the picture's (with the entries no slice wrote taken over) only when they
// ended as on one thread. Otherwise, or when the list shows slices out of order, the coverage is
// put back as it was, and the picture is decoded again on one thread into its own table: what that
// leaves undecoded is filled in from the reference afterwards, as on one thread, so nothing the
// threads wrote remains. Pictures whose gaps are not filled (before the first reference) are
// decoded on one thread from the start.
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
    // Pictures whose slices the threads decoded and kept (not decoded again on one thread).
    int64_t SharedPictures() const { return sharedPictures; }

    // Decodes the picture that `main` has started with these headers and targets, as
    // main.DecodeSlices(bits, end) would; `tables` are the code tables main was set up with.
    int32_t DecodeSlices(CSliceDecoder& main, CMpegVlcTables* tables, const MpegHeaders& headers,
                         const SliceTargets& targets, BitReader& bits, const uint32_t* end);

private:
    bool PrepareHelpers(CMpegVlcTables* tables);
    static bool SparesTable(const SliceTargets& targets);
    bool PrepareBuffers(const SliceTargets& targets);
    bool EndedAsInOrder() const;
    void KeepUnwrittenEntries(const CSliceDecoder& main, const uint8_t* table) const;
    void PutBack(CSliceDecoder& main, const SliceTargets& targets);
    static void DecodeShare(void* context, int32_t worker);
    void ListAndDecode(CSliceDecoder& main);
    int32_t ListSlices(const CSliceDecoder& main);
    void DecodeSlice(CSliceDecoder& decoder, int32_t index);

    // The slices not yet taken, [front, back) in one word: the other threads take from the
    // front, the caller's thread from the back. While the list is being made, the back is
    // kOpenBack and a slice is taken only once it is listed (its limit known too).
    class HandOut {
    public:
        void Open();
        void Publish(int32_t count) { listed.store(count, std::memory_order_release); }
        // The list is complete, with `count` slices.
        void Close(int32_t count);
        // Nothing more is taken.
        void Drop();
        bool TakeFront(int32_t& index);
        bool TakeBack(int32_t& index);

    private:
        static constexpr uint32_t kOpenBack = 0xFFFF;
        alignas(64) std::atomic<uint32_t> bounds{0};
        alignas(64) std::atomic<int32_t> listed{0};
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
        BitReader start;  // where its slices begin
        const uint32_t* end = nullptr;
        int32_t sliceCount = 0;            // 0 when the list was dropped
        const uint32_t* origin = nullptr;  // where the slices' byte positions count from
    };
    Round round;
    HandOut handOut;
    int64_t sharedPictures = 0;
};

}  // namespace d2u
