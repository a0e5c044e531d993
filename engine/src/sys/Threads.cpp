// The thread limit, and starting and joining a job's workers.

#include "sys/Threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <new>
#include <sched.h>
#include <system_error>

namespace hufpack {

namespace {

std::atomic<int> g_limit { 0 };
std::mutex g_failing;

} // namespace

int ThreadLimit()
{
    if (const int asked = g_limit.load(); asked > 0)
        return std::min(asked, kMaxThreads);
    // The processors this process may use (taskset, a container's cpuset), not the machine's.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int processors = ::sched_getaffinity(0, sizeof allowed, &allowed) == 0
        ? CPU_COUNT(&allowed)
        : static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(processors, 1, kMaxThreads);
}

void SetThreadLimit(int threads)
{
    g_limit.store(std::max(threads, 0));
}

int WorkerThreads::Start(int count, const std::function<void(int worker)>& work)
{
    m_work = work;
    for (int worker = 1; worker <= count; ++worker) {
        try {
            m_threads.emplace_back([this, worker] {
                try {
                    m_work(worker);
                } catch (const std::bad_alloc&) {
                    const std::lock_guard lock(g_failing);
                    m_outcome = Status::Fail(JobResult::CannotOpen, JobFile::None, ENOMEM);
                }
            });
        } catch (const std::exception&) {
            break; // no more threads: the ones there are do the work
        }
    }
    return Count();
}

void WorkerThreads::Join()
{
    for (std::thread& thread : m_threads)
        thread.join();
    m_threads.clear();
}

} // namespace hufpack
