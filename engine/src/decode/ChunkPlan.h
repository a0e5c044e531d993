#pragma once

// How the parallel decoder cuts a stream: the chunks, the stretch of each that its checkpoints
// cover, and the size of each slot's buffers, within a fixed memory budget whatever the stream's
// size.

#include "decode/DecodeTable.h"

#include <cstddef>
#include <cstdint>

namespace hufpack {

// Chunks a worker decodes side by side in one loop.
inline constexpr int kStreamsPerWorker = 4;
// Room before each chunk's output, where the bytes decoded to fall in step go, so that they and
// the chunk's bytes leave in one write.
inline constexpr std::size_t kLead = 64;

struct ChunkPlan
{
    std::int64_t chunkBits = 0; // a multiple of the codes' length gcd
    std::int64_t chunks = 0;
    std::int64_t markBits = 0; // how far into each chunk its checkpoints reach
    int markCapacity = 0;
    std::size_t inputCapacity = 0; // of each slot
    std::size_t outputCapacity = 0; // of each slot, kLead included
    std::size_t stepCapacity = 0; // bytes decoded one code at a time to fall in step

    // The plan for `totalBits` bits decoded through `slots` slots; `chunkBits` and
    // `checkpointBits` 0 choose.
    [[nodiscard]] static ChunkPlan For(const DecodeTable& table, std::int64_t totalBits, int slots,
                                       std::int64_t chunkBits, std::int64_t checkpointBits);
};

} // namespace hufpack
