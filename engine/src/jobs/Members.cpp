// Members one after another: where each one starts and ends, in a file or in a stream spooled a
// member at a time, and what follows the last.

#include "jobs/Members.h"

#include "code/MemberCutter.h"
#include "files/Spool.h"
#include "format/Format.h"
#include "jobs/TreeCoder.h"
#include "sys/SystemIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <memory>
#include <unistd.h>

namespace hufpack {

namespace {

Status SourceFailure(int error)
{
    return Status::Fail(JobResult::CannotOpen, JobFile::Source, error);
}

// A coder set up as the job asks, on the member `member` of the streams.
void SetUp(TreeCoder& coder, const MemberSettings& settings, const TreeCoder::Member& member)
{
    coder.ReportTo(settings.progress);
    coder.SetOutputInOrder(settings.inOrder);
    coder.SetThreads(settings.threads);
    coder.SetMember(member);
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

// What follows the last member of a file, from `at` to the file's end: zero padding (no
// trailing bytes), or how many bytes are not a compressed file.
Status Trailing(int fd, std::int64_t at, std::int64_t end, std::int64_t& trailing)
{
    trailing = 0;
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    for (std::int64_t offset = at; offset < end; offset += kBlockBytes) {
        const auto want
            = static_cast<std::size_t>(std::min<std::int64_t>(kBlockBytes, end - offset));
        const std::int64_t got = ReadAt(fd, block.get(), want, offset);
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
Status Trailing(int fd, std::span<const std::uint8_t> front, std::int64_t& trailing,
                std::int64_t& read)
{
    bool zero = AllZero(front);
    std::int64_t bytes = static_cast<std::int64_t>(front.size());
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    for (;;) {
        const std::int64_t got = ReadSome(fd, block.get(), kBlockBytes);
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

// Runs `pass` on each member of a file in turn: `pass(coder)` returns the member's status, and
// the coder says how long the member was.
template<typename Pass>
Status EachMemberOfFile(FileStream& in, const MemberSettings& settings, FileStream& out,
                        MemberTally& tally, Pass pass)
{
    const std::int64_t size = in.Size();
    std::int64_t at = 0;
    for (;;) {
        TreeCoder coder(in, out);
        SetUp(coder, settings, { at, -1, 0, true });
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
        const std::int64_t got = ReadAt(in.Descriptor(), front.data(), front.size(), at);
        if (got < 0)
            return SourceFailure(errno);
        if (coder.MemberBits() == 0
            || !StartsAMember({ front.data(), static_cast<std::size_t>(got) })) {
            tally.read = size;
            return Trailing(in.Descriptor(), at, size, tally.trailing);
        }
    }
}

// The same for a stream: each member is spooled as far as its header says, no further, and its
// work done on the spool, so that the spool never holds more than one member.
template<typename Pass>
Status EachMemberOfStream(FileStream& in, const MemberSettings& settings, FileStream& out,
                          MemberTally& tally, Pass pass)
{
    const int input = in.Descriptor();
    for (;;) {
        int fd = -1;
        if (Status status = SpoolToUnnamedFile(input, settings.spoolFolder, SpoolFor::Decoding, fd);
            !status.Ok())
            return status;
        FileStream spool;
        spool.AttachForReading(fd);
        const std::int64_t spooled = spool.Size();
        std::array<std::uint8_t, kHeaderSize> front {};
        const std::int64_t got = ReadAt(fd, front.data(), front.size(), 0);
        if (got < 0)
            return SourceFailure(errno);
        const std::span frontRead(front.data(), static_cast<std::size_t>(got));
        if (tally.members > 0 && !StartsAMember(frontRead)) {
            std::vector<std::uint8_t> head(static_cast<std::size_t>(spooled));
            if (ReadAt(fd, head.data(), head.size(), 0) != spooled)
                return SourceFailure(errno);
            return Trailing(input, head, tally.trailing, tally.read);
        }
        TreeCoder coder(spool, out);
        SetUp(coder, settings, { 0, -1, 0, true });
        if (Status status = pass(coder); !status.Ok())
            return status;
        ++tally.members;
        tally.written += coder.Written();
        tally.read += coder.MemberBytes();
        if (!settings.several || coder.MemberBytes() == 0)
            return {};
        if (coder.MemberBits() == 0)
            return Trailing(input, {}, tally.trailing, tally.read);
    }
}

// Where each member of a regular file too long for one must end: each as long as it may be.
Status CutIntoMembers(int fd, std::int64_t size, std::vector<std::int64_t>& ends)
{
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    MemberCutter cutter;
    std::int64_t at = 0;
    while (at < size) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kBlockBytes, size - at));
        const std::int64_t got = ReadAt(fd, block.get(), want, at);
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
        if (settings.progress && *settings.progress)
            m_callback = [this](std::int64_t done, std::int64_t) {
                (*m_settings.progress)(m_before + done, m_total);
            };
    }
    // The settings for a member whose work starts `before` units into the job's.
    MemberSettings For(std::int64_t before)
    {
        m_before = before;
        MemberSettings member = m_settings;
        member.progress = &m_callback;
        return member;
    }

private:
    const MemberSettings& m_settings;
    std::int64_t m_total;
    std::int64_t m_before = 0;
    Progress::Callback m_callback;
};

Status EncodeFileMembers(FileStream& in, FileStream& out, const MemberSettings& settings,
                         MemberTally& tally)
{
    const std::int64_t size = in.Size();
    {
        TreeCoder coder(in, out);
        SetUp(coder, settings, {});
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
    if (Status status = CutIntoMembers(in.Descriptor(), size, ends); !status.Ok())
        return status;
    MemberProgress progress(settings, 2 * size);
    std::int64_t begin = 0;
    for (const std::int64_t end : ends) {
        TreeCoder coder(in, out);
        const MemberSettings member = progress.For(2 * begin);
        SetUp(coder, member, { begin, end - begin, tally.written, end == size });
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
Status EncodeStreamMembers(FileStream& in, FileStream& out, const MemberSettings& settings,
                           MemberTally& tally)
{
    std::vector<std::uint8_t> carried;
    MemberCutter cutter;
    for (bool ended = false; !ended || !carried.empty();) {
        int fd = -1;
        Status status = settings.several
            ? SpoolMember(
                in.Descriptor(), settings.spoolFolder, carried,
                [&cutter](std::span<const std::uint8_t> bytes) { return cutter.Take(bytes); }, fd,
                ended)
            : SpoolToUnnamedFile(in.Descriptor(), settings.spoolFolder, SpoolFor::Compressing, fd);
        ended = ended || !settings.several;
        if (!status.Ok())
            return status;
        FileStream spool;
        spool.AttachForReading(fd);
        const std::int64_t size = spool.Size();
        tally.read += size;
        if (size == 0)
            return {}; // nothing more; an empty source compresses to nothing
        TreeCoder coder(spool, out);
        SetUp(coder, settings, { 0, size, tally.written, true });
        if (Status coded = coder.Encode(); !coded.Ok())
            return coded;
        ++tally.members;
        tally.written += coder.Written();
        cutter.Next();
    }
    return {};
}

} // namespace

Status EncodeMembers(FileStream& in, FileStream& out, const MemberSettings& settings,
                     MemberTally& tally)
{
    tally = {};
    if (settings.streamSource)
        return EncodeStreamMembers(in, out, settings, tally);
    return EncodeFileMembers(in, out, settings, tally);
}

Status DecodeMembers(FileStream& in, FileStream& out, const MemberSettings& settings,
                     MemberTally& tally)
{
    tally = {};
    const auto decode = [](TreeCoder& coder) { return coder.Decode(); };
    if (settings.streamSource)
        return EachMemberOfStream(in, settings, out, tally, decode);
    return EachMemberOfFile(in, settings, out, tally, decode);
}

Status SummarizeMembers(FileStream& in, const MemberSettings& settings,
                        std::vector<FileSummary>& members, MemberTally& tally)
{
    tally = {};
    members.clear();
    FileStream nowhere;
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
    if (settings.streamSource && !settings.several) {
        // One member of a stream: its header and table are read where they stand, no further.
        TreeCoder coder(in, nowhere);
        tally.members = 1;
        return summarize(coder);
    }
    if (settings.streamSource)
        return EachMemberOfStream(in, settings, nowhere, tally, summarize);
    return EachMemberOfFile(in, settings, nowhere, tally, summarize);
}

} // namespace hufpack
