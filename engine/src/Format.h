#pragma once

#include "ByteOrder.h"
#include "FileStream.h"

#include <cstdint>
#include <span>

namespace hufpack {

// The compressed file: a 7-byte header (checksum, total bits, table size), a table of 5-byte
// entries (byte value, count), then the code bits, most significant bit first. Integers are
// little-endian. An empty source compresses to an empty file.
inline constexpr int kHeaderSize = 7;
inline constexpr int kEntrySize = 5;
inline constexpr int kMaxTableSize = 256 * kEntrySize;

// The low 8 bits of table size + total bits, as the writer stores it.
[[nodiscard]] inline std::uint8_t ChecksumFor(std::int16_t tableSize, std::int32_t totalBits)
{
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(tableSize)
                                     + static_cast<std::uint32_t>(totalBits));
}

// The reader's rule: the 32-bit sum wraps and is taken as signed, and its remainder by 256
// keeps the sum's sign. So a negative sum passes only when it is a multiple of 256 and the
// checksum byte is 0; for other sums this agrees with ChecksumFor.
[[nodiscard]] inline bool ChecksumMatches(std::uint8_t checksum, std::int16_t tableSize,
                                          std::int32_t totalBits)
{
    const auto sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(tableSize)
                                               + static_cast<std::uint32_t>(totalBits));
    return sum % 256 == checksum;
}

inline void PutLittleEndian(FileStream& out, std::uint32_t value, int bytes)
{
    std::uint8_t field[4];
    StoreLittleEndian(std::span(field, static_cast<std::size_t>(bytes)), value);
    out.Write(field, static_cast<std::size_t>(bytes));
}

// Every read of an untrusted file goes through here: all the bytes or a failure, never a
// partial field.
[[nodiscard]] inline bool ReadExact(FileStream& in, std::span<std::uint8_t> bytes)
{
    return in.Read(bytes.data(), bytes.size()) == bytes.size();
}

} // namespace hufpack
