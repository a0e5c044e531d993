// A slot's buffers, and reading a chunk's bytes into them.

#include "decode/ChunkSlot.h"

#include "sys/Memory.h"
#include "sys/SystemIo.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

namespace hufpack {

std::size_t ChunkSlot::ArenaBytes(const ChunkPlan& plan)
{
    return BufferArena::RoomFor(plan.inputCapacity) + BufferArena::RoomFor(plan.outputCapacity);
}

bool ChunkSlot::Allocate(const ChunkPlan& plan, BufferArena& arena)
{
    const auto marks = static_cast<std::size_t>(plan.markCapacity);
    input = arena.Take(plan.inputCapacity);
    output = arena.Take(plan.outputCapacity);
    markPositions = TryNew<std::uint64_t>(marks);
    markOuts = TryNew<std::uint8_t*>(marks);
    if (input && output && markPositions && markOuts)
        return true;
    input = output = nullptr;
    markPositions.reset();
    markOuts.reset();
    return false;
}

void ChunkSlot::Prepare(const ChunkPlan& plan, std::int64_t chunk, std::int64_t totalBits)
{
    index = chunk;
    firstBit = chunk * plan.chunkBits;
    endBit = std::min(totalBits, firstBit + plan.chunkBits);
    inputFirstBit = firstBit / 8 * 8;
    outCount = 0;
    marks = 0;
    endPosition = firstBit;
    streamEnded = false;
    readFailed = false;
    readError = 0;
}

bool ChunkSlot::ReadInput(const ChunkPlan& plan, int longestCode, const ByteSource& source,
                          std::int64_t streamOffset, std::int64_t totalBits)
{
    readFailed = true;
    const std::int64_t streamBytes = (totalBits + 7) / 8;
    const std::int64_t first = inputFirstBit / 8;
    const std::int64_t end = std::min(streamBytes, (endBit + longestCode + 7) / 8 + 1);
    const auto size = static_cast<std::size_t>(end - first);
    assert(size + decode::kInputSlack <= plan.inputCapacity);
    (void)plan;
    // Past the stream's last byte the input reads as zeros; its bits are never decoded.
    std::memset(input + size, 0, decode::kInputSlack);
    const std::int64_t got = source.ReadAt(input, size, streamOffset + first);
    if (got != static_cast<std::int64_t>(size)) {
        readError = got < 0 ? errno : 0;
        return false;
    }
    readFailed = false;
    return true;
}

} // namespace hufpack
