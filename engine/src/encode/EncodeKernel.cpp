// The encoder's loops: counting with the part hash, and coding in groups of codes, built for any
// x86-64 and for BMI2.

#include "encode/EncodeKernel.h"

#include "format/ByteOrder.h"
#include "sys/Processor.h"

#include <algorithm>
#include <cassert>

namespace hufpack::encode {

namespace {

// Codes per flush: as many as take, on average, this many bits, so that a group rarely overflows.
constexpr int kGroupBits = 36;

// Codes go into the accumulator `kGroup` at a time between flushes, a flush storing eight bytes
// and keeping the whole ones. A group whose codes would overflow the accumulator, which the
// group size makes rare, goes again one code at a time.
template<int kGroup>
[[gnu::always_inline]] inline std::uint8_t* CodeBlock(const std::uint8_t* in,
                                                      const std::uint8_t* end, std::uint8_t* out,
                                                      const CodeBook& packed, PendingBits& pending)
{
    const std::uint64_t* const codes = packed.bits.data();
    const std::uint8_t* const lengths = packed.lengths.data();
    std::uint64_t bits = pending.bits;
    unsigned count = pending.count;
    const auto flush = [&] {
        StoreBigEndian64(out, bits);
        out += count >> 3;
        bits <<= count & ~7u;
        count &= 7;
    };
    const auto putOne = [&](std::uint8_t byte) {
        bits |= codes[byte] >> count;
        count += lengths[byte];
        flush();
    };
    for (; end - in >= kGroup; in += kGroup) {
        std::uint64_t groupBits = bits;
        unsigned groupCount = count;
#pragma GCC unroll 8
        for (int i = 0; i < kGroup; ++i) {
            groupBits |= codes[in[i]] >> (groupCount & 63);
            groupCount += lengths[in[i]];
        }
        if (groupCount < 64) [[likely]] {
            bits = groupBits;
            count = groupCount;
            flush();
        } else {
            for (int i = 0; i < kGroup; ++i)
                putOne(in[i]);
        }
    }
    for (; in < end; ++in)
        putOne(*in);
    pending = { bits, count };
    return out;
}

// The same loop built twice: for any x86-64, and with BMI2's shifts, which take their count in
// any register and leave the flags alone; most of the loop is variable shifts.
template<int kGroup>
std::uint8_t* CodeBlockPortable(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                                const CodeBook& codes, PendingBits& pending)
{
    return CodeBlock<kGroup>(in, end, out, codes, pending);
}

#if defined(__x86_64__)
template<int kGroup>
[[gnu::target("bmi2")]] std::uint8_t* CodeBlockBmi2(const std::uint8_t* in, const std::uint8_t* end,
                                                    std::uint8_t* out, const CodeBook& codes,
                                                    PendingBits& pending)
{
    return CodeBlock<kGroup>(in, end, out, codes, pending);
}
#endif

// Every code 8 bits: each byte's code is the top byte of its packed word.
std::uint8_t* SubstituteBytes(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                              const CodeBook& codes, PendingBits& pending)
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

// The largest group of 1, 2, 4 or 8 codes that takes, on average, no more than kGroupBits; or
// for codes of a byte each, which leave nothing pending between bytes, the substitution.
CodeBlockFunction CodeBlockFor(const CodeBook& codes, double bitsPerByte)
{
    if (codes.EveryCodeIsAByte())
        return &SubstituteBytes;
    const int group = 8 * bitsPerByte <= kGroupBits ? 8
        : 4 * bitsPerByte <= kGroupBits             ? 4
        : 2 * bitsPerByte <= kGroupBits             ? 2
                                                    : 1;
#if defined(__x86_64__)
    if (ChosenBuild() == ProcessorBuild::Bmi2) {
        constexpr std::array<CodeBlockFunction, 4> kBmi2 { &CodeBlockBmi2<1>, &CodeBlockBmi2<2>,
                                                           &CodeBlockBmi2<4>, &CodeBlockBmi2<8> };
        return kBmi2[std::countr_zero(static_cast<unsigned>(group))];
    }
#endif
    constexpr std::array<CodeBlockFunction, 4> kPortable {
        &CodeBlockPortable<1>, &CodeBlockPortable<2>, &CodeBlockPortable<4>, &CodeBlockPortable<8>
    };
    return kPortable[std::countr_zero(static_cast<unsigned>(group))];
}

} // namespace hufpack::encode
