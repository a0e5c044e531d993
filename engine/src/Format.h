#pragma once

// The compressed file, in one place: a 7-byte header (checksum, total bits, table size), a table
// of 5-byte entries (byte value, count), then the code bits, most significant bit first, from
// offset 7 + table size. Integers are little-endian. An empty source compresses to an empty file.
// The writer's and the reader's side of the header and the table are both here, the reader's
// with every rule that tells a damaged file before its bits are decoded.

#include "FileStream.h"

#include <array>
#include <cstdint>
#include <span>

namespace hufpack {

inline constexpr int kHeaderSize = 7;
inline constexpr int kEntrySize = 5;

// How often each byte value occurs, as the table stores it. Only a positive count puts a value
// in the table, and in the code tree.
using Counts = std::array<std::int32_t, 256>;

struct Header
{
    std::uint8_t checksum = 0;
    std::int32_t totalBits = 0; // code bits in the stream, fill bits not included
    std::int16_t tableSize = 0; // bytes of the table; read as signed 16-bit

    // The header as the writer makes it: the checksum is the low 8 bits of table size + total
    // bits.
    [[nodiscard]] static Header For(std::int32_t totalBits, std::int16_t tableSize);
    // From the first kHeaderSize bytes of `file`, which must have them.
    [[nodiscard]] static Header Parse(std::span<const std::uint8_t> file);
    [[nodiscard]] std::array<std::uint8_t, kHeaderSize> Bytes() const;

    // The reader's rule: the 32-bit sum wraps and is taken as signed, and its remainder by 256
    // keeps the sum's sign. So a negative sum passes only when it is a multiple of 256 and the
    // checksum byte is 0; for other sums this agrees with For.
    [[nodiscard]] bool ChecksumMatches() const;
    // Where the bit stream starts: right after the table's size in bytes, however many bytes its
    // entries took.
    [[nodiscard]] std::int64_t StreamOffset() const { return kHeaderSize + tableSize; }
    // How far a reader looks: to the last byte of the table's last entry (which may reach past
    // the table's size), and with `bits` to the last byte of the bit stream too. Bytes past this
    // are never read.
    [[nodiscard]] std::int64_t FileEnd(bool bits) const;
};

[[nodiscard]] std::array<std::uint8_t, kEntrySize> EntryBytes(std::uint8_t value,
                                                              std::int32_t count);

// The byte values with a positive count: the entries the writer puts in the table.
[[nodiscard]] int EntriesOf(const Counts& counts);
// The size of the table the writer makes for `counts`, in bytes.
[[nodiscard]] std::uint16_t TableSizeOf(const Counts& counts);
// What decoding the file writes: the sum of the positive counts.
[[nodiscard]] std::int64_t OriginalBytes(const Counts& counts);

// Writes the header at offset 0 of `out`.
void WriteHeader(FileStream& out, const Header& header);
// Writes the table at offset 7 of `out`, an entry for each positive count in ascending order of
// byte value, and returns its size in bytes.
std::uint16_t WriteTable(FileStream& out, const Counts& counts);

// What the front of a file said.
enum class FrontOfFile {
    Read, // the header and the table, and a file long enough for the bits it claims
    Empty, // no byte at all: what an empty source compresses to
    ReadFailed, // the stream says why
    ShortHeader, // fewer than kHeaderSize bytes
    BadChecksum,
    CutShort, // the table or the bit stream reaches past the end of the file
    NoTree, // bits, but no positive count to build a tree from
    CountsPastBits, // the counts add up to more bytes than the bits can hold, at a bit each
};

// Reads the header and the table of `in` from its position, the file's start, with every check
// that can be made before the bit stream. Entries are read while their offset is below the table
// size, so the last one may reach past it into the bit stream; a later entry for a value
// replaces an earlier one. `fileSize` is the file's length, or -1 for a stream whose length is
// not known, which is then taken to be what the header says. `counts` must be all 0 on entry.
[[nodiscard]] FrontOfFile ReadHeaderAndTable(FileStream& in, std::int64_t fileSize, Header& header,
                                             Counts& counts);

} // namespace hufpack
