// The progress line on standard error: drawn in place, at most a few times a second, and wiped.

#include "ProgressLine.h"

#include <cstdio>
#include <utility>

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(200);

} // namespace

ProgressLine::ProgressLine(std::string name, int unitsPerByte, bool enabled, bool always)
    : m_name(std::move(name)), m_unitsPerByte(unitsPerByte), m_enabled(enabled), m_always(always)
{
}

void ProgressLine::Update(std::int64_t done, std::int64_t total)
{
    if (!m_enabled || total <= 0)
        return;
    const Clock::time_point now = Clock::now();
    if (!m_always && now - m_start < kQuietStart)
        return;
    if (m_drawnLength > 0 && now - m_lastDrawn < kRedraw)
        return;
    m_lastDrawn = now;
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double megabytesPerSecond
        = seconds > 0 ? static_cast<double>(done) / m_unitsPerByte / seconds / 1e6 : 0;
    char text[64];
    std::snprintf(text, sizeof text, "  %3d%%  %.1f MB/s", static_cast<int>(fraction * 100),
                  megabytesPerSecond);
    const std::string line = m_name + text;
    // Spaces over whatever was longer before, then back to the start of the line.
    const std::string padding(m_drawnLength > line.size() ? m_drawnLength - line.size() : 0, ' ');
    std::fprintf(stderr, "\r%s%s", line.c_str(), padding.c_str());
    std::fflush(stderr);
    m_drawnLength = line.size();
}

void ProgressLine::Clear()
{
    if (m_drawnLength == 0)
        return;
    std::fprintf(stderr, "\r%s\r", std::string(m_drawnLength, ' ').c_str());
    std::fflush(stderr);
    m_drawnLength = 0;
}
