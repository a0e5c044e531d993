#pragma once

// Every code of a tree as the coders read it, made once from its code words: per byte value the
// code's length and its bits left-aligned in a 64-bit word (the first bit in bit 63), and what
// the lengths tell about the code as a whole. The encoder's loops, the decode tables, the summary
// and the bit-by-bit paths all read this one book.

#include "code/CodeWord.h"

#include <array>
#include <cstdint>

namespace hufpack {

struct CodeBook
{
    // After a flush at most 7 bits wait, so one code of up to this many bits always fits in a
    // 64-bit accumulator: the longest a coding loop takes. No source the format can hold has a
    // code longer than 44 bits (it needs counts adding up to Fibonacci(length + 2)).
    static constexpr int kMaxPackedBits = 56;

    // Makes `code`, of one bit or more, the code of `value`, replacing any code it had.
    void Add(std::uint8_t value, const CodeWord& code);

    [[nodiscard]] bool HasCode(std::uint8_t value) const { return lengths[value] > 0; }
    // Whether every code is 8 bits long, as for an already compressed source: coding is then a
    // substitution of bytes, and so is decoding.
    [[nodiscard]] bool EveryCodeIsAByte() const { return shortest == 8 && longest == 8; }

    // The code's first 64 bits (all of them for a code of 64 bits or fewer).
    std::array<std::uint64_t, 256> bits {};
    // 0 for a value without a code; up to 255.
    std::array<std::uint8_t, 256> lengths {};
    int shortest = 0;
    int longest = 0;
    // Every code starts at a multiple of this many bits.
    int lengthGcd = 0;
};

} // namespace hufpack
