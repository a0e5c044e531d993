#pragma once

// How often each byte value occurs: the table's signed 32-bit counts, the 64-bit counts a pass
// adds up, and the loop that counts a block of bytes.

#include <array>
#include <cstdint>
#include <span>

namespace hufpack {

// As the table stores them. Only a positive count puts a value in the table, and in the tree.
using Counts = std::array<std::int32_t, 256>;
// As a pass adds them up, before they are known to fit the table.
using WideCounts = std::array<std::uint64_t, 256>;

// The byte values with a positive count: the entries the writer puts in the table.
[[nodiscard]] int EntriesOf(const Counts& counts);
// The size of the table the writer makes for `counts`, in bytes.
[[nodiscard]] std::uint16_t TableSizeOf(const Counts& counts);
// What decoding the file writes: the sum of the positive counts.
[[nodiscard]] std::int64_t OriginalBytes(const Counts& counts);
// Copies wide counts into table counts; false (and nothing copied) when one does not fit.
[[nodiscard]] bool NarrowCounts(const WideCounts& wide, Counts& counts);

// Adds the byte counts of a block to `counts`. Four tables take turns so that runs of one byte
// value do not wait on the same counter.
void CountBlock(std::span<const std::uint8_t> block, WideCounts& counts);

// The pieces of CountBlock, for loops that do more with each word.
using CountTables = std::array<std::array<std::uint32_t, 256>, 4>;
inline void CountWord(CountTables& tables, std::uint64_t word)
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
inline void AddTables(const CountTables& tables, WideCounts& counts)
{
    for (int value = 0; value < 256; ++value)
        counts[value] += std::uint64_t { tables[0][value] } + tables[1][value] + tables[2][value]
            + tables[3][value];
}

} // namespace hufpack
