// The format's limit on a source, and the cutting of a longer one into members.

#include "code/MemberCutter.h"

#include "code/CodeTree.h"
#include "format/Format.h"

#include <limits>

namespace hufpack {

namespace {

constexpr std::int64_t kMaxField = std::numeric_limits<std::int32_t>::max();
static_assert(kAlwaysFits == (kMaxField - 256 * kEntrySize) / 8);

// Count x depth over the leaves below `node`, at `depth`.
std::int64_t BitsBelow(const TreeNode* node, std::int64_t depth)
{
    if (node->IsLeaf())
        return static_cast<std::int64_t>(node->weight) * depth;
    return BitsBelow(node->left, depth + 1) + BitsBelow(node->right, depth + 1);
}

} // namespace

bool FitsOneFile(const WideCounts& counts)
{
    Counts narrow {};
    if (!NarrowCounts(counts, narrow))
        return false;
    CodeTree tree;
    const TreeNode* const root = tree.BuildTree(narrow);
    return !root || BitsBelow(root, 0) + TableSizeOf(narrow) <= kMaxField;
}

std::size_t MemberCutter::Take(std::span<const std::uint8_t> bytes)
{
    if (m_bytes + static_cast<std::int64_t>(bytes.size()) <= kAlwaysFits) {
        CountBlock(bytes, m_counts);
        m_bytes += static_cast<std::int64_t>(bytes.size());
        return bytes.size();
    }
    WideCounts all = m_counts;
    CountBlock(bytes, all);
    if (FitsOneFile(all)) {
        m_counts = all;
        m_bytes += static_cast<std::int64_t>(bytes.size());
        return bytes.size();
    }
    // The member ends in these bytes: the longest prefix of them that still fits, by halving.
    // What the member held before them fits, and a member always takes one byte at least.
    std::size_t fits = m_bytes == 0 ? 1 : 0;
    std::size_t tooMany = bytes.size();
    while (tooMany - fits > 1) {
        const std::size_t middle = fits + (tooMany - fits) / 2;
        WideCounts prefix = m_counts;
        CountBlock(bytes.first(middle), prefix);
        (FitsOneFile(prefix) ? fits : tooMany) = middle;
    }
    CountBlock(bytes.first(fits), m_counts);
    m_bytes += static_cast<std::int64_t>(fits);
    return fits;
}

void MemberCutter::Next()
{
    m_counts = {};
    m_bytes = 0;
}

} // namespace hufpack
