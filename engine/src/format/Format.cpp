// Writing and reading the header and the table, with the checks on a file's front.

#include "format/Format.h"

#include "format/ByteOrder.h"

#include <algorithm>
#include <cassert>

namespace hufpack {

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

std::vector<std::uint8_t> TableBytes(const Counts& counts)
{
    std::vector<std::uint8_t> table;
    table.reserve(TableSizeOf(counts));
    for (int value = 0; value < 256; ++value) {
        if (counts[value] > 0) {
            const auto entry = EntryBytes(static_cast<std::uint8_t>(value), counts[value]);
            table.insert(table.end(), entry.begin(), entry.end());
        }
    }
    return table;
}

FrontOfFile CheckFront(const Header& header, std::span<const std::uint8_t> table,
                       std::int64_t fileSize, Counts& counts)
{
    // The file must hold every byte of every entry, the last one's too.
    if (header.FileEnd(false) > fileSize
        || static_cast<std::int64_t>(table.size()) < header.FileEnd(false) - kHeaderSize)
        return FrontOfFile::CutShort;
    for (std::size_t at = 0; at + kEntrySize <= table.size(); at += kEntrySize)
        counts[table[at]]
            = static_cast<std::int32_t>(LoadLittleEndian(table.subspan(at + 1, kEntrySize - 1)));

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

Status FrontFailure(FrontOfFile front)
{
    const auto notOurs = [](Reason reason) {
        return Status::Fail(JobResult::NotOurFormat, JobFile::Source, 0, reason);
    };
    switch (front) {
    case FrontOfFile::Read:
    case FrontOfFile::Empty:
        return {};
    case FrontOfFile::ReadFailed:
        return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0);
    case FrontOfFile::ShortHeader:
        break;
    case FrontOfFile::BadChecksum:
        return notOurs(Reason::BadChecksum);
    case FrontOfFile::CutShort:
        return notOurs(Reason::CutShort);
    case FrontOfFile::NoTree:
    case FrontOfFile::CountsPastBits:
        return notOurs(Reason::Damaged);
    }
    return notOurs(Reason::NotOurs);
}

bool CountsMatch(const Counts& counts, const WideCounts& written)
{
    for (int value = 0; value < 256; ++value) {
        const std::uint64_t expected
            = counts[value] > 0 ? static_cast<std::uint64_t>(counts[value]) : 0;
        if (written[value] != expected)
            return false;
    }
    return true;
}

} // namespace hufpack
