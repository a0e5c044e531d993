// The encoder's loops: counting with the part hash, and coding in groups of codes, built for any
// x86-64 and for BMI2.

#include "encode/EncodeKernel.h"

#include "format/ByteOrder.h"
#include "sys/Memory.h"
#include "sys/Processor.h"

#include <algorithm>
#include <cassert>

namespace hufpack::encode {

namespace {

// Codes per flush: as many as take, on average, this many bits, so that a group rarely overflows.
constexpr int kGroupBits = 36;
// The same for the loops that code pairs, whose lookups cost less than a flush.
constexpr int kPairGroupBits = 40;

// The coder's accumulator, from `pending` on: codes are ORed in below the waiting bits, and a
// flush stores eight bytes and keeps the whole ones.
struct Accumulator
{
    std::uint64_t bits;
    unsigned count;
    std::uint8_t* out;

    [[gnu::always_inline]] void Flush()
    {
        StoreBigEndian64(out, bits);
        out += count >> 3;
        bits <<= count & ~7u;
        count &= 7;
    }
    [[gnu::always_inline]] void PutOne(const CodeBook& codes, std::uint8_t byte)
    {
        bits |= codes.bits[byte] >> count;
        count += codes.lengths[byte];
        Flush();
    }
};

// Codes go into the accumulator `kGroup` at a time between flushes. A group whose codes would
// overflow the accumulator, which the group size makes rare, goes again one code at a time.
template<int kGroup>
[[gnu::always_inline]] inline std::uint8_t* CodeBlock(const std::uint8_t* in,
                                                      const std::uint8_t* end, std::uint8_t* out,
                                                      const CodeBook& packed, PendingBits& pending)
{
    const std::uint64_t* const codes = packed.bits.data();
    const std::uint8_t* const lengths = packed.lengths.data();
    Accumulator acc { pending.bits, pending.count, out };
    for (; end - in >= kGroup; in += kGroup) {
        std::uint64_t groupBits = acc.bits;
        unsigned groupCount = acc.count;
#pragma GCC unroll 8
        for (int i = 0; i < kGroup; ++i) {
            groupBits |= codes[in[i]] >> (groupCount & 63);
            groupCount += lengths[in[i]];
        }
        if (groupCount < 64) [[likely]] {
            acc.bits = groupBits;
            acc.count = groupCount;
            acc.Flush();
        } else {
            for (int i = 0; i < kGroup; ++i)
                acc.PutOne(packed, in[i]);
        }
    }
    for (; in < end; ++in)
        acc.PutOne(packed, *in);
    pending = { acc.bits, acc.count };
    return acc.out;
}

// The same with two bytes a lookup in the pair table, `kPairs` lookups between flushes.
template<int kPairs>
[[gnu::always_inline]] inline std::uint8_t*
CodePairs(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
          const CodeBook& packed, const std::uint64_t* pairs, PendingBits& pending)
{
    constexpr std::uint64_t kCodeBits = ~std::uint64_t { 63 };
    Accumulator acc { pending.bits, pending.count, out };
    for (; end - in >= 2 * kPairs; in += 2 * kPairs) {
        std::uint64_t groupBits = acc.bits;
        std::uint64_t groupCount = acc.count;
#pragma GCC unroll 4
        for (int i = 0; i < kPairs; ++i) {
            const std::uint64_t entry = pairs[LoadLittleEndian16(in + 2 * i)];
            groupBits |= (entry & kCodeBits) >> (groupCount & 63);
            groupCount += entry & 63;
        }
        if (groupCount < 64) [[likely]] {
            acc.bits = groupBits;
            acc.count = static_cast<unsigned>(groupCount);
            acc.Flush();
        } else {
            for (int i = 0; i < 2 * kPairs; ++i)
                acc.PutOne(packed, in[i]);
        }
    }
    for (; in < end; ++in)
        acc.PutOne(packed, *in);
    pending = { acc.bits, acc.count };
    return acc.out;
}

// Each loop built twice: for any x86-64, and with BMI2's shifts, which take their count in any
// register and leave the flags alone; most of the loop is variable shifts.
template<int kGroup>
std::uint8_t* CodeBlockPortable(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                                const CodeBook& codes, const std::uint64_t*, PendingBits& pending)
{
    return CodeBlock<kGroup>(in, end, out, codes, pending);
}

template<int kPairs>
std::uint8_t* CodePairsPortable(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                                const CodeBook& codes, const std::uint64_t* pairs,
                                PendingBits& pending)
{
    return CodePairs<kPairs>(in, end, out, codes, pairs, pending);
}

#if defined(__x86_64__)
template<int kGroup>
[[gnu::target("bmi2")]] std::uint8_t* CodeBlockBmi2(const std::uint8_t* in, const std::uint8_t* end,
                                                    std::uint8_t* out, const CodeBook& codes,
                                                    const std::uint64_t*, PendingBits& pending)
{
    return CodeBlock<kGroup>(in, end, out, codes, pending);
}

template<int kPairs>
[[gnu::target("bmi2")]] std::uint8_t*
CodePairsBmi2(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
              const CodeBook& codes, const std::uint64_t* pairs, PendingBits& pending)
{
    return CodePairs<kPairs>(in, end, out, codes, pairs, pending);
}
#endif

// Every code 8 bits: each byte's code is the top byte of its packed word.
std::uint8_t* SubstituteBytes(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                              const CodeBook& codes, const std::uint64_t*, PendingBits& pending)
{
    assert(pending.count == 0);
    (void)pending;
    std::array<std::uint8_t, 256> bytes;
    for (int value = 0; value < 256; ++value)
        bytes[value] = static_cast<std::uint8_t>(codes.bits[value] >> 56);
    for (; in < end; ++in)
        *out++ = bytes[*in];
    return out;
}

} // namespace

void CountAndHash(const std::uint8_t* data, std::size_t size, CountTables& tables, PartHash& hash)
{
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + size;
    for (; end - p >= 32; p += 32) {
        const std::uint64_t word0 = LoadNative64(p);
        const std::uint64_t word1 = LoadNative64(p + 8);
        const std::uint64_t word2 = LoadNative64(p + 16);
        const std::uint64_t word3 = LoadNative64(p + 24);
        hash.AddStripe(word0, word1, word2, word3);
        CountWord(tables, word0);
        CountWord(tables, word1);
        CountWord(tables, word2);
        CountWord(tables, word3);
    }
    hash.Add(p, static_cast<std::size_t>(end - p));
    for (; p < end; ++p)
        ++tables[0][*p];
}

PairCodes::PairCodes(const CodeBook& codes, std::uint64_t* storage)
{
    if (codes.longest > kMaxPairedBits)
        return;
    if (!storage) {
        m_owned = TryNew<std::uint64_t>(kEntries);
        storage = m_owned.get();
    }
    m_entries = storage;
    if (!m_entries)
        return;
    for (int second = 0; second < 256; ++second) {
        const std::uint64_t code = codes.bits[second];
        const unsigned length = codes.lengths[second];
        std::uint64_t* const row = m_entries + (second << 8);
        for (int first = 0; first < 256; ++first) {
            const unsigned before = codes.lengths[first];
            // A byte value without a code (length 0) is never coded: its pairs only have to be
            // harmless.
            row[first] = codes.bits[first] | (code >> (before & 63)) | (before + length);
        }
    }
}

// The largest group of 1, 2, 4 or 8 codes, or of 1 to 4 pairs, that takes, on average, no more
// than the loop's group bits; or for codes of a byte each, which leave nothing pending between
// bytes, the substitution.
CodeBlockFunction CodeBlockFor(const CodeBook& codes, double bitsPerByte, const PairCodes* pairs,
                               ProcessorBuild build)
{
    if (codes.EveryCodeIsAByte())
        return &SubstituteBytes;
    const bool bmi2 = build == ProcessorBuild::Bmi2;
    if (pairs && pairs->Entries()) {
        const int group = std::clamp(static_cast<int>(kPairGroupBits / (2 * bitsPerByte)), 1, 4);
#if defined(__x86_64__)
        constexpr std::array<CodeBlockFunction, 4> kBmi2 { &CodePairsBmi2<1>, &CodePairsBmi2<2>,
                                                           &CodePairsBmi2<3>, &CodePairsBmi2<4> };
        if (bmi2)
            return kBmi2[group - 1];
#endif
        constexpr std::array<CodeBlockFunction, 4> kPortable { &CodePairsPortable<1>,
                                                               &CodePairsPortable<2>,
                                                               &CodePairsPortable<3>,
                                                               &CodePairsPortable<4> };
        return kPortable[group - 1];
    }
    const int group = 8 * bitsPerByte <= kGroupBits ? 8
        : 4 * bitsPerByte <= kGroupBits             ? 4
        : 2 * bitsPerByte <= kGroupBits             ? 2
                                                    : 1;
#if defined(__x86_64__)
    if (bmi2) {
        constexpr std::array<CodeBlockFunction, 4> kBmi2 { &CodeBlockBmi2<1>, &CodeBlockBmi2<2>,
                                                           &CodeBlockBmi2<4>, &CodeBlockBmi2<8> };
        return kBmi2[std::countr_zero(static_cast<unsigned>(group))];
    }
#endif
    (void)bmi2;
    constexpr std::array<CodeBlockFunction, 4> kPortable {
        &CodeBlockPortable<1>, &CodeBlockPortable<2>, &CodeBlockPortable<4>, &CodeBlockPortable<8>
    };
    return kPortable[std::countr_zero(static_cast<unsigned>(group))];
}

} // namespace hufpack::encode
