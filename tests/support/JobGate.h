#pragma once

// Holds a running job at known points, so that a test sees it mid-way on a fast machine as on a
// slow one, instead of guessing a size that is "still running".

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace hufpack::test {

// While it exists, a job whose progress reports reach Report stops on its own thread at its
// first report whose fraction done is at least `from`, and then at each report further on than
// the last stop, until the test lets it go on; after `stops` stops it runs freely. The job's
// progress callback (or a dialog's handler of it) calls Report. One gate at a time, made and
// dropped while no job runs.
class JobGate
{
public:
    explicit JobGate(int stops, double from = 0);
    ~JobGate();
    JobGate(const JobGate&) = delete;
    JobGate& operator=(const JobGate&) = delete;

    // Whether a job stands at a stop now; `fraction` is then how far it has got (0 to 1).
    [[nodiscard]] bool Held(double* fraction = nullptr) const;
    // Lets a held job go on, to its next stop or its end.
    void Release();
    // How many times a job has stopped so far.
    [[nodiscard]] int Stops() const;

    // A job's progress report, passed to the gate that exists, if one does.
    static void Report(std::int64_t done, std::int64_t total);

private:
    void Stop(std::int64_t done, std::int64_t total);

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    const int m_maxStops;
    const double m_from;
    int m_stops = 0;
    bool m_held = false;
    double m_fraction = -1;
    double m_lastStop = -1;
};

} // namespace hufpack::test
