#pragma once

// One slot of the parallel decoder: a chunk's input, its output, and the checkpoints its
// decoder noted; and a chunk's decoder while it runs.

#include "decode/ChunkPlan.h"
#include "decode/DecodeKernel.h"
#include "sys/ByteSource.h"
#include "sys/Memory.h"

#include <cstdint>
#include <memory>

namespace hufpack {

struct ChunkSlot
{
    std::int64_t index = -1;
    std::int64_t firstBit = 0; // the chunk's bits: [firstBit, endBit)
    std::int64_t endBit = 0;
    std::int64_t inputFirstBit = 0; // the bit input[0] starts with
    // In the decoder's arena.
    std::uint8_t* input = nullptr;
    std::uint8_t* output = nullptr;
    std::size_t outCount = 0;
    std::unique_ptr<std::uint64_t[]> markPositions;
    std::unique_ptr<std::uint8_t*[]> markOuts;
    int marks = 0;
    // Where its decoder stopped: the first code boundary at or past endBit, or the end of the
    // stream inside a code.
    std::int64_t endPosition = 0;
    bool streamEnded = false;
    bool readFailed = false;
    int readError = 0; // the system's error number of a failed read; 0 for a file cut short
    bool decoded = false; // under the decoder's lock

    // The room in an arena for the buffers of one slot for `plan`.
    [[nodiscard]] static std::size_t ArenaBytes(const ChunkPlan& plan);
    // Makes the buffers for `plan`, taking its input and output from `arena`; false, with
    // nothing kept, when memory is short.
    [[nodiscard]] bool Allocate(const ChunkPlan& plan, BufferArena& arena);
    // Makes it the slot of chunk `chunk`, nothing read yet.
    void Prepare(const ChunkPlan& plan, std::int64_t chunk, std::int64_t totalBits);
    // Reads the chunk's bytes, as far as the end of the code that crosses its end, from the stream
    // at `streamOffset` of `source`. False, with readError, when the read failed.
    [[nodiscard]] bool ReadInput(const ChunkPlan& plan, int longestCode, const ByteSource& source,
                                 std::int64_t streamOffset, std::int64_t totalBits);

    [[nodiscard]] std::uint8_t* OutBegin() const { return output + kLead; }
    [[nodiscard]] BitView View() const { return { input, inputFirstBit }; }
    [[nodiscard]] std::int64_t MarkPosition(int mark) const
    {
        return inputFirstBit
            + static_cast<std::int64_t>(markPositions[mark]
                                        - (reinterpret_cast<std::uintptr_t>(input) << 3));
    }
};

// One chunk's decoder while it runs: first with checkpoints, then plain rounds, then one code at
// a time up to the chunk's end.
struct ChunkJob
{
    enum class Phase { Marking, Rounds, Finishing };

    ChunkSlot* slot = nullptr;
    decode::Stream stream;
    decode::Checkpoints marks;
    Phase phase = Phase::Rounds;
    const std::uint8_t* markLimit = nullptr;
    const std::uint8_t* roundLimit = nullptr;
    bool ended = false;
};

} // namespace hufpack
