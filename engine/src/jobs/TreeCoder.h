#pragma once

// The two passes of a job, and the summary of a compressed file: TreeCoder reads the source,
// writes the destination, and reports what went wrong. The work in between has homes of its
// own: the file's layout in Format, the tree and the codes in CodeTree, the table-driven paths
// in PartEncoder and ChunkDecoder, the bit-by-bit reference paths in ReferencePaths.

#include "decode/ChunkDecoder.h"
#include "code/CodeTree.h"
#include "sys/FileStream.h"
#include "format/Format.h"
#include "encode/PartEncoder.h"
#include "sys/Progress.h"
#include "code/TreeNode.h"
#include "hufpack/FileJobs.h"
#include "hufpack/JobResult.h"

#include <array>
#include <cstdint>

namespace hufpack {

// Carries out one compression or one decompression between two open streams that it does not
// own. Construct it, run Encode or Decode once, drop it.
class TreeCoder
{
public:
    TreeCoder(FileStream& in, FileStream& out);
    TreeCoder(const TreeCoder&) = delete;
    TreeCoder& operator=(const TreeCoder&) = delete;
    ~TreeCoder();

    // Compresses a source of at least one byte. TooLarge when a count or the total bits do not
    // fit the header's signed 32-bit fields; CannotOpen when a read or write failed or the source
    // changed between the counting pass and the coding pass.
    JobResult Encode();
    // Restores a compressed file. NotOurFormat when the checksum fails (with a message on
    // standard output) or when the file is truncated or its counts disagree with its bits;
    // CannotOpen when a read or write failed. An empty file restores to nothing.
    JobResult Decode();
    // Reads a compressed file's header and table, with every check that needs no decoding, and
    // says what they hold.
    JobResult Summarize(FileSummary& summary);
    // Which file a failed pass was about, and why.
    [[nodiscard]] const JobOutcome& Failure() const { return m_failure; }
    // How many bytes a pass that was done wrote to the destination.
    [[nodiscard]] std::int64_t Written() const { return m_written; }

    // Whether the destination takes its bytes in order only (a pipe): the coding pass then
    // writes it front to back, without seeking.
    void SetOutputInOrder(bool inOrder) { m_inOrder = inOrder; }
    // Whether Decode prints its checksum message, and where both passes report their progress.
    void SetReporting(bool printMessages, const Progress::Callback* progress)
    {
        m_printMessages = printMessages;
        m_progress = progress;
    }

private:
    // The tests' and the benchmark's way in: which paths a pass takes and how it cuts its work.
    friend struct TreeCoderTesting;

    JobResult EncodeStepByStep();
    JobResult PrepareCode(const std::array<std::uint64_t, 256>& counts, std::int64_t& streamOffset);
    FrontOfFile ReadFront(std::int64_t fileSize, Header& header);
    JobResult ReadHeaderAndTree(Header& header);
    JobResult Fail(JobResult result, JobFile file, int error, const char* reason = nullptr);
    JobResult StreamFailure();

    FileStream& m_in;
    FileStream& m_out;
    Counts m_freq {};
    // The code tree of m_freq, its root and its codes.
    CodeTree m_tree;
    TreeNode* m_root = nullptr;
    // The bit-by-bit reference paths instead of the table-driven ones.
    bool m_reference = false;
    int m_maxParts = 0;
    std::int64_t m_minPartBytes = PartEncoder::kMinPartBytes;
    bool m_printMessages = true;
    bool m_inOrder = false;
    const Progress::Callback* m_progress = nullptr;
    JobOutcome m_failure;
    std::int64_t m_written = 0;
    // The compressed file's length: the file's own, or for a stream what its header says.
    std::int64_t m_fileBytes = 0;
    ChunkDecoder::Options m_decodeOptions;
    ChunkDecoder::Statistics m_decodeStats;
};

} // namespace hufpack
