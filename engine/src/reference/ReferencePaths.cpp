// The bit-by-bit reference paths of both passes.

#include "reference/ReferencePaths.h"

#include "reference/BitReader.h"
#include "reference/BitWriter.h"
#include "format/Counts.h"

namespace hufpack::reference {

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
