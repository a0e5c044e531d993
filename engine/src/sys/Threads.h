#pragma once

// The threads a job runs on: one limit for every job, and one way to start them.

#include "hufpack/JobResult.h"

#include <functional>
#include <thread>
#include <vector>

namespace hufpack {

// Threads are counted one way everywhere: threads in all, the calling thread's included. A job
// uses at most kMaxThreads, past which the encoder's parts and the decoder's chunks grow too
// small to be worth a thread each.
inline constexpr int kMaxThreads = 64;
// One per processor this process may run on, at most kMaxThreads.
[[nodiscard]] int ThreadLimit();
// The threads a job asked for as it runs with them: 0 for ThreadLimit, and at most kMaxThreads.
[[nodiscard]] int ThreadsFor(int asked);

// Threads started beside a job's calling thread, each running `work(worker)` with its own
// number, 1 to the count started; joined by Join or when the object goes. A thread that cannot
// be had is not started, and the ones there are (the calling thread at least) do the work, so
// the count started may be fewer than asked. An allocation that fails inside a worker is caught
// at its edge and kept, for Outcome: the work must then leave the job able to end.
class WorkerThreads
{
public:
    WorkerThreads() = default;
    ~WorkerThreads() { Join(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    int Start(int count, const std::function<void(int worker)>& work);
    void Join();
    [[nodiscard]] int Count() const { return static_cast<int>(m_threads.size()); }
    // ENOMEM when a worker ran out of memory; done otherwise.
    [[nodiscard]] Status Outcome() const { return m_outcome; }

private:
    std::vector<std::thread> m_threads;
    std::function<void(int worker)> m_work;
    Status m_outcome;
};

} // namespace hufpack
