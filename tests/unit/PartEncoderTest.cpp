// Compression in parts: each part lands at its place, and a source that changes between the
// passes fails the job.

#include "encode/PartEncoder.h"

#include "TestSupport.h"
#include "jobs/TestHooks.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace hufpack {
namespace {

using test::Bytes;

// Every byte value coded as its own 8 bits: the bit stream is then the source itself, which
// makes where each part landed easy to see. `without` has no code.
CodeBook IdentityCodes(int without = -1)
{
    CodeBook codes;
    for (int value = 0; value < 256; ++value) {
        std::string code;
        for (int bit = 7; bit >= 0; --bit)
            code += (value >> bit) & 1 ? '1' : '0';
        if (value != without)
            codes.Add(static_cast<std::uint8_t>(value), CodeWord(code));
    }
    return codes;
}

class Files
{
public:
    explicit Files(const Bytes& source)
    {
        test::WriteFile(m_dir / "source", source);
        m_source = ::open((m_dir / "source").c_str(), O_RDWR);
        m_destination = ::open((m_dir / "out").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    }
    ~Files()
    {
        ::close(m_source);
        ::close(m_destination);
    }
    [[nodiscard]] int Source() const { return m_source; }
    [[nodiscard]] int Destination() const { return m_destination; }
    [[nodiscard]] Bytes Output() const { return test::ReadFile(m_dir / "out"); }

private:
    test::ScratchDir m_dir;
    int m_source = -1;
    int m_destination = -1;
};

TEST(PartEncoder, EachPartLandsAtItsPlace)
{
    const Bytes source = test::SkewedBytes(10007, 5);
    for (const int parts : { 1, 2, 3, 8, 16 }) {
        SCOPED_TRACE(std::to_string(parts) + " parts");
        Files files(source);
        PartEncoder encoder(files.Source(), static_cast<std::int64_t>(source.size()), parts, 1);
        EXPECT_EQ(PartEncoderTesting::PartCount(encoder), parts);
        ASSERT_TRUE(encoder.Scan().Ok());
        std::array<std::uint64_t, 256> expected {};
        for (const std::uint8_t byte : source)
            ++expected[byte];
        EXPECT_EQ(encoder.Counts(), expected) << "the parts' counts add up to the source's";
        ASSERT_EQ(encoder.Encode(IdentityCodes(), files.Destination(), 3).Result(),
                  JobResult::Done);
        const Bytes output = files.Output();
        ASSERT_EQ(output.size(), source.size() + 3);
        EXPECT_TRUE(std::equal(source.begin(), source.end(), output.begin() + 3))
            << "the stream starts at the offset given and holds every part in order";
    }
}

TEST(PartEncoder, SmallSourcesStayInOnePart)
{
    Files files(Bytes(1000, 'x'));
    EXPECT_EQ(PartEncoderTesting::PartCount(PartEncoder(files.Source(), 1000, 8, 4096)), 1);
    EXPECT_EQ(PartEncoderTesting::PartCount(PartEncoder(files.Source(), 10000, 8, 4096)), 2);
}

// A source that changes between the counting pass and the coding pass would give a file whose
// table does not match its bits; the job must fail instead, even when the counts stay the same.
TEST(PartEncoder, ASourceChangedBetweenThePassesFailsTheJob)
{
    Bytes source(300000);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint8_t>(i % 251);
    struct Change
    {
        const char* name;
        std::function<void(int fd)> apply;
    };
    const auto swapBytes = [](std::int64_t first, std::int64_t second) {
        return [first, second](int fd) {
            std::uint8_t a = 0;
            std::uint8_t b = 0;
            ASSERT_EQ(::pread(fd, &a, 1, first), 1);
            ASSERT_EQ(::pread(fd, &b, 1, second), 1);
            ASSERT_NE(a, b);
            ASSERT_EQ(::pwrite(fd, &b, 1, first), 1);
            ASSERT_EQ(::pwrite(fd, &a, 1, second), 1);
        };
    };
    const std::vector<Change> changes {
        { "two bytes swapped inside a part", swapBytes(10, 12) },
        { "two bytes swapped across parts", swapBytes(1, 299990) },
        { "a byte appended", [](int fd) { ASSERT_EQ(::pwrite(fd, "x", 1, 300000), 1); } },
        { "the last byte cut off", [](int fd) { ASSERT_EQ(::ftruncate(fd, 299999), 0); } },
        { "the file emptied", [](int fd) { ASSERT_EQ(::ftruncate(fd, 0), 0); } },
    };
    for (const Change& change : changes) {
        for (const int parts : { 1, 3 }) {
            SCOPED_TRACE(std::string(change.name) + ", " + std::to_string(parts) + " parts");
            Files files(source);
            PartEncoder encoder(files.Source(), static_cast<std::int64_t>(source.size()), parts, 1);
            ASSERT_TRUE(encoder.Scan().Ok());
            change.apply(files.Source());
            EXPECT_EQ(encoder.Encode(IdentityCodes(), files.Destination(), 0).Result(),
                      JobResult::CannotOpen);
        }
    }
}

TEST(PartEncoder, ASourceOfAnotherSizeThanAnnouncedFailsTheScan)
{
    Files files(Bytes(5000, 'y'));
    EXPECT_FALSE(PartEncoder(files.Source(), 4999, 2, 1).Scan().Ok()) << "longer than announced";
    EXPECT_FALSE(PartEncoder(files.Source(), 5001, 2, 1).Scan().Ok()) << "shorter than announced";
}

TEST(PartEncoder, ACountedByteWithoutACodeIsAnError)
{
    Files files(Bytes { 1, 2, 3 });
    PartEncoder encoder(files.Source(), 3, 1, 1);
    ASSERT_TRUE(encoder.Scan().Ok());
    EXPECT_EQ(encoder.Encode(IdentityCodes(2), files.Destination(), 0).Result(),
              JobResult::CannotOpen);
}

} // namespace
} // namespace hufpack
