// The job gate: an observer of every job's progress that waits while the test looks.

#include "JobGate.h"

#include <atomic>

namespace hufpack::test {

namespace {

std::atomic<JobGate*> g_gate { nullptr };

} // namespace

JobGate::JobGate(int stops, double from) : m_maxStops(stops), m_from(from)
{
    g_gate = this;
}

void JobGate::Report(std::int64_t done, std::int64_t total)
{
    if (JobGate* const gate = g_gate)
        gate->Stop(done, total);
}

JobGate::~JobGate()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stops = m_maxStops;
        m_held = false;
    }
    m_released.notify_all();
    g_gate = nullptr;
}

void JobGate::Stop(std::int64_t done, std::int64_t total)
{
    if (total <= 0)
        return;
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    std::unique_lock lock(m_mutex);
    if (m_stops >= m_maxStops || fraction < m_from || fraction <= m_lastStop)
        return;
    ++m_stops;
    m_held = true;
    m_fraction = fraction;
    m_lastStop = fraction;
    m_released.wait(lock, [this] { return !m_held; });
}

bool JobGate::Held(double* fraction) const
{
    const std::lock_guard lock(m_mutex);
    if (fraction)
        *fraction = m_fraction;
    return m_held;
}

void JobGate::Release()
{
    {
        const std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_released.notify_all();
}

int JobGate::Stops() const
{
    const std::lock_guard lock(m_mutex);
    return m_stops;
}

} // namespace hufpack::test
