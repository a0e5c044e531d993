// Writing and reading the header and the table, with the checks on a file's front.

#include "Format.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cassert>

namespace hufpack {

namespace {

// Every read of an untrusted file goes through here: all the bytes or a failure, never a
// partial field.
[[nodiscard]] bool ReadExact(FileStream& in, std::span<std::uint8_t> bytes)
{
    return in.Read(bytes.data(), bytes.size()) == bytes.size();
}

} // namespace

Header Header::For(std::int32_t totalBits, std::int16_t tableSize)
{
    const auto sum = static_cast<std::uint32_t>(tableSize) + static_cast<std::uint32_t>(totalBits);
    return { static_cast<std::uint8_t>(sum), totalBits, tableSize };
}

Header Header::Parse(std::span<const std::uint8_t> file)
{
    assert(file.size() >= kHeaderSize);
    return { file[0], static_cast<std::int32_t>(LoadLittleEndian(file.subspan(1, 4))),
             static_cast<std::int16_t>(LoadLittleEndian(file.subspan(5, 2))) };
}

std::array<std::uint8_t, kHeaderSize> Header::Bytes() const
{
    std::array<std::uint8_t, kHeaderSize> bytes { checksum };
    StoreLittleEndian(std::span(bytes).subspan(1, 4), static_cast<std::uint32_t>(totalBits));
    StoreLittleEndian(std::span(bytes).subspan(5, 2), static_cast<std::uint16_t>(tableSize));
    return bytes;
}

bool Header::ChecksumMatches() const
{
    const auto sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(tableSize)
                                               + static_cast<std::uint32_t>(totalBits));
    return sum % 256 == checksum;
}

std::int64_t Header::FileEnd(bool bits) const
{
    const std::int64_t entries = tableSize > 0 ? (tableSize + kEntrySize - 1) / kEntrySize : 0;
    std::int64_t end = kHeaderSize + entries * kEntrySize;
    if (bits && totalBits > 0)
        end = std::max(end, StreamOffset() + (std::int64_t { totalBits } + 7) / 8);
    return end;
}

std::array<std::uint8_t, kEntrySize> EntryBytes(std::uint8_t value, std::int32_t count)
{
    std::array<std::uint8_t, kEntrySize> entry { value };
    StoreLittleEndian(std::span(entry).subspan(1), static_cast<std::uint32_t>(count));
    return entry;
}

int EntriesOf(const Counts& counts)
{
    return static_cast<int>(
        std::count_if(counts.begin(), counts.end(), [](std::int32_t count) { return count > 0; }));
}

std::uint16_t TableSizeOf(const Counts& counts)
{
    return static_cast<std::uint16_t>(kEntrySize * EntriesOf(counts));
}

std::int64_t OriginalBytes(const Counts& counts)
{
    std::int64_t bytes = 0;
    for (const std::int32_t count : counts)
        bytes += count > 0 ? count : 0;
    return bytes;
}

void WriteHeader(FileStream& out, const Header& header)
{
    const auto bytes = header.Bytes();
    out.Seek(0);
    out.Write(bytes.data(), bytes.size());
}

std::uint16_t WriteTable(FileStream& out, const Counts& counts)
{
    out.Seek(kHeaderSize);
    std::uint16_t size = 0;
    for (int value = 0; value < 256; ++value) {
        if (counts[value] > 0) {
            const auto entry = EntryBytes(static_cast<std::uint8_t>(value), counts[value]);
            out.Write(entry.data(), entry.size());
            size += kEntrySize;
        }
    }
    return size;
}

FrontOfFile ReadHeaderAndTable(FileStream& in, std::int64_t fileSize, Header& header,
                               Counts& counts)
{
    header = {};
    std::array<std::uint8_t, kHeaderSize> front {};
    const std::size_t got = in.Read(front.data(), front.size());
    if (got == 0 && !in.Failed())
        return FrontOfFile::Empty;
    if (got < front.size())
        return in.Failed() ? FrontOfFile::ReadFailed : FrontOfFile::ShortHeader;
    header = Header::Parse(front);
    if (!header.ChecksumMatches())
        return FrontOfFile::BadChecksum;

    // The file must hold every byte of every entry, the last one's too.
    if (fileSize < 0)
        fileSize = header.FileEnd(true);
    const std::int64_t entries
        = header.tableSize > 0 ? (header.tableSize + kEntrySize - 1) / kEntrySize : 0;
    if (header.FileEnd(false) > fileSize)
        return FrontOfFile::CutShort;
    for (std::int64_t i = 0; i < entries; ++i) {
        std::array<std::uint8_t, kEntrySize> entry {};
        if (!ReadExact(in, entry))
            return in.Failed() ? FrontOfFile::ReadFailed : FrontOfFile::CutShort;
        counts[entry[0]] = static_cast<std::int32_t>(LoadLittleEndian(std::span(entry).subspan(1)));
    }

    // Every byte takes at least one bit: a table that counts more bytes than there are bits
    // cannot be what the writer made, whatever its checksum.
    if (OriginalBytes(counts) > std::max<std::int64_t>(header.totalBits, 0))
        return FrontOfFile::CountsPastBits;
    // Bits need a tree to walk, and as many bytes as they take.
    if (header.totalBits > 0) {
        if (EntriesOf(counts) == 0)
            return FrontOfFile::NoTree;
        if (header.FileEnd(true) > fileSize)
            return FrontOfFile::CutShort;
    }
    return FrontOfFile::Read;
}

} // namespace hufpack
