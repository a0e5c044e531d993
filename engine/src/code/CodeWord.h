#pragma once

// A code in its two forms: the CodeWord that code assignment makes for one byte value, and the
// same codes packed for the coding loops. Every packed code is made from a CodeWord, here.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace hufpack {

// The code of one byte value: element 0 is the number of bits N, elements 1 to N the bits in
// the order they are written (element 1 is the bit taken at the root).
class CodeWord
{
public:
    // From a code string of '0' and '1' characters; any character but '0' counts as a 1.
    explicit CodeWord(const std::string& code);

    [[nodiscard]] int Length() const { return m_data[0]; }
    // i = 0 gives the length, 1..Length() the bits.
    [[nodiscard]] std::int32_t operator[](int i) const { return m_data[i]; }

private:
    std::vector<std::int32_t> m_data;
};

// Every code of a source as the coding loops read them: each code's bits left-aligned in a 64-bit
// word (the first bit in bit 63), and its length; a length of 0 for a value without a code. A
// code longer than kMaxBits keeps its length but no bits: it cannot be coded this way.
struct PackedCodes
{
    // After a flush at most 7 bits wait, so one code of up to this many bits always fits in the
    // 64-bit accumulator.
    static constexpr int kMaxBits = 56;

    // Makes `code`, of one bit or more, the code of `value`.
    void Add(std::uint8_t value, const CodeWord& code);

    // Whether every code added is 8 bits long, as for an already compressed source: the coding
    // is then a substitution of bytes.
    [[nodiscard]] bool EveryCodeIsAByte() const { return shortest == 8 && longest == 8; }

    std::array<std::uint64_t, 256> bits {};
    std::array<std::uint8_t, 256> lengths {};
    int shortest = 0;
    int longest = 0;
};

} // namespace hufpack
