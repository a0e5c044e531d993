// The thread limit, and starting and joining a job's workers.

#include "sys/Threads.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <sched.h>
#include <system_error>

namespace hufpack {

namespace {

std::mutex g_failing;

} // namespace

int ThreadLimit()
{
    // The processors this process may use (taskset, a container's cpuset), not the machine's.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int processors = ::sched_getaffinity(0, sizeof allowed, &allowed) == 0
        ? CPU_COUNT(&allowed)
        : static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(processors, 1, kMaxThreads);
}

int ThreadsFor(int asked)
{
    return asked > 0 ? std::min(asked, kMaxThreads) : ThreadLimit();
}

namespace {

// A new thread often starts on its creator's processor and takes turns with it there until the
// system rebalances, milliseconds later, though another processor is idle. So each worker
// first moves off the calling thread's processor, and then may run anywhere again: it stays
// where it went until the system has a reason to move it.
void MoveOffProcessor(int processor)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (processor < 0 || ::sched_getaffinity(0, sizeof allowed, &allowed) != 0
        || CPU_COUNT(&allowed) < 2 || !CPU_ISSET(processor, &allowed))
        return;
    cpu_set_t others = allowed;
    CPU_CLR(processor, &others);
    if (::sched_setaffinity(0, sizeof others, &others) == 0)
        ::sched_setaffinity(0, sizeof allowed, &allowed);
}

} // namespace

int WorkerThreads::Start(int count, const std::function<void(int worker)>& work)
{
    m_work = work;
    const int caller = ::sched_getcpu();
    for (int worker = 1; worker <= count; ++worker) {
        try {
            m_threads.emplace_back([this, worker, caller] {
                MoveOffProcessor(caller);
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
