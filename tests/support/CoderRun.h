#pragma once

// One pass of a coder over bytes in memory, with the choices the tests and the fuzz targets make:
// the table-driven or the bit-by-bit paths, how the fast encoder cuts the source into parts,
// how the fast decoder cuts the stream into chunks, the loops' build.

#include "TestSupport.h"
#include "decode/ChunkDecoder.h"
#include "hufpack/JobResult.h"
#include "sys/Processor.h"

#include <optional>
#include <span>

namespace hufpack::test {

enum class Path { Fast, Reference };

struct Pass
{
    Path path = Path::Fast;
    // When above 0, the fast encoder cuts even a small source into this many parts.
    int parts = 0;
    // How the fast decoder cuts the stream; its own choice when absent.
    std::optional<ChunkDecoder::Options> decode = std::nullopt;
    // Threads in all, the calling thread's included; 0 for one per processor.
    int threads = 0;
    ProcessorBuild build = ChosenBuild();
};

struct Coded
{
    JobResult result = JobResult::Done;
    Bytes bytes {};
    ChunkDecoder::Statistics stats {}; // what a fast Decode did
    bool heapEmpty = false; // the pass left the shared node heap empty, as every pass must
};

Coded Encode(std::span<const std::uint8_t> input, const Pass& pass = {});
Coded Decode(std::span<const std::uint8_t> input, const Pass& pass = {});

} // namespace hufpack::test
