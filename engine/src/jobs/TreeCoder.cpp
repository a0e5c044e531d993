// The encode and decode passes and the summary of a file, and what each failure is reported as.

#include "jobs/TreeCoder.h"

#include "reference/ByteCounter.h"
#include "decode/DecodeTable.h"
#include "reference/ReferencePaths.h"

#include <cassert>
#include <cstdio>
#include <limits>

namespace hufpack {

namespace {

constexpr std::int64_t kMaxField = std::numeric_limits<std::int32_t>::max();
constexpr const char* kTooLarge = "too large for this format";
constexpr const char* kNotOurs = "not a file this program wrote";
constexpr const char* kCutShort = "unexpected end of file";
constexpr const char* kDamaged = "damaged: its bytes do not match its table";
const Progress::Callback kNoProgress;

} // namespace

JobResult TreeCoder::Fail(JobResult result, JobFile file, int error, const char* reason)
{
    m_failure = { result, file, error, reason };
    return result;
}

// A read or write that failed on one of the streams, found after the pass.
JobResult TreeCoder::StreamFailure()
{
    if (m_in.Failed())
        return Fail(JobResult::CannotOpen, JobFile::Source, m_in.Error());
    return Fail(JobResult::CannotOpen, JobFile::Destination, m_out.Error());
}

TreeCoder::TreeCoder(FileStream& in, FileStream& out) : m_in(in), m_out(out) { }

TreeCoder::~TreeCoder() = default;

JobResult TreeCoder::Encode()
{
    if (m_reference)
        return EncodeStepByStep();
    // Every byte takes at least one bit, so a longer source cannot be held; no need to read it.
    const std::int64_t size = m_in.Size();
    if (size > kMaxField)
        return Fail(JobResult::TooLarge, JobFile::Source, 0, kTooLarge);
    PartEncoder parts(m_in.Descriptor(), size, m_maxParts, m_minPartBytes);
    Progress progress(m_progress ? *m_progress : kNoProgress, 2 * size);
    parts.ReportTo(progress);
    if (!parts.Scan())
        return Fail(JobResult::CannotOpen, parts.Failure().file, parts.Failure().error,
                    parts.Failure().reason);
    std::int64_t streamOffset = 0;
    if (const JobResult result = PrepareCode(parts.Counts(), streamOffset);
        result != JobResult::Done)
        return result;
    if (!m_out.Flush())
        return StreamFailure();
    const PackedCodes& codes = m_tree.Packed();
    const JobResult result = m_inOrder ? parts.EncodeInOrder(codes, m_out.Descriptor())
                                       : parts.Encode(codes, m_out.Descriptor(), streamOffset);
    if (result != JobResult::Done)
        return Fail(result, parts.Failure().file, parts.Failure().error,
                    result == JobResult::TooLarge ? kTooLarge : parts.Failure().reason);
    return result;
}

JobResult TreeCoder::EncodeStepByStep()
{
    m_in.Seek(0);
    ByteCounter counter(m_in);
    if (!counter.CountAll())
        return StreamFailure();
    std::int64_t streamOffset = 0;
    if (const JobResult result = PrepareCode(counter.Counts(), streamOffset);
        result != JobResult::Done)
        return result;
    // The coding pass counts again as it goes: a source that changed since the counting pass
    // would otherwise yield a file that does not decode, so any difference ends the job.
    std::array<std::uint64_t, 256> seen {};
    reference::EncodeBits(m_in, m_out, m_tree, seen);
    if (seen != counter.Counts())
        return Fail(JobResult::CannotOpen, JobFile::Source, 0, PartEncoder::kSourceChanged);
    if (m_in.Failed() || m_out.Failed())
        return StreamFailure();
    return JobResult::Done;
}

// From the counts to the code: builds the tree and the code words, writes the table and the
// header, and leaves the destination where the bit stream starts, at `streamOffset`.
JobResult TreeCoder::PrepareCode(const std::array<std::uint64_t, 256>& counts,
                                 std::int64_t& streamOffset)
{
    if (!NarrowCounts(counts, m_freq))
        return Fail(JobResult::TooLarge, JobFile::Source, 0, kTooLarge);
    m_root = m_tree.BuildTree(m_freq);
    if (!m_root) // the source was empty after all
        return Fail(JobResult::CannotOpen, JobFile::Source, 0, PartEncoder::kSourceChanged);
    m_tree.AssignCodes(m_root, std::string());
    // The header, the table and the bits in the order a stream takes them; the table's size,
    // which the header carries, is known from the counts.
    const std::uint16_t tableSize = TableSizeOf(m_freq);
    // The reader checks the checksum against table size + total bits as a signed 32-bit sum: a
    // sum past INT32_MAX wraps negative and fails that check, so such a source has no form that
    // decodes, and is refused before anything is written.
    if (m_tree.ExactBits() + tableSize > kMaxField)
        return Fail(JobResult::TooLarge, JobFile::Source, 0, kTooLarge);

    const auto header = Header::For(m_tree.TotalBits(), static_cast<std::int16_t>(tableSize)).Bytes();
    const std::vector<std::uint8_t> table = TableBytes(m_freq);
    assert(table.size() == tableSize);
    m_out.Seek(0);
    m_out.Write(header.data(), header.size());
    m_out.Write(table.data(), table.size());
    streamOffset = kHeaderSize + tableSize;
    m_written = streamOffset + (m_tree.ExactBits() + 7) / 8;
    m_out.Seek(streamOffset);
    return JobResult::Done;
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
    std::vector<std::uint8_t> table(static_cast<std::size_t>(std::max<std::int64_t>(tableEnd - kHeaderSize, 0)));
    table.resize(m_in.Read(table.data(), table.size()));
    if (m_in.Failed())
        return FrontOfFile::ReadFailed;
    return CheckFront(header, table, fileSize, m_freq);
}

// Everything that can be checked before the bit stream, and the tree for the bits. An empty file
// is what an empty source compresses to: no bits, no table.
JobResult TreeCoder::ReadHeaderAndTree(Header& header)
{
    // A listing may read a pipe, from where it stands: its length is what its header says.
    const bool file = m_in.IsRegularFile();
    if (file)
        m_in.Seek(0);
    switch (ReadFront(file ? m_in.Size() : -1, header)) {
    case FrontOfFile::Read:
        m_fileBytes = file ? m_in.Size() : header.FileEnd(true);
        m_root = m_tree.BuildTree(m_freq);
        return JobResult::Done;
    case FrontOfFile::Empty:
        m_fileBytes = 0;
        return JobResult::Done;
    case FrontOfFile::ReadFailed:
        return StreamFailure();
    case FrontOfFile::ShortHeader:
        break;
    case FrontOfFile::BadChecksum:
        if (m_printMessages) {
            std::fputs("Bad checksum.  Invalid format........", stdout);
            std::fflush(stdout);
        }
        break;
    case FrontOfFile::CutShort:
        return Fail(JobResult::NotOurFormat, JobFile::Source, 0, kCutShort);
    case FrontOfFile::NoTree:
    case FrontOfFile::CountsPastBits:
        return Fail(JobResult::NotOurFormat, JobFile::Source, 0, kDamaged);
    }
    return Fail(JobResult::NotOurFormat, JobFile::Source, 0, kNotOurs);
}

JobResult TreeCoder::Summarize(FileSummary& summary)
{
    Header header;
    if (const JobResult result = ReadHeaderAndTree(header); result != JobResult::Done)
        return result;
    summary = {};
    summary.compressedBytes = m_fileBytes;
    summary.originalBytes = OriginalBytes(m_freq);
    summary.entries = EntriesOf(m_freq);
    summary.longestCode = m_root ? Depth(m_root) : 0;
    return JobResult::Done;
}

JobResult TreeCoder::Decode()
{
    Header header;
    if (const JobResult result = ReadHeaderAndTree(header); result != JobResult::Done)
        return result;
    std::array<std::uint64_t, 256> written {};
    if (header.totalBits > 0) {
        if (m_reference) {
            m_in.Seek(header.StreamOffset());
            reference::WalkTree(m_in, m_out, m_root, header.totalBits, written);
        } else {
            Progress progress(m_progress ? *m_progress : kNoProgress, OriginalBytes(m_freq));
            ChunkDecoder::Options options = m_decodeOptions;
            options.progress = &progress;
            const DecodeTable table(m_root);
            ChunkDecoder decoder(table, m_in.Descriptor(), header.StreamOffset(), header.totalBits,
                                 m_out, options);
            const JobResult result = decoder.Run(written);
            m_decodeStats = decoder.Stats();
            if (result != JobResult::Done) {
                if (m_out.Failed())
                    return StreamFailure();
                return decoder.Error() != 0
                    ? Fail(result, JobFile::Source, decoder.Error())
                    : Fail(result, JobFile::Source, 0, PartEncoder::kSourceChanged);
            }
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
            return Fail(JobResult::NotOurFormat, JobFile::Source, 0, kDamaged);
    }
    return JobResult::Done;
}

} // namespace hufpack
