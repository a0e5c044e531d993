#pragma once

// A node of the code tree. A 0 bit leads left, a 1 bit right. A leaf has no children; an inner
// node always has both and carries the symbol 32.

#include <cstdint>

namespace hufpack {

struct TreeNode
{
    static constexpr std::uint8_t kInnerSymbol = 32;

    TreeNode(std::uint8_t leafSymbol, std::int32_t leafWeight)
        : weight(leafWeight), symbol(leafSymbol)
    {
    }

    // Weights add in 32-bit two's complement: a sum past the signed range wraps, the same way
    // for the encoder and the decoder, and is never an error.
    TreeNode(TreeNode* leftChild, TreeNode* rightChild)
        : left(leftChild), right(rightChild),
          weight(static_cast<std::int32_t>(static_cast<std::uint32_t>(leftChild->weight)
                                           + static_cast<std::uint32_t>(rightChild->weight))),
          symbol(kInnerSymbol)
    {
    }

    [[nodiscard]] bool IsLeaf() const { return left == nullptr && right == nullptr; }

    TreeNode* left = nullptr;
    TreeNode* right = nullptr;
    std::int32_t weight;
    std::uint8_t symbol;
};

} // namespace hufpack
