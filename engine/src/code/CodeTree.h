#pragma once

// The code tree that a table of counts gives, and the code it assigns to each byte value. Both
// are part of the file format: a file decodes only with the very tree its writer built, which the
// node heap's rules fix. Each code is kept as its CodeWord and, made from it as it is assigned,
// in the packed form the coding loops read.

#include "code/CodeBook.h"
#include "code/CodeWord.h"
#include "code/TreeNode.h"
#include "format/Counts.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace hufpack {

class CodeTree
{
public:
    CodeTree() = default;
    CodeTree(const CodeTree&) = delete;
    CodeTree& operator=(const CodeTree&) = delete;

    // Builds the tree from the counts alone, with the process-wide node heap, which it leaves
    // empty; null when no count is positive. The nodes belong to this object.
    TreeNode* BuildTree(const Counts& counts);
    // Walks the tree below `node`, whose own code is `code`: stores each leaf's code and adds
    // weight x length to the total bits.
    void AssignCodes(const TreeNode* node, std::string code);

    // Whether a leaf of the tree gave `byte` a code.
    [[nodiscard]] bool HasCode(std::uint8_t byte) const { return m_codes[byte] != nullptr; }
    // The code of a byte value that has one.
    [[nodiscard]] const CodeWord& CodeFor(std::uint8_t byte) const { return *m_codes[byte]; }
    // Every code, once AssignCodes has walked the tree.
    [[nodiscard]] const CodeBook& Book() const { return m_book; }
    // The sum of count x code length, wrapped in 32 bits as the header stores it.
    [[nodiscard]] std::int32_t TotalBits() const
    {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(m_exactBits));
    }
    // The same sum without wrapping, to refuse a source whose bits the header cannot hold.
    [[nodiscard]] std::int64_t ExactBits() const { return m_exactBits; }

private:
    TreeNode* NewNode(std::uint8_t symbol, std::int32_t weight);
    TreeNode* NewNode(TreeNode* left, TreeNode* right);

    // Every node made; a deque keeps their addresses fixed as it grows.
    std::deque<TreeNode> m_nodes;
    std::array<std::unique_ptr<CodeWord>, 256> m_codes;
    CodeBook m_book;
    std::int64_t m_exactBits = 0;
};

} // namespace hufpack
