// The format's limits, at their exact edges: the largest source of each shape that the header
// can describe is written and decodes back; one byte more is refused before anything is written,
// by every way in (the engine's jobs, the tool's forms, a pipe).

#include "TestSupport.h"
#include "hufpack/FileJobs.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace hufpack {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMaxField = 2147483647;

// The reader sums table size and total bits in a signed 32-bit field, so the largest source is
// the one whose bits and table add up to INT32_MAX.
struct Shape
{
    const char* name;
    std::int64_t tableSize;
    int bitsPerByte;
    // Writes a source of `size` bytes of this shape at `path`.
    void (*write)(const fs::path& path, std::int64_t size);
    [[nodiscard]] std::int64_t Largest() const { return (kMaxField - tableSize) / bitsPerByte; }
};

// One byte value: every code is one bit. A sparse file of zero bytes, which costs no memory.
void WriteZeros(const fs::path& path, std::int64_t size)
{
    std::ofstream(path).close();
    fs::resize_file(path, static_cast<std::uintmax_t>(size));
}

// Every byte value as often as the others, give or take one: every code is eight bits, as for a
// video or an archive that is compressed already.
void WriteEveryValue(const fs::path& path, std::int64_t size)
{
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i % 256);
    std::ofstream out(path, std::ios::binary);
    for (std::int64_t left = size; left > 0;) {
        const auto take = static_cast<std::streamsize>(std::min<std::int64_t>(left, 1 << 20));
        out.write(block.data(), take);
        left -= take;
    }
}

const Shape kShapes[] = {
    { "one byte value", 5, 1, WriteZeros },
    { "every byte value at eight bits", 1280, 8, WriteEveryValue },
};

JobOutcome RunJob(JobKind kind, const std::string& source, const JobDestination& destination)
{
    JobOptions options;
    return RunFileJob(kind, source, destination, options);
}

TEST(Limits, TheLargestSourceOfEachShapeDecodesBackAndOneByteMoreIsRefused)
{
    const test::ScratchDir dir(test::MemoryFolder());
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.name);
        const std::int64_t largest = shape.Largest();
        shape.write(dir / "source", largest);
        const JobOutcome encoded = RunJob(JobKind::Encode, dir / "source", dir / "packed");
        ASSERT_EQ(encoded.result, JobResult::Done) << DescribeFailure(encoded);
        // Decoded in full, every check made, into nothing: the counts prove every byte.
        const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const JobOutcome decoded
            = RunJob(JobKind::Decode, dir / "packed", JobDestination::Descriptor(nowhere));
        ::close(nowhere);
        EXPECT_EQ(decoded.result, JobResult::Done) << DescribeFailure(decoded);
        EXPECT_EQ(decoded.written, largest);
        fs::remove(dir / "packed");

        shape.write(dir / "source", largest + 1);
        const JobOutcome refused = RunJob(JobKind::Encode, dir / "source", dir / "packed");
        EXPECT_EQ(refused.result, JobResult::TooLarge);
        EXPECT_EQ(refused.file, JobFile::Source);
        EXPECT_FALSE(fs::exists(dir / "packed")) << "nothing is written";
        fs::remove(dir / "source");
    }
}

// 268,435,400 bytes that do not compress once made a file no decoder could read, and --rm then
// deleted the only copy. The first form keeps to one compressed file, as scripts of it know it
// (the files form writes such a source as several members: MembersTest).
TEST(Limits, TheFirstFormRefusesATooLargeSourceBeforeWritingAnything)
{
    const test::ScratchDir dir(test::MemoryFolder());
    const Shape& shape = kShapes[1];
    shape.write(dir / "big.bin", shape.Largest() + 1);
    const auto before = test::NamesIn(dir.Path());
    const test::ToolRun run
        = test::RunTool({ .args = { "encode", dir / "big.bin", dir / "big.huf" } });
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err, "hufpack: " + dir / "big.bin" + ": too large for this format\n");
    EXPECT_EQ(test::NamesIn(dir.Path()), before) << "the source stays, nothing else is made";
}

} // namespace
} // namespace hufpack
