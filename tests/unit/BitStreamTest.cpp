// The bit writer and the bit reader: bit order, padding, and what the reader hands out at the end
// of its data.

#include "TestSupport.h"
#include "code/CodeWord.h"
#include "reference/BitReader.h"
#include "reference/BitWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace hufpack {
namespace {

using test::Bytes;
using test::FromHex;

class BitStreams : public testing::Test
{
protected:
    // Runs `queue` against a writer on a fresh file and returns the bytes the file ends with,
    // checking on the way how many bytes had reached the file before Finish.
    template<typename Queue> Bytes Written(Queue queue, std::size_t* beforeFinish = nullptr)
    {
        const std::string path = m_dir / "bits";
        FileStream out;
        out.AttachForWriting(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        {
            BitWriter writer(out);
            queue(writer);
            if (beforeFinish) {
                out.Flush();
                *beforeFinish = test::ReadFile(path).size();
            }
            writer.Finish();
        }
        const Bytes bytes = test::ReadFile(path);
        out.Close();
        return bytes;
    }

    void OpenReader(const Bytes& bytes)
    {
        const std::string path = m_dir / "input";
        test::WriteFile(path, bytes);
        m_in.AttachForReading(::open(path.c_str(), O_RDONLY));
    }

    // The first `count` bits a reader hands out over `bytes`, as '0' and '1'.
    std::string ReadBits(const Bytes& bytes, int count)
    {
        OpenReader(bytes);
        BitReader reader(m_in);
        std::string bits;
        for (int i = 0; i < count; ++i)
            bits += reader.GetBit() ? '1' : '0';
        return bits;
    }

    test::ScratchDir m_dir;
    FileStream m_in;
};

TEST_F(BitStreams, WriterPacksMostSignificantBitFirstAndPadsWithZeros)
{
    EXPECT_EQ(Written([](BitWriter& w) {
                  for (int bit : { 1, 0, 1, 1, 0 })
                      w.PutBit(bit);
              }),
              FromHex("B0"));
    EXPECT_EQ(Written([](BitWriter&) {}), Bytes {}) << "Finish with nothing queued writes nothing";
    EXPECT_EQ(Written([](BitWriter& w) {
                  for (int i = 0; i < 16; ++i)
                      w.PutBit(i == 0 || i == 15);
              }),
              FromHex("80 01"))
        << "the first bit lands in the value-128 position";
}

TEST_F(BitStreams, WriterEmitsAByteWhenItsEighthBitArrives)
{
    std::size_t beforeFinish = 0;
    const Bytes bytes = Written(
        [](BitWriter& w) {
            for (int i = 0; i < 8; ++i)
                w.PutBit(1);
        },
        &beforeFinish);
    EXPECT_EQ(beforeFinish, 1u) << "the eighth PutBit emits the byte";
    EXPECT_EQ(bytes, FromHex("FF")) << "Finish adds nothing after a whole byte";
}

TEST_F(BitStreams, WriterIgnoresBitsOtherThanZeroAndOne)
{
    EXPECT_EQ(Written([](BitWriter& w) {
                  w.PutBit(1);
                  w.PutBit(2);
                  w.PutBit(-1);
                  w.PutBit(1);
              }),
              FromHex("C0"));
}

// Codes, single bits and the fast word path interleave in one stream without changing a byte.
TEST_F(BitStreams, CodesBitsAndWordsMixInOrder)
{
    const CodeWord code("1100101");
    const Bytes viaBits = Written([&](BitWriter& w) {
        for (int round = 0; round < 20; ++round) {
            for (int i = 1; i <= code.Length(); ++i)
                w.PutBit(code[i]);
            for (int i = 0; i < 31; ++i)
                w.PutBit((0x5A5A5A5Au >> (30 - i)) & 1);
        }
    });
    const Bytes mixed = Written([&](BitWriter& w) {
        for (int round = 0; round < 20; ++round) {
            if (round % 2)
                w.PutCode(code);
            else
                w.PutBits(0b1100101, 7);
            w.PutBits(0x5A5A5A5Au & 0x7FFFFFFFu, 31);
        }
    });
    EXPECT_EQ(mixed, viaBits);
}

TEST_F(BitStreams, ReaderHandsOutBitsAndRepeatsTheLastBitAtTheEnd)
{
    EXPECT_EQ(ReadBits(FromHex("6E 8A DC"), 30),
              "011011101000101011011100"
              "000000")
        << "after the data every call returns bit 0 of the last byte";
}

TEST_F(BitStreams, ReaderAtTheEndOfASingleByte)
{
    EXPECT_EQ(ReadBits(FromHex("01"), 11), "00000001111");
}

TEST_F(BitStreams, ReaderOnAnEmptyStreamReturnsZeros)
{
    EXPECT_EQ(ReadBits({}, 10), "0000000000");
}

TEST_F(BitStreams, ReaderIsOneByteAhead)
{
    OpenReader(FromHex("AA 55 33"));
    BitReader reader(m_in);
    EXPECT_EQ(m_in.Peek(), 0x55) << "the constructor loads the first byte";
    for (int i = 0; i < 8; ++i)
        reader.GetBit();
    EXPECT_EQ(m_in.Peek(), 0x33) << "handing out bit 0 loads the next byte";
}

} // namespace
} // namespace hufpack
