#pragma once

// The two passes of a job, and the summary of a compressed file: TreeCoder reads the source,
// writes the destination, and says what went wrong. The work in between has homes of its own:
// the file's layout in format/, the tree and the codes in code/, the table-driven paths in
// encode/ and decode/. The bit-by-bit reference paths are reference/'s own functions.

#include "code/CodeTree.h"
#include "decode/ChunkDecoder.h"
#include "encode/PartEncoder.h"
#include "format/Format.h"
#include "hufpack/FileJobs.h"
#include "hufpack/JobResult.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/Processor.h"
#include "sys/Progress.h"

#include <cstdint>

namespace hufpack {

// Carries out one compression or one decompression of one member from a source into a sink,
// neither of which it owns: a file, or memory. Construct it, run Encode or Decode once, drop
// it. It prints nothing.
class TreeCoder
{
public:
    // How a pass runs. Nothing here changes a byte of what it writes.
    struct Options
    {
        // Threads in all, the calling thread's included.
        int threads = 1;
        // Where both passes report their progress; none when null.
        const Progress::Callback* progress = nullptr;
        // The build of the coding and decoding loops.
        ProcessorBuild build = ChosenBuild();
        // How the encoder cuts the source into parts: at most `maxParts` (0: a few per thread),
        // none smaller than `minPartBytes`.
        int maxParts = 0;
        std::int64_t minPartBytes = PartEncoder::kMinPartBytes;
        // How the decoder cuts the stream into chunks (its threads, build and progress are the
        // pass's own).
        ChunkDecoder::Options decode {};
    };

    // Where in the source and the sink the pass works, when a file holds several members: the
    // source from byte `inBegin` on (`inSize` bytes of it when compressing, -1 for all the
    // rest), the sink from byte `outBegin` on. A compression's source must end where its member
    // does only when it is the `last`.
    struct Member
    {
        std::int64_t inBegin = 0;
        std::int64_t inSize = -1;
        std::int64_t outBegin = 0;
        bool last = true;
    };

    TreeCoder(const ByteSource& in, ByteSink& out, const Options& options);
    TreeCoder(const ByteSource& in, ByteSink& out, const Options& options, const Member& member);
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
    // After Decode or Summarize: how many bytes of the source the member took, as its header
    // says (0 for an empty one), and how many code bits it holds.
    [[nodiscard]] std::int64_t MemberBytes() const { return m_memberBytes; }
    [[nodiscard]] std::int64_t MemberBits() const { return m_memberBits; }
    // What the last Decode's table-driven decoder did.
    [[nodiscard]] const ChunkDecoder::Statistics& DecodeStatistics() const { return m_decodeStats; }

private:
    [[nodiscard]] Status PrepareCode(const WideCounts& counts, std::int64_t& streamOffset);
    [[nodiscard]] FrontOfFile ReadFront(std::int64_t fileSize, Header& header);
    [[nodiscard]] Status ReadHeaderAndTree(Header& header);
    [[nodiscard]] Status SourceFailure() const;

    const ByteSource& m_in;
    ByteSink& m_out;
    const Options m_options;
    const Member m_member;
    Counts m_freq {};
    // The code tree of m_freq, its root and its codes.
    CodeTree m_tree;
    TreeNode* m_root = nullptr;
    std::int64_t m_written = 0;
    // The compressed file's length from the member on: the rest of the source.
    std::int64_t m_fileBytes = 0;
    std::int64_t m_memberBytes = 0;
    std::int64_t m_memberBits = 0;
    int m_readError = 0;
    ChunkDecoder::Statistics m_decodeStats;
};

} // namespace hufpack
