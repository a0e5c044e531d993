#pragma once

// The plain paths of both passes, one bit at a time: each byte's CodeWord through BitWriter's
// PutCode, and a walk of the tree driven by BitReader's GetBit. They write exactly the bytes of
// the table-driven paths (PartEncoder, ChunkDecoder), which the tests and the fuzz targets check
// against them.

#include "code/CodeTree.h"
#include "sys/FileStream.h"
#include "code/TreeNode.h"

#include <array>
#include <cstdint>

namespace hufpack::reference {

// Codes the whole source, read from its start, into `out` from its position on, the last byte
// padded with 0 bits, and flushes `out`. Adds how often each byte value was read to `seen`, so
// that a source that changed since it was counted can be told.
void EncodeBits(FileStream& in, FileStream& out, const CodeTree& tree,
                std::array<std::uint64_t, 256>& seen);

// Decodes `totalBits` bits from `in`'s position on, walking the tree from `root` one bit at a
// time, and puts each symbol reached to `out`; adds how often each was written to `written`.
void WalkTree(FileStream& in, FileStream& out, const TreeNode* root, std::int64_t totalBits,
              std::array<std::uint64_t, 256>& written);

} // namespace hufpack::reference
