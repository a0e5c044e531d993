// The codec on memory, where a file would not show what can go wrong: a buffer that the output
// fills exactly or overruns by a byte, a callback that stops taking bytes, and sizes at the
// edges of the blocks, the parts and the chunks, each against the bit-by-bit reference; and the
// sink of a new file with holes, which takes writes of every size.

#include "CoderRun.h"
#include "Corpus.h"
#include "TestSupport.h"
#include "encode/PartEncoder.h"
#include "format/Format.h"
#include "jobs/TreeCoder.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/SystemIo.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace hufpack {
namespace {

using test::Bytes;

Status RunInto(const Bytes& input, ByteSink& out, bool encode, int threads = 2)
{
    const ByteSource in = ByteSource::OfMemory(input);
    TreeCoder::Options options;
    options.threads = threads;
    options.maxParts = 4;
    options.minPartBytes = 1;
    TreeCoder coder(in, out, options);
    const Status status = encode ? coder.Encode() : coder.Decode();
    if (!status.Ok())
        return status;
    return out.Flush() ? Status() : out.Outcome(JobFile::Destination);
}

// A buffer exactly as large as the output holds it; one byte less fails the job with ENOBUFS,
// which the programs word as a destination too small, whichever way the output was written.
TEST(MemorySinks, ABufferExactlyFilledHoldsTheOutputAndOneByteLessFails)
{
    const Bytes text = test::TextLikeBytes(3 << 20, 21);
    const Bytes packed = test::Encode(text).bytes;
    const struct
    {
        const char* what;
        Bytes input;
        Bytes output;
        bool encode;
    } cases[] = {
        { "the golden file", test::BytesOf("abracadabra"), test::AbracadabraFile(), true },
        { "its restoring", test::AbracadabraFile(), test::BytesOf("abracadabra"), false },
        { "megabytes in parts", text, packed, true },
        { "their restoring", packed, text, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buffer(c.output.size());
        ByteSink exact = ByteSink::ToBuffer(buffer);
        ASSERT_TRUE(RunInto(c.input, exact, c.encode).Ok());
        EXPECT_TRUE(buffer == c.output);
        Bytes small(c.output.size() - 1);
        ByteSink shortOne = ByteSink::ToBuffer(small);
        const Status status = RunInto(c.input, shortOne, c.encode);
        EXPECT_EQ(status.Result(), JobResult::CannotOpen);
        EXPECT_EQ(status.Why().file, JobFile::Destination);
        EXPECT_EQ(status.Why().error, ENOBUFS);
    }
}

// A callback takes the output in order, a block at a time, and may stop the job.
TEST(MemorySinks, ACallbackTakesTheBytesInOrderAndMayStop)
{
    const Bytes text = test::TextLikeBytes(5 << 20, 22);
    const Bytes packed = test::Encode(text).bytes;
    for (const bool encode : { true, false }) {
        SCOPED_TRACE(encode ? "encoding" : "decoding");
        Bytes taken;
        int calls = 0;
        ByteSink all = ByteSink::ToCallback([&](std::span<const std::uint8_t> bytes) {
            taken.insert(taken.end(), bytes.begin(), bytes.end());
            ++calls;
            return true;
        });
        ASSERT_TRUE(RunInto(encode ? text : packed, all, encode).Ok());
        EXPECT_TRUE(taken == (encode ? packed : text));
        EXPECT_GT(calls, 2) << "in pieces, as they come, never all at once";
        ByteSink stopping
            = ByteSink::ToCallback([](std::span<const std::uint8_t>) { return false; });
        const Status stopped = RunInto(encode ? text : packed, stopping, encode);
        EXPECT_EQ(stopped.Result(), JobResult::CannotOpen);
        EXPECT_EQ(stopped.Why().error, ECANCELED);
    }
}

// Sizes at the edges: a byte, a block and a byte either side, parts of a byte and a part more
// than the minimum, and streams cut into chunks that end on their last bit or one past it.
TEST(MemoryCodec, SizesAtTheEdgesOfBlocksPartsAndChunks)
{
    EXPECT_EQ(test::Decode({}).result, JobResult::Done) << "nothing restores to nothing";
    EXPECT_TRUE(test::Decode({}).bytes.empty());
    const std::size_t block = kBlockBytes;
    const std::size_t part = PartEncoder::kMinPartBytes;
    for (const std::size_t size :
         { std::size_t { 1 }, std::size_t { 2 }, block - 1, block, block + 1, 2 * part + 1 }) {
        SCOPED_TRACE(std::to_string(size) + " bytes");
        const Bytes source = test::SkewedBytes(size, size);
        const test::Coded reference = test::Encode(source, { .path = test::Path::Reference });
        for (const int parts : { 0, 3 }) {
            const test::Coded fast = test::Encode(source, { .parts = parts });
            ASSERT_EQ(fast.result, JobResult::Done);
            EXPECT_TRUE(fast.bytes == reference.bytes) << parts << " parts";
        }
        const std::int64_t bits = Header::Parse(reference.bytes).totalBits;
        for (const std::int64_t chunkBits : { bits, bits - 1, bits / 2, bits / 2 + 1 }) {
            ChunkDecoder::Options options;
            options.chunkBits = std::max<std::int64_t>(chunkBits, 1);
            const test::Coded restored
                = test::Decode(reference.bytes, { .decode = options, .threads = 2 });
            ASSERT_EQ(restored.result, JobResult::Done) << "chunks of " << chunkBits << " bits";
            EXPECT_TRUE(restored.bytes == source) << "chunks of " << chunkBits << " bits";
        }
    }
}

// A new file with holes gathers small writes and takes larger ones as they come: either way,
// in any mix, the bytes land in order, zeros read back as zeros, and a file that ends in a hole
// has its whole length.
TEST(FileSinks, WritesOfEverySizeLandInOrderAroundTheHoles)
{
    const auto data = [](std::size_t size) { return test::SkewedBytes(size, size + 7); };
    const std::vector<Bytes> writes
        = { data(3),     Bytes(4093),           Bytes(3 * 4096),    data(5000),
            Bytes(1),    data(kBlockBytes + 9), Bytes(kBlockBytes), data(100),
            Bytes(20000) };
    const test::ScratchDir dir;
    const int fd = ::open((dir / "sparse").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    Bytes expected;
    {
        ByteSink sink = ByteSink::ToNewFileWithHoles(fd);
        for (const Bytes& bytes : writes) {
            sink.Write(bytes.data(), bytes.size());
            expected.insert(expected.end(), bytes.begin(), bytes.end());
        }
        ASSERT_TRUE(sink.Close());
    }
    EXPECT_TRUE(test::ReadFile(dir / "sparse") == expected);
    struct stat info
    {
    };
    ASSERT_EQ(::stat((dir / "sparse").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, static_cast<off_t>(expected.size()));
}

} // namespace
} // namespace hufpack
