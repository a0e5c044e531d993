#pragma once

// The two passes of a job, and the summary of a compressed file: TreeCoder reads the source,
// writes the destination, and says what went wrong. The work in between has homes of its own:
// the file's layout in format/, the tree and the codes in code/, the table-driven paths in
// encode/ and decode/, the bit-by-bit reference paths in reference/.

#include "code/CodeTree.h"
#include "decode/ChunkDecoder.h"
#include "encode/PartEncoder.h"
#include "format/Format.h"
#include "hufpack/FileJobs.h"
#include "hufpack/JobResult.h"
#include "sys/FileStream.h"
#include "sys/Progress.h"

#include <cstdint>

namespace hufpack {

// Carries out one compression or one decompression between two open streams that it does not
// own. Construct it, run Encode or Decode once, drop it. It prints nothing.
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
    [[nodiscard]] Status Encode();
    // Restores a compressed file. NotOurFormat when the checksum fails (Reason::BadChecksum) or
    // when the file is truncated or its counts disagree with its bits; CannotOpen when a read or
    // write failed. An empty file restores to nothing.
    [[nodiscard]] Status Decode();
    // Reads a compressed file's header and table, with every check that needs no decoding, and
    // says what they hold.
    [[nodiscard]] Status Summarize(FileSummary& summary);
    // How many bytes a pass that was done wrote to the destination.
    [[nodiscard]] std::int64_t Written() const { return m_written; }

    // Whether the destination takes its bytes in order only (a pipe): the coding pass then
    // writes it front to back, without seeking.
    void SetOutputInOrder(bool inOrder) { m_inOrder = inOrder; }
    // Where both passes report their progress.
    void ReportTo(const Progress::Callback* progress) { m_progress = progress; }
    // At most this many threads in all; 0 for the thread limit.
    void SetThreads(int threads) { m_threads = threads; }

    // Where in the streams a pass works, when a file holds several members: the source from
    // byte `inBegin` on (`inSize` bytes of it when compressing, -1 for all the rest), the
    // destination from byte `outBegin` on. A compression's source must end where its member
    // does only when it is the `last`.
    struct Member
    {
        std::int64_t inBegin = 0;
        std::int64_t inSize = -1;
        std::int64_t outBegin = 0;
        bool last = true;
    };
    void SetMember(const Member& member) { m_member = member; }
    // After Decode or Summarize: how many bytes of the source the member took, as its header
    // says (0 for an empty one), and how many code bits it holds.
    [[nodiscard]] std::int64_t MemberBytes() const { return m_memberBytes; }
    [[nodiscard]] std::int64_t MemberBits() const { return m_memberBits; }

private:
    // The tests' and the benchmark's way in: which paths a pass takes and how it cuts its work.
    friend struct TreeCoderTesting;

    [[nodiscard]] Status EncodeStepByStep();
    [[nodiscard]] Status PrepareCode(const WideCounts& counts, std::int64_t& streamOffset);
    [[nodiscard]] FrontOfFile ReadFront(std::int64_t fileSize, Header& header);
    [[nodiscard]] Status ReadHeaderAndTree(Header& header);
    [[nodiscard]] Status StreamFailure() const;

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
    bool m_inOrder = false;
    int m_threads = 0;
    const Progress::Callback* m_progress = nullptr;
    std::int64_t m_written = 0;
    // The compressed file's length: the file's own, or for a stream what its header says.
    std::int64_t m_fileBytes = 0;
    Member m_member;
    std::int64_t m_memberBytes = 0;
    std::int64_t m_memberBits = 0;
    ChunkDecoder::Options m_decodeOptions;
    ChunkDecoder::Statistics m_decodeStats;
};

} // namespace hufpack
