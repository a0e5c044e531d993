// In-memory figures for the engine's stages, so that the coding can be told apart from the file
// I/O: counting a source (with the hash the coding pass checks) and coding it once its code is
// known, each on one thread; decoding it with one worker thread (which decodes three chunks
// side by side) and with one per processor. Sources and results live in memfd files, which the
// engine reads and writes like any other file but which never reach a disk.
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
#include "jobs/TestHooks.h"
#include "jobs/TreeCoder.h"
#include "sys/FileStream.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace hufpack {
namespace {

// One source, compressed once up front: its code and its compressed file.
class Subject
{
public:
    Subject(std::string name, const test::Bytes& bytes)
        : m_name(std::move(name)), m_size(static_cast<std::int64_t>(bytes.size())),
          m_source(test::MemoryFile(bytes)), m_compressed(test::MemoryFile({})),
          m_output(test::MemoryFile({}))
    {
        FileStream in;
        FileStream out;
        in.AttachForReading(::dup(m_source));
        out.AttachForWriting(::dup(m_compressed));
        PartEncoder counter(m_source, m_size, 1);
        Counts counts {};
        if (!TreeCoder(in, out).Encode().Ok() || !out.Flush() || !counter.Scan().Ok()
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
        for (auto _ : state) {
            if (encoder.Encode(m_tree.Book(), m_output, m_streamOffset).Result() != JobResult::Done)
                state.SkipWithError("coding failed");
        }
        state.SetBytesProcessed(state.iterations() * m_size);
    }

    void Decode(benchmark::State& state, int threads) const
    {
        ChunkDecoder::Options options;
        options.threads = threads;
        for (auto _ : state) {
            FileStream in;
            FileStream out;
            in.AttachForReading(::dup(m_compressed));
            ::lseek(m_output, 0, SEEK_SET);
            out.AttachForWriting(::dup(m_output));
            TreeCoder coder(in, out);
            TreeCoderTesting::SetDecodeOptions(coder, options);
            if (!coder.Decode().Ok() || !out.Flush())
                state.SkipWithError("decoding failed");
        }
        state.SetBytesProcessed(state.iterations() * m_size);
    }

    [[nodiscard]] const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    std::int64_t m_size;
    int m_source;
    int m_compressed;
    int m_output;
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
        benchmark::RegisterBenchmark(("decode-1-worker/" + s->Name()).c_str(),
                                     [s](benchmark::State& state) { s->Decode(state, 1); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("decode/" + s->Name()).c_str(),
                                     [s](benchmark::State& state) { s->Decode(state, -1); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
