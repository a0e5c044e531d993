// The two passes of a coder on bytes in memory: the exact bytes of the golden files, the same bytes
// from every path, damaged files rejected and odd but consistent ones accepted.

#include "jobs/TreeCoder.h"

#include "CoderRun.h"
#include "Corpus.h"
#include "TestSupport.h"
#include "code/CodeTree.h"
#include "encode/PartEncoder.h"
#include "format/Format.h"
#include "hufpack/FileJobs.h"
#include "jobs/TestHooks.h"
#include "reference/ReferencePaths.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <unistd.h>

namespace hufpack::test {

void PrintTo(const Golden& golden, std::ostream* os)
{
    *os << golden.name;
}

} // namespace hufpack::test

namespace hufpack {
namespace {

using test::Bytes;
using test::BytesOf;
using test::Coded;
using test::FromHex;
using test::Path;

// What every pass must leave behind: an empty node heap.
Coded Checked(Coded coded)
{
    EXPECT_TRUE(coded.heapEmpty) << "every pass leaves the node heap empty";
    return coded;
}

// `parts` > 0 lets the fast encoder cut even a small source into that many parts.
Coded Encode(const Bytes& input, Path path = Path::Fast, int parts = 0)
{
    return Checked(test::Encode(input, { .path = path, .parts = parts }));
}

Coded Decode(const Bytes& input, Path path = Path::Fast)
{
    return Checked(test::Decode(input, { .path = path }));
}

// Encodes `input` into a sink that takes its bytes in order only, as standard output and a
// program's callback do.
Coded EncodeInOrder(const Bytes& input, int parts)
{
    Bytes taken;
    ByteSink out = ByteSink::ToCallback([&](std::span<const std::uint8_t> bytes) {
        taken.insert(taken.end(), bytes.begin(), bytes.end());
        return true;
    });
    const ByteSource in = ByteSource::OfMemory(input);
    TreeCoder::Options options;
    if (parts > 0) {
        options.maxParts = parts;
        options.minPartBytes = 1;
    }
    TreeCoder coder(in, out, options);
    const JobResult result = coder.Encode().Result();
    EXPECT_TRUE(out.Close());
    return { .result = result, .bytes = taken };
}

// Encodes with both paths, checks they agree, decodes with both, and checks the source comes
// back byte for byte.
void Verify(const Bytes& input)
{
    const Coded fast = Encode(input);
    ASSERT_EQ(fast.result, JobResult::Done);
    const Coded reference = Encode(input, Path::Reference);
    ASSERT_EQ(reference.result, JobResult::Done);
    ASSERT_EQ(fast.bytes, reference.bytes) << "the fast encoder writes the reference's bytes";
    // Parts meet at every bit alignment, and may be shorter than a flush or a byte of output.
    for (const int parts : { 2, 3, 16 }) {
        const Coded split = Encode(input, Path::Fast, parts);
        ASSERT_EQ(split.result, JobResult::Done);
        ASSERT_EQ(split.bytes, reference.bytes) << "coded in " << parts << " parts, same bytes";
    }
    for (const int parts : { 0, 3, 16 }) {
        const Coded piped = EncodeInOrder(input, parts);
        ASSERT_EQ(piped.result, JobResult::Done);
        ASSERT_EQ(piped.bytes, reference.bytes) << "written in order, " << parts << " parts";
    }
    const Coded plain
        = Checked(test::Encode(input, { .parts = 3, .build = ProcessorBuild::Portable }));
    ASSERT_EQ(plain.bytes, reference.bytes) << "the loop built for any x86-64 writes the same";

    const Coded restored = Decode(fast.bytes);
    EXPECT_EQ(restored.result, JobResult::Done);
    EXPECT_TRUE(restored.bytes == input) << "the round trip restores the source";
    const Coded walked = Decode(fast.bytes, Path::Reference);
    EXPECT_EQ(walked.result, JobResult::Done);
    EXPECT_TRUE(walked.bytes == input) << "the bit-by-bit walk restores the source";
}

class GoldenFiles : public testing::TestWithParam<test::Golden>
{
};

TEST_P(GoldenFiles, EncodeWritesExactlyTheseBytesAndDecodeRestores)
{
    const test::Golden& golden = GetParam();
    const Coded encoded = Encode(golden.source);
    ASSERT_EQ(encoded.result, JobResult::Done);
    EXPECT_EQ(test::ToHex(encoded.bytes), test::ToHex(golden.file));
    const Coded decoded = Decode(golden.file);
    EXPECT_EQ(decoded.result, JobResult::Done);
    EXPECT_TRUE(decoded.bytes == golden.source);
}

INSTANTIATE_TEST_SUITE_P(Sources, GoldenFiles, testing::ValuesIn(test::GoldenFiles()),
                         [](const testing::TestParamInfo<test::Golden>& info) {
                             return info.param.name;
                         });

// The pass prints nothing: the checksum's message is the first form's, printed at its edge
// (FileJobsTest).
TEST(Decode, BadChecksumIsRejectedAndThePassPrintsNothing)
{
    testing::internal::CaptureStdout();
    const Coded decoded = Decode(test::BadChecksumFile());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(decoded.result, JobResult::NotOurFormat);
    EXPECT_TRUE(decoded.bytes.empty()) << "nothing is written before the checksum passes";
}

// The checksum's rule, including the wrapped and negative sums that files written by hand can
// carry.
TEST(Decode, ChecksumRule)
{
    // checksum, total bits, table size
    EXPECT_TRUE((Header { 0x30, 23, 25 }).ChecksumMatches());
    EXPECT_FALSE((Header { 0x31, 23, 25 }).ChecksumMatches());
    EXPECT_TRUE((Header { 0, -256, 0 }).ChecksumMatches())
        << "a negative multiple of 256 passes with 0";
    for (int c = 0; c < 256; ++c)
        EXPECT_FALSE((Header { static_cast<std::uint8_t>(c), -255, 0 }).ChecksumMatches())
            << "a negative sum with a remainder matches no checksum byte";
    EXPECT_FALSE(Header::For(INT32_MAX, 1280).ChecksumMatches())
        << "a sum past INT32_MAX wraps negative, and its remainder matches no byte";
    EXPECT_TRUE((Header { 0, 1, -1 }).ChecksumMatches()) << "table size read as signed 16-bit";
}

// Tables out of order or with repeated values, zero counts, and files of a header alone or of
// nothing, with nothing to walk.
TEST(Decode, OddButConsistentFilesAreAccepted)
{
    for (const test::Consistent& c : test::OddButConsistentFiles()) {
        SCOPED_TRACE(c.name);
        for (const Path path : { Path::Fast, Path::Reference }) {
            const Coded decoded = Decode(c.file, path);
            EXPECT_EQ(decoded.result, JobResult::Done) << "a file true to its own table decodes";
            EXPECT_EQ(decoded.bytes, c.restored);
        }
    }
}

TEST(Decode, DamagedFilesAreRejected)
{
    for (const test::Sample& damaged : test::DamagedFiles()) {
        SCOPED_TRACE(damaged.name);
        EXPECT_EQ(Decode(damaged.file).result, JobResult::NotOurFormat);
        EXPECT_EQ(Decode(damaged.file, Path::Reference).result, JobResult::NotOurFormat);
    }
}

TEST(RoundTrip, SmallSourcesOfEveryKind)
{
    Bytes allByteValues(256);
    std::iota(allByteValues.begin(), allByteValues.end(), 0);
    Verify(BytesOf("a"));
    Verify(BytesOf(" "));
    Verify(Bytes(1000, ' '));
    Verify(Bytes(4097, 0xFF));
    Verify(allByteValues);
    Verify(BytesOf("abracadabra"));
    Verify(BytesOf("hello world"));
    Verify(BytesOf("mississippi"));
}

TEST(RoundTrip, RandomSizesAndSkews)
{
    std::mt19937_64 random(7);
    for (int round = 0; round < 60; ++round) {
        const std::size_t size = round < 40 ? 1 + random() % 3000 : 1 + random() % 300000;
        SCOPED_TRACE("round " + std::to_string(round) + ", size " + std::to_string(size));
        Verify(round % 2 ? test::SkewedBytes(size, round) : test::TextLikeBytes(size, round));
    }
}

TEST(RoundTrip, LongCodesPastTheDecoderTable)
{
    // Fibonacci counts build a tree as deep as its values: codes of up to 24 bits.
    Verify(test::FibonacciBytes(25));
    // Spread over the file so long codes fall on every alignment.
    Bytes shuffled = test::FibonacciBytes(22);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(3));
    Verify(shuffled);
}

TEST(RoundTrip, LargerThanTheStreamBuffers)
{
    Verify(test::TextLikeBytes(3 * FileStream::kBufferSize + 12345, 99));
    // Large enough to be coded two bytes a lookup, in parts that meet at any bit.
    Verify(test::TextLikeBytes(PartEncoder::kPairsFromBytes + 12345, 98));
}

// Hand-made files with valid checksums and trees up to 255 levels deep: the table decoder and
// the bit-by-bit walk must write the same bytes and agree on the result, whatever the bits.
TEST(Decode, FastAndReferenceAgreeOnCraftedFiles)
{
    std::mt19937_64 random(11);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int values = 1 + static_cast<int>(random() % 256);
        Bytes table;
        for (int i = 0; i < values; ++i) {
            table.push_back(static_cast<std::uint8_t>(random()));
            std::uint32_t count;
            switch (round % 4) {
            case 0: // doubling counts: the deepest trees, and weights that wrap
                count = i < 31 ? 1u << i : 0x7FFFFFFFu;
                break;
            case 1:
                count = static_cast<std::uint32_t>(random() % 5) - 1;
                break;
            default:
                count = static_cast<std::uint32_t>(random());
            }
            for (int k = 0; k < 4; ++k)
                table.push_back(static_cast<std::uint8_t>(count >> (8 * k)));
        }
        // Some streams are long enough to cross the decoder's input and output buffers.
        const auto streamBytes
            = static_cast<std::int32_t>(random() % (round % 20 == 3 ? 300000 : 600));
        const std::int32_t totalBits = streamBytes * 8 - static_cast<std::int32_t>(random() % 8);
        Bytes stream;
        for (int i = 0; i < streamBytes; ++i)
            stream.push_back(static_cast<std::uint8_t>(random() % 3 ? random() : 0xFF));
        const Bytes file = test::Crafted(totalBits, table, stream);

        const Coded fast = Decode(file);
        const Coded reference = Decode(file, Path::Reference);
        EXPECT_EQ(fast.result, reference.result);
        EXPECT_TRUE(fast.bytes == reference.bytes) << "same bytes from both decoders";
    }
}

} // namespace
} // namespace hufpack

namespace hufpack {
namespace {

// A source that gained a byte value between the counting pass and the coding pass: the plain
// coder meets a byte without a code, and must tell it through its counts instead of crashing.
TEST(Encode, TheReferenceCoderCountsAByteThatHasNoCode)
{
    Counts counts {};
    counts['a'] = 3;
    CodeTree tree;
    tree.AssignCodes(tree.BuildTree(counts), "");
    const Bytes source = BytesOf("abca");
    Bytes written;
    FileStream in;
    FileStream out;
    in.AttachForReading(source);
    out.AttachForWriting(written);
    std::array<std::uint64_t, 256> seen {};
    reference::EncodeBits(in, out, tree, seen);
    EXPECT_EQ(seen['a'], 2u);
    EXPECT_EQ(seen['b'], 1u) << "a byte without a code is counted, so the pass can fail";
    EXPECT_EQ(seen['c'], 1u);
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(written, FromHex("00")) << "only the a's are coded";
}

// Sparse files of 2 GiB: no disk space, one read of the counting pass each.
TEST(Encode, RefusesSourcesTheHeaderCannotHold)
{
    constexpr off_t kTwoGiB = off_t { 1 } << 31;
    struct Case
    {
        const char* why;
        off_t zeros;
        bool trailingByte;
    };
    const Case cases[] = {
        { "a count past INT32_MAX", kTwoGiB, false },
        { "counts that fit, total bits INT32_MAX + 1", kTwoGiB - 1, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        test::ScratchDir dir;
        const std::string source = dir / "huge";
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, c.zeros), 0);
        if (c.trailingByte) {
            ASSERT_EQ(::pwrite(fd, "a", 1, c.zeros), 1);
        }
        ::close(fd);
        testing::internal::CaptureStdout();
        EXPECT_EQ(EncodeFile(source, dir / "packed"), JobResult::TooLarge);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(dir.List(), std::vector<std::string> { "huge" })
            << "nothing is written for a source the format cannot hold";
    }
}

} // namespace
} // namespace hufpack
