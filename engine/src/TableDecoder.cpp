#include "TableDecoder.h"

#include <cassert>

namespace hufpack {

namespace {

std::uint64_t LoadBigEndian64(const std::uint8_t* p)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | p[i];
    return value;
}

} // namespace

TableDecoder::TableDecoder(const TreeNode* root)
{
    assert(root && !root->IsLeaf());
    Fill(root, 0, 0);
}

void TableDecoder::Fill(const TreeNode* node, int depth, std::uint32_t prefix)
{
    if (node->IsLeaf()) {
        // Every window that starts with this code decodes to this leaf.
        const int freeBits = kTableBits - depth;
        const std::uint32_t entry = static_cast<std::uint32_t>(depth) | (node->symbol << 8);
        const std::uint32_t first = prefix << freeBits;
        for (std::uint32_t i = 0; i < (1u << freeBits); ++i)
            m_table[first + i] = entry;
        return;
    }
    if (depth == kTableBits) {
        m_table[prefix] = kLongCode | static_cast<std::uint32_t>(kTableBits)
            | (static_cast<std::uint32_t>(m_longCodeNodes.size()) << 8);
        m_longCodeNodes.push_back(node);
        return;
    }
    Fill(node->left, depth + 1, prefix << 1);
    Fill(node->right, depth + 1, (prefix << 1) | 1);
}

void TableDecoder::Refill()
{
    if (m_end - m_next >= 8) {
        m_bits |= LoadBigEndian64(m_next) >> m_bitCount;
        m_next += (63 - m_bitCount) >> 3;
        m_bitCount |= 56;
        return;
    }
    RefillSlowly();
}

void TableDecoder::RefillSlowly()
{
    while (m_bitCount <= 56) {
        if (m_next == m_end) {
            const auto chunk = m_in->ReadChunk();
            if (chunk.empty()) {
                // Past the end of the input: zero bits, which are never used as code bits.
                m_bitCount += 8;
                continue;
            }
            m_next = chunk.data();
            m_end = chunk.data() + chunk.size();
            if (m_end - m_next >= 8) {
                Refill();
                return;
            }
        }
        m_bits |= std::uint64_t { *m_next++ } << (56 - m_bitCount);
        m_bitCount += 8;
    }
}

void TableDecoder::Run(FileStream& in, FileStream& out, std::int64_t totalBits,
                       std::array<std::uint64_t, 256>& written)
{
    m_in = &in;
    m_bits = 0;
    m_bitCount = 0;
    m_next = m_end = nullptr;
    std::int64_t bitsLeft = totalBits;
    while (bitsLeft > 0) {
        if (m_bitCount < kTableBits)
            Refill();
        const std::uint32_t entry = m_table[m_bits >> (64 - kTableBits)];
        const int length = static_cast<int>(entry & 0xFF);
        if (length > bitsLeft)
            return; // the last code is unfinished: drop it
        m_bits <<= length;
        m_bitCount -= length;
        bitsLeft -= length;
        if (!(entry & kLongCode)) {
            const auto symbol = static_cast<std::uint8_t>(entry >> 8);
            out.Put(symbol);
            ++written[symbol];
            continue;
        }
        const TreeNode* node = m_longCodeNodes[(entry & ~kLongCode) >> 8];
        while (!node->IsLeaf()) {
            if (bitsLeft == 0)
                return;
            if (m_bitCount == 0)
                Refill();
            node = (m_bits >> 63) ? node->right : node->left;
            m_bits <<= 1;
            --m_bitCount;
            --bitsLeft;
        }
        out.Put(node->symbol);
        ++written[node->symbol];
    }
}

} // namespace hufpack
