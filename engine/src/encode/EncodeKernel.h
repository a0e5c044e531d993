#pragma once

// The encoder's loops over the source's bytes, and the part hash they keep.

#include "code/CodeBook.h"
#include "format/ByteOrder.h"
#include "format/Counts.h"
#include "sys/Processor.h"

#include <array>
#include <bit>
#include <cstdint>
#include <memory>

namespace hufpack::encode {

// The encoder's two loops over every byte of the source: counting it (with a hash, so that a
// source that changes between the passes is noticed), and coding it once the code is known.
// The parts and threads that run them are PartEncoder's.

// A 64-bit hash of a part, cheap enough to run beside the counting and the coding: four lanes,
// each rotated and added a multiple of the next 8-byte word, so that where a word is matters.
// It only has to tell whether the source changed between two reads, not resist anyone. Bytes
// come in 32-byte stripes; only the part's last bytes may be fewer.
class PartHash
{
public:
    void AddStripe(std::uint64_t word0, std::uint64_t word1, std::uint64_t word2,
                   std::uint64_t word3)
    {
        m_lanes[0] = std::rotl(m_lanes[0], 29) + word0 * kPrime2;
        m_lanes[1] = std::rotl(m_lanes[1], 29) + word1 * kPrime2;
        m_lanes[2] = std::rotl(m_lanes[2], 29) + word2 * kPrime2;
        m_lanes[3] = std::rotl(m_lanes[3], 29) + word3 * kPrime2;
        m_size += 32;
    }
    void Add(const std::uint8_t* data, std::size_t size)
    {
        for (; size >= 32; data += 32, size -= 32)
            AddStripe(LoadNative64(data), LoadNative64(data + 8), LoadNative64(data + 16),
                      LoadNative64(data + 24));
        for (; size > 0; ++data, --size) {
            m_tail = std::rotl(m_tail ^ (*data * kPrime1), 11) * kPrime2;
            ++m_size;
        }
    }
    [[nodiscard]] std::uint64_t Value() const
    {
        const std::uint64_t value = std::rotl(m_lanes[0], 1) + std::rotl(m_lanes[1], 7)
            + std::rotl(m_lanes[2], 12) + std::rotl(m_lanes[3], 18) + m_tail * kPrime1 + m_size;
        return value ^ (value >> 29);
    }

private:
    static constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
    static constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

    std::array<std::uint64_t, 4> m_lanes { 1, 2, 3, 4 };
    std::uint64_t m_tail = 0;
    std::uint64_t m_size = 0;
};

// Counts the byte values of a block as ByteCounter does and hashes it on the way.
void CountAndHash(const std::uint8_t* data, std::size_t size, CountTables& tables, PartHash& hash);

// The coder's state between blocks: the waiting bits, left-aligned in `bits` (the oldest is bit
// 63, everything below the `count` waiting bits is 0), and count < 8.
struct PendingBits
{
    std::uint64_t bits = 0;
    unsigned count = 0;
};

// The codes of every pair of bytes joined, for the loop that codes two bytes a lookup: entry
// (first | second << 8), which is how a little-endian load of the two bytes reads, holds the
// first byte's code followed by the second's, left-aligned, and their total length in its low six
// bits. It takes 512 KiB, of which a source touches only the pairs it holds; it pays for itself
// on a source of a MiB or so.
class PairCodes
{
public:
    // Two codes of up to this many bits fit above the length.
    static constexpr int kMaxPairedBits = 29;

    // The table's entries, one for every pair of byte values.
    static constexpr std::size_t kEntries = std::size_t { 1 } << 16;

    // Empty, and the one-byte loops code, when a code is too long to pair or memory is short.
    // The table goes in `storage` (kEntries entries) when given, else in memory of its own.
    explicit PairCodes(const CodeBook& codes, std::uint64_t* storage = nullptr);
    [[nodiscard]] const std::uint64_t* Entries() const { return m_entries; }

private:
    std::unique_ptr<std::uint64_t[]> m_owned;
    std::uint64_t* m_entries = nullptr;
};

// Codes [in, end) into `out`, which must have room for every byte they produce plus 8, and
// returns the end of the bytes it completed; the bits of an unfinished byte stay in `pending`.
// `pairs` is PairCodes' table for the loops that take two bytes a lookup, null for the others.
using CodeBlockFunction
    = std::uint8_t* (*)(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                        const CodeBook& codes, const std::uint64_t* pairs, PendingBits& pending);

// The coding loop for `codes`, of `bitsPerByte` bits on average, in the processor's build; one
// that codes two bytes a lookup when `pairs` has a table.
CodeBlockFunction CodeBlockFor(const CodeBook& codes, double bitsPerByte, const PairCodes* pairs,
                               ProcessorBuild build);

} // namespace hufpack::encode
