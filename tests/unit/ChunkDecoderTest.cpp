// The decoder that guesses ahead on every core: whatever the threads, the chunk sizes and the
// codes, it writes exactly the bytes of the plain bit-by-bit walk and reaches the same verdict,
// damaged files included; and its memory does not follow the file's size.

#include "decode/ChunkDecoder.h"

#include "CoderRun.h"
#include "Corpus.h"
#include "TestSupport.h"
#include "format/Format.h"
#include "hufpack/FileJobs.h"
#include "jobs/TestHooks.h"
#include "sys/Threads.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hufpack {
namespace {

using test::Bytes;

using Decoded = test::Coded;

Bytes Compress(const Bytes& source)
{
    const Decoded packed = test::Encode(source);
    EXPECT_EQ(packed.result, JobResult::Done);
    return packed.bytes;
}

// The bit-by-bit walk, which the decoder must match.
Decoded Walk(const Bytes& file)
{
    return test::Decode(file, { .path = test::Path::Reference });
}

// With `workers` threads beside the calling one, which decodes among them.
Decoded Guess(const Bytes& file, int workers, std::int64_t chunkBits,
              std::int64_t checkpointBits = 0, ProcessorBuild build = ChosenBuild())
{
    ChunkDecoder::Options options;
    options.chunkBits = chunkBits;
    options.checkpointBits = checkpointBits;
    return test::Decode(file, { .decode = options, .threads = workers + 1, .build = build });
}

// Decodes `file` with every thread count and chunk size given and checks each against the walk.
void ExpectSameAsWalk(const Bytes& file, std::initializer_list<std::int64_t> chunkSizes)
{
    const Decoded walked = Walk(file);
    // 0: no workers, the calling thread decoding the groups itself.
    for (const int threads : { 0, 1, 2, 3, 8 }) {
        for (const std::int64_t chunkBits : chunkSizes) {
            SCOPED_TRACE(std::to_string(threads) + " threads, chunks of "
                         + std::to_string(chunkBits) + " bits");
            const Decoded guessed = Guess(file, threads, chunkBits);
            EXPECT_EQ(guessed.result, walked.result) << "the same verdict as the walk";
            EXPECT_TRUE(guessed.bytes == walked.bytes) << "the same bytes as the walk";
        }
    }
}

// Each value as often as its count says, in a shuffled order.
Bytes Shuffled(std::vector<std::pair<std::uint8_t, int>> counts, std::uint64_t seed)
{
    Bytes bytes;
    for (const auto& [value, count] : counts)
        bytes.insert(bytes.end(), static_cast<std::size_t>(count), value);
    std::shuffle(bytes.begin(), bytes.end(), std::mt19937_64(seed));
    return bytes;
}

// Each of the 256 values equally often: every code is 8 bits.
Bytes EightBitCodes(int copies)
{
    std::vector<std::pair<std::uint8_t, int>> counts;
    for (int value = 0; value < 256; ++value)
        counts.emplace_back(static_cast<std::uint8_t>(value), copies);
    return Shuffled(counts, 3);
}

// Three values of weight 4n and four of weight n: codes of 2 and 4 bits.
Bytes TwoAndFourBitCodes(int n)
{
    return Shuffled({ { 'a', 4 * n },
                      { 'b', 4 * n },
                      { 'c', 4 * n },
                      { 'd', n },
                      { 'e', n },
                      { 'f', n },
                      { 'g', n } },
                    5);
}

// Seven values of weight 8n and eight of weight n: codes of 3 and 6 bits.
Bytes ThreeAndSixBitCodes(int n)
{
    std::vector<std::pair<std::uint8_t, int>> counts;
    for (int i = 0; i < 7; ++i)
        counts.emplace_back(static_cast<std::uint8_t>('A' + i), 8 * n);
    for (int i = 0; i < 8; ++i)
        counts.emplace_back(static_cast<std::uint8_t>('a' + i), n);
    return Shuffled(counts, 7);
}

TEST(ChunkDecoder, WritesWhatTheWalkWritesForEveryKindOfSource)
{
    struct Case
    {
        const char* what;
        Bytes source;
    };
    const Case cases[] = {
        { "random bytes", test::RandomBytes(1500, 1) },
        { "skewed bytes", test::SkewedBytes(2000, 2) },
        { "text", test::TextLikeBytes(2000, 3) },
        { "one byte value", Bytes(3000, 'a') },
        { "value 32 alone", Bytes(3000, ' ') },
        { "all 256 values once", EightBitCodes(1) },
        { "8-bit codes only", EightBitCodes(5) },
        { "2- and 4-bit codes only", TwoAndFourBitCodes(80) },
        { "3- and 6-bit codes only", ThreeAndSixBitCodes(20) },
        // Codes of up to 16 bits: chunks of a few bits end inside them, several chunks in one.
        { "long codes", test::FibonacciBytes(17) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes& source = c.source;
        const Bytes file = Compress(source);
        ASSERT_EQ(Walk(file).bytes, source);
        // 1 bit rounds up to where codes may start; tiny chunks fall in step many times over.
        ExpectSameAsWalk(file, { 1, 7, 13, 64, 1000, 0 });
    }
}

TEST(ChunkDecoder, WritesWhatTheWalkWritesForLargerSources)
{
    const Bytes sources[] = { test::TextLikeBytes(600000, 4), test::SkewedBytes(500000, 5),
                              test::RandomBytes(300000, 6), EightBitCodes(1000) };
    for (const Bytes& source : sources) {
        const Bytes file = Compress(source);
        ExpectSameAsWalk(file, { 4096, 100003, 0 });
    }
}

// Doubling counts build trees up to 255 levels deep; random bits walk them to every depth,
// with codes that cross many chunks and a stream end that falls inside one.
TEST(ChunkDecoder, AgreesWithTheWalkOnCraftedDeepTrees)
{
    std::mt19937_64 random(17);
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int values = round % 3 == 0 ? 256 : 2 + static_cast<int>(random() % 254);
        Bytes table;
        for (int i = 0; i < values; ++i) {
            table.push_back(static_cast<std::uint8_t>(i));
            const std::uint32_t count = round % 2 ? (i < 31 ? 1u << i : 0x7FFFFFFFu)
                                                  : static_cast<std::uint32_t>(random() % 1000);
            for (int k = 0; k < 4; ++k)
                table.push_back(static_cast<std::uint8_t>(count >> (8 * k)));
        }
        const int streamBytes = 300 + static_cast<int>(random() % 500);
        Bytes stream(static_cast<std::size_t>(streamBytes));
        for (auto& byte : stream)
            byte = static_cast<std::uint8_t>(random() % 4 ? random() : 0xFF);
        const std::int32_t totalBits = streamBytes * 8 - static_cast<std::int32_t>(random() % 8);
        const Bytes file = test::Crafted(totalBits, table, stream);
        const Decoded walked = Walk(file);
        for (const int threads : { 1, 3 }) {
            for (const std::int64_t chunkBits : { 1, 37, 999 }) {
                const Decoded guessed = Guess(file, threads, chunkBits);
                EXPECT_EQ(guessed.result, walked.result);
                EXPECT_TRUE(guessed.bytes == walked.bytes)
                    << threads << " threads, chunks of " << chunkBits << " bits";
            }
        }
    }
}

// One bit flipped in each chunk in turn: the bytes and the verdict are the walk's, whichever
// chunk holds the damage.
TEST(ChunkDecoder, DamageInAnyChunkGivesTheWalksVerdict)
{
    const Bytes source = test::TextLikeBytes(60000, 8);
    const Bytes file = Compress(source);
    constexpr std::int64_t kChunkBits = 16384;
    const std::int64_t streamStart = Header::Parse(file).StreamOffset();
    const std::int64_t streamBits = (static_cast<std::int64_t>(file.size()) - streamStart) * 8;
    int rejected = 0;
    for (std::int64_t chunk = 0; chunk * kChunkBits < streamBits; ++chunk) {
        SCOPED_TRACE("damage in chunk " + std::to_string(chunk));
        Bytes damaged = file;
        const std::int64_t bit = std::min(chunk * kChunkBits + kChunkBits / 2, streamBits - 1);
        damaged[static_cast<std::size_t>(streamStart + bit / 8)] ^= 0x80 >> (bit % 8);
        const Decoded walked = Walk(damaged);
        const Decoded guessed = Guess(damaged, 2, kChunkBits);
        EXPECT_EQ(guessed.result, walked.result);
        EXPECT_TRUE(guessed.bytes == walked.bytes);
        rejected += walked.result == JobResult::NotOurFormat;
    }
    EXPECT_GT(rejected, 0) << "a flipped bit upsets the counts as a rule";
}

// Fewer total bits than the stream holds (checksum kept valid): the stream ends inside a code,
// which is dropped, and the bytes after the end are never read as codes.
TEST(ChunkDecoder, TheStreamEndsWhereTheHeaderSays)
{
    // The rarest value, with the longest code, comes last; and codes of one byte each.
    Bytes fibonacci = test::FibonacciBytes(17);
    std::reverse(fibonacci.begin(), fibonacci.end());
    for (const Bytes& source : { fibonacci, EightBitCodes(8) }) {
        const Bytes file = Compress(source);
        const Header header = Header::Parse(file);
        for (const std::int32_t cut : { 0, 1, 3, 9, 17, 300 }) {
            SCOPED_TRACE("total bits lowered by " + std::to_string(cut));
            Bytes shorter = file;
            const auto lowered = Header::For(header.totalBits - cut, header.tableSize).Bytes();
            std::copy(lowered.begin(), lowered.end(), shorter.begin());
            // Bytes past the stream are not part of it.
            shorter.insert(shorter.end(), { 0xFF, 0x00, 0xAA });
            const Decoded walked = Walk(shorter);
            for (const std::int64_t chunkBits : { 1, 11, 5000 }) {
                const Decoded guessed = Guess(shorter, 2, chunkBits);
                EXPECT_EQ(guessed.result, walked.result);
                EXPECT_TRUE(guessed.bytes == walked.bytes) << "chunks of " << chunkBits << " bits";
            }
        }
    }
}

TEST(ChunkDecoder, ThePortableLoopWritesTheSame)
{
    for (const Bytes& source : { test::TextLikeBytes(300000, 9), test::RandomBytes(200000, 10) }) {
        const Bytes file = Compress(source);
        const Decoded portable = Guess(file, 2, 20000, 0, ProcessorBuild::Portable);
        EXPECT_EQ(portable.result, JobResult::Done);
        EXPECT_TRUE(portable.bytes == source);
    }
}

// Codes of one length start only on multiples of it; chunks cut there are in step at once.
TEST(ChunkDecoder, ChunksStartWhereCodesMayStart)
{
    const Bytes source = EightBitCodes(400);
    const Bytes file = Compress(source);
    // 4097 bits would put every chunk after the first off the byte grid.
    const Decoded guessed = Guess(file, 2, 4097);
    ASSERT_EQ(guessed.result, JobResult::Done);
    EXPECT_TRUE(guessed.bytes == source);
    EXPECT_EQ(guessed.stats.chunkBits % 8, 0);
    EXPECT_EQ(guessed.stats.decodedAgain, 0) << "every chunk falls in step";
    EXPECT_EQ(guessed.stats.stepBits, 0) << "at its first bit";
    EXPECT_EQ(guessed.stats.synchronised, guessed.stats.chunks);
}

TEST(ChunkDecoder, TextFallsInStepWithinTheCheckpoints)
{
    const Bytes source = test::TextLikeBytes(3 << 20, 11);
    const Decoded guessed = Guess(Compress(source), 2, 0);
    ASSERT_TRUE(guessed.bytes == source);
    EXPECT_GE(guessed.stats.workers, 1);
    EXPECT_GT(guessed.stats.chunks, 4);
    EXPECT_EQ(guessed.stats.synchronised + guessed.stats.decodedAgain, guessed.stats.chunks)
        << "the workers decode every chunk";
    EXPECT_LE(guessed.stats.decodedAgain, guessed.stats.chunks / 10);
    EXPECT_LT(guessed.stats.stepBits, guessed.stats.chunks * 1000)
        << "a few dozen bits per chunk to fall in step, as a rule";
}

// Checkpoints that cover almost nothing: chunks do not fall in step, are decoded again, and
// after a few in a row the calling thread decodes the rest alone. The bytes stay the same.
TEST(ChunkDecoder, ChunksThatNeverFallInStepAreDecodedAgain)
{
    const Bytes source = test::TextLikeBytes(400000, 12);
    const Decoded guessed = Guess(Compress(source), 2, 8000, 1);
    EXPECT_EQ(guessed.result, JobResult::Done);
    EXPECT_TRUE(guessed.bytes == source);
    EXPECT_GT(guessed.stats.decodedAgain, 0);
    EXPECT_GT(guessed.stats.decodedAlone, 0) << "the workers were stopped";
}

TEST(ChunkDecoder, BuffersStayWithinTheBudgetForAnyThreadCount)
{
    const Bytes file = Compress(test::SkewedBytes(2 << 20, 13));
    for (const int threads : { 0, 1, 2, 8, 100 }) {
        const Decoded guessed = Guess(file, threads, 0);
        ASSERT_EQ(guessed.result, JobResult::Done);
        EXPECT_EQ(guessed.stats.workers, std::min(threads + 1, kMaxThreads) - 1)
            << "the workers asked for, the caller's thread beside them, up to the most there are";
        EXPECT_LE(guessed.stats.bufferBytes, 10 << 20) << threads << " threads";
    }
}

// A damaged file decoded on every core: rejected, and nothing is left behind.
TEST(ChunkDecoder, ADamagedFileLeavesNoDestination)
{
    test::ScratchDir dir;
    Bytes file = Compress(test::TextLikeBytes(2 << 20, 14));
    file[file.size() / 2] ^= 0x10;
    test::WriteFile(dir / "damaged", file);
    testing::internal::CaptureStdout();
    const JobResult result = DecodeFile(dir / "damaged", dir / "restored");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, JobResult::NotOurFormat);
    EXPECT_EQ(dir.List(), std::vector<std::string> { "damaged" });
}

struct ToolRun
{
    int status = -1; // exit status, or -1 when it did not exit normally
    long peakKiB = 0;
};

pid_t ForkTool(const std::string& source, const std::string& destination, rlim_t limitBytes)
{
    const std::string tool = test::ToolPath();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const rlimit limit { limitBytes, limitBytes };
        ::setrlimit(RLIMIT_AS, &limit);
        ::execl(tool.c_str(), tool.c_str(), "decode", source.c_str(), destination.c_str(), "-f",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Runs `hufpack decode`, with its address space limited to `limitBytes` when that is not 0.
ToolRun DecodeWithTool(const std::string& source, const std::string& destination,
                       rlim_t limitBytes = 0)
{
    int report[2];
    if (::pipe(report) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    // The tool is started by a copy of this process. A process started with exec inherits the
    // peak memory of the one it replaces, and this process's peak can be anything after other
    // tests; the copy's peak begins at what this one holds now.
    const pid_t pid = ::fork();
    if (pid == 0) {
        bool done = false;
        {
            // Gone before _exit, which runs no destructors.
            ToolRun run;
            const test::ScratchDir logs;
            const pid_t tool = limitBytes == 0
                ? test::StartTool({ "decode", source, destination, "-f" }, logs / "out",
                                  logs / "err")
                : ForkTool(source, destination, limitBytes);
            int wstatus = 0;
            rusage usage {};
            if (tool > 0) {
                while (::wait4(tool, &wstatus, 0, &usage) < 0) { }
                run = { WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, usage.ru_maxrss };
            }
            done = ::write(report[1], &run, sizeof run) == sizeof run && tool > 0;
        }
        ::_exit(done ? 0 : 1);
    }
    ::close(report[1]);
    ToolRun run;
    const bool received = ::read(report[0], &run, sizeof run) == sizeof run;
    ::close(report[0]);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) { }
    if (!received || !WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0)
        ADD_FAILURE() << "cannot run the hufpack tool";
    return run;
}

TEST(ChunkDecoder, PeakMemoryDoesNotFollowTheFileSize)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", test::SkewedBytes(48 << 20, 15));
    testing::internal::CaptureStdout();
    ASSERT_EQ(EncodeFile(dir / "source", dir / "packed"), JobResult::Done);
    testing::internal::GetCapturedStdout();
    const ToolRun run = DecodeWithTool(dir / "packed", dir / "restored");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(test::ReadFile(dir / "restored") == test::ReadFile(dir / "source"));
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(run.peakKiB, 16 * 1024) << "48 MiB restored within 16 MiB";
#endif
}

// Too little address space for threads (each reserves its stack) or for the buffers: the job
// decodes with fewer threads, or alone, or fails; it never crashes.
TEST(ChunkDecoder, NoThreadOrNoMemoryIsNotACrash)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than any limit here";
#endif
    test::ScratchDir dir;
    const Bytes source = test::TextLikeBytes(4 << 20, 16);
    test::WriteFile(dir / "source", source);
    testing::internal::CaptureStdout();
    ASSERT_EQ(EncodeFile(dir / "source", dir / "packed"), JobResult::Done);
    testing::internal::GetCapturedStdout();
    int restored = 0;
    for (const rlim_t mebibytes : { 4, 8, 12, 16, 24, 32, 64 }) {
        SCOPED_TRACE(std::to_string(mebibytes) + " MiB of address space");
        const ToolRun run = DecodeWithTool(dir / "packed", dir / "restored", mebibytes << 20);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << "done or failed, never a crash";
        if (run.status == 0) {
            EXPECT_TRUE(test::ReadFile(dir / "restored") == source);
            ++restored;
        }
    }
    EXPECT_GT(restored, 0);
}

} // namespace
} // namespace hufpack
