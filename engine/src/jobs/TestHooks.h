#pragma once

// What the tests and the benchmark may change or see in the engine beyond what its programs use:
// which paths a coder takes and how it cuts its work, named temporary files where unnamed ones
// work, the plain builds of the coding and decoding loops, the node heap's positions and the
// parts of a source. None of it changes a byte of output. It stays out of the classes' own
// interfaces; only targets linked with hufpack_engine_internals see it.

#include "code/NodeHeap.h"
#include "decode/ChunkDecoder.h"
#include "decode/DecodeKernel.h"
#include "encode/PartEncoder.h"
#include "files/Destination.h"
#include "jobs/TreeCoder.h"
#include "sys/Progress.h"

#include <cstdint>
#include <utility>

namespace hufpack {

struct TreeCoderTesting
{
    // The plain bit-by-bit paths (each byte's CodeWord through PutCode; a walk of the tree one
    // GetBit at a time) instead of the table-driven ones.
    static void UseReferencePaths(TreeCoder& coder, bool reference)
    {
        coder.m_reference = reference;
    }
    // How the fast encoder may cut the source into parts coded side by side: at most `maxParts`
    // (0: a few per processor), none smaller than `minPartBytes`.
    static void SetParts(TreeCoder& coder, int maxParts, std::int64_t minPartBytes)
    {
        coder.m_maxParts = maxParts;
        coder.m_minPartBytes = minPartBytes;
    }
    // How the fast decoder cuts the stream into chunks decoded side by side.
    static void SetDecodeOptions(TreeCoder& coder, const ChunkDecoder::Options& options)
    {
        coder.m_decodeOptions = options;
    }
    // What the coder's last fast Decode did.
    [[nodiscard]] static const ChunkDecoder::Statistics& DecodeStatistics(const TreeCoder& coder)
    {
        return coder.m_decodeStats;
    }
};

struct DestinationTesting
{
    // Named temporary files even where unnamed ones work, so that tests reach that path.
    static void UseNamedFilesOnly(bool only) { Destination::s_namedOnly = only; }
};

struct NodeHeapTesting
{
    [[nodiscard]] static int Size(const NodeHeap& heap) { return heap.m_size; }
    [[nodiscard]] static const TreeNode* At(const NodeHeap& heap, int position)
    {
        return heap.m_nodes[position];
    }
};

struct ProgressTesting
{
    // Called on the job's thread after each report of every job's progress, until set empty;
    // it may wait, and the job waits with it. Set it while no job runs.
    static void Observe(Progress::Callback observer) { Progress::s_observer = std::move(observer); }
};

struct PartEncoderTesting
{
    [[nodiscard]] static int PartCount(const PartEncoder& encoder)
    {
        return static_cast<int>(encoder.m_parts.size());
    }
};

// The portable build of the coding and decoding loops even where the processor has more, so
// that tests check it on a processor with BMI2 too.
void UsePortableBuildOnly(bool only);

} // namespace hufpack
