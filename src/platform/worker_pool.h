// The threads of one decoding handle: started when the handle is given more than one thread,
// kept until it has fewer or is destroyed, and woken for each piece of parallel work (the
// slices of a picture, the rows of a colour conversion), so that no thread is started and
// nothing is allocated per picture. The caller's thread always takes a share itself.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace d2u {

class CWorkerPool {
public:
    // A share of the work: `worker` is 0 on the caller's thread, 1 to Threads() - 1 on the others.
    using Task = void (*)(void* context, int32_t worker);
    static constexpr int32_t kMostThreads = 32;

    CWorkerPool() = default;
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // Threads that share the work, the caller's included: 0 asks for one per processor, and
    // counts above kMostThreads take that many. Returns the count now in use, which is lower
    // when the system starts fewer threads.
    int32_t SetThreads(int32_t count);
    int32_t Threads() const { return 1 + started; }
    // Runs task(context, worker) once on every thread and returns when all have returned.
    void Run(Task task, void* context);

private:
    static void WorkerMain(void* argument);
    void ServeWorker(int32_t worker);
    uint32_t AwaitRound(uint32_t seen);
    void AwaitWorkers();
    void StopThreads();

    struct WorkerStart {
        CWorkerPool* pool;
        int32_t worker;
    };
    platform::Monitor* monitor = nullptr;
    platform::ThreadHandle threads[kMostThreads] = {};
    WorkerStart starts[kMostThreads] = {};
    int32_t started = 0;  // threads beside the caller's
    Task task = nullptr;
    void* context = nullptr;
    // Raised once per Run; workers run the task when they see it change.
    std::atomic<uint32_t> round{0};
    uint32_t firstRound = 0;  // the round when the threads were started
    std::atomic<int32_t> pending{0};  // workers still in the current round
    std::atomic<bool> stopping{false};
};

}  // namespace d2u
