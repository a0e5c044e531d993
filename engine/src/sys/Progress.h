#pragma once

// Counts the work of a job as its threads do it and passes the count on to the job's progress
// callback, one call at a time. A thread that finds another thread reporting does not wait: its
// work shows in the next report. Costs an atomic add and a try-lock per block. A callback that
// returns false stops the job: from then on every thread's next Add says so, and the thread
// ends its share of the work as cancelled (Reason::Cancelled).

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace hufpack {

class Progress
{
public:
    // Returns false to stop the job.
    using Callback = std::function<bool(std::int64_t done, std::int64_t total)>;

    Progress() = default;
    Progress(const Callback& callback, std::int64_t total) : m_callback(&callback), m_total(total)
    {
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // False once the job is to stop.
    [[nodiscard]] bool Add(std::int64_t units)
    {
        if (!m_callback || !*m_callback)
            return true;
        m_done.fetch_add(units, std::memory_order_relaxed);
        // Read again under the lock, so that reports never go backwards.
        if (std::unique_lock lock(m_reporting, std::try_to_lock); lock.owns_lock()) {
            const std::int64_t done = m_done.load(std::memory_order_relaxed);
            if (!(*m_callback)(done, m_total))
                m_stopped.store(true, std::memory_order_relaxed);
        }
        return !m_stopped.load(std::memory_order_relaxed);
    }

private:
    const Callback* m_callback = nullptr;
    std::int64_t m_total = 0;
    std::atomic<std::int64_t> m_done { 0 };
    std::atomic<bool> m_stopped { false };
    std::mutex m_reporting;
};

} // namespace hufpack
