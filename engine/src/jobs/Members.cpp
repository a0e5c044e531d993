// Members one after another: where each one starts and ends, in a source that can be read
// anywhere or in a stream spooled a member at a time, and what follows the last.

#include "jobs/Members.h"

#include "code/MemberCutter.h"
#include "files/Spool.h"
#include "format/Format.h"
#include "sys/Descriptor.h"
#include "sys/SystemIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>

namespace hufpack {

namespace {

Status SourceFailure(int error)
{
    return Status::Fail(JobResult::CannotOpen, JobFile::Source, error);
}

// Whether `front`, the first bytes after a member, starts another: a whole header whose
// checksum holds and which claims bits. Anything else is padding or not ours.
bool StartsAMember(std::span<const std::uint8_t> front)
{
    if (front.size() < static_cast<std::size_t>(kHeaderSize))
        return false;
    const Header header = Header::Parse(front);
    return header.ChecksumMatches() && header.totalBits > 0;
}

bool AllZero(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0; });
}

// What follows the last member, from `at` to the source's end: zero padding (no trailing
// bytes), or how many bytes are not a compressed file.
Status Trailing(const ByteSource& source, std::int64_t at, std::int64_t end, std::int64_t& trailing)
{
    trailing = 0;
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    for (std::int64_t offset = at; offset < end; offset += kBlockBytes) {
        const auto want
            = static_cast<std::size_t>(std::min<std::int64_t>(kBlockBytes, end - offset));
        const std::int64_t got = source.ReadAt(block.get(), want, offset);
        if (got < 0)
            return SourceFailure(errno);
        if (!AllZero({ block.get(), static_cast<std::size_t>(got) })) {
            trailing = end - at;
            return {};
        }
        if (got < static_cast<std::int64_t>(want))
            break;
    }
    return {};
}

// The same for a stream, whose rest is read to its end: `front` is what was read of it already.
Status Trailing(int stream, std::span<const std::uint8_t> front, std::int64_t& trailing,
                std::int64_t& read)
{
    bool zero = AllZero(front);
    auto bytes = static_cast<std::int64_t>(front.size());
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    for (;;) {
        const std::int64_t got = ReadSome(stream, block.get(), kBlockBytes);
        if (got < 0)
            return SourceFailure(errno);
        if (got == 0)
            break;
        zero = zero && AllZero({ block.get(), static_cast<std::size_t>(got) });
        bytes += got;
    }
    read += bytes;
    trailing = zero ? 0 : bytes;
    return {};
}

// Runs `pass` on each member of a source in turn: `pass(coder)` returns the member's status,
// and the coder says how long the member was.
template<typename Pass>
Status EachMember(const ByteSource& in, const MemberSettings& settings, ByteSink& out,
                  MemberTally& tally, Pass pass)
{
    const std::int64_t size = in.Size();
    std::int64_t at = 0;
    for (;;) {
        TreeCoder coder(in, out, settings.coder, { at, -1, 0, true });
        if (Status status = pass(coder); !status.Ok())
            return status;
        ++tally.members;
        tally.written += coder.Written();
        // An empty file, or the empty file's header, is a whole file; after a member, what
        // starts another is read as one.
        at += coder.MemberBytes();
        tally.read = at;
        if (!settings.several || coder.MemberBytes() == 0 || at >= size)
            return {};
        std::array<std::uint8_t, kHeaderSize> front {};
        const std::int64_t got = in.ReadAt(front.data(), front.size(), at);
        if (got < 0)
            return SourceFailure(errno);
        if (coder.MemberBits() == 0
            || !StartsAMember({ front.data(), static_cast<std::size_t>(got) })) {
            tally.read = size;
            return Trailing(in, at, size, tally.trailing);
        }
    }
}

// The same for a stream: each member is spooled as far as its header says, no further, and its
// work done on the spool, so that the spool never holds more than one member.
template<typename Pass>
Status EachMemberOfStream(int stream, const MemberSettings& settings, ByteSink& out,
                          MemberTally& tally, Pass pass)
{
    for (;;) {
        int fd = -1;
        if (Status status
            = SpoolToUnnamedFile(stream, settings.spoolFolder, SpoolFor::Decoding, fd);
            !status.Ok())
            return status;
        const Descriptor held(fd);
        const ByteSource spool = ByteSource::OfFile(fd);
        const std::int64_t spooled = spool.Size();
        std::array<std::uint8_t, kHeaderSize> front {};
        const std::int64_t got = spool.ReadAt(front.data(), front.size(), 0);
        if (got < 0 || spooled < 0)
            return SourceFailure(errno);
        if (tally.members > 0 && !StartsAMember({ front.data(), static_cast<std::size_t>(got) })) {
            std::vector<std::uint8_t> head(static_cast<std::size_t>(spooled));
            if (spool.ReadAt(head.data(), head.size(), 0) != spooled)
                return SourceFailure(errno);
            return Trailing(stream, head, tally.trailing, tally.read);
        }
        TreeCoder coder(spool, out, settings.coder);
        if (Status status = pass(coder); !status.Ok())
            return status;
        ++tally.members;
        tally.written += coder.Written();
        tally.read += coder.MemberBytes();
        if (!settings.several || coder.MemberBytes() == 0)
            return {};
        if (coder.MemberBits() == 0)
            return Trailing(stream, {}, tally.trailing, tally.read);
    }
}

// Where each member of a source too long for one must end: each as long as it may be.
Status CutIntoMembers(const ByteSource& source, std::int64_t size, std::vector<std::int64_t>& ends)
{
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    MemberCutter cutter;
    std::int64_t at = 0;
    while (at < size) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kBlockBytes, size - at));
        const std::int64_t got = source.ReadAt(block.get(), want, at);
        if (got != static_cast<std::int64_t>(want))
            return got < 0
                ? SourceFailure(errno)
                : Status::Fail(JobResult::CannotOpen, JobFile::Source, 0, Reason::ChangedWhileRead);
        std::span<const std::uint8_t> bytes(block.get(), want);
        while (!bytes.empty()) {
            const std::size_t taken = cutter.Take(bytes);
            at += static_cast<std::int64_t>(taken);
            bytes = bytes.subspan(taken);
            if (!bytes.empty()) {
                ends.push_back(at);
                cutter.Next();
            }
        }
    }
    ends.push_back(size);
    return {};
}

// The progress of one member as part of the whole job's.
class MemberProgress
{
public:
    MemberProgress(const MemberSettings& settings, std::int64_t total)
        : m_settings(settings), m_total(total)
    {
        if (settings.coder.progress && *settings.coder.progress)
            m_callback = [this](std::int64_t done, std::int64_t) {
                return (*m_settings.coder.progress)(m_before + done, m_total);
            };
    }
    // The coder's options for a member whose work starts `before` units into the job's.
    TreeCoder::Options For(std::int64_t before)
    {
        m_before = before;
        TreeCoder::Options options = m_settings.coder;
        options.progress = &m_callback;
        return options;
    }

private:
    const MemberSettings& m_settings;
    std::int64_t m_total;
    std::int64_t m_before = 0;
    Progress::Callback m_callback;
};

Status EncodeSource(const ByteSource& in, ByteSink& out, const MemberSettings& settings,
                    MemberTally& tally)
{
    const std::int64_t size = in.Size();
    {
        TreeCoder coder(in, out, settings.coder);
        const Status status = coder.Encode();
        if (status.Ok() || status.Result() != JobResult::TooLarge || !settings.several) {
            tally.members = status.Ok() ? 1 : 0;
            tally.read = size;
            tally.written = coder.Written();
            return status;
        }
    }
    // Too long for one: cut where each member must end, then code each.
    std::vector<std::int64_t> ends;
    if (Status status = CutIntoMembers(in, size, ends); !status.Ok())
        return status;
    MemberProgress progress(settings, 2 * size);
    std::int64_t begin = 0;
    for (const std::int64_t end : ends) {
        TreeCoder coder(in, out, progress.For(2 * begin),
                        { begin, end - begin, tally.written, end == size });
        if (Status status = coder.Encode(); !status.Ok())
            return status;
        ++tally.members;
        tally.written += coder.Written();
        begin = end;
    }
    tally.read = size;
    return {};
}

// A stream of any length, spooled a member at a time, each member as long as it may be.
Status EncodeStream(int stream, ByteSink& out, const MemberSettings& settings, MemberTally& tally)
{
    std::vector<std::uint8_t> carried;
    MemberCutter cutter;
    for (bool ended = false; !ended || !carried.empty();) {
        int fd = -1;
        const Status spooled = settings.several
            ? SpoolMember(
                stream, settings.spoolFolder, carried,
                [&cutter](std::span<const std::uint8_t> bytes) { return cutter.Take(bytes); }, fd,
                ended)
            : SpoolToUnnamedFile(stream, settings.spoolFolder, SpoolFor::Compressing, fd);
        ended = ended || !settings.several;
        if (!spooled.Ok())
            return spooled;
        const Descriptor held(fd);
        const ByteSource spool = ByteSource::OfFile(fd);
        const std::int64_t size = spool.Size();
        if (size < 0)
            return SourceFailure(errno);
        tally.read += size;
        if (size == 0)
            return {}; // nothing more; an empty source compresses to nothing
        TreeCoder coder(spool, out, settings.coder, { 0, size, tally.written, true });
        if (Status coded = coder.Encode(); !coded.Ok())
            return coded;
        ++tally.members;
        tally.written += coder.Written();
        cutter.Next();
    }
    return {};
}

} // namespace

std::uint64_t CompressedBound(std::uint64_t sourceBytes)
{
    // Each member: the header, a full table, and at most a byte of code for each byte of its
    // source (a code of two values or more costs eight bits a byte at most, one value a bit).
    constexpr std::uint64_t kMemberFront = kHeaderSize + 256 * kEntrySize;
    constexpr auto kLongest = static_cast<std::uint64_t>(kAlwaysFits);
    const std::uint64_t members
        = std::max<std::uint64_t>(1, sourceBytes / kLongest + (sourceBytes % kLongest != 0));
    const std::uint64_t fronts = members * kMemberFront;
    return sourceBytes > UINT64_MAX - fronts ? UINT64_MAX : sourceBytes + fronts;
}

Status EncodeMembers(const MemberInput& in, ByteSink& out, const MemberSettings& settings,
                     MemberTally& tally)
{
    tally = {};
    if (!in.source)
        return EncodeStream(in.stream, out, settings, tally);
    return EncodeSource(*in.source, out, settings, tally);
}

Status DecodeMembers(const MemberInput& in, ByteSink& out, const MemberSettings& settings,
                     MemberTally& tally)
{
    tally = {};
    const auto decode = [](TreeCoder& coder) { return coder.Decode(); };
    if (!in.source)
        return EachMemberOfStream(in.stream, settings, out, tally, decode);
    return EachMember(*in.source, settings, out, tally, decode);
}

Status SummarizeMembers(const MemberInput& in, const MemberSettings& settings,
                        std::vector<FileSummary>& members, MemberTally& tally)
{
    tally = {};
    members.clear();
    std::vector<std::uint8_t> nothing;
    ByteSink nowhere = ByteSink::ToVector(nothing);
    const auto summarize = [&](TreeCoder& coder) {
        FileSummary summary;
        if (Status status = coder.Summarize(summary); !status.Ok())
            return status;
        // Of several members, each one's own bytes; of one, the file's, as the first form says.
        if (settings.several)
            summary.compressedBytes = coder.MemberBytes();
        members.push_back(summary);
        return Status();
    };
    if (!in.source)
        return EachMemberOfStream(in.stream, settings, nowhere, tally, summarize);
    return EachMember(*in.source, settings, nowhere, tally, summarize);
}

} // namespace hufpack
