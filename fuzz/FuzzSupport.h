#pragma once

// What the fuzz targets share: a check that stops the run, how an input byte chooses the fast
// decoder's threads and chunks, and one pass of a coder in memory, checked for what every pass
// must leave behind.

#include "CoderRun.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace hufpack::fuzz {

using test::Bytes;
using test::Coded;
using test::Path;

// Stops the run with a message: libFuzzer then saves the input that caused it.
[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char* what)
{
    if (!condition)
        Fail(what);
}

// How the fast decoder runs, chosen by the bits of one input byte: one to four threads and
// chunks from a single bit (many chunks, each falling in step) up to the default size. A file's
// chunks stay at most 256, so that an input costs the fuzzer milliseconds, not seconds.
inline test::Pass DecodePassFrom(std::uint8_t choice, const Bytes& file)
{
    constexpr std::int64_t kChunkBits[] = { 0, 1, 3, 8, 13, 64, 1000, 4096 };
    constexpr std::int64_t kMaxChunks = 256;
    ChunkDecoder::Options options;
    options.chunkBits = kChunkBits[(choice >> 3) % 8];
    if (options.chunkBits > 0)
        options.chunkBits = std::max<std::int64_t>(
            options.chunkBits, static_cast<std::int64_t>(file.size()) * 8 / kMaxChunks);
    return { .decode = options, .threads = 1 + (choice >> 1) % 4 };
}

// One encode or decode of `input`, in memory.
inline Coded Run(std::span<const std::uint8_t> input, bool encode, const test::Pass& pass)
{
    const Coded coded = encode ? test::Encode(input, pass) : test::Decode(input, pass);
    Check(coded.heapEmpty, "every pass leaves the node heap empty");
    return coded;
}

} // namespace hufpack::fuzz
