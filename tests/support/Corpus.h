#pragma once

// Compressed files for the tests, the benchmarks and the fuzz seeds: how to write one by hand,
// a field at a time.

#include "TestSupport.h"

#include <cstdint>
#include <initializer_list>

namespace hufpack::test {

// A header whose checksum is right for its fields.
Bytes HeaderOf(std::int32_t totalBits, std::int16_t tableSize);
// A table entry: the byte value and its count.
Bytes Entry(std::uint8_t value, std::int32_t count);
Bytes Concat(std::initializer_list<Bytes> parts);
// A file with a valid checksum over `table` (entries) and `stream`.
Bytes Crafted(std::int32_t totalBits, const Bytes& table, const Bytes& stream);

} // namespace hufpack::test
