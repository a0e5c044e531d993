#pragma once

// What the fuzz targets share: sources and results in memory files, and one pass of a coder.

#include "FileStream.h"
#include "NodeHeap.h"
#include "TestHooks.h"
#include "TreeCoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace hufpack::fuzz {

using Bytes = std::vector<std::uint8_t>;

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

inline int MemoryFile(const std::uint8_t* data, std::size_t size)
{
    const int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    Check(fd >= 0, "memfd_create");
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, data + done, size - done);
        Check(put > 0, "write to a memory file");
        done += static_cast<std::size_t>(put);
    }
    Check(::lseek(fd, 0, SEEK_SET) == 0, "seek");
    return fd;
}

inline Bytes ReadAll(int fd)
{
    Bytes bytes;
    std::uint8_t buffer[65536];
    Check(::lseek(fd, 0, SEEK_SET) == 0, "seek");
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

struct Coded
{
    JobResult result;
    Bytes bytes;
};

enum class Path { Fast, Reference };

// How the fast decoder cuts the stream, chosen by the bits of one input byte: one to three
// worker threads and chunks from a single bit (many chunks, each falling in step) up to the
// default size. A file's chunks stay at most 256, so that an input costs the fuzzer
// milliseconds, not seconds.
inline ChunkDecoder::Options DecodeOptionsFrom(std::uint8_t choice, const Bytes& file)
{
    constexpr std::int64_t kChunkBits[] = { 0, 1, 3, 8, 13, 64, 1000, 4096 };
    constexpr std::int64_t kMaxChunks = 256;
    ChunkDecoder::Options options;
    options.threads = 1 + (choice >> 1) % 3;
    options.chunkBits = kChunkBits[(choice >> 3) % 8];
    if (options.chunkBits > 0)
        options.chunkBits = std::max<std::int64_t>(
            options.chunkBits, static_cast<std::int64_t>(file.size()) * 8 / kMaxChunks);
    return options;
}

// One encode or decode of `input`, from a memory file into a memory file.
inline Coded Run(const std::uint8_t* data, std::size_t size, bool encode, Path path, int parts = 0,
                 const ChunkDecoder::Options* decodeOptions = nullptr)
{
    FileStream in;
    FileStream out;
    in.AttachForReading(MemoryFile(data, size));
    const int outFd = MemoryFile(nullptr, 0);
    out.AttachForWriting(::dup(outFd));
    JobResult result;
    {
        TreeCoder coder(in, out);
        TreeCoderTesting::UseReferencePaths(coder, path == Path::Reference);
        if (parts > 0)
            TreeCoderTesting::SetParts(coder, parts, 1);
        if (decodeOptions)
            TreeCoderTesting::SetDecodeOptions(coder, *decodeOptions);
        result = encode ? coder.Encode() : coder.Decode();
    }
    Check(out.Close(), "closing a memory file");
    Check(TheNodeHeap().IsEmpty(), "every pass leaves the node heap empty");
    Coded coded { result, ReadAll(outFd) };
    ::close(outFd);
    return coded;
}

} // namespace hufpack::fuzz
