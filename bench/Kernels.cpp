// hufpack-kernels: the engine's loops alone, in memory, on one thread, in MB/s of uncompressed
// bytes, to set beside huff0's (bench/huff0-kernels.c): counting (with and without the part
// hash both passes take), coding a block at a time, and decoding as a worker does, a few chunks
// side by side; and the whole decoder on one thread, from and to memory, which decodes exactly,
// one code after another. Each figure is the best of many runs, which shields it from
// the machine's other work.
//
//   hufpack-kernels FILE...

#include "code/CodeTree.h"
#include "decode/ChunkPlan.h"
#include "decode/DecodeKernel.h"
#include "decode/DecodeTable.h"
#include "encode/EncodeKernel.h"
#include "encode/PartEncoder.h"
#include "format/Counts.h"
#include "jobs/TreeCoder.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/Processor.h"
#include "sys/SystemIo.h"
#include "sys/Threads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
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
            encode::CountAndHash(source.data() + at, std::min(kBlockBytes, size - at), tables,
                                 hash);
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
    const TreeNode* const root = tree.BuildTree(counts);
    tree.AssignCodes(root, "");
    const CodeBook& book = tree.Book();
    double bits = 0;
    for (int value = 0; value < 256; ++value)
        bits += static_cast<double>(wide[value]) * book.lengths[value];
    // Coded as the encoder codes a source of this size.
    std::unique_ptr<encode::PairCodes> pairs;
    if (static_cast<std::int64_t>(size) >= PartEncoder::kPairsFromBytes)
        pairs = std::make_unique<encode::PairCodes>(book);
    const std::uint64_t* const pairEntries = pairs ? pairs->Entries() : nullptr;
    const auto loop
        = encode::CodeBlockFor(book, bits / static_cast<double>(size), pairs.get(), ChosenBuild());
    std::vector<std::uint8_t> coded(size * 2 + 64);
    const double code = BestSeconds([&] {
        encode::PendingBits pending;
        std::uint8_t* out = coded.data();
        for (std::size_t at = 0; at < size; at += kBlockBytes)
            out = loop(source.data() + at, source.data() + at + std::min(kBlockBytes, size - at),
                       out, book, pairEntries, pending);
        sink = pending.bits;
    });

    // The decoding loop alone, on `streams` stretches of the coded bytes side by side, each
    // started at its stretch's first byte as a worker starts a chunk (the stretches fall in
    // step within a few codes), with a long code stepped over the careful way.
    encode::PendingBits flushed;
    const std::size_t codedBytes = static_cast<std::size_t>(
        loop(source.data(), source.data() + size, coded.data(), book, pairEntries, flushed)
        - coded.data());
    const DecodeTable table(root, book);
    const decode::Kernel& kernel = decode::KernelFor(ChosenBuild());
    std::vector<std::uint8_t> decoded(size + size / 8 + 4096);
    const auto loopOnly = [&](int streams) {
        return BestSeconds([&] {
            decode::Workspace workspace(table);
            decode::Stream lanes[decode::kMaxStreams];
            for (int k = 0; k < streams; ++k) {
                const std::uint8_t* first = coded.data() + codedBytes * k / streams;
                lanes[k].bits = LoadBigEndian64(first);
                lanes[k].bitCount = decode::kRefillBits;
                lanes[k].next = first + 7;
                lanes[k].limit = coded.data() + codedBytes * (k + 1) / streams - 64;
                lanes[k].out = decoded.data() + (size + size / 8) * k / streams;
            }
            // The loop runs while every stream it is given is inside its stretch.
            for (int running = streams; running > 0;) {
                kernel.rounds(table, lanes, running, workspace, nullptr);
                for (int k = 0; k < running; ++k) {
                    decode::Stream& lane = lanes[k];
                    if (lane.next > lane.limit) {
                        std::swap(lane, lanes[--running]);
                        --k;
                        continue;
                    }
                    if (!table.NeedsCarefulStep(lane.bits))
                        continue;
                    const BitView view { coded.data(), 0 };
                    const std::int64_t at = (lane.next - coded.data()) * 8 - lane.bitCount;
                    const DecodeTable::Code code = table.DecodeOne(view, at, 8 * codedBytes);
                    *lane.out++ = code.symbol;
                    const std::int64_t next = at + code.length;
                    lane.bits = LoadBigEndian64(coded.data() + next / 8) << (next % 8);
                    lane.bitCount = decode::kRefillBits - static_cast<int>(next % 8);
                    lane.next = coded.data() + next / 8 + 7;
                }
            }
            sink = workspace.symbols[0];
        });
    };
    const double decodeLoop = loopOnly(kStreamsPerWorker);

    std::vector<std::uint8_t> compressed;
    {
        const ByteSource in = ByteSource::OfMemory(source);
        ByteSink out = ByteSink::ToVector(compressed);
        TreeCoder::Options options;
        options.threads = ThreadLimit();
        TreeCoder coder(in, out, options);
        if (!coder.Encode().Ok() || !out.Flush())
            std::exit(1);
    }
    std::vector<std::uint8_t> restored;
    const double decode = BestSeconds([&] {
        const ByteSource in = ByteSource::OfMemory(compressed);
        ByteSink out = ByteSink::ToVector(restored);
        TreeCoder coder(in, out, TreeCoder::Options {});
        if (!coder.Decode().Ok() || !out.Flush())
            std::exit(1);
    });
    const auto rate = [size](double seconds) { return static_cast<double>(size) / seconds / 1e6; };
    std::printf("%s: counting %.0f (with the hash %.0f), coding %.0f, decoding %.0f (the whole "
                "decoder on one thread %.0f) MB/s\n",
                std::filesystem::path(path).filename().c_str(), rate(count), rate(countHash),
                rate(code), rate(decodeLoop), rate(decode));
}

} // namespace
} // namespace hufpack

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        hufpack::Measure(argv[i]);
}
