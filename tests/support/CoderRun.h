#pragma once

// One pass of a TreeCoder over bytes, from a file into a file, with the switches the tests and
// the fuzz targets turn: the table-driven or the bit-by-bit paths, how the fast encoder cuts
// the source into parts, how the fast decoder cuts the stream into chunks.

#include "TestSupport.h"
#include "decode/ChunkDecoder.h"
#include "hufpack/JobResult.h"

#include <optional>
#include <span>

namespace hufpack::test {

enum class Path { Fast, Reference };
// Files in a scratch folder, as a job has them, or memory files, which never reach a disk.
enum class Storage { Disk, Memory };

struct Pass
{
    Path path = Path::Fast;
    // When above 0, the fast encoder cuts even a small source into this many parts.
    int parts = 0;
    // How the fast decoder cuts the stream; its own choice when absent.
    std::optional<ChunkDecoder::Options> decode = std::nullopt;
    Storage storage = Storage::Disk;
};

struct Coded
{
    JobResult result = JobResult::Done;
    Bytes bytes {};
    ChunkDecoder::Statistics stats {}; // what a fast Decode did
    bool closed = false; // the destination was flushed and closed without an error
    bool heapEmpty = false; // the pass left the shared node heap empty, as every pass must
};

Coded Encode(std::span<const std::uint8_t> input, const Pass& pass = {});
Coded Decode(std::span<const std::uint8_t> input, const Pass& pass = {});

// A file without a name in memory holding `bytes`, read from its start.
int MemoryFile(std::span<const std::uint8_t> bytes);
// Everything a file holds, from its start.
Bytes ReadAll(int fd);

} // namespace hufpack::test
