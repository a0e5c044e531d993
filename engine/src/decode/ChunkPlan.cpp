// Sizing the chunks and the slots.

#include "decode/ChunkPlan.h"

#include "decode/DecodeKernel.h"

#include <algorithm>

namespace hufpack {

namespace {

// A chunk holds at most this many bytes of output, whatever its codes: its bits are this many
// times the shortest code.
constexpr std::int64_t kChunkOutputBytes = std::int64_t { 256 } << 10;
// What all the slots together may hold, whatever the number of threads and the file's size.
constexpr std::int64_t kBufferBytes = std::int64_t { 8 } << 20;
// How far into each chunk its checkpoints reach. Decoders fall in step after a few dozen bits
// as a rule; past this the chunk is decoded again.
constexpr std::int64_t kCheckpointBits = 16384;
// A round takes a few bits at least, so this many checkpoints cover the stretch as a rule; a
// stretch of unusually short rounds ends sooner, and falls in step sooner too.
constexpr int kBitsPerCheckpoint = 16;

std::int64_t RoundUp(std::int64_t value, std::int64_t step)
{
    return (value + step - 1) / step * step;
}

} // namespace

ChunkPlan ChunkPlan::For(const DecodeTable& table, std::int64_t totalBits, int slots,
                         std::int64_t chunkBits, std::int64_t checkpointBits)
{
    const int step = table.LengthGcd();
    const int shortest = table.ShortestCode();
    if (chunkBits <= 0) {
        // A chunk takes a byte of input per 8 bits and at most a byte of output per `shortest`.
        const std::int64_t perSlot = kBufferBytes / slots;
        chunkBits = std::min(kChunkOutputBytes * shortest, perSlot * 8 * shortest / (8 + shortest));
    }
    ChunkPlan plan;
    // Chunks start where codes may: a decoder started elsewhere would never fall in step.
    plan.chunkBits
        = std::min(RoundUp(chunkBits, step), RoundUp(std::max<std::int64_t>(totalBits, 1), step));
    plan.chunks = (totalBits + plan.chunkBits - 1) / plan.chunkBits;
    plan.markBits = std::min(checkpointBits > 0 ? checkpointBits : kCheckpointBits, plan.chunkBits);
    plan.markCapacity = static_cast<int>(plan.markBits / kBitsPerCheckpoint) + 2;
    // A chunk's decoder reads as far as the end of the code that crosses its end.
    plan.inputCapacity = static_cast<std::size_t>((plan.chunkBits + table.LongestCode()) / 8 + 4
                                                  + decode::kInputSlack);
    // Every code takes at least `shortest` bits, and only codes that start inside the chunk are
    // decoded with it.
    plan.outputCapacity
        = kLead + static_cast<std::size_t>(plan.chunkBits / shortest + 2) + decode::kOutputSlack;
    plan.stepCapacity
        = static_cast<std::size_t>((plan.markBits + decode::kMaxRoundBits) / shortest + 16);
    return plan;
}

} // namespace hufpack
