// Decoding chunks, side by side or one exactly.

#include "decode/ChunkDecoding.h"

#include "format/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace hufpack {

void ChunkDecoding::StartGuessing(ChunkJob& job, ChunkSlot& slot) const
{
    job.slot = &slot;
    Seek(job, slot.firstBit);
    // The chunk's first bit is a checkpoint too, even when its first code is too long for the
    // rounds.
    slot.markPositions[0]
        = decode::AddressBits(job.stream.next, static_cast<std::uint64_t>(job.stream.bitCount));
    slot.markOuts[0] = job.stream.out;
    job.marks = { slot.markPositions.get(), slot.markOuts.get(), 1, m_plan.markCapacity };
    const std::int64_t markEnd
        = std::min(slot.firstBit + m_plan.markBits, slot.endBit - decode::kMaxRoundBits);
    if (markEnd >= slot.inputFirstBit) {
        job.markLimit = slot.input + (markEnd - slot.inputFirstBit) / 8;
        job.phase = ChunkJob::Phase::Marking;
    }
}

void ChunkDecoding::StartAt(ChunkJob& job, ChunkSlot& slot, std::int64_t position) const
{
    assert(position >= slot.firstBit && position < slot.endBit);
    job.slot = &slot;
    Seek(job, position);
}

void ChunkDecoding::Seek(ChunkJob& job, std::int64_t position) const
{
    const ChunkSlot& slot = *job.slot;
    const std::int64_t offset = position - slot.inputFirstBit;
    decode::Stream& stream = job.stream;
    stream.next = slot.input + offset / 8;
    stream.bits = LoadBigEndian64(stream.next) << (offset % 8);
    stream.next += 7;
    stream.bitCount = decode::kRefillBits - static_cast<int>(offset % 8);
    if (!stream.out)
        stream.out = slot.OutBegin();
    job.roundLimit = nullptr;
    const std::int64_t roundEnd = slot.endBit - decode::kMaxRoundBits;
    if (roundEnd >= slot.inputFirstBit)
        job.roundLimit = slot.input + (roundEnd - slot.inputFirstBit) / 8;
}

std::int64_t ChunkDecoding::PositionOf(const ChunkJob& job) const
{
    return job.slot->inputFirstBit + (job.stream.next - job.slot->input) * 8 - job.stream.bitCount;
}

void ChunkDecoding::Decode(ChunkJob* jobs, int count, decode::Workspace& workspace) const
{
    if (m_table.EveryCodeIsAByte()) {
        for (int k = 0; k < count; ++k)
            SubstituteBytes(jobs[k], workspace);
    }
    for (;;) {
        std::array<ChunkJob*, decode::kMaxStreams> running {};
        std::array<decode::Stream, decode::kMaxStreams> streams {};
        std::array<decode::Checkpoints, decode::kMaxStreams> marks {};
        int n = 0;
        for (int k = 0; k < count; ++k) {
            ChunkJob& job = jobs[k];
            if (job.phase == ChunkJob::Phase::Marking
                && (job.stream.next > job.markLimit || job.marks.count >= job.marks.capacity))
                job.phase = ChunkJob::Phase::Rounds;
            if (job.phase == ChunkJob::Phase::Marking)
                running[n++] = &job;
        }
        const bool marking = n > 0;
        if (!marking) {
            for (int k = 0; k < count; ++k) {
                ChunkJob& job = jobs[k];
                if (job.phase == ChunkJob::Phase::Rounds
                    && (!job.roundLimit || job.stream.next > job.roundLimit))
                    job.phase = ChunkJob::Phase::Finishing;
                if (job.phase == ChunkJob::Phase::Rounds)
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
    for (int k = 0; k < count; ++k) {
        Finish(jobs[k], workspace);
        jobs[k].slot->marks = jobs[k].marks.count;
    }
}

// Every code a byte: the job's chunk, from its position (a multiple of 8, as every chunk start
// is), is one symbol per byte up to its end; a last code cut by the stream's end is left for
// Finish to drop.
void ChunkDecoding::SubstituteBytes(ChunkJob& job, decode::Workspace& workspace) const
{
    const ChunkSlot& slot = *job.slot;
    const std::int64_t position = PositionOf(job);
    assert(position % 8 == 0);
    const std::int64_t codes = std::max<std::int64_t>(slot.endBit - position, 0) / 8;
    decode::SubstituteBytes(slot.input + (position - slot.inputFirstBit) / 8,
                            static_cast<std::size_t>(codes), job.stream.out, m_table.ByteMap(),
                            workspace);
    job.stream.out += codes;
    Seek(job, position + 8 * codes);
    job.phase = ChunkJob::Phase::Finishing;
}

// Decodes the code at the job's position the careful way when it is too long for the rounds,
// which stop in front of such a code.
void ChunkDecoding::StepCarefully(ChunkJob& job, decode::Workspace& workspace) const
{
    const BitView view = job.slot->View();
    std::int64_t position = PositionOf(job);
    if (!m_table.NeedsCarefulStep(view.Peek(position)))
        return;
    const DecodeTable::Code code = m_table.DecodeOne(view, position, m_totalBits);
    if (code.length == 0) {
        job.ended = true;
        job.phase = ChunkJob::Phase::Finishing;
        return;
    }
    *job.stream.out++ = code.symbol;
    workspace.Add(code.symbol);
    position += code.length;
    Seek(job, position);
    if (position >= job.slot->endBit)
        job.phase = ChunkJob::Phase::Finishing;
}

// One code at a time from where the rounds stopped to the first code boundary at or past the
// chunk's end; a code that the stream's last bit leaves unfinished is dropped.
void ChunkDecoding::Finish(ChunkJob& job, decode::Workspace& workspace) const
{
    ChunkSlot& slot = *job.slot;
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
    assert(slot.outCount + kLead + decode::kOutputSlack <= m_plan.outputCapacity);
    slot.endPosition = position;
    slot.streamEnded = job.ended;
}

} // namespace hufpack
