#pragma once

// The compressed files the tests, the benchmarks and the fuzz seeds share: golden files (a source
// and exactly the file it compresses to), damaged files (every kind the decoder must reject),
// odd files that are still consistent, and hand-made files with valid checksums that claim far
// more than they hold. Also the means to write one by hand, a field at a time.

#include "TestSupport.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace hufpack::test {

// A header whose checksum is right for its fields.
Bytes HeaderOf(std::int32_t totalBits, std::int16_t tableSize);
// A table entry: the byte value and its count.
Bytes Entry(std::uint8_t value, std::int32_t count);
Bytes Concat(std::initializer_list<Bytes> parts);
// A file with a valid checksum over `table` (entries) and `stream`.
Bytes Crafted(std::int32_t totalBits, const Bytes& table, const Bytes& stream);
// `bytes` with the byte at `at` set to `value`.
Bytes Changed(Bytes bytes, std::size_t at, std::uint8_t value);
// The first `length` bytes of `bytes`.
Bytes Cut(const Bytes& bytes, std::size_t length);

// "abracadabra" compressed: header 30 17 00 00 00 19 00, five entries (a 5, b 2, c 1, d 1,
// r 2), and the 23 code bits 6E 8A DC.
const Bytes& AbracadabraFile();
// The same with its checksum byte changed from 30 to 31.
const Bytes& BadChecksumFile();

struct Golden
{
    const char* name;
    Bytes source;
    Bytes file; // written out byte for byte, never made by the coder under test
};
const std::vector<Golden>& GoldenFiles();

struct Sample
{
    std::string name;
    Bytes file;
};
// Files that pass the checksum and still are not ours: cut short anywhere, tables past the end,
// bits without a tree, counts that disagree with the bits.
const std::vector<Sample>& DamagedFiles();
// Files with valid checksums whose outcome only decoding tells (every one of them is rejected
// as damaged at its end): trees up to 40 levels deep, counts at the limit of their field, far
// more bits claimed than held. Some are megabytes long.
const std::vector<Sample>& CraftedFiles();

struct Consistent
{
    std::string name;
    Bytes file;
    Bytes restored;
};
// Files the encoder never writes that still decode to what their table counts: entries out of
// order or repeated, zero counts, header-only files.
const std::vector<Consistent>& OddButConsistentFiles();

} // namespace hufpack::test
