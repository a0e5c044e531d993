#pragma once

// The plain paths of both passes, one bit at a time: each byte's CodeWord through BitWriter's
// PutCode, and a walk of the tree driven by BitReader's GetBit. They write exactly the bytes of
// the table-driven paths (PartEncoder, ChunkDecoder), which the tests and the fuzz targets check
// against them.

#include "code/CodeTree.h"
#include "code/TreeNode.h"
#include "hufpack/JobResult.h"
#include "sys/FileStream.h"

#include <array>
#include <cstdint>

namespace hufpack::reference {

// A whole compression the plain way, from the source's start into `out` from its start: the
// counting pass of ByteCounter, the tree, the header and the table, then every byte's code
// through BitWriter. A source of at least one byte. The same results as TreeCoder::Encode.
[[nodiscard]] Status Encode(FileStream& in, FileStream& out);
// A whole decompression the plain way: the header and the table with every check, then a walk of
// the tree one GetBit at a time, and every count compared. The same results as TreeCoder::Decode.
[[nodiscard]] Status Decode(FileStream& in, FileStream& out);

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
