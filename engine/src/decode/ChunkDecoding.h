#pragma once

// Decoding chunks: up to kStreamsPerWorker chunks in one loop, each from its chunk's first bit,
// without knowing whether a code starts there, noting where it stood at every round of its first
// stretch (a checkpoint: a code boundary of its own and how many bytes it had written); and one
// chunk decoded exactly, from a true code boundary. The end of the stream follows the bit-by-bit
// walk: a code that the last bit leaves unfinished is dropped, and bits past the end are never
// decoded.

#include "decode/ChunkPlan.h"
#include "decode/ChunkSlot.h"
#include "decode/DecodeKernel.h"
#include "decode/DecodeTable.h"

#include <cstdint>

namespace hufpack {

class ChunkDecoding
{
public:
    ChunkDecoding(const DecodeTable& table, const ChunkPlan& plan, std::int64_t totalBits,
                  ProcessorBuild build)
        : m_table(table), m_kernel(decode::KernelFor(build)), m_plan(plan), m_totalBits(totalBits)
    {
    }

    // Sets `job` up to decode its slot's chunk, whose input has been read, from its first bit,
    // with checkpoints.
    void StartGuessing(ChunkJob& job, ChunkSlot& slot) const;
    // Sets `job` up to decode its slot's chunk from `position`, a code boundary inside it.
    void StartAt(ChunkJob& job, ChunkSlot& slot, std::int64_t position) const;
    // Runs the jobs' decoders to their chunks' ends, side by side while they can, and leaves in
    // each slot its bytes, its checkpoints and where its decoder stopped.
    void Decode(ChunkJob* jobs, int count, decode::Workspace& workspace) const;

private:
    void Seek(ChunkJob& job, std::int64_t position) const;
    [[nodiscard]] std::int64_t PositionOf(const ChunkJob& job) const;
    void StepCarefully(ChunkJob& job, decode::Workspace& workspace) const;
    void SubstituteBytes(ChunkJob& job, decode::Workspace& workspace) const;
    void Finish(ChunkJob& job, decode::Workspace& workspace) const;

    const DecodeTable& m_table;
    const decode::Kernel& m_kernel;
    const ChunkPlan& m_plan;
    const std::int64_t m_totalBits;
};

} // namespace hufpack
