// The decoding loop over several bit streams at once, built for any x86-64 and for BMI2, and the
// substitution for codes of one byte each.

#include "decode/DecodeKernel.h"

#include "format/ByteOrder.h"
#include "format/Counts.h"

#include <algorithm>
#include <span>

namespace hufpack::decode {

void Workspace::Load(const DecodeTable& table)
{
    runs = {};
    symbols = {};
    for (std::size_t window = 0; window < kEntries; ++window)
        runs[2 * window] = table.Runs()[window];
}

void Workspace::AddTo(std::array<std::uint64_t, 256>& counts) const
{
    for (std::size_t window = 0; window < kEntries; ++window) {
        const std::uint32_t used = runs[2 * window + 1];
        if (used == 0)
            continue;
        std::uint32_t symbols = DecodeTable::Run::Symbols(runs[2 * window]);
        for (int i = 0; i < DecodeTable::Run::Count(runs[2 * window]); ++i, symbols >>= 8)
            counts[symbols & 0xFF] += used;
    }
    for (int value = 0; value < 256; ++value)
        counts[value] += symbols[value];
}

void SubstituteBytes(const std::uint8_t* in, std::size_t count, std::uint8_t* out,
                     const std::array<std::uint8_t, 256>& symbols, Workspace& workspace)
{
    std::array<std::uint64_t, 256> seen {};
    CountBlock(std::span(in, count), seen);
    for (int byte = 0; byte < 256; ++byte)
        workspace.symbols[symbols[byte]] += seen[byte];
    for (std::size_t i = 0; i < count; ++i)
        out[i] = symbols[in[i]];
}

namespace {

using Run = DecodeTable::Run;
using Sub = DecodeTable::Sub;

// One stream's state inside the loop; the loop keeps each field in a register. Only the low six
// bits of bitCount count: a run's lookup subtracts its whole shift field, count and all, which
// leaves those bits right and is one instruction less.
struct Lane
{
    std::uint64_t bits;
    std::uint64_t bitCount;
    const std::uint8_t* next;
    std::uint8_t* out;
};

// The branchless refill of libdeflate's decompressor (lib/deflate_decompress.c), turned for
// bits that come most significant first. The load puts the next 64 bits of the input below the
// `bitCount` bits still held; `next` then moves past every whole byte now in the buffer, which
// is (63 - bitCount) / 8 of them, and ((bitCount & 63) ^ 63) >> 3 is that without a subtraction
// (for bitCount < 64, x ^ 63 is 63 - x). The count becomes at least kRefillBits: OR-ing in 56
// (0b111000) sets the bits that the bytes taken made up, since what is held is 56 to 63 bits
// now, and leaves the low three, the part of a byte held twice, as they were. The bits of that
// byte below the buffer's are the input's own, so a later refill ORs in the same values there.
[[gnu::always_inline]] inline void Refill(Lane& lane)
{
    static_assert(kRefillBits == 56, "the OR below sets 56 bits and keeps the low three");
    lane.bits |= LoadBigEndian64(lane.next) >> (lane.bitCount & 63);
    lane.next += ((lane.bitCount & 63) ^ 63) >> 3;
    lane.bitCount |= kRefillBits;
}

[[gnu::always_inline]] inline void Consume(Lane& lane, int length)
{
    lane.bits <<= length;
    lane.bitCount -= static_cast<std::uint64_t>(length);
}

// A code longer than the run table: its second-level entry, read after a refill so that
// kMaxFastBits are there. False, with nothing consumed, when the code is longer still.
[[gnu::always_inline]] inline bool LongCode(Lane& lane, std::uint32_t entry,
                                            const std::uint32_t* subs, Workspace& workspace)
{
    Refill(lane);
    const std::uint64_t rest = lane.bits << DecodeTable::kRunBits;
    const std::uint32_t sub = subs[Run::SubTable(entry) + (rest >> (64 - Run::SubBits(entry)))];
    if (sub & Sub::kDeeper)
        return false;
    const std::uint8_t symbol = Sub::Symbol(sub);
    *lane.out++ = symbol;
    workspace.Add(symbol);
    Consume(lane, Sub::Length(sub));
    // The lookups left in this round may need as many bits as a whole round.
    Refill(lane);
    return true;
}

// One lookup of the run table. False, with nothing consumed, in front of a code too long for
// both table levels.
[[gnu::always_inline]] inline bool Lookup(Lane& lane, std::uint32_t* runs,
                                          const std::uint32_t* subs, Workspace& workspace)
{
    const std::uint64_t window = lane.bits >> (64 - DecodeTable::kRunBits);
    const std::uint32_t entry = runs[2 * window];
    if (Run::IsLong(entry)) [[unlikely]]
        return LongCode(lane, entry, subs, workspace);
    ++runs[2 * window + 1];
    // The entry's symbols sit low byte first, the first symbol lowest: stored as four bytes
    // (the fourth is not kept), they come out in order.
    StoreLittleEndian32(lane.out, entry);
    lane.out += Run::Count(entry);
    // Only the low six bits of the shift count; bitCount's high bits take the rest.
    const std::uint32_t shift = Run::Shift(entry);
    lane.bits <<= shift & 63;
    lane.bitCount -= shift;
    return true;
}

// A round's lookups after a refill: kLookupsPerRefill on each lane, one lane after another, so
// that lookup i is on lane i % K.
template<int K, int i = 0>
[[gnu::always_inline]] inline bool LookupRound(Lane* lanes, std::uint32_t* runs,
                                               const std::uint32_t* subs, Workspace& workspace)
{
    if constexpr (i == K * kLookupsPerRefill) {
        return true;
    } else {
        if (!Lookup(lanes[i % K], runs, subs, workspace))
            return false;
        return LookupRound<K, i + 1>(lanes, runs, subs, workspace);
    }
}

template<int K, bool kMark>
[[gnu::always_inline]] inline void Rounds(const DecodeTable& table, Stream* streams,
                                          Workspace& workspace, Checkpoints* marks)
{
    std::uint32_t* const runs = workspace.runs.data();
    const std::uint32_t* const subs = table.Subs();

    Lane lanes[K];
    const std::uint8_t* limits[K];
#pragma GCC unroll 4
    for (int k = 0; k < K; ++k) {
        lanes[k] = { streams[k].bits, static_cast<std::uint64_t>(streams[k].bitCount),
                     streams[k].next, streams[k].out };
        limits[k] = streams[k].limit;
    }
    int roundsLeft = 0;
    if constexpr (kMark) {
        roundsLeft = marks[0].capacity - marks[0].count;
#pragma GCC unroll 4
        for (int k = 1; k < K; ++k)
            roundsLeft = std::min(roundsLeft, marks[k].capacity - marks[k].count);
    }
    int rounds = 0;

    for (;;) {
        bool inside = true;
#pragma GCC unroll 4
        for (int k = 0; k < K; ++k)
            inside &= lanes[k].next <= limits[k];
        if constexpr (kMark)
            inside &= rounds < roundsLeft;
        if (!inside)
            break;
#pragma GCC unroll 4
        for (int k = 0; k < K; ++k) {
            Refill(lanes[k]);
            if constexpr (kMark) {
                const int mark = marks[k].count + rounds;
                marks[k].positions[mark] = AddressBits(lanes[k].next, lanes[k].bitCount & 63);
                marks[k].outs[mark] = lanes[k].out;
            }
        }
        ++rounds;
        if (!LookupRound<K>(lanes, runs, subs, workspace))
            break;
    }
#pragma GCC unroll 4
    for (int k = 0; k < K; ++k) {
        streams[k].bits = lanes[k].bits;
        streams[k].bitCount = static_cast<int>(lanes[k].bitCount & 63);
        streams[k].next = lanes[k].next;
        streams[k].out = lanes[k].out;
        if constexpr (kMark)
            marks[k].count += rounds;
    }
}

template<bool kMark>
[[gnu::always_inline]] inline void RoundsFor(const DecodeTable& table, Stream* streams, int count,
                                             Workspace& workspace, Checkpoints* marks)
{
    switch (count) {
    case 1:
        return Rounds<1, kMark>(table, streams, workspace, marks);
    case 2:
        return Rounds<2, kMark>(table, streams, workspace, marks);
    case 3:
        return Rounds<3, kMark>(table, streams, workspace, marks);
    default:
        return Rounds<4, kMark>(table, streams, workspace, marks);
    }
}

void RoundsPortable(const DecodeTable& table, Stream* streams, int count, Workspace& workspace,
                    Checkpoints* marks)
{
    if (marks)
        RoundsFor<true>(table, streams, count, workspace, marks);
    else
        RoundsFor<false>(table, streams, count, workspace, marks);
}

#if defined(__x86_64__)
[[gnu::target("bmi2")]] void RoundsBmi2(const DecodeTable& table, Stream* streams, int count,
                                        Workspace& workspace, Checkpoints* marks)
{
    if (marks)
        RoundsFor<true>(table, streams, count, workspace, marks);
    else
        RoundsFor<false>(table, streams, count, workspace, marks);
}
#endif

} // namespace

const Kernel& KernelFor(ProcessorBuild build)
{
    static const Kernel portable { &RoundsPortable };
#if defined(__x86_64__)
    static const Kernel bmi2 { &RoundsBmi2 };
    if (build == ProcessorBuild::Bmi2)
        return bmi2;
#endif
    (void)build;
    return portable;
}

} // namespace hufpack::decode
