#include "platform/worker_pool.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace d2u {
namespace {

// Polls before sleeping: a picture's serial part (its headers, the hand-out) is short, and a
// thread woken from sleep starts tens of microseconds late.
constexpr int32_t kPolls = 4000;
// Pauses of a wait for another thread before each time the processor is given up.
constexpr int32_t kPausesBeforeYield = 256;

inline void PauseBriefly() {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

// The parts of one RunParts call and the next one to take.
struct PartsRun {
    CWorkerPool::Part part;
    void* context;
    int32_t parts;
    std::atomic<int32_t> next{0};

    static void TakeParts(void* run, int32_t) {
        PartsRun& self = *static_cast<PartsRun*>(run);
        for (int32_t index; (index = self.next.fetch_add(1)) < self.parts;)
            self.part(self.context, index);
    }
};

}  // namespace

CWorkerPool::~CWorkerPool() {
    StopThreads();
    platform::DestroyMonitor(monitor);
}

int32_t CWorkerPool::ThreadsFor(int32_t count) {
    if (count <= 0) count = platform::ProcessorCount();
    return count > kMostThreads ? kMostThreads : count;
}

int32_t CWorkerPool::SetThreads(int32_t count) {
    count = ThreadsFor(count);
    if (count == Threads()) return count;
    StopThreads();
    if (count <= 1) return 1;
    if (!monitor) monitor = platform::CreateMonitor();
    if (!monitor) return 1;
    stopping.store(false);
    firstRound = round.load();
    for (int32_t worker = 1; worker < count; ++worker) {
        starts[started] = WorkerStart{this, worker};
        threads[started] = platform::StartThread(WorkerMain, &starts[started]);
        if (!threads[started]) break;
        ++started;
    }
    return Threads();
}

void CWorkerPool::StopThreads() {
    if (started == 0) return;
    platform::Lock(monitor);
    stopping.store(true);
    platform::WakeAll(monitor);
    platform::Unlock(monitor);
    for (int32_t i = 0; i < started; ++i) platform::JoinThread(threads[i]);
    started = 0;
}

void CWorkerPool::Pause(int32_t& polls) {
    if (++polls % kPausesBeforeYield == 0) {
        platform::YieldThread();
    } else {
        PauseBriefly();
    }
}

void CWorkerPool::Run(Task work, void* workContext) {
    if (started == 0) {
        work(workContext, 0);
        return;
    }
    task = work;
    context = workContext;
    const uint32_t number =
        (gate.load(std::memory_order_relaxed) & ~(kOpen | kInside)) + (kOpen << 1);
    gate.store(number | kOpen, std::memory_order_release);
    platform::Lock(monitor);
    round.fetch_add(1, std::memory_order_release);
    platform::WakeAll(monitor);
    platform::Unlock(monitor);
    work(workContext, 0);
    gate.fetch_and(~kOpen, std::memory_order_acq_rel);
    AwaitWorkers();
}

void CWorkerPool::RunParts(int32_t parts, Part part, void* context) {
    PartsRun run{part, context, parts};
    Run(PartsRun::TakeParts, &run);
}

// Joins the open work once: false when it is closed or was joined already.
bool CWorkerPool::Enter(uint32_t& entered) {
    uint32_t now = gate.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t number = now & ~(kOpen | kInside);
        if (!(now & kOpen) || number == entered) return false;
        if (gate.compare_exchange_weak(now, now + 1, std::memory_order_acq_rel)) {
            entered = number;
            return true;
        }
    }
}

void CWorkerPool::Leave() {
    const uint32_t now = gate.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if ((now & (kOpen | kInside)) != 0) return;
    // The last one out of closed work: the caller may be asleep.
    platform::Lock(monitor);
    platform::WakeAll(monitor);
    platform::Unlock(monitor);
}

void CWorkerPool::AwaitWorkers() {
    for (int32_t poll = 0; poll < kPolls; ++poll) {
        if ((gate.load(std::memory_order_acquire) & kInside) == 0) return;
        PauseBriefly();
    }
    platform::Lock(monitor);
    while ((gate.load(std::memory_order_acquire) & kInside) != 0) platform::Wait(monitor);
    platform::Unlock(monitor);
}

void CWorkerPool::WorkerMain(void* argument) {
    const WorkerStart* start = static_cast<WorkerStart*>(argument);
    start->pool->ServeWorker(start->worker);
}

void CWorkerPool::ServeWorker(int32_t worker) {
    // The rounds count from the one before the thread was started: it may start late.
    uint32_t seen = firstRound;
    uint32_t entered = gate.load(std::memory_order_relaxed) & ~(kOpen | kInside);
    for (;;) {
        seen = AwaitRound(seen);
        if (stopping.load(std::memory_order_acquire)) return;
        if (!Enter(entered)) continue;
        task(context, worker);
        Leave();
    }
}

// The round after `seen`, or `seen` when the pool stops.
uint32_t CWorkerPool::AwaitRound(uint32_t seen) {
    for (int32_t poll = 0; poll < kPolls; ++poll) {
        const uint32_t now = round.load(std::memory_order_acquire);
        if (now != seen || stopping.load(std::memory_order_relaxed)) return now;
        PauseBriefly();
    }
    platform::Lock(monitor);
    uint32_t now = round.load(std::memory_order_acquire);
    while (now == seen && !stopping.load(std::memory_order_acquire)) {
        platform::Wait(monitor);
        now = round.load(std::memory_order_acquire);
    }
    platform::Unlock(monitor);
    return now;
}

}  // namespace d2u
