#include "TreeCoder.h"

#include "CodeTree.h"
#include "Corpus.h"
#include "EncodeKernel.h"
#include "Format.h"
#include "NodeHeap.h"
#include "ReferencePaths.h"
#include "TestHooks.h"
#include "TestSupport.h"
#include "hufpack/FileJobs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

namespace hufpack {
namespace {

using test::Bytes;
using test::BytesOf;
using test::FromHex;

struct Coded
{
    JobResult result;
    Bytes bytes;
};

enum class Path { Fast, Reference };

// Runs one pass of a coder over `input` on real files, as a job does. `parts` > 0 lets the fast
// encoder cut even a small source into that many parts.
Coded RunCoder(const Bytes& input, bool encode, Path path = Path::Fast, int parts = 0)
{
    test::ScratchDir dir;
    const std::string source = dir / "source";
    const std::string destination = dir / "destination";
    test::WriteFile(source, input);
    FileStream in;
    FileStream out;
    in.AttachForReading(::open(source.c_str(), O_RDONLY));
    out.AttachForWriting(::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    JobResult result;
    {
        TreeCoder coder(in, out);
        TreeCoderTesting::UseReferencePaths(coder, path == Path::Reference);
        if (parts > 0)
            TreeCoderTesting::SetParts(coder, parts, 1);
        result = encode ? coder.Encode() : coder.Decode();
    }
    EXPECT_TRUE(out.Close());
    EXPECT_TRUE(TheNodeHeap().IsEmpty()) << "every pass leaves the node heap empty";
    return { result, test::ReadFile(destination) };
}

// Encodes `input` into a pipe, which cannot seek, as a stream destination such as standard
// output is written: in order only.
Coded EncodeIntoPipe(const Bytes& input, int parts)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", input);
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    Bytes piped;
    std::thread reader([&] {
        std::uint8_t buffer[65536];
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            piped.insert(piped.end(), buffer, buffer + got);
        ::close(ends[0]);
    });
    FileStream in;
    FileStream out;
    in.AttachForReading(::open((dir / "source").c_str(), O_RDONLY));
    out.AttachForWriting(ends[1]);
    JobResult result;
    {
        TreeCoder coder(in, out);
        coder.SetOutputInOrder(true);
        if (parts > 0)
            TreeCoderTesting::SetParts(coder, parts, 1);
        result = coder.Encode();
    }
    EXPECT_TRUE(out.Close());
    reader.join();
    return { result, piped };
}

Coded Encode(const Bytes& input, Path path = Path::Fast, int parts = 0)
{
    return RunCoder(input, true, path, parts);
}

Coded Decode(const Bytes& input, Path path = Path::Fast)
{
    return RunCoder(input, false, path);
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
        const Coded piped = EncodeIntoPipe(input, parts);
        ASSERT_EQ(piped.result, JobResult::Done);
        ASSERT_EQ(piped.bytes, reference.bytes) << "written in order, " << parts << " parts";
    }
    encode::AllowExtensions(false);
    const Coded plain = Encode(input, Path::Fast, 3);
    encode::AllowExtensions(true);
    ASSERT_EQ(plain.bytes, reference.bytes) << "the loop built for any x86-64 writes the same";

    const Coded restored = Decode(fast.bytes);
    EXPECT_EQ(restored.result, JobResult::Done);
    EXPECT_TRUE(restored.bytes == input) << "the round trip restores the source";
    const Coded walked = Decode(fast.bytes, Path::Reference);
    EXPECT_EQ(walked.result, JobResult::Done);
    EXPECT_TRUE(walked.bytes == input) << "the bit-by-bit walk restores the source";
}

struct Golden
{
    const char* name;
    Bytes source;
    Bytes file;
    friend void PrintTo(const Golden& golden, std::ostream* os) { *os << golden.name; }
};

class GoldenFiles : public testing::TestWithParam<Golden>
{
};

TEST_P(GoldenFiles, EncodeWritesExactlyTheseBytesAndDecodeRestores)
{
    const Golden& golden = GetParam();
    const Coded encoded = Encode(golden.source);
    ASSERT_EQ(encoded.result, JobResult::Done);
    EXPECT_EQ(test::ToHex(encoded.bytes), test::ToHex(golden.file));
    const Coded decoded = Decode(golden.file);
    EXPECT_EQ(decoded.result, JobResult::Done);
    EXPECT_TRUE(decoded.bytes == golden.source);
}

Bytes Repeat(char byte, std::size_t count)
{
    return Bytes(count, static_cast<std::uint8_t>(byte));
}

Bytes AllByteValues()
{
    Bytes bytes(256);
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

Bytes AllByteValuesFile()
{
    Bytes file = FromHex("00 00 08 00 00 00 05");
    for (int i = 0; i < 256; ++i) {
        file.push_back(static_cast<std::uint8_t>(i));
        file.insert(file.end(), { 1, 0, 0, 0 });
    }
    // Every code is 8 bits: the stream is the 256 codes in order of the bytes.
    CodeTree tree;
    Counts counts;
    counts.fill(1);
    tree.AssignCodes(tree.BuildTree(counts), "");
    for (int i = 0; i < 256; ++i) {
        const CodeWord& code = tree.CodeFor(static_cast<std::uint8_t>(i));
        EXPECT_EQ(code.Length(), 8);
        std::uint8_t byte = 0;
        for (int bit = 1; bit <= 8; ++bit)
            byte = static_cast<std::uint8_t>((byte << 1) | code[bit]);
        file.push_back(byte);
    }
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, GoldenFiles,
    testing::Values(
        Golden { "abracadabra", BytesOf("abracadabra"),
                 FromHex("30 17 00 00 00 19 00 61 05 00 00 00 62 02 00 00 00 63 01 00 00 00"
                         "64 01 00 00 00 72 02 00 00 00 6E 8A DC") },
        Golden { "aaaa", BytesOf("aaaa"), FromHex("09 04 00 00 00 05 00 61 04 00 00 00 00") },
        // Byte 32 alone is written as 1 bits.
        Golden { "four_spaces", BytesOf("    "),
                 FromHex("09 04 00 00 00 05 00 20 04 00 00 00 F0") },
        Golden { "abc", BytesOf("abc"),
                 FromHex("14 05 00 00 00 0F 00 61 01 00 00 00 62 01 00 00 00 63 01 00 00 00 B0") },
        Golden { "abcd", BytesOf("abcd"),
                 FromHex("1C 08 00 00 00 14 00 61 01 00 00 00 62 01 00 00 00 63 01 00 00 00"
                         "64 01 00 00 00 27") },
        Golden { "single_a", BytesOf("a"), FromHex("06 01 00 00 00 05 00 61 01 00 00 00 00") },
        // Eight bits make a whole byte: no fill byte follows.
        Golden { "eight_x", Repeat('x', 8), FromHex("0D 08 00 00 00 05 00 78 08 00 00 00 00") },
        Golden { "seven_zero_bytes", Repeat('\0', 7),
                 FromHex("0C 07 00 00 00 05 00 00 07 00 00 00 00") },
        Golden { "three_hundred_a", Repeat('a', 300),
                 [] {
                     Bytes file = FromHex("31 2C 01 00 00 05 00 61 2C 01 00 00");
                     file.resize(file.size() + 38, 0);
                     return file;
                 }() },
        Golden { "all_byte_values", AllByteValues(), AllByteValuesFile() }),
    [](const testing::TestParamInfo<Golden>& info) { return info.param.name; });

const Bytes kAbracadabraFile = FromHex("30 17 00 00 00 19 00 61 05 00 00 00 62 02 00 00 00"
                                       "63 01 00 00 00 64 01 00 00 00 72 02 00 00 00 6E 8A DC");

TEST(Decode, BadChecksumIsRejectedWithItsMessage)
{
    Bytes file = kAbracadabraFile;
    file[0] = 0x31;
    testing::internal::CaptureStdout();
    const Coded decoded = Decode(file);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Bad checksum.  Invalid format........");
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

TEST(Decode, HeaderOnlyFilesWithNothingToWalk)
{
    const Coded zeros = Decode(FromHex("00 00 00 00 00 00 00"));
    EXPECT_EQ(zeros.result, JobResult::Done);
    EXPECT_TRUE(zeros.bytes.empty());
    const Coded negative = Decode(FromHex("00 00 FF FF FF 00 00"));
    EXPECT_EQ(negative.result, JobResult::Done) << "total bits -256: no bit is read";
    EXPECT_TRUE(negative.bytes.empty());
    const Coded empty = Decode({});
    EXPECT_EQ(empty.result, JobResult::Done) << "an empty file is what an empty source gives";
}

TEST(Decode, OddButConsistentTablesAreAccepted)
{
    // Entries out of order: r, d, c, b, a.
    Verify(BytesOf("abracadabra"));
    Bytes reordered = FromHex("30 17 00 00 00 19 00 72 02 00 00 00 64 01 00 00 00 63 01 00 00 00"
                              "62 02 00 00 00 61 05 00 00 00 6E 8A DC");
    EXPECT_EQ(Decode(reordered).bytes, BytesOf("abracadabra"));
    // b repeated: first with a wrong count, then the right one; checksum 30 + 5.
    Bytes repeated = FromHex("35 17 00 00 00 1E 00 62 09 00 00 00 61 05 00 00 00 62 02 00 00 00"
                             "63 01 00 00 00 64 01 00 00 00 72 02 00 00 00 6E 8A DC");
    const Coded decoded = Decode(repeated);
    EXPECT_EQ(decoded.result, JobResult::Done) << "the last entry of a value counts";
    EXPECT_EQ(decoded.bytes, BytesOf("abracadabra"));
}

TEST(Decode, DamagedFilesAreRejected)
{
    struct Case
    {
        const char* why;
        Bytes file;
    };
    const Case cases[] = {
        { "shorter than the header", FromHex("30 17 00 00 00 19") },
        { "one byte", FromHex("30") },
        { "bit stream one byte short",
          Bytes(kAbracadabraFile.begin(), kAbracadabraFile.end() - 1) },
        { "table reaches past the end",
          Bytes(kAbracadabraFile.begin(), kAbracadabraFile.begin() + 20) },
        // Total bits 8 but the only entry has count 0: there is no tree to walk.
        { "bits without a tree", FromHex("0D 08 00 00 00 05 00 61 00 00 00 00 FF") },
        // c's count says 2, the bits hold one c.
        { "counts disagree with the bits",
          FromHex("30 17 00 00 00 19 00 61 05 00 00 00 62 02 00 00 00 63 02 00 00 00"
                  "64 01 00 00 00 72 02 00 00 00 6E 8A DC") },
        // A count for a value that no bit carries.
        { "positive count and no bits", FromHex("05 00 00 00 00 05 00 61 03 00 00 00") },
        // "aaaa" with a 1 bit: the dummy leaf yields a space the table does not count.
        { "dummy leaf reached", FromHex("09 04 00 00 00 05 00 61 04 00 00 00 10") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Decode(c.file).result, JobResult::NotOurFormat);
        EXPECT_EQ(Decode(c.file, Path::Reference).result, JobResult::NotOurFormat);
    }
}

TEST(RoundTrip, SmallSourcesOfEveryKind)
{
    Verify(BytesOf("a"));
    Verify(BytesOf(" "));
    Verify(Repeat(' ', 1000));
    Verify(Repeat('\xFF', 4097));
    Verify(AllByteValues());
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
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abca"));
    FileStream in;
    FileStream out;
    in.AttachForReading(::open((dir / "source").c_str(), O_RDONLY));
    out.AttachForWriting(::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    std::array<std::uint64_t, 256> seen {};
    reference::EncodeBits(in, out, tree, seen);
    EXPECT_EQ(seen['a'], 2u);
    EXPECT_EQ(seen['b'], 1u) << "a byte without a code is counted, so the pass can fail";
    EXPECT_EQ(seen['c'], 1u);
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / "out"), FromHex("00")) << "only the a's are coded";
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
