// The decode tables made from a code tree, and the careful one-code step.

#include "decode/DecodeTable.h"

#include <algorithm>
#include <cassert>

namespace hufpack {

DecodeTable::DecodeTable(const TreeNode* root, const CodeBook& book) : m_book(book)
{
    assert(root && !root->IsLeaf());
    FillFirstCodes(root, 0, 0);
    FillRuns();
    if (EveryCodeIsAByte()) {
        for (int byte = 0; byte < 256; ++byte)
            m_byteMap[byte] = FirstCode::Symbol(m_firstCodes[byte << (kRunBits - 8)]);
    }
}

void DecodeTable::FillFirstCodes(const TreeNode* node, int depth, std::uint32_t prefix)
{
    if (node->IsLeaf()) {
        // Every window that starts with this code decodes to this leaf.
        const int freeBits = kRunBits - depth;
        const std::uint32_t entry = static_cast<std::uint32_t>(depth) | (node->symbol << 8);
        std::fill_n(m_firstCodes.begin() + (prefix << freeBits), 1u << freeBits, entry);
        return;
    }
    if (depth == kRunBits) {
        m_firstCodes[prefix]
            = FirstCode::kLong | (static_cast<std::uint32_t>(m_longCodeNodes.size()) << 8);
        m_longCodeNodes.push_back(node);
        FillSubTable(prefix, node);
        return;
    }
    FillFirstCodes(node->left, depth + 1, prefix << 1);
    FillFirstCodes(node->right, depth + 1, (prefix << 1) | 1);
}

// The second level for the node that kRunBits bits lead to: indexed by as many further bits as
// its deepest leaf needs, up to kSubBits.
void DecodeTable::FillSubTable(std::uint32_t prefix, const TreeNode* node)
{
    // As many further bits as the longest code behind these kRunBits needs.
    int longest = 0;
    for (int value = 0; value < 256; ++value) {
        if (m_book.lengths[value] > kRunBits && m_book.bits[value] >> (64 - kRunBits) == prefix)
            longest = std::max<int>(longest, m_book.lengths[value]);
    }
    const int subBits = std::min(longest - kRunBits, kSubBits);
    const auto base = static_cast<std::uint32_t>(m_subs.size());
    m_subs.resize(m_subs.size() + (std::size_t { 1 } << subBits), Sub::kDeeper);
    FillSubEntries(node, 0, subBits, 0, base);
    m_runs[prefix] = base | (static_cast<std::uint32_t>(subBits) << 16);
}

void DecodeTable::FillSubEntries(const TreeNode* node, int depth, int subBits, std::uint32_t prefix,
                                 std::uint32_t base)
{
    if (node->IsLeaf()) {
        const int freeBits = subBits - depth;
        const std::uint32_t entry
            = node->symbol | (static_cast<std::uint32_t>(kRunBits + depth) << 8);
        std::fill_n(m_subs.begin() + base + (prefix << freeBits), 1u << freeBits, entry);
        return;
    }
    if (depth == subBits)
        return; // stays kDeeper
    FillSubEntries(node->left, depth + 1, subBits, prefix << 1, base);
    FillSubEntries(node->right, depth + 1, subBits, (prefix << 1) | 1, base);
}

void DecodeTable::FillRuns()
{
    constexpr std::uint32_t kMask = (1u << kRunBits) - 1;
    for (std::uint32_t window = 0; window <= kMask; ++window) {
        if (m_firstCodes[window] & FirstCode::kLong)
            continue; // FillSubTable made this entry
        std::uint32_t symbols = 0;
        int used = 0;
        int count = 0;
        while (count < 3 && used < kRunBits) {
            // The code at `used` is known only if it ends inside the window.
            const std::uint32_t entry = m_firstCodes[(window << used) & kMask];
            const int length = FirstCode::Length(entry);
            if ((entry & FirstCode::kLong) || used + length > kRunBits)
                break;
            symbols |= std::uint32_t { FirstCode::Symbol(entry) } << (8 * count);
            used += length;
            ++count;
        }
        m_runs[window] = symbols | (static_cast<std::uint32_t>(used) << 24)
            | (static_cast<std::uint32_t>(count) << 30);
    }
}

DecodeTable::Code DecodeTable::DecodeOne(const BitView& bits, std::int64_t position,
                                         std::int64_t endBit) const
{
    const std::uint32_t entry = m_firstCodes[bits.Peek(position) >> (64 - kRunBits)];
    if (!(entry & FirstCode::kLong)) {
        const int length = FirstCode::Length(entry);
        if (position + length > endBit)
            return {};
        return { length, FirstCode::Symbol(entry) };
    }
    // Codes can be up to 255 bits long: walk the rest of the way one bit at a time.
    const TreeNode* node = m_longCodeNodes[FirstCode::Node(entry)];
    std::int64_t next = position + kRunBits;
    while (!node->IsLeaf()) {
        if (next >= endBit)
            return {};
        node = bits.Bit(next) ? node->right : node->left;
        ++next;
    }
    return { static_cast<int>(next - position), node->symbol };
}

} // namespace hufpack
