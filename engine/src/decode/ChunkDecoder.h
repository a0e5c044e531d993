#pragma once

// Decodes one bit stream on all processors (cores), and writes exactly what a walk of the tree
// one bit at a time writes.
//
// The stream has no restart points, but its codes fall back in step: a decoder started at any
// bit where a code may start (a multiple of the code lengths' greatest common divisor) soon
// stands on a true code boundary, after a few dozen bits as a rule, and from there it decodes
// exactly what the true decoder does. So the stream is cut into chunks, and worker threads
// decode their chunks from the chunk's first bit without knowing whether a code starts there,
// each thread a few chunks interleaved in one loop. Each chunk's decoder notes where it stood at
// every round of its first stretch (a checkpoint: a code boundary of its own and how many bytes
// it had written).
//
// The calling thread finishes the chunks in order, and while the next one is not ready it
// decodes the next group of chunks itself, as a worker would. It knows exactly where the true
// decoding stands at the start of the next chunk (the first code boundary at or past it), and
// decodes from there one code at a time until it stands on one of that chunk's checkpoints: from
// there on the chunk's bytes are exact, and everything it wrote before is dropped. It writes the
// bytes it decoded itself and then the chunk's, and takes the chunk decoder's end as the true
// position for the next chunk. A chunk that never falls in step within its checkpoints is decoded
// again, exactly, from where the true decoding stands; when that happens to most chunks (codes that
// never fall in step exist), the calling thread decodes the rest of the stream alone.
//
// Memory is a fixed set of slots, each holding one chunk's input and output: a chunk is
// decoded only once the chunk as many places before it has been written, whatever the stream's
// size. The end of the stream follows the bit-by-bit walk: a code that the last bit leaves
// unfinished is dropped, and bits past the end are never decoded.

#include "decode/ChunkDecoding.h"
#include "decode/ChunkPlan.h"
#include "decode/ChunkSlot.h"
#include "decode/DecodeKernel.h"
#include "decode/DecodeTable.h"
#include "format/Counts.h"
#include "hufpack/JobResult.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/Memory.h"
#include "sys/Processor.h"
#include "sys/Progress.h"
#include "sys/Threads.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace hufpack {

class ChunkDecoder
{
public:
    struct Options
    {
        // Threads in all, the calling thread's included, which decodes beside its workers; with
        // 1 the calling thread decodes a few chunks side by side itself.
        int threads = 1;
        // The build of the decoding loops.
        ProcessorBuild build = ChosenBuild();
        // False: one code after another from the stream's start, on the calling thread, with no
        // chunk guessed ahead (and no workers).
        bool guess = true;
        // Bits per chunk, rounded up to where codes may start; 0 chooses from the code.
        std::int64_t chunkBits = 0;
        // Bits of each chunk's first stretch that its checkpoints cover; 0 chooses.
        std::int64_t checkpointBits = 0;
        Progress* progress = nullptr; // where the bytes written are added, chunk by chunk
    };

    // `totalBits` bits from byte `streamOffset` of `source` on, every byte of which it holds;
    // the decoded bytes go to `out`, in order.
    ChunkDecoder(const DecodeTable& table, const ByteSource& source, std::int64_t streamOffset,
                 std::int64_t totalBits, ByteSink& out, const Options& options);
    ~ChunkDecoder();
    ChunkDecoder(const ChunkDecoder&) = delete;
    ChunkDecoder& operator=(const ChunkDecoder&) = delete;

    // Decodes the whole stream and adds how often each byte value was written to `written`.
    // Fails when the source cannot be read or cut short, or no memory can be had; a failing
    // destination shows in `out`'s state.
    [[nodiscard]] Status Run(WideCounts& written);

    // What the last Run did, for tests and measurements.
    struct Statistics
    {
        int workers = 0;
        std::int64_t chunks = 0;
        std::int64_t chunkBits = 0;
        std::int64_t bufferBytes = 0; // every slot's input and output, held for the whole run
        std::int64_t synchronised = 0; // chunks whose worker's bytes were written
        std::int64_t decodedAgain = 0; // chunks that never fell in step
        std::int64_t decodedAlone = 0; // chunks that no worker took
        std::int64_t stepBits = 0; // bits decoded one code at a time to fall in step
    };
    [[nodiscard]] const Statistics& Stats() const { return m_stats; }

private:
    [[nodiscard]] bool Plan();
    [[nodiscard]] bool Allocate(int slots);
    [[nodiscard]] bool AwaitChunk(std::int64_t index, ChunkSlot& slot);
    void FinishStream(WideCounts& written);
    void StartWorkers(int workers);
    void StopWorkers();
    void Work(decode::Workspace& workspace);
    [[nodiscard]] int TakeGroup(std::array<ChunkSlot*, decode::kMaxStreams>& group);
    void DecodeGroup(ChunkSlot* const* group, int count, decode::Workspace& workspace);
    [[nodiscard]] bool ReadInput(ChunkSlot& slot) const;

    void FinishChunk(ChunkSlot& slot);
    void Fail(int error);
    // The job's progress callback asked to stop.
    void Cancel();
    // Nothing more is to be written: the stream has ended, or reading or writing failed.
    [[nodiscard]] bool Over() const { return m_ended || !m_status.Ok() || m_out.Failed(); }
    void DecodeExactly(ChunkSlot& slot, std::int64_t start);
    void Drop(const std::uint8_t* bytes, std::size_t count);
    void Write(const std::uint8_t* bytes, std::size_t count);

    const DecodeTable& m_table;
    const ByteSource& m_source;
    const std::int64_t m_streamOffset;
    const std::int64_t m_totalBits;
    ByteSink& m_out;
    Options m_options;
    ChunkPlan m_plan;
    ChunkDecoding m_decoding { m_table, m_plan, m_totalBits, m_options.build };
    int m_workerCount = 0; // as planned
    BufferArena m_arena; // the slots' inputs and outputs
    bool m_guessing = false; // chunks are decoded ahead, from guessed starts
    std::unique_ptr<ChunkSlot[]> m_slots;
    std::int64_t m_slotCount = 0;

    // Shared with the workers, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_decoded; // a chunk has been decoded
    std::condition_variable m_freed; // a slot has been freed, or the workers are to stop
    std::int64_t m_nextChunk = 0; // the first chunk nobody has taken
    std::int64_t m_finished = 0; // chunks written (or dropped) in order
    bool m_stop = false;
    WorkerThreads m_workers;
    std::unique_ptr<decode::Workspace[]> m_workspaces; // one a worker, the calling thread's first
    int m_workspaceCount = 0;

    // The calling thread's own: where the true decoding stands.
    std::int64_t m_position = 0;
    bool m_ended = false;
    Status m_status;
    std::int64_t m_decodedAgainInARow = 0;
    std::unique_ptr<std::uint8_t[]> m_steps; // bytes decoded one code at a time
    WideCounts m_dropped {}; // decoded but not written
    std::int64_t m_written = 0;
    std::int64_t m_reported = 0; // of m_written, what the progress has been told
    Statistics m_stats;
};

} // namespace hufpack
