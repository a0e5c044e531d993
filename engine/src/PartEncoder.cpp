#include "PartEncoder.h"

#include "ByteCounter.h"
#include "FileStream.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace hufpack {

namespace {

// Both passes read a part in blocks of this size from its start, so they hash the same blocks.
constexpr std::size_t kBlockBytes = std::size_t { 128 } << 10;
constexpr int kMaxParts = 64;
// Each thread holds an input block and an output block; this many keep the whole job within a
// few MiB on any machine, and the file system and memory bandwidth give little beyond them.
constexpr int kMaxThreads = 8;
// Several parts per thread, taken in turn, so that a thread slowed down by anything else on the
// machine holds the job back by one small part at most.
constexpr int kPartsPerThread = 4;
// After a flush at most 7 bits wait, so one code of up to this many bits always fits in the
// 64-bit accumulator.
constexpr int kMaxPackedBits = 56;
// Codes per flush: as many as take, on average, this many bits, so that a group rarely overflows.
constexpr int kGroupBits = 36;

// A 64-bit hash of a part, cheap enough to run beside the counting and the coding: four lanes,
// each rotated and added a multiple of the next 8-byte word, so that where a word is matters.
// It only has to tell whether the source changed between two reads, not resist anyone. Bytes
// come in 32-byte stripes; only the part's last bytes may be fewer.
class PartHash
{
public:
    void AddStripe(std::uint64_t word0, std::uint64_t word1, std::uint64_t word2,
                   std::uint64_t word3)
    {
        m_lanes[0] = std::rotl(m_lanes[0], 29) + word0 * kPrime2;
        m_lanes[1] = std::rotl(m_lanes[1], 29) + word1 * kPrime2;
        m_lanes[2] = std::rotl(m_lanes[2], 29) + word2 * kPrime2;
        m_lanes[3] = std::rotl(m_lanes[3], 29) + word3 * kPrime2;
        m_size += 32;
    }
    void Add(const std::uint8_t* data, std::size_t size)
    {
        for (; size >= 32; data += 32, size -= 32)
            AddStripe(WordAt(data), WordAt(data + 8), WordAt(data + 16), WordAt(data + 24));
        for (; size > 0; ++data, --size) {
            m_tail = std::rotl(m_tail ^ (*data * kPrime1), 11) * kPrime2;
            ++m_size;
        }
    }
    [[nodiscard]] std::uint64_t Value() const
    {
        const std::uint64_t value = std::rotl(m_lanes[0], 1) + std::rotl(m_lanes[1], 7)
            + std::rotl(m_lanes[2], 12) + std::rotl(m_lanes[3], 18) + m_tail * kPrime1 + m_size;
        return value ^ (value >> 29);
    }

    static std::uint64_t WordAt(const std::uint8_t* data)
    {
        std::uint64_t word;
        std::memcpy(&word, data, 8);
        return word;
    }

private:
    static constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
    static constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

    std::array<std::uint64_t, 4> m_lanes { 1, 2, 3, 4 };
    std::uint64_t m_tail = 0;
    std::uint64_t m_size = 0;
};

// Counts the byte values of a block as ByteCounter does and hashes it on the way.
void CountAndHash(const std::uint8_t* data, std::size_t size, ByteCounter::Tables& tables,
                  PartHash& hash)
{
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + size;
    for (; end - p >= 32; p += 32) {
        const std::uint64_t word0 = PartHash::WordAt(p);
        const std::uint64_t word1 = PartHash::WordAt(p + 8);
        const std::uint64_t word2 = PartHash::WordAt(p + 16);
        const std::uint64_t word3 = PartHash::WordAt(p + 24);
        hash.AddStripe(word0, word1, word2, word3);
        ByteCounter::CountWord(tables, word0);
        ByteCounter::CountWord(tables, word1);
        ByteCounter::CountWord(tables, word2);
        ByteCounter::CountWord(tables, word3);
    }
    hash.Add(p, static_cast<std::size_t>(end - p));
    for (; p < end; ++p)
        ++tables[0][*p];
}

void StoreBigEndian64(std::uint8_t* destination, std::uint64_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        value = __builtin_bswap64(value);
    std::memcpy(destination, &value, 8);
}

// The coder's state between blocks: the waiting bits, left-aligned in `bits` (the oldest is bit
// 63, everything below the `count` waiting bits is 0), and count < 8.
struct PendingBits
{
    std::uint64_t bits = 0;
    unsigned count = 0;
};

// Codes [in, end) into `out`, which must have room for every byte they produce plus 8. `codes`
// holds each code's bits left-aligned, `lengths` their lengths. Codes go into the accumulator
// `kGroup` at a time between flushes, a flush storing eight bytes and keeping the whole ones.
// A group whose codes would overflow the accumulator, which the group size makes rare, goes
// again one code at a time.
template<int kGroup>
[[gnu::always_inline]] inline std::uint8_t*
CodeBlock(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
          const std::uint64_t* codes, const std::uint8_t* lengths, PendingBits& pending)
{
    std::uint64_t bits = pending.bits;
    unsigned count = pending.count;
    const auto flush = [&] {
        StoreBigEndian64(out, bits);
        out += count >> 3;
        bits <<= count & ~7u;
        count &= 7;
    };
    const auto putOne = [&](std::uint8_t byte) {
        bits |= codes[byte] >> count;
        count += lengths[byte];
        flush();
    };
    for (; end - in >= kGroup; in += kGroup) {
        std::uint64_t groupBits = bits;
        unsigned groupCount = count;
#pragma GCC unroll 8
        for (int i = 0; i < kGroup; ++i) {
            groupBits |= codes[in[i]] >> (groupCount & 63);
            groupCount += lengths[in[i]];
        }
        if (groupCount < 64) [[likely]] {
            bits = groupBits;
            count = groupCount;
            flush();
        } else {
            for (int i = 0; i < kGroup; ++i)
                putOne(in[i]);
        }
    }
    for (; in < end; ++in)
        putOne(*in);
    pending = { bits, count };
    return out;
}

// The same loop built twice: for any x86-64, and with BMI2's shifts, which take their count in
// any register and leave the flags alone; most of the loop is variable shifts.
template<int kGroup>
std::uint8_t* CodeBlockPlain(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                             const std::uint64_t* codes, const std::uint8_t* lengths,
                             PendingBits& pending)
{
    return CodeBlock<kGroup>(in, end, out, codes, lengths, pending);
}

#if defined(__x86_64__)
template<int kGroup>
[[gnu::target("bmi2")]] std::uint8_t*
CodeBlockBmi2(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
              const std::uint64_t* codes, const std::uint8_t* lengths, PendingBits& pending)
{
    return CodeBlock<kGroup>(in, end, out, codes, lengths, pending);
}
#endif

using CodeBlockFunction
    = std::uint8_t* (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*,
                        const std::uint64_t*, const std::uint8_t*, PendingBits&);

// The largest group of 1, 2, 4 or 8 codes that takes, on average, no more than kGroupBits, built
// for this processor.
CodeBlockFunction CodeBlockFor(double bitsPerByte)
{
    const int group = 8 * bitsPerByte <= kGroupBits ? 8
        : 4 * bitsPerByte <= kGroupBits             ? 4
        : 2 * bitsPerByte <= kGroupBits             ? 2
                                                    : 1;
#if defined(__x86_64__)
    if (PartEncoder::ExtensionsAllowed() && __builtin_cpu_supports("bmi2")) {
        constexpr std::array<CodeBlockFunction, 4> kBmi2 { &CodeBlockBmi2<1>, &CodeBlockBmi2<2>,
                                                           &CodeBlockBmi2<4>, &CodeBlockBmi2<8> };
        return kBmi2[std::countr_zero(static_cast<unsigned>(group))];
    }
#endif
    constexpr std::array<CodeBlockFunction, 4> kPlain { &CodeBlockPlain<1>, &CodeBlockPlain<2>,
                                                        &CodeBlockPlain<4>, &CodeBlockPlain<8> };
    return kPlain[std::countr_zero(static_cast<unsigned>(group))];
}

} // namespace

struct PartEncoder::PackedCodes
{
    std::array<std::uint64_t, 256> bits {};
    std::array<std::uint8_t, 256> lengths {};
    int longest = 0;
};

PartEncoder::PartEncoder(int sourceFd, std::int64_t sourceSize, int maxParts,
                         std::int64_t minPartBytes)
    : m_sourceFd(sourceFd), m_size(std::max<std::int64_t>(sourceSize, 0)),
      m_threads(std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxThreads))
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

// Runs `work(part, block)` on every part, on up to one thread per processor; each thread takes
// the next part not yet taken and reads through its own block, kept for the next pass.
template<typename Work> void PartEncoder::RunParts(Work work)
{
    const int workers = std::min(m_threads, static_cast<int>(m_parts.size()));
    while (static_cast<int>(m_blocks.size()) < workers)
        m_blocks.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes));
    std::atomic<std::size_t> next { 0 };
    const auto takeParts = [&](std::uint8_t* block) {
        for (std::size_t i = next++; i < m_parts.size(); i = next++)
            work(m_parts[i], block);
    };
    std::vector<std::thread> threads;
    for (int worker = 1; worker < workers; ++worker) {
        try {
            threads.emplace_back(takeParts, m_blocks[worker].get());
        } catch (const std::system_error&) {
            break; // no more threads: the ones there are take every part
        }
    }
    takeParts(m_blocks[0].get());
    for (std::thread& thread : threads)
        thread.join();
}

bool PartEncoder::Scan()
{
    RunParts([this](Part& part, std::uint8_t* block) { ScanPart(part, block); });
    for (const Part& part : m_parts) {
        if (part.failed)
            return false;
    }
    return SourceEndsAtSize();
}

// Reads the part block by block into `buffer` and hands each block to `use`, which returns
// false to stop. False when a read failed, the source ended early, or `use` stopped.
template<typename Use>
bool PartEncoder::ReadPart(const Part& part, std::uint8_t* buffer, Use use) const
{
    for (std::int64_t offset = part.begin; offset < part.end; offset += kBlockBytes) {
        const auto want
            = static_cast<std::size_t>(std::min<std::int64_t>(kBlockBytes, part.end - offset));
        if (ReadAt(m_sourceFd, buffer, want, offset) != static_cast<std::int64_t>(want))
            return false;
        if (!use(want))
            return false;
    }
    return true;
}

void PartEncoder::ScanPart(Part& part, std::uint8_t* buffer) const
{
    // 32-bit counters cannot overflow: a source longer than INT32_MAX bytes is refused before
    // it is read.
    ByteCounter::Tables tables {};
    PartHash hash;
    part.failed = !ReadPart(part, buffer, [&](std::size_t size) {
        CountAndHash(buffer, size, tables, hash);
        return true;
    });
    part.counts = {};
    ByteCounter::AddTables(tables, part.counts);
    part.hash = hash.Value();
}

bool PartEncoder::SourceEndsAtSize() const
{
    std::uint8_t byte = 0;
    return ReadAt(m_sourceFd, &byte, 1, m_size) == 0;
}

std::array<std::uint64_t, 256> PartEncoder::Counts() const
{
    std::array<std::uint64_t, 256> counts {};
    for (const Part& part : m_parts) {
        for (int value = 0; value < 256; ++value)
            counts[value] += part.counts[value];
    }
    return counts;
}

JobResult PartEncoder::Encode(const std::array<const CodeWord*, 256>& codes, int destinationFd,
                              std::int64_t streamOffset)
{
    PackedCodes packed;
    for (int value = 0; value < 256; ++value) {
        const CodeWord* const code = codes[value];
        const bool used = std::any_of(m_parts.begin(), m_parts.end(),
                                      [value](const Part& part) { return part.counts[value] > 0; });
        if (!used)
            continue;
        if (!code || code->Length() < 1)
            return JobResult::CannotOpen;
        // No source this format can hold has a code longer than 44 bits (it needs counts adding
        // up to Fibonacci(length + 2)); anything longer would not pack.
        if (code->Length() > kMaxPackedBits)
            return JobResult::TooLarge;
        std::uint64_t bits = 0;
        for (int i = 1; i <= code->Length(); ++i)
            bits = (bits << 1) | static_cast<std::uint64_t>((*code)[i] != 0);
        packed.bits[value] = bits << (64 - code->Length());
        packed.lengths[value] = static_cast<std::uint8_t>(code->Length());
        packed.longest = std::max(packed.longest, code->Length());
    }

    std::int64_t firstBit = 0;
    for (Part& part : m_parts) {
        part.firstBit = firstBit;
        part.bits = 0;
        for (int value = 0; value < 256; ++value)
            part.bits += static_cast<std::int64_t>(part.counts[value]) * packed.lengths[value];
        firstBit += part.bits;
    }

    RunParts([&](Part& part, std::uint8_t* block) {
        EncodePart(part, block, packed, destinationFd, streamOffset);
    });

    std::map<std::int64_t, std::uint8_t> shared;
    bool changed = false;
    for (const Part& part : m_parts) {
        if (part.failed)
            return JobResult::CannotOpen;
        changed |= part.codedHash != part.hash;
        for (const Part::SharedByte& byte : part.sharedBytes) {
            if (byte.offset >= 0)
                shared[byte.offset] |= byte.bits;
        }
    }
    if (changed || !SourceEndsAtSize())
        return JobResult::CannotOpen;
    for (const auto& [offset, bits] : shared) {
        if (!WriteAt(destinationFd, &bits, 1, offset))
            return JobResult::CannotOpen;
    }
    return JobResult::Done;
}

void PartEncoder::EncodePart(Part& part, std::uint8_t* in, const PackedCodes& codes,
                             int destinationFd, std::int64_t streamOffset) const
{
    part.sharedBytes = {};
    const double bitsPerByte = static_cast<double>(std::max<std::int64_t>(part.bits, 1))
        / static_cast<double>(std::max<std::int64_t>(part.end - part.begin, 1));
    const CodeBlockFunction codeBlock = CodeBlockFor(bitsPerByte);
    // A block of input codes to at most longest/8 bytes per byte, plus the 8 a flush stores.
    const std::size_t outCapacity = kBlockBytes * std::max(codes.longest, 8) / 8 + 16;
    const auto out = std::make_unique_for_overwrite<std::uint8_t[]>(outCapacity);

    PartHash hash;
    // The part's first byte is shared with the part before when it starts inside a byte; its
    // bits are then held back for the caller to merge.
    PendingBits pending { 0, static_cast<unsigned>(part.firstBit % 8) };
    bool holdFirstByte = pending.count != 0;
    std::int64_t nextByte = streamOffset + part.firstBit / 8;
    const bool read = ReadPart(part, in, [&](std::size_t size) {
        hash.Add(in, size);
        const std::uint8_t* start = out.get();
        const std::uint8_t* const stop
            = codeBlock(in, in + size, out.get(), codes.bits.data(), codes.lengths.data(), pending);
        if (holdFirstByte && stop > start) {
            part.sharedBytes[0] = { nextByte, *start };
            ++start;
            ++nextByte;
            holdFirstByte = false;
        }
        const auto bytes = static_cast<std::size_t>(stop - start);
        if (bytes > 0 && !WriteAt(destinationFd, start, bytes, nextByte))
            return false;
        nextByte += static_cast<std::int64_t>(bytes);
        return true;
    });
    if (!read) {
        part.failed = true;
        return;
    }
    // A last partial byte is shared with the next part, or is the stream's padded last byte.
    if (pending.count > 0)
        part.sharedBytes[1] = { nextByte, static_cast<std::uint8_t>(pending.bits >> 56) };
    part.codedHash = hash.Value();
    const std::int64_t bitsWritten = (nextByte - streamOffset) * 8 + pending.count - part.firstBit;
    if (bitsWritten != part.bits)
        part.codedHash = ~part.hash; // the counts no longer describe this part
}

} // namespace hufpack
