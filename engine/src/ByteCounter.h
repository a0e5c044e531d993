#pragma once

// Counts how often each byte value occurs in a stream.

#include "FileStream.h"

#include <array>
#include <cstdint>
#include <span>

namespace hufpack {

class ByteCounter
{
public:
    explicit ByteCounter(FileStream& stream) : m_stream(stream) { }

    // Counts every byte from the current position to the end, then seeks back to offset 0.
    // False when a read failed.
    bool CountAll();

    // Copies 64-bit counts into the table's signed 32-bit ones; false (and nothing copied) when
    // one does not fit.
    static bool NarrowCounts(const std::array<std::uint64_t, 256>& wide,
                             std::array<std::int32_t, 256>& counts);

    [[nodiscard]] const std::array<std::uint64_t, 256>& Counts() const { return m_counts; }

    // Adds the byte counts of a block to `counts`. Four tables take turns so that runs of one
    // byte value do not wait on the same counter.
    static void CountBlock(std::span<const std::uint8_t> block,
                           std::array<std::uint64_t, 256>& counts);

    // The pieces of CountBlock, for loops that do more with each word.
    using Tables = std::array<std::array<std::uint32_t, 256>, 4>;
    static void CountWord(Tables& tables, std::uint64_t word)
    {
        ++tables[0][word & 0xFF];
        ++tables[1][(word >> 8) & 0xFF];
        ++tables[2][(word >> 16) & 0xFF];
        ++tables[3][(word >> 24) & 0xFF];
        ++tables[0][(word >> 32) & 0xFF];
        ++tables[1][(word >> 40) & 0xFF];
        ++tables[2][(word >> 48) & 0xFF];
        ++tables[3][word >> 56];
    }
    static void AddTables(const Tables& tables, std::array<std::uint64_t, 256>& counts)
    {
        for (int value = 0; value < 256; ++value)
            counts[value] += std::uint64_t { tables[0][value] } + tables[1][value]
                + tables[2][value] + tables[3][value];
    }

private:
    std::array<std::uint64_t, 256> m_counts {};
    FileStream& m_stream;
};

} // namespace hufpack
