#pragma once

// The min-heap by weight that builds every code tree. Its push and pop procedures, tie rules
// included, decide which of two equal weights merges first and which child it becomes, so they
// are part of the file format: a heap with another pop (say, one that moves the last node to the
// top and sifts it down) builds different trees for tied weights, and files written with one
// tree do not decode with the other.
//
// There is one heap for the whole process; every tree construction leaves it empty. A tree is
// built under the heap's lock (NodeHeapLock), so that jobs on several threads take turns at it.

#include "code/TreeNode.h"

#include <array>
#include <mutex>

namespace hufpack {

class NodeHeap
{
public:
    // All the leaves of one tree, before the first merge; never more.
    static constexpr int kCapacity = 256;

    constexpr NodeHeap() = default;
    NodeHeap(const NodeHeap&) = delete;
    NodeHeap& operator=(const NodeHeap&) = delete;

    void Push(TreeNode* node);
    // Only on a heap that is not empty.
    TreeNode* Pop();
    [[nodiscard]] bool IsEmpty() const { return m_size == 0; }

private:
    // The tests' way to see every position.
    friend struct NodeHeapTesting;

    std::array<TreeNode*, kCapacity> m_nodes {};
    int m_size = 0;
};

// The process-wide heap. It is constant-initialised, so it exists before any other object of the
// program is constructed.
NodeHeap& TheNodeHeap();
// Held for the length of one tree's construction.
[[nodiscard]] std::unique_lock<std::mutex> NodeHeapLock();

} // namespace hufpack
