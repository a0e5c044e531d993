// hufpack-kernels: the engine's loops alone, in memory, on one thread, in MB/s of uncompressed
// bytes, to set beside huff0's (bench/huff0-kernels.c): counting (with and without the part
// hash both passes take), coding a block at a time, and decoding with one worker. Each figure is
// the best of many runs, which shields it from the machine's other work.
//
//   hufpack-kernels FILE...

#include "code/CodeTree.h"
#include "encode/EncodeKernel.h"
#include "format/Counts.h"
#include "jobs/TestHooks.h"
#include "jobs/TreeCoder.h"
#include "sys/SystemIo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace hufpack {
namespace {

constexpr int kRuns = 21;

template<typename Work> double BestSeconds(Work work)
{
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                            .count());
    }
    return best;
}

int MemoryFile(const std::vector<std::uint8_t>& bytes)
{
    const int fd = ::memfd_create("hufpack-kernels", MFD_CLOEXEC);
    if (fd < 0 || !WriteFully(fd, bytes.data(), bytes.size()))
        std::exit(1);
    return fd;
}

void Measure(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> source((std::istreambuf_iterator<char>(file)), {});
    const std::size_t size = source.size();
    volatile std::uint64_t sink = 0;

    const double countHash = BestSeconds([&] {
        CountTables tables {};
        encode::PartHash hash;
        for (std::size_t at = 0; at < size; at += kBlockBytes)
            encode::CountAndHash(source.data() + at, std::min(kBlockBytes, size - at), tables, hash);
        sink = hash.Value() + tables[0][0];
    });
    const double count = BestSeconds([&] {
        WideCounts counts {};
        for (std::size_t at = 0; at < size; at += kBlockBytes)
            CountBlock(std::span(source.data() + at, std::min(kBlockBytes, size - at)), counts);
        sink = counts[0];
    });

    WideCounts wide {};
    CountBlock(source, wide);
    Counts counts {};
    if (!NarrowCounts(wide, counts))
        std::exit(1);
    CodeTree tree;
    tree.AssignCodes(tree.BuildTree(counts), "");
    const CodeBook& book = tree.Book();
    double bits = 0;
    for (int value = 0; value < 256; ++value)
        bits += static_cast<double>(wide[value]) * book.lengths[value];
    const auto loop = encode::CodeBlockFor(book, bits / static_cast<double>(size));
    std::vector<std::uint8_t> coded(size * 2 + 64);
    const double code = BestSeconds([&] {
        encode::PendingBits pending;
        std::uint8_t* out = coded.data();
        for (std::size_t at = 0; at < size; at += kBlockBytes)
            out = loop(source.data() + at, source.data() + at + std::min(kBlockBytes, size - at),
                       out, book, pending);
        sink = pending.bits;
    });

    const int sourceFd = MemoryFile(source);
    const int compressed = ::memfd_create("hufpack-kernels", MFD_CLOEXEC);
    const int restored = ::memfd_create("hufpack-kernels", MFD_CLOEXEC);
    {
        FileStream in;
        FileStream out;
        in.AttachForReading(::dup(sourceFd));
        out.AttachForWriting(::dup(compressed));
        TreeCoder coder(in, out);
        if (!coder.Encode().Ok() || !out.Flush())
            std::exit(1);
    }
    const double decode = BestSeconds([&] {
        FileStream in;
        FileStream out;
        in.AttachForReading(::dup(compressed));
        ::lseek(restored, 0, SEEK_SET);
        out.AttachForWriting(::dup(restored));
        TreeCoder coder(in, out);
        ChunkDecoder::Options options;
        options.threads = 1;
        TreeCoderTesting::SetDecodeOptions(coder, options);
        if (!coder.Decode().Ok() || !out.Flush())
            std::exit(1);
    });
    ::close(sourceFd);
    ::close(compressed);
    ::close(restored);
    const auto rate = [size](double seconds) { return static_cast<double>(size) / seconds / 1e6; };
    std::printf("%s: counting %.0f (with the hash %.0f), coding %.0f, decoding with 1 worker "
                "%.0f MB/s\n",
                std::filesystem::path(path).filename().c_str(), rate(count), rate(countHash),
                rate(code), rate(decode));
}

} // namespace
} // namespace hufpack

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        hufpack::Measure(argv[i]);
}
