// In-memory figures for the engine's stages, so that the coding can be told apart from the file
// I/O: counting a source (with the hash the coding pass checks) and coding it once its code is
// known, each on one thread; decoding it on one thread (which decodes a few chunks side by
// side) and on one per processor. Sources and results live in memory, which the engine reads
// and writes as it reads and writes files.
//
//   hufpack-bench [Google Benchmark flags] [FILE ...]
//
// Without a FILE it measures 32 MiB of generated text. Rates are of the uncompressed bytes.

#include "CoderRun.h"
#include "TestSupport.h"
#include "code/CodeTree.h"
#include "encode/PartEncoder.h"
#include "format/Counts.h"
#include "format/Format.h"
#include "jobs/TreeCoder.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/Threads.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace hufpack {
namespace {

// One source, compressed once up front: its code and its compressed file.
class Subject
{
public:
    Subject(std::string name, test::Bytes bytes)
        : m_name(std::move(name)), m_bytes(std::move(bytes)),
          m_size(static_cast<std::int64_t>(m_bytes.size())), m_source(ByteSource::OfMemory(m_bytes))
    {
        ByteSink out = ByteSink::ToVector(m_compressed);
        TreeCoder::Options options;
        options.threads = ThreadLimit();
        PartEncoder counter(m_source, m_size, 1);
        Counts counts {};
        if (!TreeCoder(m_source, out, options).Encode().Ok() || !out.Flush() || !counter.Scan().Ok()
            || !NarrowCounts(counter.Counts(), counts)) {
            std::fprintf(stderr, "%s: cannot compress\n", m_name.c_str());
            std::exit(1);
        }
        m_tree.AssignCodes(m_tree.BuildTree(counts), "");
        m_streamOffset = kHeaderSize + TableSizeOf(counts);
    }

    void Count(benchmark::State& state) const
    {
        for (auto _ : state) {
            PartEncoder encoder(m_source, m_size, 1);
            if (!encoder.Scan().Ok())
                state.SkipWithError("scan failed");
            benchmark::DoNotOptimize(encoder.Counts());
        }
        state.SetBytesProcessed(state.iterations() * m_size);
    }

    void Code(benchmark::State& state) const
    {
        PartEncoder encoder(m_source, m_size, 1);
        if (!encoder.Scan().Ok())
            state.SkipWithError("scan failed");
        std::vector<std::uint8_t> output;
        for (auto _ : state) {
            ByteSink out = ByteSink::ToVector(output);
            if (!out.Reserve(static_cast<std::int64_t>(m_compressed.size()))
                || encoder.Encode(m_tree.Book(), out, m_streamOffset).Result() != JobResult::Done)
                state.SkipWithError("coding failed");
        }
        state.SetBytesProcessed(state.iterations() * m_size);
    }

    void Decode(benchmark::State& state, int threads) const
    {
        TreeCoder::Options options;
        options.threads = threads;
        const ByteSource in = ByteSource::OfMemory(m_compressed);
        std::vector<std::uint8_t> output;
        for (auto _ : state) {
            ByteSink out = ByteSink::ToVector(output);
            TreeCoder coder(in, out, options);
            if (!coder.Decode().Ok() || !out.Flush())
                state.SkipWithError("decoding failed");
        }
        state.SetBytesProcessed(state.iterations() * m_size);
    }

    [[nodiscard]] const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    test::Bytes m_bytes;
    std::int64_t m_size;
    ByteSource m_source;
    std::vector<std::uint8_t> m_compressed;
    CodeTree m_tree;
    std::int64_t m_streamOffset = 0;
};

} // namespace
} // namespace hufpack

int main(int argc, char** argv)
{
    using hufpack::Subject;
    benchmark::Initialize(&argc, argv);
    std::vector<std::unique_ptr<Subject>> subjects;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        subjects.push_back(std::make_unique<Subject>(
            std::filesystem::path(path).filename().string(), hufpack::test::ReadFile(path)));
    }
    if (subjects.empty())
        subjects.push_back(std::make_unique<Subject>(
            "generated-text", hufpack::test::TextLikeBytes(std::size_t { 32 } << 20, 1)));
    for (const auto& subject : subjects) {
        const Subject* const s = subject.get();
        benchmark::RegisterBenchmark(("count/" + s->Name()).c_str(),
                                     [s](benchmark::State& state) { s->Count(state); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("code/" + s->Name()).c_str(),
                                     [s](benchmark::State& state) { s->Code(state); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("decode-1-thread/" + s->Name()).c_str(),
                                     [s](benchmark::State& state) { s->Decode(state, 1); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(
            ("decode/" + s->Name()).c_str(),
            [s](benchmark::State& state) { s->Decode(state, hufpack::ThreadLimit()); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
