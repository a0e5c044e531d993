// The corpus's files, written out byte for byte or built a field at a time.

#include "Corpus.h"

#include "format/Format.h"

namespace hufpack::test {

Bytes HeaderOf(std::int32_t totalBits, std::int16_t tableSize)
{
    const auto header = Header::For(totalBits, tableSize).Bytes();
    return Bytes(header.begin(), header.end());
}

Bytes Entry(std::uint8_t value, std::int32_t count)
{
    const auto entry = EntryBytes(value, count);
    return Bytes(entry.begin(), entry.end());
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Crafted(std::int32_t totalBits, const Bytes& table, const Bytes& stream)
{
    return Concat({ HeaderOf(totalBits, static_cast<std::int16_t>(table.size())), table, stream });
}

Bytes Changed(Bytes bytes, std::size_t at, std::uint8_t value)
{
    bytes.at(at) = value;
    return bytes;
}

Bytes Cut(const Bytes& bytes, std::size_t length)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

const Bytes& AbracadabraFile()
{
    static const Bytes file = FromHex("30 17 00 00 00 19 00 61 05 00 00 00 62 02 00 00 00"
                                      "63 01 00 00 00 64 01 00 00 00 72 02 00 00 00 6E 8A DC");
    return file;
}

const Bytes& BadChecksumFile()
{
    static const Bytes file = Changed(AbracadabraFile(), 0, 0x31);
    return file;
}

namespace {

Bytes AllByteValues()
{
    Bytes bytes(256);
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

// Checksum 00 (1280 + 2048), total bits 2048, table size 1280, an entry of count 1 for every
// value in order, and the 256 8-bit codes in the order of the bytes.
Bytes AllByteValuesFile()
{
    Bytes file = FromHex("00 00 08 00 00 00 05");
    for (int i = 0; i < 256; ++i)
        file.insert(file.end(), { static_cast<std::uint8_t>(i), 1, 0, 0, 0 });
    const Bytes stream = FromHex(
        "00 EF 01 11 D6 96 22 6F 40 DE D7 9E 97 87 23 6D 30 3E 41 5E DF ED D0 BE 9F 89 92 A5"
        "A0 26 02 37 C6 32 31 14 3F E5 12 C0 5F 45 F2 CD DA D2 D1 8C BF 09 4A 75 9A 7C 93 71"
        "7A A2 A1 AC 27 A9 03 D5 60 20 C7 C4 33 F9 66 62 15 0D E2 17 3C E0 13 FE C1 FD F6 C3"
        "5C F4 F3 DD E8 58 DB D8 D3 51 54 CA 8D C9 4E 8F BC 4C 4B 9D 7E B8 9B 98 7D B1 B4 91"
        "84 04 7B 78 A3 29 2C A6 AD 81 1C 6B 24 AA 1A 19 18 D4 61 36 21 3B 3A 6C C5 35 34 FB"
        "FA F8 67 6E 63 0F 0E 39 38 0C E3 65 64 16 3D E4 E1 E7 E6 10 FF EB EA 5B 5A FC F7 43"
        "42 C2 5D 44 F5 47 46 F1 F0 DC E9 CC 59 CF CE EC D9 53 52 57 56 50 55 EE CB 95 94 BB"
        "BA C8 4F 07 06 8E BD 08 4D 0B 0A 49 48 9C 7F 74 B9 77 76 88 99 B3 B2 B7 B6 B0 B5 8B"
        "8A 90 85 70 05 73 72 A4 79 2B 2A 2F 2E 28 2D 86 A7 83 82 1F 1E 80 1D AF AE 6A 25 A8"
        "AB 68 1B 69");
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

// Entries for values 0 to `values` - 1 whose counts double (1, 2, 4, ...) up to the largest a
// count can be: the deepest trees, with weights that wrap.
Bytes DoublingTable(int values)
{
    Bytes table;
    for (int value = 0; value < values; ++value) {
        const Bytes entry
            = Entry(static_cast<std::uint8_t>(value), value < 31 ? 1 << value : INT32_MAX);
        table.insert(table.end(), entry.begin(), entry.end());
    }
    return table;
}

} // namespace

const std::vector<Golden>& GoldenFiles()
{
    static const std::vector<Golden> files = [] {
        Bytes threeHundredA = FromHex("31 2C 01 00 00 05 00 61 2C 01 00 00");
        threeHundredA.resize(threeHundredA.size() + 38, 0);
        return std::vector<Golden> {
            { "abracadabra", BytesOf("abracadabra"), AbracadabraFile() },
            { "aaaa", BytesOf("aaaa"), FromHex("09 04 00 00 00 05 00 61 04 00 00 00 00") },
            // Byte 32 alone is written as 1 bits.
            { "four_spaces", BytesOf("    "), FromHex("09 04 00 00 00 05 00 20 04 00 00 00 F0") },
            { "abc", BytesOf("abc"),
              FromHex("14 05 00 00 00 0F 00 61 01 00 00 00 62 01 00 00 00 63 01 00 00 00 B0") },
            { "abcd", BytesOf("abcd"),
              FromHex("1C 08 00 00 00 14 00 61 01 00 00 00 62 01 00 00 00 63 01 00 00 00"
                      "64 01 00 00 00 27") },
            { "single_a", BytesOf("a"), FromHex("06 01 00 00 00 05 00 61 01 00 00 00 00") },
            // Eight bits make a whole byte: no fill byte follows.
            { "eight_x", Bytes(8, 'x'), FromHex("0D 08 00 00 00 05 00 78 08 00 00 00 00") },
            { "seven_zero_bytes", Bytes(7, 0), FromHex("0C 07 00 00 00 05 00 00 07 00 00 00 00") },
            { "three_hundred_a", Bytes(300, 'a'), threeHundredA },
            { "all_byte_values", AllByteValues(), AllByteValuesFile() },
        };
    }();
    return files;
}

const std::vector<Sample>& DamagedFiles()
{
    static const std::vector<Sample> files = [] {
        const Bytes& abra = AbracadabraFile();
        std::vector<Sample> all;
        for (std::size_t length = 1; length < abra.size(); ++length)
            all.push_back({ "first " + std::to_string(length) + " bytes", Cut(abra, length) });
        const Sample more[] = {
            { "table past the end", Concat({ HeaderOf(0, 0x7FFF), Entry('a', 0) }) },
            { "table of 2 entries, 1 present", Concat({ HeaderOf(8, 10), Entry('a', 1) }) },
            { "bits but no table", Concat({ HeaderOf(8, 0), FromHex("00") }) },
            { "bits but a zero count", Concat({ HeaderOf(8, 5), Entry('a', 0), FromHex("00") }) },
            { "bits of ones but a zero count",
              Concat({ HeaderOf(8, 5), Entry('a', 0), FromHex("FF") }) },
            { "bits but a negative count",
              Concat({ HeaderOf(8, 5), Entry('a', -1), FromHex("00") }) },
            { "bits and a negative table size", Concat({ HeaderOf(5, -5), FromHex("00") }) },
            { "a positive count and no bits", Concat({ HeaderOf(0, 5), Entry('a', 3) }) },
            { "more bits than the file holds", Changed(Changed(abra, 1, 48), 0, 25 + 48) },
            // A lone value's code is all 0 bits, so a stream cut short reads as if padded with 0s.
            { "a lone value's stream cut short",
              Concat({ HeaderOf(16, 5), Entry('a', 16), FromHex("00") }) },
            { "a lone value's stream missing", Concat({ HeaderOf(16, 5), Entry('a', 16) }) },
            // "aaaa" with a 1 bit: the dummy leaf yields a space the table does not count.
            { "the dummy leaf reached", Concat({ HeaderOf(4, 5), Entry('a', 4), FromHex("10") }) },
            { "one bit too few", Changed(Changed(abra, 1, 22), 0, 25 + 22) },
            // Every byte takes a bit at least: 2^31 bytes cannot come out of 40 bits.
            { "counts of more bytes than bits",
              Concat({ HeaderOf(40, 10), Entry('a', 1 << 30), Entry('b', 1 << 30), Bytes(5, 0) }) },
        };
        all.insert(all.end(), std::begin(more), std::end(more));
        // The checksum covers only the header, so a changed count keeps it right.
        for (const auto& [offset, count] :
             { std::pair { 8, 4 }, { 8, 6 }, { 13, 1 }, { 18, 2 }, { 28, 3 }, { 9, 1 } })
            all.push_back(
                { "count at " + std::to_string(offset) + " set to " + std::to_string(count),
                  Changed(abra, offset, static_cast<std::uint8_t>(count)) });
        return all;
    }();
    return files;
}

const std::vector<Sample>& CraftedFiles()
{
    static const std::vector<Sample> files = [] {
        Bytes everyValueAtMost;
        for (int value = 0; value < 256; ++value) {
            const Bytes entry = Entry(static_cast<std::uint8_t>(value), INT32_MAX);
            everyValueAtMost.insert(everyValueAtMost.end(), entry.begin(), entry.end());
        }
        return std::vector<Sample> {
            // As many bits as a valid checksum allows with a full table, 8 bytes of them present.
            { "2^31 - 1281 bits claimed, 8 bytes of them present",
              Crafted(INT32_MAX - 1280, everyValueAtMost, Bytes(8, 0xAB)) },
            { "a tree 40 levels deep walked through 4 MiB of one bits",
              Crafted(32 << 20, DoublingTable(40), Bytes(4 << 20, 0xFF)) },
            { "a tree 40 levels deep walked through 2000 one bits",
              Crafted(2000, DoublingTable(40), Bytes(250, 0xFF)) },
            { "counts that wrap when added",
              Crafted(64, Cut(everyValueAtMost, 8 * 5), Bytes(8, 0xFF)) },
            { "negative total bits and a table",
              Crafted(-8, Concat({ Entry('a', 5), Entry('b', 2) }), FromHex("FF")) },
        };
    }();
    return files;
}

const std::vector<Consistent>& OddButConsistentFiles()
{
    static const std::vector<Consistent> files = [] {
        const Bytes abracadabra = BytesOf("abracadabra");
        const Bytes bits = FromHex("6E 8A DC");
        return std::vector<Consistent> {
            { "entries in another order",
              Concat({ HeaderOf(23, 25), Entry('r', 2), Entry('d', 1), Entry('b', 2), Entry('a', 5),
                       Entry('c', 1), bits }),
              abracadabra },
            { "entries in descending order",
              Concat({ HeaderOf(23, 25), Entry('r', 2), Entry('d', 1), Entry('c', 1), Entry('b', 2),
                       Entry('a', 5), bits }),
              abracadabra },
            { "a value listed twice, the last count right",
              Concat({ HeaderOf(23, 30), Entry('a', 9), Entry('b', 2), Entry('c', 1), Entry('d', 1),
                       Entry('r', 2), Entry('a', 5), bits }),
              abracadabra },
            { "a value listed twice, first with a wrong count",
              Concat({ HeaderOf(23, 30), Entry('b', 9), Entry('a', 5), Entry('b', 2), Entry('c', 1),
                       Entry('d', 1), Entry('r', 2), bits }),
              abracadabra },
            { "an entry with a zero count",
              Concat({ HeaderOf(23, 30), Entry('a', 5), Entry('b', 2), Entry('c', 1), Entry('d', 1),
                       Entry('z', 0), Entry('r', 2), bits }),
              abracadabra },
            { "a lone value, whose code is 0",
              Concat({ HeaderOf(16, 5), Entry('a', 16), Bytes(2, 0) }), Bytes(16, 'a') },
            { "seven zero bytes", Bytes(7, 0), {} },
            // s = -256 and r = 0: accepted, and no bit is read.
            { "total bits -256, no table", FromHex("00 00 FF FF FF 00 00"), {} },
            { "an empty file, what an empty source gives", {}, {} },
        };
    }();
    return files;
}

} // namespace hufpack::test
