#pragma once

// The decoding loop's interface: the streams it advances, the per-thread workspace, and the
// builds of the loop for this processor.

#include "decode/DecodeTable.h"
#include "sys/Processor.h"

#include <array>
#include <cstdint>

namespace hufpack {

// The hot loop of decoding: up to kMaxStreams independent bit streams decoded in one loop, a
// lookup of each in turn, so that the processor overlaps their table loads; one stream alone
// waits on every load.
//
// A stream's bit buffer: `bits` holds `bitCount` not yet consumed bits, left-aligned (the next
// bit is bit 63); the bits below them are zero or the input's following bits, which a later
// refill ORs in again at the same place. A refill tops it up to at least 56 bits with one
// big-endian load at `next`, the first byte not yet in the buffer, so the stream's position is
// 8 * next - bitCount. After a refill, four lookups of at most kRunBits bits each always fit.
namespace decode {

inline constexpr int kMaxStreams = 4;
// The bits a refill leaves in the buffer at the least: a 64-bit load, less up to 7 bits of the
// byte it starts in that were in the buffer already.
inline constexpr int kRefillBits = 56;
inline constexpr int kLookupsPerRefill = kRefillBits / DecodeTable::kRunBits;
// The most bits one round (a refill and its lookups) can take: every lookup may be a code that
// the second-level table resolves.
inline constexpr int kMaxRoundBits = kLookupsPerRefill * DecodeTable::kMaxFastBits;
// A lookup stores four bytes and keeps up to three; this much room follows any output.
inline constexpr int kOutputSlack = 4;
// Bytes past the last input byte that a round may load: a kernel call starts a round only while
// `next` is at most its limit, and a round's refills read at most this far beyond it.
inline constexpr int kInputSlack = 8 * (kLookupsPerRefill + 1) + 8;

struct Stream
{
    std::uint64_t bits = 0;
    int bitCount = 0;
    const std::uint8_t* next = nullptr;
    // No round starts with `next` past this.
    const std::uint8_t* limit = nullptr;
    std::uint8_t* out = nullptr;
};

// One thread's own tables for the loop: a copy of the run table with, beside each entry, how
// often it was used, so that one register addresses both and a lookup touches one cache line;
// and the symbols that came out otherwise. The counts serve the check that the output holds
// each byte value as often as the file's table says, without a second pass over the output.
struct Workspace
{
    static constexpr std::size_t kEntries = std::size_t { 1 } << DecodeTable::kRunBits;

    Workspace() = default;
    explicit Workspace(const DecodeTable& table) { Load(table); }
    // Takes `table`'s run table, every use count 0.
    void Load(const DecodeTable& table);

    void Add(std::uint8_t symbol) { ++symbols[symbol]; }
    // Adds every symbol counted so far to `counts`.
    void AddTo(std::array<std::uint64_t, 256>& counts) const;

    // Entry i of the run table at 2i, its use count at 2i + 1.
    std::array<std::uint32_t, 2 * kEntries> runs {};
    std::array<std::uint64_t, 256> symbols {};
};

// A stream's position counted in bits from address 0: 8 * next less the `held` bits loaded from
// before `next` and not yet taken.
inline std::uint64_t AddressBits(const std::uint8_t* next, std::uint64_t held)
{
    return (reinterpret_cast<std::uintptr_t>(next) << 3) - held;
}

// Where a stream stood at the start of each round, for finding later where a decoder started
// elsewhere falls in step with it. A position is stored as its AddressBits, to be turned into a
// stream position by the caller.
struct Checkpoints
{
    std::uint64_t* positions = nullptr;
    std::uint8_t** outs = nullptr;
    int count = 0;
    int capacity = 0;
};

// Runs rounds on `count` streams (1 to kMaxStreams) while every stream's `next` is within its
// limit and, when `marks` is given, while each stream's checkpoints have room. A stream that
// meets a code too long for the two table levels stops at that code's start and ends the call;
// the others stop between codes. `marks` is null or holds one Checkpoints per stream.
using RoundsFunction = void (*)(const DecodeTable& table, Stream* streams, int count,
                                Workspace& workspace, Checkpoints* marks);

// The same loop built for any x86-64 processor and, where the processor has it, with BMI2,
// whose shifts take their count in any register; most of the loop is variable shifts.
struct Kernel
{
    RoundsFunction rounds;
};
// The loop for a code whose every code is a byte long: each of the `count` bytes at `in` is
// one code, written as its symbol at `out`.
void SubstituteBytes(const std::uint8_t* in, std::size_t count, std::uint8_t* out,
                     const std::array<std::uint8_t, 256>& symbols, Workspace& workspace);

// The loop in the processor's build.
const Kernel& KernelFor(ProcessorBuild build);

} // namespace decode
} // namespace hufpack
