#pragma once

// The one status line that shows how far a long job has got: name, percent and speed, redrawn a
// few times a second on standard error and wiped when the job ends.

#include <chrono>
#include <cstdint>
#include <string>

class ProgressLine
{
public:
    // The speed is of the uncompressed bytes, of which each is `unitsPerByte` units of the
    // job's progress. A line that is not `always` shown appears only once the job has taken a
    // second.
    ProgressLine(std::string name, int unitsPerByte, bool enabled, bool always);
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    [[nodiscard]] bool Enabled() const { return m_enabled; }
    // The engine's progress callback: `done` of `total` units of the job.
    void Update(std::int64_t done, std::int64_t total);
    // Wipes the line, if it was drawn.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;

    std::string m_name;
    int m_unitsPerByte;
    bool m_enabled;
    bool m_always;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastDrawn {};
    std::size_t m_drawnLength = 0;
};
