// The parallel decoder: the ring of slots that the workers and the calling thread share, and
// the calling thread finishing each chunk in order.

#include "decode/ChunkDecoder.h"

#include "sys/Memory.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <span>

namespace hufpack {

namespace {

// When this many chunks in a row had to be decoded again, the code does not fall in step here:
// the calling thread decodes the rest alone.
constexpr int kGiveUpAfter = 3;

} // namespace

ChunkDecoder::ChunkDecoder(const DecodeTable& table, const ByteSource& source,
                           std::int64_t streamOffset, std::int64_t totalBits, ByteSink& out,
                           const Options& options)
    : m_table(table), m_source(source), m_streamOffset(streamOffset),
      m_totalBits(std::max<std::int64_t>(totalBits, 0)), m_out(out), m_options(options)
{
}

ChunkDecoder::~ChunkDecoder()
{
    StopWorkers();
}

// The slots for the plan, the calling thread's workspace and its steps: false when memory is
// short, with nothing kept.
bool ChunkDecoder::Allocate(int slots)
{
    m_slots = TryNew<ChunkSlot>(static_cast<std::size_t>(slots));
    m_steps = TryNew<std::uint8_t>(m_plan.stepCapacity);
    bool made = m_slots && m_steps
        && m_arena.Reserve(static_cast<std::size_t>(slots) * ChunkSlot::ArenaBytes(m_plan));
    for (int i = 0; made && i < slots; ++i)
        made = m_slots[i].Allocate(m_plan, m_arena);
    if (!made) {
        m_slots.reset();
        m_steps.reset();
        m_arena.Release();
        return false;
    }
    m_slotCount = slots;
    return true;
}

// Workers beside the calling thread, each with a workspace of its own made before it starts:
// the loop a worker runs allocates nothing, so none can fail part-way and leave its chunks
// undecoded. Fewer start where memory or threads are short.
void ChunkDecoder::StartWorkers(int workers)
{
    m_workspaces = TryNew<decode::Workspace>(static_cast<std::size_t>(workers) + 1);
    if (!m_workspaces) {
        m_workspaces = TryNew<decode::Workspace>(1);
        workers = 0;
    }
    if (!m_workspaces)
        return;
    m_workspaceCount = workers + 1;
    for (int i = 0; i < m_workspaceCount; ++i)
        m_workspaces[i].Load(m_table);
    if (workers > 0)
        m_workers.Start(workers, [this](int worker) { Work(m_workspaces[worker]); });
}

void ChunkDecoder::StopWorkers()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_freed.notify_all();
    m_workers.Join();
}

// How the stream is cut and how many decode it: chunks decoded ahead on every thread the job
// has, from guessed starts, when there are two chunks at least and memory for their slots;
// otherwise one slot, decoded in order on the calling thread. False when not even that much
// memory can be had.
bool ChunkDecoder::Plan()
{
    // The calling thread decodes groups too whenever the next chunk to write is not ready, so
    // it counts among the threads.
    m_workerCount = std::clamp(m_options.threads, 1, kMaxThreads) - 1;
    // Room for every decoder's group and as many decoded ones waiting to be written.
    int slots = 2 * (m_workerCount + 1) * kStreamsPerWorker;
    bool guess = m_options.guess;
    if (guess) {
        m_plan = ChunkPlan::For(m_table, m_totalBits, slots, m_options.chunkBits,
                                m_options.checkpointBits);
        guess = m_plan.chunks >= 2;
    }
    if (guess && Allocate(slots))
        return true;
    m_workerCount = 0;
    slots = 1;
    m_plan = ChunkPlan::For(m_table, m_totalBits, slots, m_options.chunkBits,
                            m_options.checkpointBits);
    return Allocate(slots);
}

Status ChunkDecoder::Run(WideCounts& written)
{
    if (m_totalBits == 0)
        return {};
    if (!Plan())
        return Status::Fail(JobResult::CannotOpen, JobFile::None, ENOMEM);
    m_guessing = m_slotCount > 1;
    StartWorkers(m_workerCount);
    if (!m_workspaces)
        return Status::Fail(JobResult::CannotOpen, JobFile::None, ENOMEM);
    m_stats = {};
    m_stats.workers = m_workers.Count();
    m_stats.chunks = m_plan.chunks;
    m_stats.chunkBits = m_plan.chunkBits;
    m_stats.bufferBytes
        = m_slotCount * static_cast<std::int64_t>(m_plan.inputCapacity + m_plan.outputCapacity);

    for (std::int64_t index = 0; index < m_plan.chunks; ++index) {
        ChunkSlot& slot = m_slots[index % m_slotCount];
        bool mine = false;
        if (!AwaitChunk(index, slot)) {
            if (Over())
                break;
            mine = true;
        }
        if (mine) {
            ++m_stats.decodedAlone;
            slot.Prepare(m_plan, index, m_totalBits);
            if (m_position < slot.endBit) {
                if (ReadInput(slot))
                    DecodeExactly(slot, m_position);
                else
                    Fail(slot.readError);
            }
        } else {
            FinishChunk(slot);
        }
        // Every byte up to this chunk's end is written now, m_written of them: the one place to
        // tell anyone how far the job has come, once per chunk.
        if (m_options.progress) {
            if (!m_options.progress->Add(m_written - m_reported))
                Cancel();
            m_reported = m_written;
        }
        const bool stop = Over() || m_decodedAgainInARow >= kGiveUpAfter;
        {
            const std::lock_guard lock(m_mutex);
            slot.decoded = false;
            m_finished = index + 1;
            m_stop = m_stop || stop;
        }
        m_freed.notify_all();
    }
    StopWorkers();
    if (!m_status.Ok())
        return m_status;
    FinishStream(written);
    return {};
}

// Waits until chunk `index` has been decoded ahead, decoding the next groups meanwhile rather than
// waiting idle, as long as anybody may take it: true when it is ready to be finished, false when
// nobody will take it (there are no workers, they were stopped, or the job is over) and the
// calling thread is to decode it itself, which it then has taken.
bool ChunkDecoder::AwaitChunk(std::int64_t index, ChunkSlot& slot)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        const bool taken = index < m_nextChunk;
        const bool nobodyWillDecodeIt = m_stop || !m_guessing;
        if (taken ? slot.decoded : nobodyWillDecodeIt)
            break;
        // Rather than wait, decode the next group here: a worker busy with this chunk finishes
        // meanwhile, and the job's threads never outnumber its processors. Without workers,
        // this is where every group is decoded.
        std::array<ChunkSlot*, decode::kMaxStreams> group {};
        if (const int count = TakeGroup(group); count > 0) {
            lock.unlock();
            DecodeGroup(group.data(), count, m_workspaces[0]);
            lock.lock();
            continue;
        }
        if (m_workers.Count() == 0 && !taken)
            break;
        m_decoded.wait(lock);
    }
    if (index < m_nextChunk)
        return true;
    if (!Over())
        m_nextChunk = index + 1;
    return false;
}

// Every byte value's count, of the bytes written: what the decoders wrote, less what they
// decoded ahead and was dropped.
void ChunkDecoder::FinishStream(WideCounts& written)
{
    WideCounts decoded {};
    for (int i = 0; i < m_workspaceCount; ++i)
        m_workspaces[i].AddTo(decoded);
    for (int value = 0; value < 256; ++value)
        written[value] += decoded[value] - m_dropped[value];
}

bool ChunkDecoder::ReadInput(ChunkSlot& slot) const
{
    return slot.ReadInput(m_plan, m_table.LongestCode(), m_source, m_streamOffset, m_totalBits);
}

// Under m_mutex: takes the next few chunks, up to kStreamsPerWorker, when all of their slots are
// free, for one decoder to decode side by side. 0 when there are none to take now, none left, or
// the decoders are to stop.
int ChunkDecoder::TakeGroup(std::array<ChunkSlot*, decode::kMaxStreams>& group)
{
    const auto count
        = static_cast<int>(std::min<std::int64_t>(kStreamsPerWorker, m_plan.chunks - m_nextChunk));
    if (m_stop || count <= 0 || m_nextChunk + count > m_finished + m_slotCount)
        return 0;
    for (int k = 0; k < count; ++k) {
        group[k] = &m_slots[m_nextChunk % m_slotCount];
        group[k]->index = m_nextChunk++;
    }
    return count;
}

// Decodes a group taken by TakeGroup from its chunks' first bits, outside the lock, and hands
// it to the calling thread.
void ChunkDecoder::DecodeGroup(ChunkSlot* const* group, int count, decode::Workspace& workspace)
{
    std::array<ChunkJob, decode::kMaxStreams> jobs {};
    int running = 0;
    for (int k = 0; k < count; ++k) {
        ChunkSlot& slot = *group[k];
        slot.Prepare(m_plan, slot.index, m_totalBits);
        if (ReadInput(slot))
            m_decoding.StartGuessing(jobs[running++], slot);
    }
    m_decoding.Decode(jobs.data(), running, workspace);
    {
        const std::lock_guard lock(m_mutex);
        for (int k = 0; k < count; ++k)
            group[k]->decoded = true;
    }
    m_decoded.notify_all();
}

// A worker: decodes group after group until there are none left or the decoders are to stop.
void ChunkDecoder::Work(decode::Workspace& workspace)
{
    for (;;) {
        std::array<ChunkSlot*, decode::kMaxStreams> group {};
        int count = 0;
        {
            std::unique_lock lock(m_mutex);
            m_freed.wait(lock, [&] {
                count = TakeGroup(group);
                return count > 0 || m_stop || m_nextChunk >= m_plan.chunks;
            });
        }
        if (count == 0)
            return;
        DecodeGroup(group.data(), count, workspace);
    }
}

void ChunkDecoder::Fail(int error)
{
    if (m_status.Ok())
        m_status = Status::Fail(JobResult::CannotOpen, JobFile::Source, error,
                                error == 0 ? Reason::ChangedWhileRead : Reason::None);
}

void ChunkDecoder::Cancel()
{
    if (m_status.Ok())
        m_status = Status::Fail(JobResult::CannotOpen, JobFile::None, 0, Reason::Cancelled);
}

// The calling thread's part for a chunk a worker decoded: falls in step with it, or decodes it
// again, and writes its bytes. It knows exactly where the true decoding stands at the start of
// the chunk (the first code boundary at or past it), and decodes from there one code at a time
// until it stands on one of the chunk's checkpoints: from there on the chunk's bytes are exact,
// and everything its decoder wrote before is dropped.
void ChunkDecoder::FinishChunk(ChunkSlot& slot)
{
    if (slot.readFailed)
        Fail(slot.readError);
    if (Over() || m_position >= slot.endBit) {
        Drop(slot.OutBegin(), slot.outCount);
        return;
    }
    // From the true position, one code at a time, until it is one of the chunk's checkpoints.
    const BitView view = slot.View();
    std::int64_t position = m_position;
    std::size_t steps = 0;
    int mark = 0;
    bool inStep = false;
    for (;;) {
        while (mark < slot.marks && slot.MarkPosition(mark) < position)
            ++mark;
        if (mark == slot.marks)
            break;
        if (slot.MarkPosition(mark) == position) {
            inStep = true;
            break;
        }
        const DecodeTable::Code code = m_table.DecodeOne(view, position, m_totalBits);
        if (code.length == 0) {
            m_ended = true;
            break;
        }
        assert(steps < m_plan.stepCapacity);
        m_steps[steps++] = code.symbol;
        m_workspaces[0].Add(code.symbol);
        position += code.length;
    }
    m_stats.stepBits += position - m_position;

    if (inStep) {
        // Its bytes before the checkpoint came from a decoder not yet in step.
        const auto skipped = static_cast<std::size_t>(slot.markOuts[mark] - slot.OutBegin());
        Drop(slot.OutBegin(), skipped);
        std::uint8_t* begin = slot.OutBegin() + skipped;
        if (steps <= skipped + kLead) {
            begin -= steps;
            std::memcpy(begin, m_steps.get(), steps);
        } else {
            Write(m_steps.get(), steps);
        }
        Write(begin, static_cast<std::size_t>(slot.OutBegin() + slot.outCount - begin));
        m_position = slot.endPosition;
        m_ended = slot.streamEnded;
        ++m_stats.synchronised;
        m_decodedAgainInARow = 0;
        return;
    }
    Drop(slot.OutBegin(), slot.outCount);
    Write(m_steps.get(), steps);
    m_position = position;
    if (m_ended)
        return;
    ++m_stats.decodedAgain;
    ++m_decodedAgainInARow;
    DecodeExactly(slot, position);
}

// Decodes the chunk from `start`, a true code boundary inside it, and writes its bytes.
void ChunkDecoder::DecodeExactly(ChunkSlot& slot, std::int64_t start)
{
    ChunkJob job;
    m_decoding.StartAt(job, slot, start);
    m_decoding.Decode(&job, 1, m_workspaces[0]);
    Write(slot.OutBegin(), slot.outCount);
    m_position = slot.endPosition;
    m_ended = slot.streamEnded;
}

void ChunkDecoder::Drop(const std::uint8_t* bytes, std::size_t count)
{
    CountBlock(std::span(bytes, count), m_dropped);
}

// Every byte of output leaves here, in order; m_written is the count so far.
void ChunkDecoder::Write(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0)
        return;
    m_out.Write(bytes, count);
    m_written += static_cast<std::int64_t>(count);
}

} // namespace hufpack
