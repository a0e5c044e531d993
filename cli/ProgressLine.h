#pragma once

// The one status line that shows how far a long job has got: name, percent and speed, redrawn a
// few times a second on standard error and wiped when the job ends.

#include <chrono>
#include <cstdint>
#include <string>

class ProgressLine
{
public:
    // `inputBytes` is the size of what the job reads, for the speed. A line that is not
    // `always` shown appears only once the job has taken a second.
    ProgressLine(std::string name, std::int64_t inputBytes, bool enabled, bool always);
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
    std::int64_t m_inputBytes;
    bool m_enabled;
    bool m_always;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastDrawn {};
    std::size_t m_drawnLength = 0;
};
