// The bit-by-bit reference paths of both passes.

#include "reference/ReferencePaths.h"

#include "code/MemberCutter.h"
#include "format/Counts.h"
#include "format/Format.h"
#include "reference/BitReader.h"
#include "reference/BitWriter.h"
#include "reference/ByteCounter.h"

#include <algorithm>
#include <vector>

namespace hufpack::reference {

namespace {

Status StreamFailure(const FileStream& in, const FileStream& out)
{
    return in.Failed() ? in.Outcome(JobFile::Source) : out.Outcome(JobFile::Destination);
}

} // namespace

Status Encode(FileStream& in, FileStream& out)
{
    in.Seek(0);
    ByteCounter counter(in);
    if (!counter.CountAll())
        return StreamFailure(in, out);
    Counts counts {};
    if (!FitsOneFile(counter.Counts()) || !NarrowCounts(counter.Counts(), counts))
        return Status::Fail(JobResult::TooLarge, JobFile::Source, 0, Reason::TooLarge);
    CodeTree tree;
    const TreeNode* const root = tree.BuildTree(counts);
    if (!root)
        return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0, Reason::ChangedWhileRead);
    tree.AssignCodes(root, std::string());
    const std::vector<std::uint8_t> table = TableBytes(counts);
    const auto header
        = Header::For(tree.TotalBits(), static_cast<std::int16_t>(table.size())).Bytes();
    out.Seek(0);
    out.Write(header.data(), header.size());
    out.Write(table.data(), table.size());
    // The coding pass counts again as it goes: a source that changed since the counting pass
    // would otherwise yield a file that does not decode, so any difference ends the job.
    WideCounts seen {};
    EncodeBits(in, out, tree, seen);
    if (seen != counter.Counts())
        return Status::Fail(JobResult::CannotOpen, JobFile::Source, 0, Reason::ChangedWhileRead);
    if (in.Failed() || out.Failed())
        return StreamFailure(in, out);
    return {};
}

Status Decode(FileStream& in, FileStream& out)
{
    in.Seek(0);
    std::array<std::uint8_t, kHeaderSize> front {};
    const std::size_t got = in.Read(front.data(), front.size());
    if (in.Failed())
        return StreamFailure(in, out);
    if (got == 0)
        return {}; // an empty file: what an empty source compresses to
    if (got < front.size())
        return FrontFailure(FrontOfFile::ShortHeader);
    const Header header = Header::Parse(front);
    if (!header.ChecksumMatches())
        return FrontFailure(FrontOfFile::BadChecksum);
    const std::int64_t fileSize = in.Size();
    std::vector<std::uint8_t> table(static_cast<std::size_t>(
        std::max<std::int64_t>(std::min(header.FileEnd(false), fileSize) - kHeaderSize, 0)));
    table.resize(in.Read(table.data(), table.size()));
    Counts counts {};
    if (const FrontOfFile checked = CheckFront(header, table, fileSize, counts);
        checked != FrontOfFile::Read)
        return FrontFailure(checked);
    CodeTree tree;
    const TreeNode* const root = tree.BuildTree(counts);
    if (root)
        tree.AssignCodes(root, std::string());
    if (header.totalBits > 0 && tree.ExactBits() != header.totalBits)
        return FrontFailure(FrontOfFile::CountsPastBits);
    WideCounts written {};
    if (header.totalBits > 0) {
        in.Seek(header.StreamOffset());
        WalkTree(in, out, root, header.totalBits, written);
    }
    out.Flush();
    if (in.Failed() || out.Failed())
        return StreamFailure(in, out);
    return CountsMatch(counts, written)
        ? Status()
        : Status::Fail(JobResult::NotOurFormat, JobFile::Source, 0, Reason::Damaged);
}

void EncodeBits(FileStream& in, FileStream& out, const CodeTree& tree,
                std::array<std::uint64_t, 256>& seen)
{
    BitWriter writer(out);
    in.Seek(0);
    for (auto chunk = in.ReadChunk(); !chunk.empty(); chunk = in.ReadChunk()) {
        CountBlock(chunk, seen);
        for (const std::uint8_t byte : chunk) {
            // A byte value the counting pass did not see has no code: the source changed, which
            // `seen` shows the caller.
            if (tree.HasCode(byte))
                writer.PutCode(tree.CodeFor(byte));
        }
    }
    writer.Finish();
}

void WalkTree(FileStream& in, FileStream& out, const TreeNode* root, std::int64_t totalBits,
              std::array<std::uint64_t, 256>& written)
{
    BitReader reader(in);
    const TreeNode* node = root;
    for (std::int64_t i = 0; i < totalBits; ++i) {
        node = reader.GetBit() == 1 ? node->right : node->left;
        if (node->IsLeaf()) {
            out.Put(node->symbol);
            ++written[node->symbol];
            node = root;
        }
    }
}

} // namespace hufpack::reference
