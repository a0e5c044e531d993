// The node heap's push and pop, tie rules included, and the process-wide heap.

#include "code/NodeHeap.h"

#include <cassert>

namespace hufpack {

namespace {

constinit NodeHeap theNodeHeap;

// The only comparison the heap makes: strictly heavier, as signed 32-bit weights.
bool Heavier(const TreeNode* x, const TreeNode* y)
{
    return x->weight > y->weight;
}

} // namespace

NodeHeap& TheNodeHeap()
{
    return theNodeHeap;
}

std::unique_lock<std::mutex> NodeHeapLock()
{
    static std::mutex building;
    return std::unique_lock(building);
}

void NodeHeap::Push(TreeNode* node)
{
    assert(m_size < kCapacity);
    int hole = m_size++;
    // A pushed node never rises above a node of equal weight.
    while (hole > 0 && Heavier(m_nodes[(hole - 1) / 2], node)) {
        m_nodes[hole] = m_nodes[(hole - 1) / 2];
        hole = (hole - 1) / 2;
    }
    m_nodes[hole] = node;
}

TreeNode* NodeHeap::Pop()
{
    assert(m_size > 0);
    TreeNode* const top = m_nodes[0];
    TreeNode* const last = m_nodes[m_size - 1];
    const int remaining = --m_size;
    if (remaining == 0)
        return top;

    // The hole travels all the way down without looking at `last`, taking the lighter child and
    // the right one on a tie; `last` then rises from the bottom only past strictly heavier nodes.
    int hole = 0;
    int child = 2;
    while (child < remaining) {
        if (Heavier(m_nodes[child], m_nodes[child - 1]))
            --child;
        m_nodes[hole] = m_nodes[child];
        hole = child;
        child = 2 * child + 2;
    }
    if (child == remaining) {
        m_nodes[hole] = m_nodes[remaining - 1];
        hole = remaining - 1;
    }
    while (hole > 0 && Heavier(m_nodes[(hole - 1) / 2], last)) {
        m_nodes[hole] = m_nodes[(hole - 1) / 2];
        hole = (hole - 1) / 2;
    }
    m_nodes[hole] = last;
    return top;
}

} // namespace hufpack
