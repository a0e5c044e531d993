#pragma once

// Every load and store of a multi-byte integer, in the byte order it needs. The file's fields are
// little-endian; the bit stream is read and written in big-endian words, so that the first
// byte's first bit is the word's highest bit, which is the order the codes are packed in. Words
// that only count or hash bytes are loaded in the machine's own order: those values never leave
// the process that made them. The loads used inside the coding loops are always inlined.

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace hufpack {

[[gnu::always_inline]] inline std::uint64_t LoadBigEndian64(const std::uint8_t* p)
{
    std::uint64_t value;
    std::memcpy(&value, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        value = __builtin_bswap64(value);
    return value;
}

[[gnu::always_inline]] inline void StoreBigEndian64(std::uint8_t* p, std::uint64_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        value = __builtin_bswap64(value);
    std::memcpy(p, &value, 8);
}

// The four bytes of `value`, its low byte first.
[[gnu::always_inline]] inline void StoreLittleEndian32(std::uint8_t* p, std::uint32_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap32(value);
    std::memcpy(p, &value, 4);
}

// Two bytes, the first low, as the pair coder indexes its table.
[[gnu::always_inline]] inline std::uint16_t LoadLittleEndian16(const std::uint8_t* p)
{
    std::uint16_t value;
    std::memcpy(&value, p, 2);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap16(value);
    return value;
}

// Eight bytes in the machine's own order, for counting and hashing.
[[gnu::always_inline]] inline std::uint64_t LoadNative64(const std::uint8_t* p)
{
    std::uint64_t value;
    std::memcpy(&value, p, 8);
    return value;
}

// A field of the file: its bytes, the lowest first (up to four).
[[nodiscard]] inline std::uint32_t LoadLittleEndian(std::span<const std::uint8_t> bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

inline void StoreLittleEndian(std::span<std::uint8_t> bytes, std::uint32_t value)
{
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

} // namespace hufpack
