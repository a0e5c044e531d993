#pragma once

// The format's one limit on a source, and how a longer source is cut into members: compressed
// files one after another, each as long as the limit lets it be, so that there are as few of
// them as there can be.

#include "format/Counts.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace hufpack {

// No code of 256 values costs more than eight bits a byte on the whole, as the plain bytes do,
// so a member this long fits whatever it holds, and no tree need be built to tell: the cutter
// ends no member shorter, and a source is never cut into more than one member per this many
// bytes. (INT32_MAX less the largest table, in bits.)
inline constexpr std::int64_t kAlwaysFits = (2147483647 - 256 * 5) / 8;

// Whether one compressed file can hold a source with these counts: every count fits the table's
// signed 32-bit field, and the table's size and the total bits add up to INT32_MAX at most, the
// sum the reader's checksum takes as signed. A sum past it would wrap, and the file would not
// decode.
[[nodiscard]] bool FitsOneFile(const WideCounts& counts);

// Offered a source's bytes in order, says where each member must end. Whether a source fits
// depends on its code, and so on all its counts; but the bits a Huffman code takes never shrink
// as a count grows, so the longest prefix that fits is found by adding bytes until one does not.
class MemberCutter
{
public:
    // How many of `bytes`, the next of the source, the member being cut still takes: all of
    // them, or fewer when it must end there. The bytes not taken start the next member, once
    // Next is called.
    [[nodiscard]] std::size_t Take(std::span<const std::uint8_t> bytes);
    // Starts the next member.
    void Next();
    [[nodiscard]] std::int64_t Bytes() const { return m_bytes; }

private:
    WideCounts m_counts {};
    std::int64_t m_bytes = 0;
};

} // namespace hufpack
