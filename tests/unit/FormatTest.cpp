// The file's front as bytes: how far a reader looks, and the checks a table gets before any bit
// is read, at the edges of their arithmetic, which whole files reach only by luck.

#include "format/Format.h"

#include "Corpus.h"

#include <gtest/gtest.h>

namespace hufpack {
namespace {

using test::Bytes;

TEST(Format, TheReaderLooksAsFarAsTheLastEntryAndTheLastBitStreamByte)
{
    const struct
    {
        std::int32_t totalBits;
        std::int16_t tableSize;
        std::int64_t tableEnd; // FileEnd(false)
        std::int64_t fileEnd; // FileEnd(true)
    } cases[] = {
        { 23, 25, 32, 35 }, // abracadabra
        { 0, 0, 7, 7 },
        { -256, 0, 7, 7 }, // no bit is read
        { 8, 7, 17, 17 }, // a last entry past the table size: 7 bytes of table, 2 entries
        { 16, 5, 12, 14 },
        { 5, -5, 7, 7 }, // a negative table size: no entry, the bits start inside the header
        { 2147483647, 0, 7, 7 + 268435456 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.totalBits) + " bits, table " + std::to_string(c.tableSize));
        const Header header = Header::For(c.totalBits, c.tableSize);
        EXPECT_TRUE(header.ChecksumMatches() || c.totalBits + c.tableSize < 0);
        EXPECT_EQ(header.FileEnd(false), c.tableEnd);
        EXPECT_EQ(header.FileEnd(true), c.fileEnd);
    }
}

TEST(Format, CheckFrontTellsADamagedTableBeforeAnyBit)
{
    const Bytes abra = test::AbracadabraFile();
    const Bytes table(abra.begin() + kHeaderSize, abra.begin() + 32);
    const struct
    {
        const char* what;
        Header header;
        Bytes table;
        std::int64_t fileSize;
        FrontOfFile front;
    } cases[] = {
        { "abracadabra", Header::For(23, 25), table, 35, FrontOfFile::Read },
        { "a stream, its length what the header says", Header::For(23, 25), table,
          Header::For(23, 25).FileEnd(true), FrontOfFile::Read },
        { "the bits cut short", Header::For(23, 25), table, 34, FrontOfFile::CutShort },
        { "the table cut short", Header::For(23, 25), Bytes(table.begin(), table.end() - 1), 34,
          FrontOfFile::CutShort },
        { "counts past the bits", Header::For(10, 25), table, 35, FrontOfFile::CountsPastBits },
        { "bits but no count", Header::For(8, 0), {}, 8, FrontOfFile::NoTree },
        { "no bits and no count", Header::For(0, 0), {}, 7, FrontOfFile::Read },
        { "negative bits, no count", Header::For(-256, 0), {}, 7, FrontOfFile::Read },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Counts counts {};
        EXPECT_EQ(CheckFront(c.header, c.table, c.fileSize, counts), c.front);
    }
}

TEST(Format, TheTableListsEachPositiveCountInOrderOfValue)
{
    Counts counts {};
    counts['r'] = 2;
    counts['a'] = 5;
    counts['z'] = 0;
    counts['b'] = -3;
    EXPECT_EQ(TableBytes(counts), test::Concat({ test::Entry('a', 5), test::Entry('r', 2) }));
    EXPECT_EQ(TableSizeOf(counts), 10);
}

} // namespace
} // namespace hufpack
