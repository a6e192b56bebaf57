#include "decoder/slice_threads.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace d2u {
namespace {

using SliceEnd = CSliceDecoder::SliceEnd;

// Lists of slices grow with the picture's rows: more slices than this a row are decoded on
// one thread.
constexpr int32_t kSlicesPerRow = 8;
constexpr int32_t kSpareSlices = 64;
// Slice indexes fit the 16-bit halves of a band.
constexpr size_t kMostSlices = 0xFFFF;

template <class T>
bool GrowTo(std::vector<T>& list, size_t size) {
    if (list.size() >= size) return true;
    try {
        list.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

int32_t CSliceThreads::DecodeSlices(CSliceDecoder& main, CMpegVlcTables* tables,
                                    const MpegHeaders& headers, const SliceTargets& targets,
                                    BitReader& bits, const uint32_t* end) {
    if (pool.Threads() < 2 || !targets.fillsUndecoded || !SparesTable(targets) ||
        !PrepareHelpers(tables) || !PrepareBuffers(targets)) {
        return main.DecodeSlices(bits, end);
    }
    round.sliceCount = main.ListSlices(bits, end, &round.origin, slices.data(),
                                       static_cast<int32_t>(slices.size()));
    const int32_t total = main.PictureMacroblocks();
    if (round.sliceCount < 2 || !SetLimits(total)) return main.DecodeSlices(bits, end);

    round.main = &main;
    round.headers = &headers;
    round.targets = &targets;
    round.end = end;
    const CFrameCoverage& coverage = *targets.coverage;
    std::memcpy(coverageMirror.data(), coverage.FrameUnits(),
                static_cast<size_t>(coverage.Columns()) * coverage.Rows());
    main.UseTable(targets.spareTable);
    ShareOut(pool.Threads());
    pool.Run(DecodeShare, this);

    if (!EndedAsInOrder(total)) {
        PutBack(main, targets);
        return main.DecodeSlices(bits, end);
    }
    MacroblockInfoBlock& table = *targets.current->mbInfo;
    KeepUnwrittenEntries(main, table.entries);
    // The spare, now complete, becomes the picture's table.
    std::swap(table, *targets.spareTable);
    const CSliceDecoder::SliceOutcome& last = outcomes[round.sliceCount - 1];
    bits = last.end;
    return main.FinishSlices(bits, end, last);
}

// The slices write into the spare table, so that the picture's own keeps the entries of the
// picture decoded last until the slices are known to have ended as on one thread.
bool CSliceThreads::SparesTable(const SliceTargets& targets) {
    const MacroblockInfoBlock* table = targets.current->mbInfo;
    const MacroblockInfoBlock* spare = targets.spareTable;
    return table && spare && table != spare && table->entries && spare->entries &&
           table->columns == spare->columns && table->rows == spare->rows;
}

bool CSliceThreads::PrepareHelpers(CMpegVlcTables* tables) {
    for (int32_t worker = 1; worker < pool.Threads(); ++worker) {
        std::unique_ptr<CSliceDecoder>& helper = helpers[worker];
        if (helper && helperTables == tables) continue;
        if (!helper) helper.reset(new (std::nothrow) CSliceDecoder);
        if (!helper || helper->Init(tables) != 0) return false;
    }
    helperTables = tables;
    return true;
}

bool CSliceThreads::PrepareBuffers(const SliceTargets& targets) {
    const CFrameCoverage& coverage = *targets.coverage;
    const size_t slicesWanted =
        std::min(static_cast<size_t>(targets.mbHeight) * kSlicesPerRow + kSpareSlices, kMostSlices);
    return coverage.FrameUnits() && GrowTo(slices, slicesWanted) &&
           GrowTo(outcomes, slicesWanted) && GrowTo(limits, slicesWanted) &&
           GrowTo(coverageMirror, static_cast<size_t>(coverage.Columns()) * coverage.Rows());
}

// Each slice may write up to the first macroblock of the next slice that is not dropped; the
// slices must then start in order of address.
bool CSliceThreads::SetLimits(int32_t total) {
    int32_t next = total;
    for (int32_t i = round.sliceCount - 1; i >= 0; --i) {
        limits[i] = next;
        const int32_t address = slices[i].address;
        if (address < 0) continue;
        if (address >= next) return false;
        next = address;
    }
    return true;
}

void CSliceThreads::ShareOut(int32_t threads) {
    for (int32_t band = 0; band < threads; ++band) {
        const uint32_t front = static_cast<uint32_t>(round.sliceCount * band / threads);
        const uint32_t back = static_cast<uint32_t>(round.sliceCount * (band + 1) / threads);
        bands[band].bounds.store(back << 16 | front, std::memory_order_relaxed);
    }
}

bool CSliceThreads::Band::TakeFront(int32_t& index) {
    uint32_t now = bounds.load(std::memory_order_relaxed);
    for (;;) {
        const uint32_t front = now & 0xFFFF;
        if (front >= now >> 16) return false;
        if (bounds.compare_exchange_weak(now, now + 1, std::memory_order_relaxed)) {
            index = static_cast<int32_t>(front);
            return true;
        }
    }
}

bool CSliceThreads::Band::TakeBack(int32_t& index) {
    uint32_t now = bounds.load(std::memory_order_relaxed);
    for (;;) {
        const uint32_t back = now >> 16;
        if ((now & 0xFFFF) >= back) return false;
        if (bounds.compare_exchange_weak(now, now - (1u << 16), std::memory_order_relaxed)) {
            index = static_cast<int32_t>(back - 1);
            return true;
        }
    }
}

void CSliceThreads::DecodeShare(void* context, int32_t worker) {
    CSliceThreads& self = *static_cast<CSliceThreads*>(context);
    const Round& round = self.round;
    CSliceDecoder* decoder = worker == 0 ? round.main : self.helpers[worker].get();
    if (worker != 0) {
        if (!decoder->StartPicture(*round.headers, *round.targets)) return;
        decoder->UseTable(round.targets->spareTable);
    }
    const int32_t threads = self.pool.Threads();
    int32_t index = 0;
    while (self.bands[worker].TakeFront(index)) self.DecodeSlice(*decoder, index);
    for (int32_t other = 1; other < threads; ++other) {
        Band& band = self.bands[(worker + other) % threads];
        while (band.TakeBack(index)) self.DecodeSlice(*decoder, index);
    }
}

void CSliceThreads::DecodeSlice(CSliceDecoder& decoder, int32_t index) {
    decoder.DecodeListedSlice(slices[index], round.end, limits[index], outcomes[index]);
}

// Whether one thread would have decoded the same slices: each went on from where the one
// before it ended, and none ended the picture before the last.
bool CSliceThreads::EndedAsInOrder(int32_t total) const {
    for (int32_t i = 0; i + 1 < round.sliceCount; ++i) {
        const CSliceDecoder::SliceOutcome& outcome = outcomes[i];
        if (outcome.how != SliceEnd::kDropped &&
            (outcome.how != SliceEnd::kStartCode || outcome.endAddress >= total)) {
            return false;
        }
        if (CSliceDecoder::SearchByte(outcome.end, round.origin) > slices[i + 1].prefixByte)
            return false;
    }
    return true;
}

// The entries no slice wrote (before the first, between slices, behind the last, and the other
// field's rows) as the picture's table holds them.
void CSliceThreads::KeepUnwrittenEntries(const CSliceDecoder& main, const uint8_t* table) const {
    main.CopyOtherFieldRows(table);
    int32_t unwritten = 0;
    for (int32_t i = 0; i < round.sliceCount; ++i) {
        if (slices[i].address < 0) continue;
        main.CopyTableEntries(unwritten, slices[i].address, table);
        unwritten = outcomes[i].endAddress;
    }
    main.CopyTableEntries(unwritten, main.PictureMacroblocks(), table);
}

void CSliceThreads::PutBack(CSliceDecoder& main, const SliceTargets& targets) {
    main.UseTable(targets.current->mbInfo);
    CFrameCoverage& coverage = *targets.coverage;
    std::memcpy(coverage.FrameUnits(), coverageMirror.data(),
                static_cast<size_t>(coverage.Columns()) * coverage.Rows());
}

}  // namespace d2u
