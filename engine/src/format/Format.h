#pragma once

// The compressed file, in one place: a 7-byte header (checksum, total bits, table size), a table
// of 5-byte entries (byte value, count), then the code bits, most significant bit first, from
// offset 7 + table size. Integers are little-endian. An empty source compresses to an empty file.
// The writer's and the reader's side of the header and the table are both here, as bytes: the
// reader's with every rule that tells a damaged file before its bits are decoded.

#include "format/Counts.h"
#include "hufpack/JobResult.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace hufpack {

inline constexpr int kHeaderSize = 7;
inline constexpr int kEntrySize = 5;

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
// The table the writer makes: an entry for each positive count, in ascending order of value.
[[nodiscard]] std::vector<std::uint8_t> TableBytes(const Counts& counts);

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

// The reader's checks on a header whose checksum matched and on its table's bytes, from offset
// 7 to header.FileEnd(false) (fewer when the file ends first), in a file of `fileSize` bytes.
// Entries are read while their offset is below the table size, so the last one may reach past
// it into the bit stream; a later entry for a value replaces an earlier one. `counts` must be
// all 0 on entry.
[[nodiscard]] FrontOfFile CheckFront(const Header& header, std::span<const std::uint8_t> table,
                                     std::int64_t fileSize, Counts& counts);
// What a front that is neither Read nor Empty means, as a job's failure of its source; a read
// that failed is the stream's to say.
[[nodiscard]] Status FrontFailure(FrontOfFile front);

// Whether every byte value came out of the bits exactly as often as the table counts it (a
// count of 0 or less: never); anything else is a damaged file, whatever its checksum.
[[nodiscard]] bool CountsMatch(const Counts& counts, const WideCounts& written);

} // namespace hufpack
