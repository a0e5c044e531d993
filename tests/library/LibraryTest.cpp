// libhufpack through its C face alone, linked as a program links the shared library: the bytes
// it writes (the golden files, the tool's), every result a call can come to, buffers exactly
// full and a byte short, a job stopped from its callbacks, jobs on several threads at once, and
// a library that leaves the process's signals and output alone.

#include "Corpus.h"
#include "TestSupport.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <hufpack.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace hufpack {
namespace {

using test::Bytes;

struct Outcome
{
    int result = HUFPACK_OK;
    Bytes out;
    hufpack_failure failure {};
};

hufpack_options Options()
{
    hufpack_options options;
    hufpack_options_init(&options);
    return options;
}

Outcome Compress(const Bytes& in, hufpack_options options = Options(),
                 std::size_t capacity = SIZE_MAX)
{
    Outcome run;
    options.failure = &run.failure;
    run.out.resize(capacity == SIZE_MAX ? hufpack_compress_bound(in.size()) : capacity);
    std::size_t written = 0;
    run.result = hufpack_compress(run.out.data(), run.out.size(), in.data(), in.size(), &written,
                                  &options);
    run.out.resize(written);
    return run;
}

Outcome Decompress(const Bytes& in, hufpack_options options = Options(),
                   std::size_t capacity = SIZE_MAX)
{
    Outcome run;
    options.failure = &run.failure;
    if (capacity == SIZE_MAX) {
        hufpack_info info {};
        capacity = hufpack_get_info(in.data(), in.size(), &info, nullptr) == HUFPACK_OK
            ? static_cast<std::size_t>(info.original_bytes)
            : 1 << 20;
    }
    run.out.resize(capacity);
    std::size_t written = 0;
    run.result = hufpack_decompress(run.out.data(), run.out.size(), in.data(), in.size(), &written,
                                    &options);
    run.out.resize(written);
    return run;
}

std::string Words(const hufpack_failure& failure)
{
    std::string text(hufpack_describe_failure(&failure, nullptr, 0), '\0');
    hufpack_describe_failure(&failure, text.data(), text.size() + 1);
    return text;
}

// Bytes with every value equally often: every code is eight bits, so a member takes exactly
// its header, a full table and one byte per byte, the most any source can take.
Bytes EveryValueEquallyOften(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST(Library, WritesTheGoldenFilesAndTheToolsBytes)
{
    for (const test::Golden& golden : test::GoldenFiles()) {
        SCOPED_TRACE(golden.name);
        const Outcome packed = Compress(golden.source);
        ASSERT_EQ(packed.result, HUFPACK_OK) << Words(packed.failure);
        EXPECT_EQ(test::ToHex(packed.out), test::ToHex(golden.file));
        const Outcome restored = Decompress(golden.file);
        ASSERT_EQ(restored.result, HUFPACK_OK) << Words(restored.failure);
        EXPECT_TRUE(restored.out == golden.source);
    }
    const test::ScratchDir dir;
    const struct
    {
        const char* what;
        Bytes source;
    } sources[] = {
        { "nothing", {} },
        { "text", test::TextLikeBytes(3 << 20, 7) },
        { "skewed", test::SkewedBytes(1 << 20, 8) },
        { "random", test::RandomBytes(300000, 9) },
        { "deepest tree", test::FibonacciBytes(30) },
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.what);
        test::WriteFile(dir / "source", source.source);
        const test::ToolRun tool = test::RunTool({ { "-c", dir / "source" } });
        ASSERT_EQ(tool.status, 0) << tool.err;
        hufpack_options oneThread = Options();
        oneThread.threads = 1;
        for (const hufpack_options& options : { Options(), oneThread }) {
            const Outcome packed = Compress(source.source, options);
            ASSERT_EQ(packed.result, HUFPACK_OK) << Words(packed.failure);
            EXPECT_TRUE(test::TextOf(packed.out) == tool.out);
            const Outcome restored = Decompress(packed.out, options);
            ASSERT_EQ(restored.result, HUFPACK_OK) << Words(restored.failure);
            EXPECT_TRUE(restored.out == source.source);
        }
    }
}

// The bound is what the worst source takes, so a buffer of the bound always suffices, and one
// byte less fails with the buffer's own result, never a wrong or short file. Past one member's
// limit, the files form's members: two here, the bound again exactly, and the first form's
// rule refuses the source before anything is written.
TEST(Library, TheBoundIsExactForTheWorstSourceAndOneByteLessFails)
{
    const std::size_t oneMember = 256 * 1024;
    const std::size_t twoMembers = (2147483647 - 256 * 5) / 8 + 256;
    for (const std::size_t size : { oneMember, twoMembers }) {
        SCOPED_TRACE(size);
        const Bytes source = EveryValueEquallyOften(size);
        const Outcome packed = Compress(source);
        ASSERT_EQ(packed.result, HUFPACK_OK) << Words(packed.failure);
        EXPECT_EQ(packed.out.size(), hufpack_compress_bound(size));
        hufpack_info info {};
        ASSERT_EQ(hufpack_get_info(packed.out.data(), packed.out.size(), &info, nullptr),
                  HUFPACK_OK);
        EXPECT_EQ(info.members, size == oneMember ? 1 : 2);
        EXPECT_EQ(info.original_bytes, static_cast<std::int64_t>(size));
        EXPECT_EQ(info.compressed_bytes, static_cast<std::int64_t>(packed.out.size()));

        const Outcome shortOutput = Compress(source, Options(), packed.out.size() - 1);
        EXPECT_EQ(shortOutput.result, HUFPACK_DESTINATION_TOO_SMALL);
        EXPECT_EQ(shortOutput.failure.file, HUFPACK_FILE_DESTINATION);
        EXPECT_TRUE(shortOutput.out.empty());

        const Outcome restored = Decompress(packed.out);
        ASSERT_EQ(restored.result, HUFPACK_OK) << Words(restored.failure);
        EXPECT_TRUE(restored.out == source);
        const Outcome shortRestore = Decompress(packed.out, Options(), size - 1);
        EXPECT_EQ(shortRestore.result, HUFPACK_DESTINATION_TOO_SMALL);
    }
    hufpack_options single = Options();
    single.single_file = 1;
    const Outcome refused = Compress(EveryValueEquallyOften(twoMembers), single);
    EXPECT_EQ(refused.result, HUFPACK_TOO_LARGE);
    EXPECT_EQ(refused.failure.reason, HUFPACK_REASON_TOO_LARGE);
    EXPECT_EQ(hufpack_compress_bound(0), static_cast<std::size_t>(7 + 256 * 5));
    EXPECT_EQ(hufpack_compress_bound(SIZE_MAX), SIZE_MAX);
}

// Collects what a job hands on in order; says stop after `stopAfter` blocks.
struct Collected
{
    Bytes bytes;
    int blocks = 0;
    int stopAfter = -1;
};

int Collect(void* user, const void* bytes, size_t size)
{
    auto& collected = *static_cast<Collected*>(user);
    const auto* const first = static_cast<const std::uint8_t*>(bytes);
    collected.bytes.insert(collected.bytes.end(), first, first + size);
    return ++collected.blocks == collected.stopAfter;
}

int StopAtOnce(void*, int64_t, int64_t)
{
    return 1;
}

// Every result a call comes to, each with the failure record that says why.
TEST(Library, EveryResultWithItsReason)
{
    const test::ScratchDir dir;
    const Bytes text = test::TextLikeBytes(2 << 20, 3);
    const Bytes packed = Compress(text).out;
    test::WriteFile(dir / "text", text);
    test::WriteFile(dir / "text.huf", packed);
    test::WriteFile(dir / "old", test::BytesOf("the file that stood here"));
    Bytes junk = packed;
    junk.push_back(1);
    junk.push_back(2);

    const auto options = [](auto change) {
        hufpack_options o = Options();
        change(o);
        return o;
    };
    const hufpack_options defaults = Options();
    const hufpack_options cancelling = options([](hufpack_options& o) { o.progress = StopAtOnce; });
    hufpack_options unknown = Options();
    unknown.struct_size = 0;
    Collected stopping;
    stopping.stopAfter = 1;
    Bytes out(text.size());
    std::size_t written = 0;
    const struct Case
    {
        const char* what;
        std::function<int(const hufpack_options*)> call;
        hufpack_options options;
        int result;
        int file;
        int error;
        int reason;
    } cases[] = {
        { "a file in memory",
          [&](const hufpack_options* o) {
              return hufpack_decompress(out.data(), out.size(), packed.data(), packed.size(),
                                        &written, o);
          },
          defaults, HUFPACK_OK, HUFPACK_FILE_NONE, 0, HUFPACK_REASON_NONE },
        { "a source that is not there",
          [&](const hufpack_options* o) {
              return hufpack_compress_file(hufpack_path((dir / "missing").c_str()),
                                           hufpack_path((dir / "missing.huf").c_str()), o);
          },
          defaults, HUFPACK_CANNOT_OPEN, HUFPACK_FILE_SOURCE, ENOENT, HUFPACK_REASON_NONE },
        { "a destination that stands, not to be replaced",
          [&](const hufpack_options* o) {
              return hufpack_compress_file(hufpack_path((dir / "text").c_str()),
                                           hufpack_path((dir / "old").c_str()), o);
          },
          defaults, HUFPACK_CANNOT_OPEN, HUFPACK_FILE_DESTINATION, EEXIST, HUFPACK_REASON_NONE },
        { "a bad checksum",
          [&](const hufpack_options* o) {
              const Bytes& bad = test::BadChecksumFile();
              return hufpack_decompress(out.data(), out.size(), bad.data(), bad.size(), &written,
                                        o);
          },
          defaults, HUFPACK_NOT_OUR_FORMAT, HUFPACK_FILE_SOURCE, 0, HUFPACK_REASON_BAD_CHECKSUM },
        { "a file cut short",
          [&](const hufpack_options* o) {
              return hufpack_decompress(out.data(), out.size(), packed.data(), packed.size() - 1,
                                        &written, o);
          },
          defaults, HUFPACK_NOT_OUR_FORMAT, HUFPACK_FILE_SOURCE, 0, HUFPACK_REASON_CUT_SHORT },
        { "bytes after the last member",
          [&](const hufpack_options* o) {
              return hufpack_decompress(out.data(), out.size(), junk.data(), junk.size(), &written,
                                        o);
          },
          defaults, HUFPACK_NOT_OUR_FORMAT, HUFPACK_FILE_SOURCE, 0, HUFPACK_REASON_TRAILING_DATA },
        { "the same file",
          [&](const hufpack_options* o) {
              return hufpack_compress_file(hufpack_path((dir / "text").c_str()),
                                           hufpack_path((dir / "text").c_str()), o);
          },
          options([](hufpack_options& o) { o.replace = 1; }), HUFPACK_SAME_FILE,
          HUFPACK_FILE_DESTINATION, 0, HUFPACK_REASON_SAME_FILE },
        { "a buffer too small",
          [&](const hufpack_options* o) {
              return hufpack_decompress(out.data(), out.size() - 1, packed.data(), packed.size(),
                                        &written, o);
          },
          defaults, HUFPACK_DESTINATION_TOO_SMALL, HUFPACK_FILE_DESTINATION, ENOBUFS,
          HUFPACK_REASON_NONE },
        { "no bytes where some are said to be",
          [&](const hufpack_options* o) {
              return hufpack_compress(out.data(), out.size(), nullptr, 1, &written, o);
          },
          defaults, HUFPACK_BAD_ARGUMENT, HUFPACK_FILE_NONE, 0, HUFPACK_REASON_NONE },
        { "a negative thread count",
          [&](const hufpack_options* o) {
              return hufpack_compress(out.data(), out.size(), text.data(), 10, &written, o);
          },
          options([](hufpack_options& o) { o.threads = -1; }), HUFPACK_BAD_ARGUMENT,
          HUFPACK_FILE_NONE, 0, HUFPACK_REASON_NONE },
        { "a name in a folder with a slash in it",
          [&](const hufpack_options* o) {
              return hufpack_compress_file(hufpack_path_at(AT_FDCWD, "../text"),
                                           hufpack_path((dir / "x.huf").c_str()), o);
          },
          defaults, HUFPACK_BAD_ARGUMENT, HUFPACK_FILE_NONE, 0, HUFPACK_REASON_NONE },
        { "no path",
          [&](const hufpack_options* o) {
              return hufpack_decompress_file(hufpack_path(nullptr),
                                             hufpack_path((dir / "x").c_str()), o);
          },
          defaults, HUFPACK_BAD_ARGUMENT, HUFPACK_FILE_NONE, 0, HUFPACK_REASON_NONE },
        { "a progress callback that says stop",
          [&](const hufpack_options* o) {
              return hufpack_compress(out.data(), out.size(), text.data(), text.size(), &written,
                                      o);
          },
          cancelling, HUFPACK_CANCELLED, HUFPACK_FILE_NONE, 0, HUFPACK_REASON_CANCELLED },
        { "an output function that says stop",
          [&](const hufpack_options* o) {
              return hufpack_decompress_to(packed.data(), packed.size(), Collect, &stopping, o);
          },
          defaults, HUFPACK_CANCELLED, HUFPACK_FILE_NONE, 0, HUFPACK_REASON_CANCELLED },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hufpack_failure failure;
        std::memset(&failure, 0x55, sizeof failure);
        hufpack_options o = c.options;
        o.failure = &failure;
        EXPECT_EQ(c.call(&o), c.result) << Words(failure);
        EXPECT_EQ(failure.result, c.result);
        EXPECT_EQ(failure.file, c.file);
        EXPECT_EQ(failure.error, c.error);
        EXPECT_EQ(failure.reason, c.reason);
        EXPECT_FALSE(Words(failure).empty());
        EXPECT_STRNE(hufpack_result_name(c.result), "HUFPACK_UNKNOWN");
    }
    // Options a caller cannot have meant are refused, not half read, and say so nowhere.
    EXPECT_EQ(hufpack_compress(out.data(), out.size(), text.data(), 10, &written, &unknown),
              HUFPACK_BAD_ARGUMENT);
    std::vector<unsigned char> newer(sizeof(hufpack_options) + 8, 0);
    hufpack_options_init(reinterpret_cast<hufpack_options*>(newer.data()));
    reinterpret_cast<hufpack_options*>(newer.data())->struct_size = newer.size();
    EXPECT_EQ(hufpack_compress(out.data(), out.size(), text.data(), 10, &written,
                               reinterpret_cast<hufpack_options*>(newer.data())),
              HUFPACK_OK);
    newer.back() = 1;
    EXPECT_EQ(hufpack_compress(out.data(), out.size(), text.data(), 10, &written,
                               reinterpret_cast<hufpack_options*>(newer.data())),
              HUFPACK_BAD_ARGUMENT);
}

// Compressed files joined: every member in turn, in order, whether into a buffer, through a
// function or from a file; with the first form's rule, the first alone. What comes after the
// last member is told apart: zeros are padding, anything else fails once every member is out.
TEST(Library, MembersInTurnAndWhatFollowsTheLast)
{
    const Bytes a = test::TextLikeBytes(1 << 20, 1);
    const Bytes b = test::SkewedBytes(700000, 2);
    const Bytes joined = test::Concat({ Compress(a).out, Compress(b).out });
    const Bytes both = test::Concat({ a, b });
    const test::ScratchDir dir;
    test::WriteFile(dir / "joined.huf", joined);

    EXPECT_TRUE(Decompress(joined).out == both);
    hufpack_options single = Options();
    single.single_file = 1;
    const Outcome first = Decompress(joined, single, a.size());
    EXPECT_EQ(first.result, HUFPACK_OK);
    EXPECT_TRUE(first.out == a);

    Collected fromMemory;
    EXPECT_EQ(hufpack_decompress_to(joined.data(), joined.size(), Collect, &fromMemory, nullptr),
              HUFPACK_OK);
    EXPECT_TRUE(fromMemory.bytes == both);
    EXPECT_GT(fromMemory.blocks, 1) << "handed on a block at a time, not all at once";
    Collected fromFile;
    EXPECT_EQ(hufpack_decompress_file_to(hufpack_path((dir / "joined.huf").c_str()), Collect,
                                         &fromFile, nullptr),
              HUFPACK_OK);
    EXPECT_TRUE(fromFile.bytes == both);

    hufpack_info info {};
    ASSERT_EQ(hufpack_get_file_info(hufpack_path((dir / "joined.huf").c_str()), &info, nullptr),
              HUFPACK_OK);
    EXPECT_EQ(info.members, 2);
    EXPECT_EQ(info.original_bytes, static_cast<std::int64_t>(both.size()));
    EXPECT_EQ(info.compressed_bytes, static_cast<std::int64_t>(joined.size()));

    Bytes padded = joined;
    padded.resize(joined.size() + 512, 0);
    EXPECT_TRUE(Decompress(padded).out == both);
    Bytes junk = joined;
    junk.insert(junk.end(), { 0, 0, 7 });
    const Outcome trailing = Decompress(junk, Options(), both.size());
    EXPECT_EQ(trailing.result, HUFPACK_NOT_OUR_FORMAT);
    EXPECT_EQ(trailing.failure.trailing_bytes, 3);
    EXPECT_TRUE(trailing.out == both) << "every member before the junk is whole and kept";
}

// A job stopped from its callback at its first report leaves every file as it was: the old
// destination with its bytes, the source in place even with remove_source, nothing beside.
TEST(Library, ACancelledJobLeavesTheDestinationAsItWas)
{
    const test::ScratchDir dir;
    const Bytes text = test::TextLikeBytes(4 << 20, 5);
    test::WriteFile(dir / "text", text);
    test::WriteFile(dir / "text.huf", Compress(text).out);
    const Bytes old = test::BytesOf("the file that stood here");
    for (const bool compress : { true, false }) {
        SCOPED_TRACE(compress ? "compressing" : "restoring");
        test::WriteFile(dir / "old", old);
        hufpack_options o = Options();
        o.replace = 1;
        o.remove_source = 1;
        int calls = 0;
        o.progress_user = &calls;
        o.progress = [](void* user, int64_t, int64_t) {
            ++*static_cast<int*>(user);
            return 1;
        };
        const std::string sourcePath = dir / (compress ? "text" : "text.huf");
        const std::string destinationPath = dir / "old";
        const hufpack_file source = hufpack_path(sourcePath.c_str());
        const hufpack_file destination = hufpack_path(destinationPath.c_str());
        hufpack_failure failure {};
        o.failure = &failure;
        EXPECT_EQ(compress ? hufpack_compress_file(source, destination, &o)
                           : hufpack_decompress_file(source, destination, &o),
                  HUFPACK_CANCELLED)
            << Words(failure);
        EXPECT_GE(calls, 1);
        EXPECT_TRUE(test::ReadFile(dir / "old") == old);
        EXPECT_EQ(dir.List(), (std::vector<std::string> { "old", "text", "text.huf" }));
    }
}

// Jobs on several threads at once write what each writes alone: the one node heap is taken in
// turn, and nothing else of a job is shared.
TEST(Library, JobsOnSeveralThreadsAtOnceWriteWhatOneWrites)
{
    std::vector<Bytes> sources;
    // Small sources of many values, so that building their trees is most of each job.
    for (int i = 0; i < 8; ++i)
        sources.push_back(i % 2 ? test::RandomBytes(2000 + 100 * i, i)
                                : test::FibonacciBytes(20 + i));
    std::vector<Bytes> alone;
    for (const Bytes& source : sources)
        alone.push_back(Compress(source).out);
    const test::ScratchDir dir;
    std::atomic<int> wrong { 0 };
    const auto work = [&](int thread) {
        hufpack_options o = Options();
        o.threads = 1;
        for (int round = 0; round < 1000; ++round) {
            const std::size_t which = static_cast<std::size_t>(round + thread) % sources.size();
            const Outcome packed = Compress(sources[which], o);
            if (packed.result != HUFPACK_OK || !(packed.out == alone[which])
                || !(Decompress(packed.out, o).out == sources[which]))
                ++wrong;
        }
        // And files, each thread its own, through the same rules.
        const std::string name = dir / ("file" + std::to_string(thread));
        test::WriteFile(name, sources[0]);
        if (hufpack_compress_file(hufpack_path(name.c_str()), hufpack_path((name + ".huf").c_str()),
                                  &o)
                != HUFPACK_OK
            || !(test::ReadFile(name + ".huf") == alone[0]))
            ++wrong;
    };
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread)
        threads.emplace_back(work, thread);
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A library prints nothing and leaves the process's signals as they were, even while its job
// makes a new file: the caller's program decides what a signal does.
TEST(Library, LeavesSignalsAndOutputAlone)
{
    const test::ScratchDir dir;
    test::WriteFile(dir / "text", test::TextLikeBytes(1 << 20, 4));
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1);
    const int savedErr = ::dup(2);
    const int capture = ::open((dir / "printed").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(capture, 0);
    ::dup2(capture, 1);
    ::dup2(capture, 2);
    struct Seen
    {
        int handled = 0;
    } seen;
    hufpack_options o = Options();
    o.progress_user = &seen;
    o.progress = [](void* user, int64_t, int64_t) {
        for (const int signal : { SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ }) {
            struct sigaction now
            {
            };
            ::sigaction(signal, nullptr, &now);
            if (now.sa_handler != SIG_DFL)
                ++static_cast<Seen*>(user)->handled;
        }
        return 0;
    };
    const int compressed = hufpack_compress_file(hufpack_path((dir / "text").c_str()),
                                                 hufpack_path((dir / "text.huf").c_str()), &o);
    const int damaged = hufpack_decompress_file(hufpack_path((dir / "text").c_str()),
                                                hufpack_path((dir / "back").c_str()), nullptr);
    std::fflush(stdout);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    ::close(savedOut);
    ::close(savedErr);
    ::close(capture);
    EXPECT_EQ(compressed, HUFPACK_OK);
    EXPECT_EQ(damaged, HUFPACK_NOT_OUR_FORMAT);
    EXPECT_EQ(seen.handled, 0);
    EXPECT_EQ(test::ReadText(dir / "printed"), "");
}

} // namespace
} // namespace hufpack
