// Compression in parts: each part lands at its place, and a source that changes between the
// passes fails the job; and the coding loops, which write what the bit writer writes.

#include "encode/PartEncoder.h"

#include "TestSupport.h"
#include "encode/EncodeKernel.h"
#include "jobs/TestHooks.h"
#include "reference/BitWriter.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/FileStream.h"
#include "sys/Processor.h"

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

// The code of `byte` as the text of its bits.
std::string CodeWordText(const CodeBook& codes, std::uint8_t byte)
{
    std::string text;
    for (int bit = 0; bit < codes.lengths[byte]; ++bit)
        text += codes.bits[byte] >> (63 - bit) & 1 ? '1' : '0';
    return text;
}

// A source in a file, which a test may change between the passes, and a destination file.
class Files
{
public:
    explicit Files(const Bytes& source)
        : m_fd(Open(m_dir, source)), m_source(ByteSource::OfFile(m_fd)),
          m_destination(ByteSink::ToFile(
              ::open((m_dir / "out").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), false))
    {
    }
    ~Files() { ::close(m_fd); }
    [[nodiscard]] int Fd() const { return m_fd; }
    [[nodiscard]] const ByteSource& Source() const { return m_source; }
    [[nodiscard]] ByteSink& Destination() { return m_destination; }
    [[nodiscard]] Bytes Output()
    {
        EXPECT_TRUE(m_destination.Flush());
        return test::ReadFile(m_dir / "out");
    }

private:
    static int Open(const test::ScratchDir& dir, const Bytes& source)
    {
        test::WriteFile(dir / "source", source);
        return ::open((dir / "source").c_str(), O_RDWR | O_CLOEXEC);
    }

    test::ScratchDir m_dir;
    int m_fd;
    ByteSource m_source;
    ByteSink m_destination;
};

constexpr int kThreads = 4;

TEST(PartEncoder, EachPartLandsAtItsPlace)
{
    const Bytes source = test::SkewedBytes(10007, 5);
    for (const int parts : { 1, 2, 3, 8, 16 }) {
        SCOPED_TRACE(std::to_string(parts) + " parts");
        Files files(source);
        PartEncoder encoder(files.Source(), static_cast<std::int64_t>(source.size()), kThreads,
                            parts, 1);
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
    EXPECT_EQ(PartEncoderTesting::PartCount(PartEncoder(files.Source(), 1000, kThreads, 8, 4096)),
              1);
    EXPECT_EQ(PartEncoderTesting::PartCount(PartEncoder(files.Source(), 10000, kThreads, 8, 4096)),
              2);
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
            PartEncoder encoder(files.Source(), static_cast<std::int64_t>(source.size()), kThreads,
                                parts, 1);
            ASSERT_TRUE(encoder.Scan().Ok());
            change.apply(files.Fd());
            EXPECT_EQ(encoder.Encode(IdentityCodes(), files.Destination(), 0).Result(),
                      JobResult::CannotOpen);
        }
    }
}

TEST(PartEncoder, ASourceOfAnotherSizeThanAnnouncedFailsTheScan)
{
    Files files(Bytes(5000, 'y'));
    EXPECT_FALSE(PartEncoder(files.Source(), 4999, kThreads, 2, 1).Scan().Ok())
        << "longer than announced";
    EXPECT_FALSE(PartEncoder(files.Source(), 5001, kThreads, 2, 1).Scan().Ok())
        << "shorter than announced";
}

TEST(PartEncoder, ACountedByteWithoutACodeIsAnError)
{
    Files files(Bytes { 1, 2, 3 });
    PartEncoder encoder(files.Source(), 3, kThreads, 1, 1);
    ASSERT_TRUE(encoder.Scan().Ok());
    EXPECT_EQ(encoder.Encode(IdentityCodes(2), files.Destination(), 0).Result(),
              JobResult::CannotOpen);
}

// Every coding loop (groups of every size, two bytes a lookup or one, built for any x86-64 or for
// BMI2) writes exactly the bits the bit writer writes, from any number of bits left waiting by
// the block before: for codes of every length a loop takes, including groups that overflow the
// accumulator and codes too long to pair.
TEST(CodingLoops, EveryLoopWritesTheBitWritersBits)
{
    struct Book
    {
        const char* name;
        std::vector<int> lengths; // code lengths of byte values 0, 1, 2...
    };
    const std::vector<Book> books {
        { "short codes", { 1, 2, 3, 4, 5, 6, 7, 7 } },
        { "mixed lengths, up to the longest that pair", { 3, 9, 17, 29, 5, 1, 12, 29, 2 } },
        { "longer than pairs take", { 30, 2, 44, 7, 56, 1 } },
        { "a byte each", std::vector<int>(256, 8) },
    };
    for (const Book& book : books) {
        CodeBook codes;
        for (std::size_t value = 0; value < book.lengths.size(); ++value) {
            std::string code;
            for (int bit = 0; bit < book.lengths[value]; ++bit)
                code += ((value * 7 + static_cast<std::size_t>(bit) * 3) % 5) < 2 ? '1' : '0';
            codes.Add(static_cast<std::uint8_t>(value), CodeWord(code));
        }
        const encode::PairCodes pairs(codes);
        EXPECT_EQ(pairs.Entries() != nullptr, codes.longest <= encode::PairCodes::kMaxPairedBits)
            << book.name;
        Bytes source = test::RandomBytes(5001, book.lengths.size());
        for (std::uint8_t& byte : source)
            byte = static_cast<std::uint8_t>(byte % book.lengths.size());

        for (const unsigned waiting : { 0u, 3u, 7u }) {
            // With codes of a byte each, every part starts on a byte: nothing ever waits.
            if (codes.EveryCodeIsAByte() && waiting > 0)
                continue;
            // The reference: the waiting bits, then every code, padded to a byte.
            const std::uint64_t waitingBits = 0xA5ull << 56 & ~(~0ull >> waiting);
            Bytes expected;
            FileStream file;
            file.AttachForWriting(expected);
            {
                BitWriter writer(file);
                for (unsigned bit = 0; bit < waiting; ++bit)
                    writer.PutBit(static_cast<std::int32_t>(waitingBits >> (63 - bit) & 1));
                for (const std::uint8_t byte : source)
                    writer.PutCode(CodeWord(CodeWordText(codes, byte)));
                writer.Finish();
            }
            ASSERT_TRUE(file.Close());

            for (const bool portable : { false, true })
                for (const bool paired : { false, true })
                    for (const double bitsPerByte : { 0.5, 3.0, 5.0, 7.0, 12.0, 30.0 }) {
                        SCOPED_TRACE(std::string(book.name) + ", " + std::to_string(waiting)
                                     + " bits waiting, " + (portable ? "portable" : "BMI2")
                                     + (paired ? ", pairs" : "") + ", groups for "
                                     + std::to_string(bitsPerByte) + " bits a byte");
                        const encode::CodeBlockFunction loop = encode::CodeBlockFor(
                            codes, bitsPerByte, paired ? &pairs : nullptr,
                            portable ? ProcessorBuild::Portable : ChosenBuild());
                        Bytes coded(source.size() * 8 + 64);
                        encode::PendingBits pending { waitingBits, waiting };
                        std::uint8_t* out = coded.data();
                        // In blocks of odd sizes, as the encoder's parts end anywhere.
                        for (std::size_t at = 0; at < source.size(); at += 997) {
                            const std::size_t size = std::min<std::size_t>(997, source.size() - at);
                            out = loop(source.data() + at, source.data() + at + size, out, codes,
                                       paired ? pairs.Entries() : nullptr, pending);
                        }
                        coded.resize(static_cast<std::size_t>(out - coded.data()));
                        if (pending.count > 0)
                            coded.push_back(static_cast<std::uint8_t>(pending.bits >> 56));
                        ASSERT_TRUE(coded == expected);
                    }
        }
    }
}

} // namespace
} // namespace hufpack
