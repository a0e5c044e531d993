// The encode and decode passes and the summary of a file, and what each failure is reported as.

#include "jobs/TreeCoder.h"

#include "code/MemberCutter.h"
#include "decode/DecodeTable.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <limits>

namespace hufpack {

namespace {

constexpr std::int64_t kMaxField = std::numeric_limits<std::int32_t>::max();
const Progress::Callback kNoProgress;

Status Fail(JobResult result, Reason reason)
{
    return Status::Fail(result, JobFile::Source, 0, reason);
}

} // namespace

TreeCoder::TreeCoder(const ByteSource& in, ByteSink& out, const Options& options)
    : TreeCoder(in, out, options, Member())
{
}

TreeCoder::TreeCoder(const ByteSource& in, ByteSink& out, const Options& options,
                     const Member& member)
    : m_in(in), m_out(out), m_options(options), m_member(member)
{
}

TreeCoder::~TreeCoder() = default;

// A read of the source that failed.
Status TreeCoder::SourceFailure() const
{
    return Status::Fail(JobResult::CannotOpen, JobFile::Source, m_readError);
}

Status TreeCoder::Encode()
{
    const std::int64_t size
        = m_member.inSize >= 0 ? m_member.inSize : m_in.Size() - m_member.inBegin;
    // Every byte takes at least one bit, so a longer source cannot be held; no need to read it.
    if (size > kMaxField)
        return Fail(JobResult::TooLarge, Reason::TooLarge);
    PartEncoder parts(m_in, size, m_options.threads, m_options.maxParts, m_options.minPartBytes);
    parts.StartAt(m_member.inBegin, m_member.last);
    parts.UseBuild(m_options.build);
    Progress progress(m_options.progress ? *m_options.progress : kNoProgress, 2 * size);
    parts.ReportTo(progress);
    if (Status status = parts.Scan(); !status.Ok())
        return status;
    std::int64_t streamOffset = 0;
    if (Status status = PrepareCode(parts.Counts(), streamOffset); !status.Ok())
        return status;
    if (!m_out.Flush())
        return m_out.Outcome(JobFile::Destination);
    const CodeBook& codes = m_tree.Book();
    if (!m_out.Positional())
        return parts.EncodeInOrder(codes, m_out);
    // The parts write from their threads at once, within the room made for the member.
    if (!m_out.Reserve(m_member.outBegin + m_written))
        return m_out.Outcome(JobFile::Destination);
    return parts.Encode(codes, m_out, streamOffset);
}

// From the counts to the code: builds the tree and the code words, writes the header and the
// table, and leaves the sink where the bit stream starts, at `streamOffset`.
Status TreeCoder::PrepareCode(const WideCounts& counts, std::int64_t& streamOffset)
{
    if (!FitsOneFile(counts) || !NarrowCounts(counts, m_freq))
        return Fail(JobResult::TooLarge, Reason::TooLarge);
    m_root = m_tree.BuildTree(m_freq);
    if (!m_root) // the source was empty after all
        return Fail(JobResult::CannotOpen, Reason::ChangedWhileRead);
    m_tree.AssignCodes(m_root, std::string());
    // The header, the table and the bits in the order a stream takes them; the table's size,
    // which the header carries, is known from the counts.
    const std::uint16_t tableSize = TableSizeOf(m_freq);
    const auto header
        = Header::For(m_tree.TotalBits(), static_cast<std::int16_t>(tableSize)).Bytes();
    const std::vector<std::uint8_t> table = TableBytes(m_freq);
    assert(table.size() == tableSize);
    m_out.Seek(m_member.outBegin);
    m_out.Write(header.data(), header.size());
    m_out.Write(table.data(), table.size());
    streamOffset = m_member.outBegin + kHeaderSize + tableSize;
    m_written = kHeaderSize + tableSize + (m_tree.ExactBits() + 7) / 8;
    return m_out.Outcome(JobFile::Destination);
}

// Reads the header and the table of the member, and checks them against the `fileSize` bytes
// the source holds from the member on.
FrontOfFile TreeCoder::ReadFront(std::int64_t fileSize, Header& header)
{
    header = {};
    std::array<std::uint8_t, kHeaderSize> front {};
    const std::int64_t got = m_in.ReadAt(front.data(), front.size(), m_member.inBegin);
    if (got < 0) {
        m_readError = errno;
        return FrontOfFile::ReadFailed;
    }
    if (got == 0)
        return FrontOfFile::Empty;
    if (got < static_cast<std::int64_t>(front.size()))
        return FrontOfFile::ShortHeader;
    header = Header::Parse(front);
    if (!header.ChecksumMatches())
        return FrontOfFile::BadChecksum;
    // Never more than the file holds: a table size is no reason to read past its end.
    const std::int64_t tableEnd = std::min(header.FileEnd(false), fileSize);
    std::vector<std::uint8_t> table(
        static_cast<std::size_t>(std::max<std::int64_t>(tableEnd - kHeaderSize, 0)));
    const std::int64_t tableGot
        = m_in.ReadAt(table.data(), table.size(), m_member.inBegin + kHeaderSize);
    if (tableGot < 0) {
        m_readError = errno;
        return FrontOfFile::ReadFailed;
    }
    table.resize(static_cast<std::size_t>(tableGot));
    return CheckFront(header, table, fileSize, m_freq);
}

// Everything that can be checked before the bit stream, and the tree for the bits. An empty file
// is what an empty source compresses to: no bits, no table.
Status TreeCoder::ReadHeaderAndTree(Header& header)
{
    m_memberBytes = 0;
    m_memberBits = 0;
    const std::int64_t size = m_in.Size();
    if (size < 0) {
        m_readError = errno;
        return SourceFailure();
    }
    m_fileBytes = std::max<std::int64_t>(size - m_member.inBegin, 0);
    const FrontOfFile front = ReadFront(m_fileBytes, header);
    if (front == FrontOfFile::ReadFailed)
        return SourceFailure();
    if (front == FrontOfFile::Empty) {
        m_fileBytes = 0;
        return {};
    }
    if (front != FrontOfFile::Read)
        return FrontFailure(front);
    m_memberBytes = header.FileEnd(true);
    m_memberBits = std::max<std::int64_t>(header.totalBits, 0);
    m_root = m_tree.BuildTree(m_freq);
    if (m_root)
        m_tree.AssignCodes(m_root, std::string());
    // The bits the header claims are what the table's codes take, count by count: any other
    // total is a damaged file, found here by a listing as it is by decoding.
    if (header.totalBits > 0 && m_tree.ExactBits() != header.totalBits)
        return Fail(JobResult::NotOurFormat, Reason::Damaged);
    return {};
}

Status TreeCoder::Summarize(FileSummary& summary)
{
    Header header;
    if (Status status = ReadHeaderAndTree(header); !status.Ok())
        return status;
    summary = {};
    summary.compressedBytes = m_fileBytes;
    summary.originalBytes = OriginalBytes(m_freq);
    summary.entries = EntriesOf(m_freq);
    summary.longestCode = m_tree.Book().longest;
    return {};
}

Status TreeCoder::Decode()
{
    Header header;
    if (Status status = ReadHeaderAndTree(header); !status.Ok())
        return status;
    WideCounts written {};
    if (header.totalBits > 0) {
        Progress progress(m_options.progress ? *m_options.progress : kNoProgress,
                          OriginalBytes(m_freq));
        ChunkDecoder::Options options = m_options.decode;
        options.threads = m_options.threads;
        options.build = m_options.build;
        options.progress = &progress;
        const DecodeTable table(m_root, m_tree.Book());
        ChunkDecoder decoder(table, m_in, m_member.inBegin + header.StreamOffset(),
                             header.totalBits, m_out, options);
        const Status status = decoder.Run(written);
        m_decodeStats = decoder.Stats();
        if (m_out.Failed())
            return m_out.Outcome(JobFile::Destination);
        if (!status.Ok())
            return status;
    }
    m_written = OriginalBytes(m_freq);
    return CountsMatch(m_freq, written) ? Status() : Fail(JobResult::NotOurFormat, Reason::Damaged);
}

} // namespace hufpack
