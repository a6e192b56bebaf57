// The threads of one decoding handle: started when the handle is given more than one thread,
// kept until it has fewer or is destroyed, and woken for each piece of parallel work (the
// slices of a picture, the rows of a colour conversion), so that no thread is started and
// nothing is allocated per picture. The caller's thread always takes a share itself, and a
// task must be written so that any thread can finish the others' shares: the caller waits only
// for threads that joined the work before it was done, never for one that has not yet woken.
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
    // The count SetThreads asks the system for: 0 becomes the processors, at most kMostThreads.
    static int32_t ThreadsFor(int32_t count);
    int32_t Threads() const { return 1 + started; }
    // Runs task(context, worker) on the caller's thread and on every other thread that wakes
    // before the caller's own call has returned; returns when all of those have returned.
    void Run(Task task, void* context);
    // Calls part(context, index) once for each index in [0, parts): the caller's thread and the
    // others that join take the parts in turn until none is left; returns when all are done.
    using Part = void (*)(void* context, int32_t index);
    void RunParts(int32_t parts, Part part, void* context);
    // One turn of a thread's wait for another's progress: a brief pause, and now and then the
    // processor given up, in case the other thread waits for it.
    static void Pause(int32_t& polls);

private:
    static void WorkerMain(void* argument);
    void ServeWorker(int32_t worker);
    uint32_t AwaitRound(uint32_t seen);
    bool Enter(uint32_t& entered);
    void Leave();
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
    // Raised once per Run; workers wake when they see it change.
    std::atomic<uint32_t> round{0};
    uint32_t firstRound = 0;  // the round when the threads were started
    // Who may still join the current work: the low bits count the threads in it, kOpen is set
    // until the caller's share is done, and the bits above number the rounds.
    static constexpr uint32_t kOpen = 1u << 16;
    static constexpr uint32_t kInside = kOpen - 1;
    std::atomic<uint32_t> gate{0};
    std::atomic<bool> stopping{false};
};

}  // namespace d2u
