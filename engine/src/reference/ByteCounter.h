#pragma once

// Counts how often each byte value occurs in a stream, a chunk at a time: the counting pass of
// the step-by-step encoder.

#include "format/Counts.h"
#include "sys/FileStream.h"

namespace hufpack {

class ByteCounter
{
public:
    explicit ByteCounter(FileStream& stream) : m_stream(stream) { }

    // Counts every byte from the current position to the end, then seeks back to offset 0.
    // False when a read failed.
    bool CountAll();

    [[nodiscard]] const WideCounts& Counts() const { return m_counts; }

private:
    WideCounts m_counts {};
    FileStream& m_stream;
};

} // namespace hufpack
