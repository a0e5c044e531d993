// The encode and decode passes and the summary of a file, and what each failure is reported as.

#include "jobs/TreeCoder.h"

#include "code/MemberCutter.h"
#include "decode/DecodeTable.h"
#include "reference/ByteCounter.h"
#include "reference/ReferencePaths.h"

#include <cassert>
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

// A read or write that failed on one of the streams, found after the pass.
Status TreeCoder::StreamFailure() const
{
    if (m_in.Failed())
        return m_in.Outcome(JobFile::Source);
    return m_out.Outcome(JobFile::Destination);
}

TreeCoder::TreeCoder(FileStream& in, FileStream& out) : m_in(in), m_out(out) { }

TreeCoder::~TreeCoder() = default;

Status TreeCoder::Encode()
{
    if (m_reference)
        return EncodeStepByStep();
    const std::int64_t size
        = m_member.inSize >= 0 ? m_member.inSize : m_in.Size() - m_member.inBegin;
    // Every byte takes at least one bit, so a longer source cannot be held; no need to read it.
    if (size > kMaxField)
        return Fail(JobResult::TooLarge, Reason::TooLarge);
    PartEncoder parts(m_in.Descriptor(), size, m_maxParts, m_minPartBytes, m_threads);
    parts.StartAt(m_member.inBegin, m_member.last);
    Progress progress(m_progress ? *m_progress : kNoProgress, 2 * size);
    parts.ReportTo(progress);
    if (Status status = parts.Scan(); !status.Ok())
        return status;
    std::int64_t streamOffset = 0;
    if (Status status = PrepareCode(parts.Counts(), streamOffset); !status.Ok())
        return status;
    if (!m_out.Flush())
        return StreamFailure();
    const CodeBook& codes = m_tree.Book();
    return m_inOrder ? parts.EncodeInOrder(codes, m_out.Descriptor())
                     : parts.Encode(codes, m_out.Descriptor(), streamOffset);
}

Status TreeCoder::EncodeStepByStep()
{
    m_in.Seek(0);
    ByteCounter counter(m_in);
    if (!counter.CountAll())
        return StreamFailure();
    std::int64_t streamOffset = 0;
    if (Status status = PrepareCode(counter.Counts(), streamOffset); !status.Ok())
        return status;
    // The coding pass counts again as it goes: a source that changed since the counting pass
    // would otherwise yield a file that does not decode, so any difference ends the job.
    WideCounts seen {};
    reference::EncodeBits(m_in, m_out, m_tree, seen);
    if (seen != counter.Counts())
        return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0, Reason::ChangedWhileRead);
    if (m_in.Failed() || m_out.Failed())
        return StreamFailure();
    return {};
}

// From the counts to the code: builds the tree and the code words, writes the table and the
// header, and leaves the destination where the bit stream starts, at `streamOffset`.
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
    m_out.Seek(streamOffset);
    return {};
}

// Reads the header and the table from the source's position, and checks them; `fileSize` is -1
// for a stream, whose length is then what its header says.
FrontOfFile TreeCoder::ReadFront(std::int64_t fileSize, Header& header)
{
    header = {};
    std::array<std::uint8_t, kHeaderSize> front {};
    const std::size_t got = m_in.Read(front.data(), front.size());
    if (got == 0 && !m_in.Failed())
        return FrontOfFile::Empty;
    if (got < front.size())
        return m_in.Failed() ? FrontOfFile::ReadFailed : FrontOfFile::ShortHeader;
    header = Header::Parse(front);
    if (!header.ChecksumMatches())
        return FrontOfFile::BadChecksum;
    if (fileSize < 0)
        fileSize = header.FileEnd(true);
    // Never more than the file holds: a table size is no reason to read past its end.
    const std::int64_t tableEnd = std::min(header.FileEnd(false), fileSize);
    std::vector<std::uint8_t> table(
        static_cast<std::size_t>(std::max<std::int64_t>(tableEnd - kHeaderSize, 0)));
    table.resize(m_in.Read(table.data(), table.size()));
    if (m_in.Failed())
        return FrontOfFile::ReadFailed;
    return CheckFront(header, table, fileSize, m_freq);
}

// Everything that can be checked before the bit stream, and the tree for the bits. An empty file
// is what an empty source compresses to: no bits, no table.
Status TreeCoder::ReadHeaderAndTree(Header& header)
{
    // A listing may read a pipe, from where it stands: its length is what its header says.
    const bool file = m_in.IsRegularFile();
    if (file)
        m_in.Seek(m_member.inBegin);
    m_memberBytes = 0;
    m_memberBits = 0;
    switch (ReadFront(file ? m_in.Size() - m_member.inBegin : -1, header)) {
    case FrontOfFile::Read:
        m_fileBytes = file ? m_in.Size() - m_member.inBegin : header.FileEnd(true);
        m_memberBytes = header.FileEnd(true);
        m_memberBits = std::max<std::int64_t>(header.totalBits, 0);
        m_root = m_tree.BuildTree(m_freq);
        if (m_root)
            m_tree.AssignCodes(m_root, std::string());
        // The bits the header claims are what the table's codes take, count by count: any
        // other total is a damaged file, found here by a listing as it is by decoding.
        if (header.totalBits > 0 && m_tree.ExactBits() != header.totalBits)
            return Fail(JobResult::NotOurFormat, Reason::Damaged);
        return {};
    case FrontOfFile::Empty:
        m_fileBytes = 0;
        return {};
    case FrontOfFile::ReadFailed:
        return StreamFailure();
    case FrontOfFile::ShortHeader:
        break;
    case FrontOfFile::BadChecksum:
        return Fail(JobResult::NotOurFormat, Reason::BadChecksum);
    case FrontOfFile::CutShort:
        return Fail(JobResult::NotOurFormat, Reason::CutShort);
    case FrontOfFile::NoTree:
    case FrontOfFile::CountsPastBits:
        return Fail(JobResult::NotOurFormat, Reason::Damaged);
    }
    return Fail(JobResult::NotOurFormat, Reason::NotOurs);
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
        if (m_reference) {
            m_in.Seek(header.StreamOffset());
            reference::WalkTree(m_in, m_out, m_root, header.totalBits, written);
        } else {
            Progress progress(m_progress ? *m_progress : kNoProgress, OriginalBytes(m_freq));
            ChunkDecoder::Options options = m_decodeOptions;
            options.progress = &progress;
            // The calling thread is one of them.
            if (m_threads > 0 && options.threads < 0)
                options.threads = m_threads - 1;
            const DecodeTable table(m_root, m_tree.Book());
            ChunkDecoder decoder(table, m_in.Descriptor(),
                                 m_member.inBegin + header.StreamOffset(), header.totalBits,
                                 m_out, options);
            const Status status = decoder.Run(written);
            m_decodeStats = decoder.Stats();
            if (m_out.Failed())
                return StreamFailure();
            if (!status.Ok())
                return status;
        }
    }
    if (m_in.Failed() || m_out.Failed())
        return StreamFailure();
    m_written = OriginalBytes(m_freq);
    // Every byte value must come out exactly as often as the table says: anything else is a
    // damaged file, whatever its checksum.
    for (int value = 0; value < 256; ++value) {
        const std::uint64_t expected
            = m_freq[value] > 0 ? static_cast<std::uint64_t>(m_freq[value]) : 0;
        if (written[value] != expected)
            return Fail(JobResult::NotOurFormat, Reason::Damaged);
    }
    return {};
}

} // namespace hufpack
