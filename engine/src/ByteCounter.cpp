// Counting byte values: four interleaved tables per block, summed into 64-bit counts.

#include "ByteCounter.h"

#include "ByteOrder.h"

#include <limits>

namespace hufpack {

void ByteCounter::CountBlock(std::span<const std::uint8_t> block,
                             std::array<std::uint64_t, 256>& counts)
{
    // 32-bit counters are enough for one block; the sums go into the 64-bit totals.
    constexpr std::size_t kStep = std::size_t { 1 } << 30;
    while (!block.empty()) {
        const std::size_t size = std::min(block.size(), kStep);
        Tables tables {};
        const std::uint8_t* p = block.data();
        const std::uint8_t* const end = p + size;
        for (; end - p >= 8; p += 8) {
            CountWord(tables, LoadNative64(p));
        }
        for (; p < end; ++p)
            ++tables[0][*p];
        AddTables(tables, counts);
        block = block.subspan(size);
    }
}

bool ByteCounter::CountAll()
{
    for (auto chunk = m_stream.ReadChunk(); !chunk.empty(); chunk = m_stream.ReadChunk())
        CountBlock(chunk, m_counts);
    return !m_stream.Failed() && m_stream.Seek(0);
}

bool ByteCounter::NarrowCounts(const std::array<std::uint64_t, 256>& wide,
                               std::array<std::int32_t, 256>& counts)
{
    for (const std::uint64_t count : wide) {
        if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            return false;
    }
    for (int value = 0; value < 256; ++value)
        counts[value] = static_cast<std::int32_t>(wide[value]);
    return true;
}

} // namespace hufpack
