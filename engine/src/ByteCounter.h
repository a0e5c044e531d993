#pragma once

#include "FileStream.h"

#include <array>
#include <cstdint>
#include <span>

namespace hufpack {

// Counts how often each byte value occurs in a stream.
class ByteCounter
{
public:
    explicit ByteCounter(FileStream& stream) : m_stream(stream) { }

    // Counts every byte from the current position to the end, then clears the end-of-file
    // state and seeks back to offset 0. False when a read failed.
    bool CountAll();
    // Copies the counts; false (and nothing copied) when one does not fit a signed 32-bit count.
    bool CopyCounts(std::array<std::int32_t, 256>& counts) const;

    // The same for any 64-bit counts.
    static bool NarrowCounts(const std::array<std::uint64_t, 256>& wide,
                             std::array<std::int32_t, 256>& counts);

    [[nodiscard]] const std::array<std::uint64_t, 256>& Counts() const { return m_counts; }

    // Adds the byte counts of a block to `counts`. Four tables take turns so that runs of one
    // byte value do not wait on the same counter.
    static void CountBlock(std::span<const std::uint8_t> block,
                           std::array<std::uint64_t, 256>& counts);

private:
    std::array<std::uint64_t, 256> m_counts {};
    FileStream& m_stream;
};

} // namespace hufpack
