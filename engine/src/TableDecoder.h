#pragma once

#include "FileStream.h"
#include "TreeNode.h"

#include <array>
#include <cstdint>
#include <vector>

namespace hufpack {

// Decodes a bit stream with lookup tables derived from the code tree, producing exactly what a
// walk of the tree one bit at a time produces.
//
// Bit buffer: m_bits holds m_bitCount not yet consumed bits, left-aligned (the next bit is bit
// 63); the bits below them are zero or the input's following bits, which a later refill ORs in
// again at the same place. A refill tops it up to at least 56 bits, eight bytes at a
// time with one big-endian load where the input allows.
//
// Each entry of the primary table, indexed by the next kTableBits bits, is either a whole code
// (its symbol and length) or, for codes longer than the table, the tree node reached after
// kTableBits bits, from which the walk goes on one bit at a time. Codes can be up to 255 bits.
class TableDecoder
{
public:
    static constexpr int kTableBits = 11;

    explicit TableDecoder(const TreeNode* root);

    // Decodes `totalBits` bits from `in` into `out`, dropping a code left unfinished after the
    // last bit, and adds every byte written to `written`. Bits past the end of the input read as
    // 0: the caller has checked that the input holds all `totalBits` bits.
    void Run(FileStream& in, FileStream& out, std::int64_t totalBits,
             std::array<std::uint64_t, 256>& written);

private:
    static constexpr std::uint32_t kLongCode = 0x80000000u;

    void Fill(const TreeNode* node, int depth, std::uint32_t prefix);
    void Refill();
    void RefillSlowly();

    // Entry: length in bits 0-7, then the symbol in bits 8-15; or, with kLongCode set, the
    // index of a node in m_longCodeNodes in bits 8-30.
    std::array<std::uint32_t, 1u << kTableBits> m_table {};
    std::vector<const TreeNode*> m_longCodeNodes;

    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
    const std::uint8_t* m_next = nullptr;
    const std::uint8_t* m_end = nullptr;
    FileStream* m_in = nullptr;
};

} // namespace hufpack
