// The parallel decoder: the plan of chunks and slots, the workers' decoding, and the calling
// thread finishing each chunk in order.

#include "decode/ChunkDecoder.h"

#include "format/Counts.h"
#include "format/ByteOrder.h"
#include "sys/SystemIo.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>
#include <span>

namespace hufpack {

namespace {

// Chunks a worker decodes side by side in one loop.
constexpr int kStreamsPerWorker = 3;
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
// Room before each chunk's output, where the bytes decoded to fall in step go, so that they and
// the chunk's bytes leave in one write.
constexpr std::size_t kLead = 64;
// When this many chunks in a row had to be decoded again, the code does not fall in step here:
// the calling thread decodes the rest alone.
constexpr int kGiveUpAfter = 3;

std::int64_t RoundUp(std::int64_t value, std::int64_t step)
{
    return (value + step - 1) / step * step;
}

} // namespace

struct ChunkDecoder::Slot
{
    std::int64_t index = -1;
    std::int64_t firstBit = 0; // the chunk's bits: [firstBit, endBit)
    std::int64_t endBit = 0;
    std::int64_t inputFirstBit = 0; // the bit input[0] starts with
    std::unique_ptr<std::uint8_t[]> input;
    std::unique_ptr<std::uint8_t[]> output;
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
    bool decoded = false; // under m_mutex

    [[nodiscard]] std::uint8_t* OutBegin() const { return output.get() + kLead; }
    [[nodiscard]] BitView View() const { return { input.get(), inputFirstBit }; }
    [[nodiscard]] std::int64_t MarkPosition(int mark) const
    {
        return inputFirstBit
            + static_cast<std::int64_t>(markPositions[mark]
                                        - (reinterpret_cast<std::uintptr_t>(input.get()) << 3));
    }
};

// One chunk's decoder while it runs: first with checkpoints, then plain rounds, then one code at
// a time up to the chunk's end.
struct ChunkDecoder::Job
{
    enum class Phase { Marking, Rounds, Finishing };

    Slot* slot = nullptr;
    decode::Stream stream;
    decode::Checkpoints marks;
    Phase phase = Phase::Rounds;
    const std::uint8_t* markLimit = nullptr;
    const std::uint8_t* roundLimit = nullptr;
    bool ended = false;
};

ChunkDecoder::ChunkDecoder(const DecodeTable& table, int sourceFd, std::int64_t streamOffset,
                           std::int64_t totalBits, FileStream& out, const Options& options)
    : m_table(table), m_kernel(options.kernel ? *options.kernel : decode::KernelForThisProcessor()),
      m_sourceFd(sourceFd), m_streamOffset(streamOffset),
      m_totalBits(std::max<std::int64_t>(totalBits, 0)), m_out(out), m_options(options)
{
}

// Sizes the chunks so that `slots` slots fit the memory budget, and the buffers to match.
void ChunkDecoder::Plan(int slots)
{
    const int step = m_table.LengthGcd();
    const int shortest = m_table.ShortestCode();
    std::int64_t chunkBits = m_options.chunkBits;
    if (chunkBits <= 0) {
        // A chunk takes a byte of input per 8 bits and at most a byte of output per `shortest`.
        const std::int64_t perSlot = kBufferBytes / slots;
        chunkBits = std::min(kChunkOutputBytes * shortest, perSlot * 8 * shortest / (8 + shortest));
    }
    // Chunks start where codes may: a decoder started elsewhere would never fall in step.
    chunkBits
        = std::min(RoundUp(chunkBits, step), RoundUp(std::max<std::int64_t>(m_totalBits, 1), step));
    m_chunkBits = chunkBits;
    m_chunks = (m_totalBits + chunkBits - 1) / chunkBits;
    m_markBits = std::min(m_options.checkpointBits > 0 ? m_options.checkpointBits : kCheckpointBits,
                          chunkBits);
    m_markCapacity = static_cast<int>(m_markBits / kBitsPerCheckpoint) + 2;
    // A chunk's decoder reads as far as the end of the code that crosses its end.
    m_inputCapacity = static_cast<std::size_t>((chunkBits + m_table.LongestCode()) / 8 + 4
                                               + decode::kInputSlack);
    // Every code takes at least `shortest` bits, and only codes that start inside the chunk are
    // decoded with it.
    m_outputCapacity
        = kLead + static_cast<std::size_t>(chunkBits / shortest + 2) + decode::kOutputSlack;
    m_stepCapacity = static_cast<std::size_t>((m_markBits + decode::kMaxRoundBits) / shortest + 16);
}

ChunkDecoder::~ChunkDecoder()
{
    StopWorkers();
}

bool ChunkDecoder::Allocate(int slots)
{
    try {
        m_slots = std::vector<Slot>(static_cast<std::size_t>(slots));
        for (Slot& slot : m_slots) {
            slot.input = std::make_unique_for_overwrite<std::uint8_t[]>(m_inputCapacity);
            slot.output = std::make_unique_for_overwrite<std::uint8_t[]>(m_outputCapacity);
            slot.markPositions = std::make_unique_for_overwrite<std::uint64_t[]>(
                static_cast<std::size_t>(m_markCapacity));
            slot.markOuts = std::make_unique_for_overwrite<std::uint8_t*[]>(
                static_cast<std::size_t>(m_markCapacity));
        }
        m_workspace = std::make_unique<decode::Workspace>(m_table);
        m_steps = std::make_unique_for_overwrite<std::uint8_t[]>(m_stepCapacity);
    } catch (const std::bad_alloc&) {
        m_slots.clear();
        return false;
    }
    return true;
}

void ChunkDecoder::StartWorkers(int workers)
{
    for (int worker = 0; worker < workers; ++worker) {
        try {
            m_workspaces.push_back(std::make_unique<decode::Workspace>(m_table));
            decode::Workspace& workspace = *m_workspaces.back();
            m_workers.emplace_back([this, &workspace] { Work(workspace); });
        } catch (const std::exception&) {
            // No more threads or memory: the ones there are take every chunk.
            if (m_workspaces.size() > m_workers.size())
                m_workspaces.pop_back();
            break;
        }
    }
}

void ChunkDecoder::StopWorkers()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_freed.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
    m_workers.clear();
}

JobResult ChunkDecoder::Run(std::array<std::uint64_t, 256>& written)
{
    if (m_totalBits == 0)
        return JobResult::Done;
    int workers = m_options.threads;
    if (workers < 0)
        workers = static_cast<int>(std::thread::hardware_concurrency());
    workers = std::clamp(workers, 0, kMaxWorkers);
    int slots = 2 * workers * kStreamsPerWorker;
    if (workers > 0) {
        Plan(slots);
        if (m_chunks < 2)
            workers = 0;
    }
    if (workers == 0) {
        slots = 1;
        Plan(slots);
    }
    if (!Allocate(slots)) {
        // Not enough memory to guess ahead: decode alone with one slot.
        workers = 0;
        Plan(1);
        if (!Allocate(1))
            throw std::bad_alloc(); // the job fails for want of memory, as any job does
    }
    if (workers > 0)
        StartWorkers(workers);
    m_stats = {};
    m_stats.workers = static_cast<int>(m_workers.size());
    m_stats.chunks = m_chunks;
    m_stats.chunkBits = m_chunkBits;
    m_stats.bufferBytes
        = static_cast<std::int64_t>(m_slots.size() * (m_inputCapacity + m_outputCapacity));

    const auto slotCount = static_cast<std::int64_t>(m_slots.size());
    for (std::int64_t index = 0; index < m_chunks; ++index) {
        Slot& slot = m_slots[static_cast<std::size_t>(index % slotCount)];
        bool mine = false;
        {
            std::unique_lock lock(m_mutex);
            m_decoded.wait(lock, [&] {
                return index < m_nextChunk ? slot.decoded : m_stop || m_workers.empty();
            });
            if (index >= m_nextChunk) {
                // Nobody will take it: there are no workers, or they were stopped.
                if (Over())
                    break;
                m_nextChunk = index + 1;
                mine = true;
            }
        }
        if (mine) {
            ++m_stats.decodedAlone;
            Prepare(slot, index);
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
            m_options.progress->Add(m_written - m_reported);
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
    if (m_failed)
        return JobResult::CannotOpen;

    std::array<std::uint64_t, 256> decoded {};
    m_workspace->AddTo(decoded);
    for (const auto& workspace : m_workspaces)
        workspace->AddTo(decoded);
    for (int value = 0; value < 256; ++value)
        written[value] += decoded[value] - m_dropped[value];
    return JobResult::Done;
}

void ChunkDecoder::Work(decode::Workspace& workspace)
{
    const auto slotCount = static_cast<std::int64_t>(m_slots.size());
    for (;;) {
        std::array<Slot*, decode::kMaxStreams> group {};
        int count = 0;
        {
            std::unique_lock lock(m_mutex);
            // A group takes its chunks only when all of their slots are free.
            m_freed.wait(lock, [&] {
                const std::int64_t wanted
                    = std::min<std::int64_t>(kStreamsPerWorker, m_chunks - m_nextChunk);
                return m_stop || wanted <= 0 || m_nextChunk + wanted <= m_finished + slotCount;
            });
            if (m_stop || m_nextChunk >= m_chunks)
                return;
            count = static_cast<int>(
                std::min<std::int64_t>(kStreamsPerWorker, m_chunks - m_nextChunk));
            for (int k = 0; k < count; ++k) {
                group[k] = &m_slots[static_cast<std::size_t>(m_nextChunk % slotCount)];
                group[k]->index = m_nextChunk++;
            }
        }
        std::array<Job, decode::kMaxStreams> jobs {};
        int running = 0;
        for (int k = 0; k < count; ++k) {
            Slot& slot = *group[k];
            Prepare(slot, slot.index);
            if (!ReadInput(slot))
                continue;
            Job& job = jobs[running++];
            job.slot = &slot;
            Seek(job, slot.firstBit);
            // The chunk's first bit is a checkpoint too, even when its first code is too long
            // for the rounds.
            slot.markPositions[0] = decode::AddressBits(
                job.stream.next, static_cast<std::uint64_t>(job.stream.bitCount));
            slot.markOuts[0] = job.stream.out;
            job.marks = { slot.markPositions.get(), slot.markOuts.get(), 1, m_markCapacity };
            const std::int64_t markEnd
                = std::min(slot.firstBit + m_markBits, slot.endBit - decode::kMaxRoundBits);
            if (markEnd >= slot.inputFirstBit) {
                job.markLimit = slot.input.get() + (markEnd - slot.inputFirstBit) / 8;
                job.phase = Job::Phase::Marking;
            }
        }
        DecodeStreams(jobs.data(), running, workspace);
        for (int k = 0; k < running; ++k)
            jobs[k].slot->marks = jobs[k].marks.count;
        {
            const std::lock_guard lock(m_mutex);
            for (int k = 0; k < count; ++k)
                group[k]->decoded = true;
        }
        m_decoded.notify_all();
    }
}

void ChunkDecoder::Prepare(Slot& slot, std::int64_t index) const
{
    slot.index = index;
    slot.firstBit = index * m_chunkBits;
    slot.endBit = std::min(m_totalBits, slot.firstBit + m_chunkBits);
    slot.inputFirstBit = slot.firstBit / 8 * 8;
    slot.outCount = 0;
    slot.marks = 0;
    slot.endPosition = slot.firstBit;
    slot.streamEnded = false;
    slot.readFailed = false;
    slot.readError = 0;
}

bool ChunkDecoder::ReadInput(Slot& slot) const
{
    slot.readFailed = true;
    const std::int64_t streamBytes = (m_totalBits + 7) / 8;
    const std::int64_t first = slot.inputFirstBit / 8;
    const std::int64_t end
        = std::min(streamBytes, (slot.endBit + m_table.LongestCode() + 7) / 8 + 1);
    const auto size = static_cast<std::size_t>(end - first);
    assert(size + decode::kInputSlack <= m_inputCapacity);
    // Past the stream's last byte the input reads as zeros; its bits are never decoded.
    std::memset(slot.input.get() + size, 0, decode::kInputSlack);
    const std::int64_t got = ReadAt(m_sourceFd, slot.input.get(), size, m_streamOffset + first);
    if (got != static_cast<std::int64_t>(size)) {
        slot.readError = got < 0 ? errno : 0;
        return false;
    }
    slot.readFailed = false;
    return true;
}

void ChunkDecoder::Fail(int error)
{
    if (!m_failed)
        m_error = error;
    m_failed = true;
}

void ChunkDecoder::Seek(Job& job, std::int64_t position) const
{
    const Slot& slot = *job.slot;
    const std::int64_t offset = position - slot.inputFirstBit;
    decode::Stream& stream = job.stream;
    stream.next = slot.input.get() + offset / 8;
    stream.bits = LoadBigEndian64(stream.next) << (offset % 8);
    stream.next += 7;
    stream.bitCount = 56 - static_cast<int>(offset % 8);
    if (!stream.out)
        stream.out = slot.OutBegin();
    job.roundLimit = nullptr;
    const std::int64_t roundEnd = slot.endBit - decode::kMaxRoundBits;
    if (roundEnd >= slot.inputFirstBit)
        job.roundLimit = slot.input.get() + (roundEnd - slot.inputFirstBit) / 8;
}

std::int64_t ChunkDecoder::PositionOf(const Job& job) const
{
    return job.slot->inputFirstBit + (job.stream.next - job.slot->input.get()) * 8
        - job.stream.bitCount;
}

// Runs the jobs' decoders to their chunks' ends, side by side while they can.
void ChunkDecoder::DecodeStreams(Job* jobs, int count, decode::Workspace& workspace) const
{
    if (m_table.EveryCodeIsAByte()) {
        for (int k = 0; k < count; ++k)
            SubstituteBytes(jobs[k], workspace);
    }
    for (;;) {
        std::array<Job*, decode::kMaxStreams> running {};
        std::array<decode::Stream, decode::kMaxStreams> streams {};
        std::array<decode::Checkpoints, decode::kMaxStreams> marks {};
        int n = 0;
        for (int k = 0; k < count; ++k) {
            Job& job = jobs[k];
            if (job.phase == Job::Phase::Marking
                && (job.stream.next > job.markLimit || job.marks.count >= job.marks.capacity))
                job.phase = Job::Phase::Rounds;
            if (job.phase == Job::Phase::Marking)
                running[n++] = &job;
        }
        const bool marking = n > 0;
        if (!marking) {
            for (int k = 0; k < count; ++k) {
                Job& job = jobs[k];
                if (job.phase == Job::Phase::Rounds
                    && (!job.roundLimit || job.stream.next > job.roundLimit))
                    job.phase = Job::Phase::Finishing;
                if (job.phase == Job::Phase::Rounds)
                    running[n++] = &job;
            }
        }
        if (n == 0)
            break;
        for (int k = 0; k < n; ++k) {
            streams[k] = running[k]->stream;
            streams[k].limit = marking ? running[k]->markLimit : running[k]->roundLimit;
            marks[k] = running[k]->marks;
        }
        m_kernel.rounds(m_table, streams.data(), n, workspace, marking ? marks.data() : nullptr);
        for (int k = 0; k < n; ++k) {
            running[k]->stream = streams[k];
            running[k]->marks = marks[k];
            StepCarefully(*running[k], workspace);
        }
    }
    for (int k = 0; k < count; ++k)
        Finish(jobs[k], workspace);
}

// Every code a byte: the job's chunk, from its position (a multiple of 8, as every chunk start
// is), is one symbol per byte up to its end; a last code cut by the stream's end is left for
// Finish to drop.
void ChunkDecoder::SubstituteBytes(Job& job, decode::Workspace& workspace) const
{
    const Slot& slot = *job.slot;
    const std::int64_t position = PositionOf(job);
    assert(position % 8 == 0);
    const std::int64_t codes = std::max<std::int64_t>(slot.endBit - position, 0) / 8;
    decode::SubstituteBytes(slot.input.get() + (position - slot.inputFirstBit) / 8,
                            static_cast<std::size_t>(codes), job.stream.out, m_table.ByteMap(),
                            workspace);
    job.stream.out += codes;
    Seek(job, position + 8 * codes);
    job.phase = Job::Phase::Finishing;
}

// Decodes the code at the job's position the careful way when it is too long for the rounds,
// which stop in front of such a code.
void ChunkDecoder::StepCarefully(Job& job, decode::Workspace& workspace) const
{
    const BitView view = job.slot->View();
    std::int64_t position = PositionOf(job);
    if (!m_table.NeedsCarefulStep(view.Peek(position)))
        return;
    const DecodeTable::Code code = m_table.DecodeOne(view, position, m_totalBits);
    if (code.length == 0) {
        job.ended = true;
        job.phase = Job::Phase::Finishing;
        return;
    }
    *job.stream.out++ = code.symbol;
    workspace.Add(code.symbol);
    position += code.length;
    Seek(job, position);
    if (position >= job.slot->endBit)
        job.phase = Job::Phase::Finishing;
}

// One code at a time from where the rounds stopped to the first code boundary at or past the
// chunk's end; a code that the stream's last bit leaves unfinished is dropped.
void ChunkDecoder::Finish(Job& job, decode::Workspace& workspace) const
{
    Slot& slot = *job.slot;
    const BitView view = slot.View();
    std::int64_t position = PositionOf(job);
    std::uint8_t* out = job.stream.out;
    while (!job.ended && position < slot.endBit) {
        const DecodeTable::Code code = m_table.DecodeOne(view, position, m_totalBits);
        if (code.length == 0) {
            job.ended = true;
            break;
        }
        *out++ = code.symbol;
        workspace.Add(code.symbol);
        position += code.length;
    }
    slot.outCount = static_cast<std::size_t>(out - slot.OutBegin());
    assert(slot.outCount + kLead + decode::kOutputSlack <= m_outputCapacity);
    slot.endPosition = position;
    slot.streamEnded = job.ended;
}

// The calling thread's part for a chunk a worker decoded: falls in step with it, or decodes it
// again, and writes its bytes.
void ChunkDecoder::FinishChunk(Slot& slot)
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
        assert(steps < m_stepCapacity);
        m_steps[steps++] = code.symbol;
        m_workspace->Add(code.symbol);
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
void ChunkDecoder::DecodeExactly(Slot& slot, std::int64_t start)
{
    assert(start >= slot.firstBit && start < slot.endBit);
    Job job;
    job.slot = &slot;
    Seek(job, start);
    DecodeStreams(&job, 1, *m_workspace);
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
