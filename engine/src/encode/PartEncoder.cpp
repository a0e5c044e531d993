// Compression in parts: planning them, running them on threads, and merging the bytes they
// share.

#include "encode/PartEncoder.h"

#include "encode/EncodeKernel.h"
#include "format/Counts.h"
#include "sys/MappedReads.h"
#include "sys/SystemIo.h"
#include "sys/Threads.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <limits>
#include <map>
#include <memory>
#include <utility>

namespace hufpack {

namespace {

// Both passes read a part in blocks of kBlockBytes from its start, so they hash the same blocks.
constexpr int kMaxParts = 64;
// How much of a part is mapped at a time: a few blocks, so that the system is asked for the
// mapping seldom and the process's memory holds little of the source.
constexpr std::int64_t kWindowBytes = 16 * static_cast<std::int64_t>(kBlockBytes);
// Several parts per thread, taken in turn, so that a thread slowed down by anything else on the
// machine holds the job back by one small part at most.
constexpr int kPartsPerThread = 4;
// The bits a part codes to.
std::int64_t CodedBits(const WideCounts& counts, const CodeBook& codes)
{
    std::int64_t bits = 0;
    for (int value = 0; value < 256; ++value)
        bits += static_cast<std::int64_t>(counts[value]) * codes.lengths[value];
    return bits;
}

// Room for one input block coded: at most longest/8 bytes per byte, plus the 8 a flush stores.
std::size_t CodedBlockBytes(const CodeBook& codes)
{
    return kBlockBytes * std::max(codes.longest, 8) / 8 + 16;
}

// The coding loop for a part of `bytes` bytes that codes to `bits` bits.
encode::CodeBlockFunction LoopFor(const CodeBook& codes, std::int64_t bits, std::int64_t bytes,
                                  const encode::PairCodes* pairs, ProcessorBuild build)
{
    return encode::CodeBlockFor(codes,
                                static_cast<double>(std::max<std::int64_t>(bits, 1))
                                    / static_cast<double>(std::max<std::int64_t>(bytes, 1)),
                                pairs, build);
}

} // namespace

PartEncoder::PartEncoder(const ByteSource& source, std::int64_t sourceSize, int threads,
                         int maxParts, std::int64_t minPartBytes)
    : m_source(source), m_size(std::max<std::int64_t>(sourceSize, 0)),
      m_threads(std::max(threads, 1))
{
    assert(m_size <= std::numeric_limits<std::int32_t>::max());
    if (maxParts <= 0)
        maxParts = m_threads == 1 ? 1 : kPartsPerThread * m_threads;
    maxParts = std::min(maxParts, kMaxParts);
    const std::int64_t byParts = m_size / std::max<std::int64_t>(minPartBytes, 1);
    const auto parts = static_cast<int>(std::clamp<std::int64_t>(byParts, 1, maxParts));
    m_parts.resize(parts);
    for (int i = 0; i < parts; ++i) {
        m_parts[i].begin = m_size * i / parts;
        m_parts[i].end = m_size * (i + 1) / parts;
    }
}

PartEncoder::~PartEncoder() = default;

void PartEncoder::StartAt(std::int64_t begin, bool endsThere)
{
    for (Part& part : m_parts) {
        part.begin += begin - m_begin;
        part.end += begin - m_begin;
    }
    m_begin = begin;
    m_endsThere = endsThere;
}

int PartEncoder::Workers() const
{
    return std::min(m_threads, static_cast<int>(m_parts.size()));
}

// Makes sure each worker has an input block, and an output block of `outBytes` when not 0; both
// are kept for the next pass. Allocated before the threads start, so running out of memory fails
// the job before any part is read.
void PartEncoder::MakeBlocks(std::size_t outBytes)
{
    if (m_blocks.empty()) {
        // Room for the largest output blocks any code needs, so that the coding pass takes
        // its blocks here too; only what is used is ever touched.
        const auto workers = static_cast<std::size_t>(Workers());
        std::size_t room = workers
            * (BufferArena::RoomFor(kBlockBytes)
               + BufferArena::RoomFor(kBlockBytes * CodeBook::kMaxPackedBits / 8 + 16));
        if (m_size >= kPairsFromBytes)
            room += BufferArena::RoomFor(encode::PairCodes::kEntries * sizeof(std::uint64_t));
        (void)m_arena.Reserve(room);
    }
    while (static_cast<int>(m_blocks.size()) < Workers())
        m_blocks.push_back(TakeBlock(kBlockBytes));
    if (outBytes > m_outBlockBytes) {
        m_outBlocks.clear();
        m_outBlockBytes = outBytes;
    }
    while (outBytes > 0 && m_outBlocks.size() < m_blocks.size())
        m_outBlocks.push_back(TakeBlock(m_outBlockBytes));
}

// A block from the arena, or of its own when the arena has no room; throws when memory is short.
std::uint8_t* PartEncoder::TakeBlock(std::size_t bytes)
{
    if (std::uint8_t* const block = m_arena.Take(bytes))
        return block;
    m_ownBlocks.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(bytes));
    return m_ownBlocks.back().get();
}

// Runs `work(part, worker)` on every part, on up to the thread limit; each thread takes the next
// part not yet taken and works in the blocks of its worker number.
template<typename Work> Status PartEncoder::RunParts(Work work)
{
    std::atomic<std::size_t> next { 0 };
    const auto takeParts = [&](int worker) {
        for (std::size_t i = next++; i < m_parts.size(); i = next++)
            work(m_parts[i], worker);
    };
    WorkerThreads threads;
    threads.Start(Workers() - 1, takeParts);
    takeParts(0);
    threads.Join();
    if (!threads.Outcome().Ok())
        return threads.Outcome();
    for (const Part& part : m_parts) {
        if (!part.status.Ok())
            return part.status;
    }
    return {};
}

void PartEncoder::FailPart(Part& part, JobFile file, int error, Reason reason)
{
    if (part.status.Ok())
        part.status = Status::Fail(JobResult::CannotOpen, file, error, reason);
}

Status PartEncoder::Scan()
{
    MakeBlocks(0);
    if (Status status
        = RunParts([this](Part& part, int worker) { ScanPart(part, m_blocks[worker]); });
        !status.Ok())
        return status;
    if (SourceEndsAtSize())
        return {};
    return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0, Reason::ChangedWhileRead);
}

// Reads the part block by block: a source in memory where it stands; a file through a mapping
// of a window of blocks at a time, where the program allows one, or through `buffer`. Each block
// goes to `read(bytes, size)`, which only reads it (inside GuardedRead for a mapping, so that a
// file shrunk meanwhile fails the part instead of the process), and then to `use(size)`, which
// writes what came of it and returns false to stop. False when a read failed, the source ended
// early (the part then fails), or `use` stopped (and said why).
template<typename Read, typename Use>
bool PartEncoder::ReadPart(Part& part, std::uint8_t* buffer, Read read, Use use) const
{
    Mapping window;
    std::int64_t windowBegin = 0;
    bool mappable = m_source.Mappable(); // until a mapping fails: then read as a file is
    for (std::int64_t offset = part.begin; offset < part.end; offset += kBlockBytes) {
        const auto want
            = static_cast<std::size_t>(std::min<std::int64_t>(kBlockBytes, part.end - offset));
        std::span<const std::uint8_t> view = m_source.View(offset, want);
        if (mappable) {
            const std::int64_t windowEnd
                = windowBegin + static_cast<std::int64_t>(window.Bytes().size());
            if (window.Bytes().empty() || offset + static_cast<std::int64_t>(want) > windowEnd) {
                window = Mapping(); // what was read leaves memory first
                windowBegin = offset;
                window = m_source.MapRange(
                    offset, static_cast<std::size_t>(std::min(kWindowBytes, part.end - offset)));
            }
            mappable = !window.Bytes().empty();
            if (mappable)
                view = window.Bytes().subspan(static_cast<std::size_t>(offset - windowBegin), want);
        }
        const std::uint8_t* bytes = view.data();
        std::int64_t got = static_cast<std::int64_t>(view.size());
        if (view.empty()) {
            got = m_source.ReadAt(buffer, want, offset);
            bytes = buffer;
        }
        if (got != static_cast<std::int64_t>(want)) {
            if (got < 0)
                FailPart(part, JobFile::Source, errno);
            else
                FailPart(part, JobFile::Source, 0, Reason::ChangedWhileRead);
            return false;
        }
        if (window.Bytes().empty())
            read(bytes, want);
        else if (!GuardedRead([&] { read(bytes, want); })) {
            FailPart(part, JobFile::Source, 0, Reason::ChangedWhileRead);
            return false;
        }
        if (!use(want))
            return false;
        if (m_progress && !m_progress->Add(static_cast<std::int64_t>(want))) {
            FailPart(part, JobFile::None, 0, Reason::Cancelled);
            return false;
        }
    }
    return true;
}

void PartEncoder::ScanPart(Part& part, std::uint8_t* buffer) const
{
    // 32-bit counters cannot overflow: a source longer than INT32_MAX bytes is refused before
    // it is read.
    CountTables tables {};
    encode::PartHash hash;
    ReadPart(
        part, buffer,
        [&](const std::uint8_t* bytes, std::size_t size) {
            encode::CountAndHash(bytes, size, tables, hash);
        },
        [](std::size_t) { return true; });
    part.counts = {};
    AddTables(tables, part.counts);
    part.hash = hash.Value();
}

bool PartEncoder::SourceEndsAtSize() const
{
    std::uint8_t byte = 0;
    return !m_endsThere || m_source.ReadAt(&byte, 1, m_begin + m_size) == 0;
}

WideCounts PartEncoder::Counts() const
{
    WideCounts counts {};
    for (const Part& part : m_parts) {
        for (int value = 0; value < 256; ++value)
            counts[value] += part.counts[value];
    }
    return counts;
}

// Whether every byte value the source uses has a code the coding loop can take.
Status PartEncoder::CheckCodes(const CodeBook& codes) const
{
    for (int value = 0; value < 256; ++value) {
        const bool used = std::any_of(m_parts.begin(), m_parts.end(),
                                      [value](const Part& part) { return part.counts[value] > 0; });
        if (!used)
            continue;
        if (codes.lengths[value] < 1)
            return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0,
                                Reason::ChangedWhileRead);
        if (codes.lengths[value] > CodeBook::kMaxPackedBits)
            return Status::Fail(JobResult::TooLarge, JobFile::Source, 0, Reason::TooLarge);
    }
    return {};
}

Status PartEncoder::Encode(const CodeBook& codes, ByteSink& sink, std::int64_t streamOffset)
{
    if (Status status = CheckCodes(codes); !status.Ok())
        return status;

    std::int64_t firstBit = 0;
    for (Part& part : m_parts) {
        part.firstBit = firstBit;
        part.bits = CodedBits(part.counts, codes);
        firstBit += part.bits;
    }

    MakeBlocks(CodedBlockBytes(codes));
    const std::unique_ptr<encode::PairCodes> pairs = PairsFor(codes);
    if (Status status = RunParts([&](Part& part, int worker) {
            EncodePart(part, m_blocks[worker], m_outBlocks[worker], codes, pairs.get(), sink,
                       streamOffset);
        });
        !status.Ok())
        return status;

    std::map<std::int64_t, std::uint8_t> shared;
    bool changed = false;
    for (const Part& part : m_parts) {
        changed |= part.codedHash != part.hash;
        for (const Part::SharedByte& byte : part.sharedBytes) {
            if (byte.offset >= 0)
                shared[byte.offset] |= byte.bits;
        }
    }
    if (changed || !SourceEndsAtSize())
        return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0, Reason::ChangedWhileRead);
    for (const auto& [offset, bits] : shared)
        sink.WriteAt(&bits, 1, offset);
    return sink.Outcome(JobFile::Destination);
}

// The coding pass for a destination that takes its bytes in order only, such as a pipe: one
// thread codes the parts one after another, carrying the bits of a last partial byte over to the
// next part, and writes each block's whole bytes as they come.
Status PartEncoder::EncodeInOrder(const CodeBook& codes, ByteSink& sink)
{
    if (Status status = CheckCodes(codes); !status.Ok())
        return status;
    MakeBlocks(CodedBlockBytes(codes));
    const std::unique_ptr<encode::PairCodes> pairs = PairsFor(codes);
    std::uint8_t* const in = m_blocks[0];
    std::uint8_t* const out = m_outBlocks[0];
    encode::PendingBits pending;
    for (Part& part : m_parts) {
        const encode::CodeBlockFunction codeBlock = LoopFor(
            codes, CodedBits(part.counts, codes), part.end - part.begin, pairs.get(), m_build);
        encode::PartHash hash;
        const std::uint8_t* stop = out;
        const bool read = ReadPart(
            part, in,
            [&](const std::uint8_t* bytes, std::size_t size) {
                hash.Add(bytes, size);
                stop = codeBlock(bytes, bytes + size, out, codes,
                                 pairs ? pairs->Entries() : nullptr, pending);
            },
            [&](std::size_t) {
                sink.Write(out, static_cast<std::size_t>(stop - out));
                if (sink.Failed()) {
                    FailPart(part, JobFile::Destination, sink.Error());
                    return false;
                }
                return true;
            });
        if (!read)
            return part.status;
        if (hash.Value() != part.hash)
            return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0,
                                Reason::ChangedWhileRead);
    }
    if (!SourceEndsAtSize())
        return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0, Reason::ChangedWhileRead);
    // The stream's last partial byte, padded with 0 bits.
    const auto last = static_cast<std::uint8_t>(pending.bits >> 56);
    if (pending.count > 0)
        sink.Write(&last, 1);
    return sink.Outcome(JobFile::Destination);
}

// The pair table for a source large enough to pay for making it; null for a smaller one.
std::unique_ptr<encode::PairCodes> PartEncoder::PairsFor(const CodeBook& codes)
{
    if (m_size < kPairsFromBytes)
        return nullptr;
    std::uint8_t* const storage = m_arena.Take(encode::PairCodes::kEntries * sizeof(std::uint64_t));
    return std::make_unique<encode::PairCodes>(codes, reinterpret_cast<std::uint64_t*>(storage));
}

void PartEncoder::EncodePart(Part& part, std::uint8_t* in, std::uint8_t* out, const CodeBook& codes,
                             const encode::PairCodes* pairs, ByteSink& sink,
                             std::int64_t streamOffset) const
{
    part.sharedBytes = {};
    const encode::CodeBlockFunction codeBlock
        = LoopFor(codes, part.bits, part.end - part.begin, pairs, m_build);
    const std::uint64_t* const pairEntries = pairs ? pairs->Entries() : nullptr;

    encode::PartHash hash;
    // The part's first byte is shared with the part before when it starts inside a byte; its
    // bits are then held back for the caller to merge.
    encode::PendingBits pending { 0, static_cast<unsigned>(part.firstBit % 8) };
    bool holdFirstByte = pending.count != 0;
    std::int64_t nextByte = streamOffset + part.firstBit / 8;
    const std::uint8_t* stop = out;
    const auto code = [&](const std::uint8_t* bytes, std::size_t size) {
        hash.Add(bytes, size);
        stop = codeBlock(bytes, bytes + size, out, codes, pairEntries, pending);
    };
    const bool read = ReadPart(part, in, code, [&](std::size_t) {
        const std::uint8_t* start = out;
        if (holdFirstByte && stop > start) {
            part.sharedBytes[0] = { nextByte, *start };
            ++start;
            ++nextByte;
            holdFirstByte = false;
        }
        const auto coded = static_cast<std::size_t>(stop - start);
        sink.WriteAt(start, coded, nextByte);
        if (sink.Failed()) {
            FailPart(part, JobFile::Destination, sink.Error());
            return false;
        }
        nextByte += static_cast<std::int64_t>(coded);
        return true;
    });
    if (!read)
        return;
    // A last partial byte is shared with the next part, or is the stream's padded last byte.
    if (pending.count > 0)
        part.sharedBytes[1] = { nextByte, static_cast<std::uint8_t>(pending.bits >> 56) };
    part.codedHash = hash.Value();
    const std::int64_t bitsWritten = (nextByte - streamOffset) * 8 + pending.count - part.firstBit;
    if (bitsWritten != part.bits)
        part.codedHash = ~part.hash; // the counts no longer describe this part
}

} // namespace hufpack
