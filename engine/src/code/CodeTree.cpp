// Building the code tree with the node heap, and assigning each leaf its code.

#include "code/CodeTree.h"

#include "code/NodeHeap.h"

namespace hufpack {

TreeNode* CodeTree::NewNode(std::uint8_t symbol, std::int32_t weight)
{
    return &m_nodes.emplace_back(symbol, weight);
}

TreeNode* CodeTree::NewNode(TreeNode* left, TreeNode* right)
{
    return &m_nodes.emplace_back(left, right);
}

TreeNode* CodeTree::BuildTree(const Counts& counts)
{
    const auto lock = NodeHeapLock();
    NodeHeap& heap = TheNodeHeap();
    try {
        int leaves = 0;
        for (int value = 0; value < 256; ++value) {
            if (counts[value] > 0) {
                heap.Push(NewNode(static_cast<std::uint8_t>(value), counts[value]));
                ++leaves;
            }
        }
        if (leaves == 1) {
            // A lone byte value gets code 0; the dummy leaf beside it (symbol 32, weight 0)
            // takes 1.
            TreeNode* const dummy = NewNode(TreeNode::kInnerSymbol, 0);
            TreeNode* const only = heap.Pop();
            return NewNode(only, dummy);
        }
        for (;;) {
            if (heap.IsEmpty())
                return nullptr;
            // The lighter node, popped first, becomes the left child: the 0 side.
            TreeNode* const first = heap.Pop();
            if (heap.IsEmpty())
                return first;
            TreeNode* const second = heap.Pop();
            heap.Push(NewNode(first, second));
        }
    } catch (...) {
        // A node that could not be made: the heap is shared by every job, and must not hand
        // the next one this job's nodes.
        while (!heap.IsEmpty())
            heap.Pop();
        throw;
    }
}

void CodeTree::AssignCodes(const TreeNode* node, std::string code)
{
    if (!node->IsLeaf()) {
        AssignCodes(node->left, code + '0');
        AssignCodes(node->right, code + '1');
        return;
    }
    const auto length = static_cast<std::uint32_t>(code.size());
    m_exactBits += std::int64_t { node->weight } * length;
    // Only a source of byte 32 alone has two leaves with one symbol: the dummy leaf comes last,
    // so such a source is written as 1 bits.
    m_codes[node->symbol] = std::make_unique<CodeWord>(code);
    m_book.Add(node->symbol, *m_codes[node->symbol]);
}

} // namespace hufpack
