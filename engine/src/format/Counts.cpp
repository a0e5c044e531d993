// Counting byte values, and what the counts say about the table.

#include "format/Counts.h"

#include "format/ByteOrder.h"

#include <algorithm>
#include <limits>

namespace hufpack {

namespace {

constexpr std::uint16_t kEntrySize = 5;

} // namespace

int EntriesOf(const Counts& counts)
{
    return static_cast<int>(
        std::count_if(counts.begin(), counts.end(), [](std::int32_t count) { return count > 0; }));
}

std::uint16_t TableSizeOf(const Counts& counts)
{
    return static_cast<std::uint16_t>(kEntrySize * EntriesOf(counts));
}

std::int64_t OriginalBytes(const Counts& counts)
{
    std::int64_t bytes = 0;
    for (const std::int32_t count : counts)
        bytes += count > 0 ? count : 0;
    return bytes;
}

bool NarrowCounts(const WideCounts& wide, Counts& counts)
{
    for (const std::uint64_t count : wide) {
        if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            return false;
    }
    for (int value = 0; value < 256; ++value)
        counts[value] = static_cast<std::int32_t>(wide[value]);
    return true;
}

void CountBlock(std::span<const std::uint8_t> block, WideCounts& counts)
{
    // 32-bit counters are enough for a step; the sums go into the 64-bit totals.
    constexpr std::size_t kStep = std::size_t { 1 } << 30;
    while (!block.empty()) {
        const std::size_t size = std::min(block.size(), kStep);
        CountTables tables {};
        const std::uint8_t* p = block.data();
        const std::uint8_t* const end = p + size;
        for (; end - p >= 8; p += 8)
            CountWord(tables, LoadNative64(p));
        for (; p < end; ++p)
            ++tables[0][*p];
        AddTables(tables, counts);
        block = block.subspan(size);
    }
}

} // namespace hufpack
